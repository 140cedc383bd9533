// Encode and Decode on any key and data against OpenSSL's Blowfish, whose
// block function takes the halves as words, so only the byte order differs.
// Input: byte 0 picks the key length, (byte % 83) - 2, so -2 to 80 (0 or
// less keys as the one zero byte); the key follows, then the data. Buffers
// are heap blocks of exactly the promised size, for AddressSanitizer.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "blowfish/blowfish.h"
#include "blowfish/blowfish_kernels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  const int length = std::min(data[0] % 83 - 2, static_cast<int>(size) - 1);
  const std::vector<std::uint8_t> key(data + 1, data + 1 + std::max(length, 0));
  const std::vector<std::uint8_t> plain(data + 1 + key.size(), data + size);
  CBlowFish cipher;
  cipher.Initialize(key.data(), length);
  BF_KEY reference;
  const std::uint8_t zero = 0;
  BF_set_key(&reference, std::max(length, 1), length > 0 ? key.data() : &zero);

  const std::size_t total = (plain.size() + 7) / 8 * 8;
  std::vector<std::uint8_t> padded(plain), out(total);
  padded.resize(total, 0);
  if (cipher.Encode(plain.data(), out.data(), plain.size()) != total) {
    std::abort();
  }
  using tarnwick::blowfish::LoadLittleEndian;
  for (std::size_t i = 0; i < total; i += 8) {
    BF_LONG halves[2] = {LoadLittleEndian(&padded[i]),
                         LoadLittleEndian(&padded[i + 4])};
    BF_encrypt(halves, &reference);
    if (halves[0] != LoadLittleEndian(&out[i]) ||
        halves[1] != LoadLittleEndian(&out[i + 4])) {
      std::abort();
    }
  }
  cipher.Decode(out.data(), out.data(), total);
  if (out != padded) std::abort();
  return 0;
}
