#include "md5/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
