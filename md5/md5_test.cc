#include "md5/md5.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::RandomBytes;
using tarnwick::testing::ToHex;
using tarnwick::testing::VectorLines;

// Absorbs `message` in pieces that end at each of `cuts`, then finishes.
std::string DigestInPieces(const Bytes& message,
                           const std::vector<std::size_t>& cuts) {
  MD5_CTX context;
  MD5Init(&context);
  std::size_t start = 0;
  for (std::size_t cut : cuts) {
    cut = std::min(cut, message.size());
    MD5Update(&context, message.data() + start,
              static_cast<std::uint32_t>(cut - start));
    start = cut;
  }
  MD5Update(&context, message.data() + start,
            static_cast<std::uint32_t>(message.size() - start));
  Bytes digest(16);
  MD5Final(digest.data(), &context);
  return ToHex(digest);
}

std::string Digest(const Bytes& message) { return DigestInPieces(message, {}); }

TEST(Md5Test, ReferenceSuite) {
  const auto lines = VectorLines("md5.txt");
  ASSERT_EQ(lines.size(), 7u);
  for (const auto& line : lines) {
    const std::string expected = line.substr(0, 32);
    const std::size_t open = line.find('"');
    const std::string message =
        line.substr(open + 1, line.rfind('"') - open - 1);
    EXPECT_EQ(Digest(Bytes(message.begin(), message.end())), expected)
        << message;
    std::uint8_t key[16];
    HashPassword(message.c_str(), key);
    EXPECT_EQ(ToHex(Bytes(key, key + 16)), expected) << message;
  }
}

TEST(Md5Test, PiecesGiveTheSameDigestAsOneCall) {
  const Bytes message = RandomBytes(300, 9);
  const std::string whole = Digest(message);
  const std::vector<std::vector<std::size_t>> splits = {
      {1},  {55}, {56},         {63},          {64},       {65},
      {0, 0, 64, 64, 128},       {3, 70, 71, 200}, {119, 120}};
  for (const auto& cuts : splits) {
    EXPECT_EQ(DigestInPieces(message, cuts), whole);
  }
  std::vector<std::size_t> every_byte(message.size());
  for (std::size_t i = 0; i < every_byte.size(); ++i) every_byte[i] = i;
  EXPECT_EQ(DigestInPieces(message, every_byte), whole);
}

TEST(Md5Test, EmptyUpdateChangesNothing) {
  MD5_CTX context{};  // whole-record compare below reads the unused buffer too
  MD5Init(&context);
  const Bytes part = RandomBytes(10, 1);
  MD5Update(&context, part.data(), 10);
  MD5_CTX before = context;
  MD5Update(&context, nullptr, 0);
  EXPECT_EQ(std::memcmp(&before, &context, sizeof context), 0);
}

TEST(Md5Test, BitCountCarriesIntoTheHighWord) {
  MD5_CTX context;
  MD5Init(&context);
  context.count[0] = 0xFFFFFFF8;
  const std::uint8_t byte = 'x';
  MD5Update(&context, &byte, 1);
  EXPECT_EQ(context.count[0], 0u);
  EXPECT_EQ(context.count[1], 1u);
}

TEST(Md5Test, FinalClearsTheWholeContext) {
  MD5_CTX context;
  MD5Init(&context);
  const Bytes message = RandomBytes(100, 2);
  MD5Update(&context, message.data(), 100);
  std::uint8_t digest[16];
  MD5Final(digest, &context);
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&context);
  EXPECT_TRUE(std::all_of(raw, raw + sizeof context,
                          [](std::uint8_t b) { return b == 0; }));
}

TEST(Md5Test, PasswordBytesAreHashedAsUnsigned) {
  const std::string password = "\x80\xff\xe9t\xe9";
  std::uint8_t key[16];
  HashPassword(password.c_str(), key);
  EXPECT_EQ(ToHex(Bytes(key, key + 16)),
            Digest(Bytes(password.begin(), password.end())));
  EXPECT_EQ(ToHex(Bytes(key, key + 16)), "c5ca3206485be76fc7ac55a25c32e56a");
}

}  // namespace
