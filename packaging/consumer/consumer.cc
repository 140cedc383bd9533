// Enciphers 4 KiB under a password's key through the installed libraries and
// prints the ciphertext's MD5 digest, which run.cmake compares with the
// known answer. 512 blocks let the widest block kernel take part.
#include <blowfish/blowfish.h>
#include <md5/md5.h>

#include <cstdint>
#include <cstdio>
#include <vector>

int main() {
  std::uint8_t key[16];
  HashPassword("password", key);
  CBlowFish cipher;
  cipher.Initialize(key, 16);
  std::vector<std::uint8_t> data(cipher.GetOutputLength(4096));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = i % 251;
  cipher.Encode(data.data(), data.data(), data.size());
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, data.data(), data.size());
  std::uint8_t digest[16];
  MD5Final(digest, &context);
  for (std::uint8_t b : digest) std::printf("%02x", b);
  std::printf("\n");
}
