#include "md5/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::FromHex;

// Rows are DIGEST "MESSAGE". Each message is absorbed in three pieces cut at
// every point, which must not matter, and hashed as a password; the context
// is left all zero.
TEST(Md5Test, VectorsInAnyPiecesAndAsPasswords) {
  for (const char* file : {"md5.txt", "md5-lengths.txt"}) {
    for (const std::string& line : tarnwick::testing::DataLines(file)) {
      const Bytes expected = FromHex(line.substr(0, 32));
      const std::string message = line.substr(34, line.size() - 35);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
      for (std::uint32_t cut = 0, size = static_cast<std::uint32_t>(message.size()); cut <= size; ++cut) {
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, bytes, cut / 2);
        MD5Update(&context, bytes + cut / 2, cut - cut / 2);
        MD5Update(&context, bytes + cut, size - cut);
        Bytes digest(16);
        MD5Final(digest.data(), &context);
        ASSERT_EQ(digest, expected) << message << ", cut at " << cut;
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&context);
        ASSERT_TRUE(std::all_of(raw, raw + sizeof context, [](std::uint8_t b) { return b == 0; }));
      }
      Bytes key(16);
      HashPassword(message.c_str(), key.data());
      EXPECT_EQ(key, expected);
    }
  }
}

// From 2^29 bytes on, the bit count needs its high word: carried into it
// from the low word, or taken from one update's length in bytes.
TEST(Md5Test, HugeMessagesCountTheirBitsInTwoWords) {
  MD5_CTX context;
  MD5Init(&context);
  context.count[0] = 0xFFFFFFF8;
  MD5Update(&context, reinterpret_cast<const std::uint8_t*>("x"), 1);
  EXPECT_EQ(context.count[1], 1u);
  const Bytes zeros(std::size_t{1} << 29);
  MD5Init(&context);
  MD5Update(&context, zeros.data(), static_cast<std::uint32_t>(zeros.size()));
  Bytes digest(16);
  MD5Final(digest.data(), &context);
  EXPECT_EQ(digest, FromHex("aa559b4e3523a6c931f08f4df52d58f2"));  // Python's hashlib
}

// The stack below the caller, where the call just made had its frames.
[[gnu::noinline]] bool StackHolds(const std::uint32_t (&words)[4]) {
  std::uint8_t below[4096];
  __asm__ __volatile__("" : "=m"(below));  // as it is, unwritten
  for (std::size_t i = 0; i < sizeof below; i += 4) {
    const std::uint32_t word = below[i] | below[i + 1] << 8 | below[i + 2] << 16 | std::uint32_t{below[i + 3]} << 24;
    if (std::find(std::begin(words), std::end(words), word) != std::end(words)) return true;
  }
  return false;
}

// For a password of one block, the digest's registers end as the key less
// MD5's public initial values.
TEST(Md5Test, HashingAPasswordLeavesNoKeyOnTheStack) {
  std::uint8_t k[16];
  HashPassword("correct horse battery staple", k);
  const auto word = [&k](std::size_t i) { return std::uint32_t{k[4 * i]} | k[4 * i + 1] << 8 | k[4 * i + 2] << 16 | std::uint32_t{k[4 * i + 3]} << 24; };
  const std::uint32_t registers[4] = {word(0) - 0x67452301, word(1) - 0xefcdab89, word(2) - 0x98badcfe, word(3) - 0x10325476};
  EXPECT_FALSE(StackHolds(registers));
}

}  // namespace
