#include "md5/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_util.h"

namespace {

using namespace tarnwick::testing;

// The digest of `message` absorbed in three pieces, cut at `a` and `b`; the
// context is left all zero.
Bytes Digest(const Bytes& message, std::size_t a, std::size_t b) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, message.data(), a);
  MD5Update(&context, message.data() + a, b - a);
  MD5Update(&context, message.data() + b, message.size() - b);
  Bytes digest(16);
  MD5Final(digest.data(), &context);
  const MD5_CTX zero{};
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
  return digest;
}

// Rows are DIGEST "MESSAGE". Each message is absorbed in three pieces cut
// at every point, and hashed as a password.
TEST(Md5Test, VectorsInAnyPiecesAndAsPasswords) {
  for (const char* file : {"md5.txt", "md5-lengths.txt"}) {
    for (const auto& [number, line] : DataLines(file)) {
      const Bytes expected = FromHex(line.substr(0, 32));
      const Bytes message(line.begin() + 34, line.end() - 1);
      for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        ASSERT_EQ(Digest(message, cut / 2, cut), expected) << line << cut;
      }
      Bytes key(16);
      HashPassword(std::string(message.begin(), message.end()).c_str(),
                   key.data());
      EXPECT_EQ(key, expected);
    }
  }
}

// From 2^29 bytes on, the bit count needs its high word: carried into it
// from the low word, or taken from one update's length in bytes.
TEST(Md5Test, HugeMessagesCountTheirBitsInTwoWords) {
  const Bytes zeros(std::size_t{1} << 29);
  for (const std::size_t cut : {0, 1 << 28}) {
    EXPECT_EQ(Digest(zeros, cut, cut),
              FromHex("aa559b4e3523a6c931f08f4df52d58f2"));
  }
}

}  // namespace
