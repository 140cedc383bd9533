// Encode and Decode on any key and data against OpenSSL's Blowfish, whose
// block function takes the halves as words, so only the byte order differs.
// Input: byte 0 picks the key length, (byte % 83) - 2, so -2 to 80 (a length
// of 0 or less keys like the one zero byte); the key follows, then the data.
// Buffers are heap blocks of exactly the promised size, for AddressSanitizer.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "blowfish/blowfish.h"
#include "blowfish/blowfish_kernels.h"

static void Require(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  const int length = std::min<int>(data[0] % 83 - 2, static_cast<int>(size - 1));
  const std::size_t key_bytes = std::max(length, 0);
  const auto plain_size = static_cast<std::uint32_t>(size - 1 - key_bytes);
  const std::unique_ptr<std::uint8_t[]> key(new std::uint8_t[key_bytes]);
  std::copy_n(data + 1, key_bytes, key.get());
  CBlowFish cipher;
  cipher.Initialize(key.get(), length);
  BF_KEY reference;
  static const std::uint8_t kZeroByte[1] = {0};
  BF_set_key(&reference, std::max(length, 1), length > 0 ? key.get() : kZeroByte);

  const std::uint32_t total = (plain_size + 7) / 8 * 8;
  const std::unique_ptr<std::uint8_t[]> padded(new std::uint8_t[total]()), out(new std::uint8_t[total]);
  std::copy_n(data + 1 + key_bytes, plain_size, padded.get());
  Require(cipher.Encode(data + 1 + key_bytes, out.get(), plain_size) == total);
  for (std::uint32_t i = 0; i < total; i += 8) {
    using tarnwick::blowfish::LoadLittleEndian;
    BF_LONG halves[2] = {LoadLittleEndian(padded.get() + i), LoadLittleEndian(padded.get() + i + 4)};
    BF_encrypt(halves, &reference);
    Require(halves[0] == LoadLittleEndian(out.get() + i) && halves[1] == LoadLittleEndian(out.get() + i + 4));
  }
  cipher.Decode(out.get(), out.get(), total);
  Require(total == 0 || std::memcmp(out.get(), padded.get(), total) == 0);
  return 0;
}
