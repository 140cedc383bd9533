// Keys the cipher from a password and prints one enciphered block, which
// run.cmake compares with the known answer.
#include <blowfish/blowfish.h>
#include <md5/md5.h>

#include <cstdint>
#include <cstdio>

int main() {
  std::uint8_t key[16];
  HashPassword("", key);
  CBlowFish cipher;
  cipher.Initialize(key, 16);
  std::uint8_t block[8] = {};
  cipher.Encode(block, block, 8);
  for (std::uint8_t b : block) std::printf("%02x", b);
  std::printf("\n");
}
