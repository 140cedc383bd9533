// MD5 absorbed in fuzzer-chosen pieces against one-shot MD5 and OpenSSL's.
//
// Input: byte 0 gives the number of cuts (byte % 16); two bytes per cut
// follow, each a little-endian offset taken modulo the message size + 1;
// the rest is the message. Equal cuts make empty updates.
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "md5/md5.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool IsAllZero(const MD5_CTX& context) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&context);
  return std::all_of(bytes, bytes + sizeof(context),
                     [](std::uint8_t b) { return b == 0; });
}

void Digest(const std::uint8_t* message, const std::vector<std::size_t>& cuts,
            std::size_t size, std::uint8_t digest[16]) {
  MD5_CTX context;
  MD5Init(&context);
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    MD5Update(&context, message + start,
              static_cast<std::uint32_t>(cut - start));
    start = cut;
  }
  MD5Update(&context, message + start,
            static_cast<std::uint32_t>(size - start));
  MD5Final(digest, &context);
  Require(IsAllZero(context));
}

void ExpectOpenSslDigest(const std::uint8_t* message, std::size_t size,
                         const std::uint8_t digest[16]) {
  std::uint8_t expected[16];
  unsigned int length = 0;
  Require(EVP_Digest(message, size, expected, &length, EVP_md5(), nullptr) ==
          1);
  Require(length == 16 && std::memcmp(expected, digest, 16) == 0);
}

// The password key is the digest of the bytes before the first NUL.
void ExpectPasswordKey(const std::uint8_t* message, std::size_t size) {
  const std::size_t length =
      std::find(message, message + size, 0) - message;
  std::vector<char> password(message, message + length);
  password.push_back('\0');
  std::uint8_t key[16];
  HashPassword(password.data(), key);
  ExpectOpenSslDigest(message, length, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t cut_count = data[0] % 16;
  const std::size_t header = 1 + 2 * cut_count;
  if (size < header) return 0;
  const std::size_t message_size = size - header;
  // An exact-size copy, so a read past the message is caught.
  std::unique_ptr<std::uint8_t[]> message(new std::uint8_t[message_size]);
  if (message_size != 0) {
    std::memcpy(message.get(), data + header, message_size);
  }

  std::vector<std::size_t> cuts;
  for (std::size_t i = 0; i < cut_count; ++i) {
    const std::size_t offset = data[1 + 2 * i] | data[2 + 2 * i] << 8;
    cuts.push_back(offset % (message_size + 1));
  }
  std::sort(cuts.begin(), cuts.end());

  std::uint8_t pieces[16];
  std::uint8_t whole[16];
  Digest(message.get(), cuts, message_size, pieces);
  Digest(message.get(), {}, message_size, whole);
  Require(std::memcmp(pieces, whole, 16) == 0);
  ExpectOpenSslDigest(message.get(), message_size, whole);
  ExpectPasswordKey(message.get(), message_size);
  return 0;
}
