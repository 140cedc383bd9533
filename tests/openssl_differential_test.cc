// Our cipher and digest against OpenSSL's on random inputs. OpenSSL reads a
// block's halves most significant byte first, so each half is byte-swapped
// on the way in and out.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::RandomBytes;
using tarnwick::testing::ToHex;

Bytes OpenSslEcb(const Bytes& key, Bytes data, int direction) {
  BF_KEY schedule;
  BF_set_key(&schedule, static_cast<int>(key.size()), key.data());
  for (std::size_t i = 0; i < data.size(); i += 4) {
    std::reverse(data.begin() + i, data.begin() + i + 4);
  }
  for (std::size_t i = 0; i < data.size(); i += 8) {
    BF_ecb_encrypt(data.data() + i, data.data() + i, &schedule, direction);
  }
  for (std::size_t i = 0; i < data.size(); i += 4) {
    std::reverse(data.begin() + i, data.begin() + i + 4);
  }
  return data;
}

TEST(OpenSslDifferentialTest, BlowfishMatchesOnRandomKeysAndData) {
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    const Bytes key = RandomBytes(1 + seed % 72, seed);
    const Bytes data = RandomBytes(std::size_t{8} * (seed % 40), seed + 7777);
    CBlowFish cipher;
    cipher.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
    Bytes ours(data.size());
    const auto size = static_cast<std::uint32_t>(data.size());
    cipher.Encode(data.data(), ours.data(), size);
    ASSERT_EQ(ToHex(ours), ToHex(OpenSslEcb(key, data, BF_ENCRYPT)))
        << "seed " << seed;
    Bytes back(data.size());
    cipher.Decode(data.data(), back.data(), size);
    ASSERT_EQ(ToHex(back), ToHex(OpenSslEcb(key, data, BF_DECRYPT)))
        << "seed " << seed;
  }
}

TEST(OpenSslDifferentialTest, FirstByteIsTheLeastSignificantOfTheLeftHalf) {
  const Bytes key(16, 0);
  BF_KEY schedule;
  BF_set_key(&schedule, 16, key.data());
  BF_LONG halves[2] = {1, 0};
  BF_encrypt(halves, &schedule);

  CBlowFish cipher;
  cipher.Initialize(key.data(), 16);
  const std::uint8_t block[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  std::uint8_t out[8];
  cipher.Encode(block, out, 8);
  const std::uint32_t left = out[0] | out[1] << 8 | out[2] << 16 |
                             static_cast<std::uint32_t>(out[3]) << 24;
  const std::uint32_t right = out[4] | out[5] << 8 | out[6] << 16 |
                              static_cast<std::uint32_t>(out[7]) << 24;
  EXPECT_EQ(left, halves[0]);
  EXPECT_EQ(right, halves[1]);
}

TEST(OpenSslDifferentialTest, Md5MatchesAcrossBlockBoundaries) {
  for (std::size_t size :
       {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 121, 128, 1000, 70000}) {
    const Bytes message = RandomBytes(size, static_cast<std::uint32_t>(size));
    Bytes expected(16);
    EVP_Digest(message.data(), message.size(), expected.data(), nullptr,
               EVP_md5(), nullptr);
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, message.data(), static_cast<std::uint32_t>(size));
    Bytes ours(16);
    MD5Final(ours.data(), &context);
    EXPECT_EQ(ToHex(ours), ToHex(expected)) << size;
  }
}

}  // namespace
