#include "blowfish/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::Fields;
using tarnwick::testing::FromHex;
using tarnwick::testing::RandomBytes;
using tarnwick::testing::ToHex;
using tarnwick::testing::VectorLines;

// Published vectors write each half most significant byte first; the
// buffer operations read halves least significant byte first.
Bytes SwapHalves(Bytes block) {
  for (std::size_t i = 0; i < block.size(); i += 4) {
    std::reverse(block.begin() + i, block.begin() + i + 4);
  }
  return block;
}

CBlowFish Keyed(const Bytes& key) {
  CBlowFish cipher;
  cipher.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
  return cipher;
}

Bytes Encoded(const CBlowFish& cipher, const Bytes& plain) {
  Bytes out(cipher.GetOutputLength(static_cast<std::uint32_t>(plain.size())));
  const std::uint32_t written = cipher.Encode(
      plain.data(), out.data(), static_cast<std::uint32_t>(plain.size()));
  EXPECT_EQ(written, out.size());
  return out;
}

Bytes Decoded(const CBlowFish& cipher, const Bytes& encoded) {
  Bytes out(encoded.size());
  cipher.Decode(encoded.data(), out.data(),
                static_cast<std::uint32_t>(encoded.size()));
  return out;
}

void ExpectVector(const Bytes& key, const Bytes& plain, const Bytes& cipher) {
  const CBlowFish blowfish = Keyed(key);
  EXPECT_EQ(ToHex(Encoded(blowfish, SwapHalves(plain))),
            ToHex(SwapHalves(cipher)))
      << "key " << ToHex(key);
  EXPECT_EQ(ToHex(Decoded(blowfish, SwapHalves(cipher))),
            ToHex(SwapHalves(plain)))
      << "key " << ToHex(key);
}

TEST(BlowfishVectorsTest, PublishedEcbVectors) {
  const auto lines = VectorLines("blowfish-ecb.txt");
  ASSERT_EQ(lines.size(), 34u);
  for (const auto& line : lines) {
    const auto f = Fields(line);
    ExpectVector(FromHex(f[0]), FromHex(f[1]), FromHex(f[2]));
  }
}

TEST(BlowfishVectorsTest, PublishedVariableKeyLengthVectors) {
  const auto lines = VectorLines("blowfish-setkey.txt");
  ASSERT_EQ(lines.size(), 24u);
  for (const auto& line : lines) {
    const auto f = Fields(line);
    ExpectVector(FromHex(f[0]), FromHex("FEDCBA9876543210"), FromHex(f[1]));
  }
}

TEST(BlowfishEncodeTest, ZeroKeyBlocksInContainerByteOrder) {
  const CBlowFish cipher = Keyed(Bytes(16, 0));
  const std::string block = "4597f94e78dd9861";
  EXPECT_EQ(ToHex(Encoded(cipher, Bytes(8, 0))), block);
  EXPECT_EQ(ToHex(Encoded(cipher, Bytes(16, 0))), block + block);
  EXPECT_EQ(ToHex(Decoded(cipher, FromHex(block))), "0000000000000000");
}

TEST(BlowfishEncodeTest, OutputLengthRoundsUpToWholeBlocks) {
  const std::pair<std::uint32_t, std::uint32_t> cases[] = {
      {0, 0},           {1, 8},           {7, 8},
      {8, 8},           {9, 16},          {0xFFFFFFF0, 0xFFFFFFF0},
      {0xFFFFFFF1, 0xFFFFFFF8},           {0xFFFFFFF8, 0xFFFFFFF8},
      {0xFFFFFFF9, 0},  {0xFFFFFFFF, 0},
  };
  const CBlowFish cipher;
  for (const auto& [size, expected] : cases) {
    EXPECT_EQ(cipher.GetOutputLength(size), expected) << size;
  }
}

TEST(BlowfishEncodeTest, PartialBlockIsPaddedWithZeros) {
  const CBlowFish cipher = Keyed(FromHex("0123456789abcdef"));
  for (std::size_t size = 1; size < 24; ++size) {
    const Bytes data = RandomBytes(size, static_cast<std::uint32_t>(size));
    Bytes padded = data;
    padded.resize(cipher.GetOutputLength(static_cast<std::uint32_t>(size)), 0);
    EXPECT_EQ(Encoded(cipher, data), Encoded(cipher, padded)) << size;
  }
}

// Runs Encode and Decode separately and in place over buffers with guard
// bytes behind them: the results agree, nothing past the output is written,
// and a separate input is left alone.
TEST(BlowfishEncodeTest, InPlaceAndSeparateBuffersAgreeWithinBounds) {
  constexpr std::uint8_t kGuard = 0xA5;
  constexpr std::size_t kGuardBytes = 16;
  const CBlowFish cipher = Keyed(FromHex("f0e1d2c3b4a59687"));
  for (std::uint32_t size = 0; size <= 64; ++size) {
    const Bytes data = RandomBytes(size, size + 100);
    const std::uint32_t total = cipher.GetOutputLength(size);

    Bytes input = data;
    Bytes separate(total + kGuardBytes, kGuard);
    EXPECT_EQ(cipher.Encode(input.data(), separate.data(), size), total);
    EXPECT_EQ(input, data);

    Bytes in_place = data;
    in_place.resize(total + kGuardBytes, kGuard);
    EXPECT_EQ(cipher.Encode(in_place.data(), in_place.data(), size), total);
    EXPECT_EQ(in_place, separate) << size;
    EXPECT_TRUE(std::all_of(separate.begin() + total, separate.end(),
                            [](std::uint8_t b) { return b == kGuard; }));

    Bytes decoded(total + kGuardBytes, kGuard);
    cipher.Decode(separate.data(), decoded.data(), total);
    cipher.Decode(in_place.data(), in_place.data(), total);
    EXPECT_EQ(in_place, decoded) << size;
    Bytes expected = data;
    expected.resize(total, 0);
    expected.resize(total + kGuardBytes, kGuard);
    EXPECT_EQ(decoded, expected) << size;
  }
}

TEST(BlowfishEncodeTest, DecodeLeavesATrailingPartialBlockUntouched) {
  const CBlowFish cipher = Keyed(FromHex("01"));
  const Bytes encoded = Encoded(cipher, RandomBytes(16, 7));
  for (std::uint32_t size = 0; size <= 16; ++size) {
    Bytes input(encoded.begin(), encoded.begin() + size);
    Bytes out(size, 0xEE);
    cipher.Decode(input.data(), out.data(), size);
    const std::uint32_t whole = size / 8 * 8;
    EXPECT_TRUE(std::all_of(out.begin() + whole, out.end(),
                            [](std::uint8_t b) { return b == 0xEE; }))
        << size;
  }
}

TEST(BlowfishEncodeTest, SizeWithoutRoundedLengthWritesNothing) {
  const CBlowFish cipher = Keyed(FromHex("01"));
  Bytes in(8, 1);
  Bytes out(8, 0xEE);
  for (std::uint32_t size : {0xFFFFFFF9u, 0xFFFFFFFFu}) {
    EXPECT_EQ(cipher.Encode(in.data(), out.data(), size), 0u);
    EXPECT_EQ(out, Bytes(8, 0xEE));
  }
}

TEST(BlowfishEncodeTest, RoundTripsRandomKeysAndSizes) {
  for (std::uint32_t seed = 0; seed < 50; ++seed) {
    const Bytes key = RandomBytes(1 + seed % 56, seed);
    const Bytes data = RandomBytes(seed * 37 % 300, seed + 1000);
    const CBlowFish cipher = Keyed(key);
    Bytes restored = Decoded(cipher, Encoded(cipher, data));
    restored.resize(data.size());
    EXPECT_EQ(restored, data) << "seed " << seed;
  }
}

// Keys are compared through what they encipher: 64 random blocks differ
// between two schedules with overwhelming probability.
Bytes Fingerprint(const CBlowFish& cipher) {
  return Encoded(cipher, RandomBytes(512, 42));
}

TEST(BlowfishKeyTest, EquivalentKeysGiveTheSameSchedule) {
  const Bytes key4 = FromHex("0a1b2c3d");
  const Bytes key72 = RandomBytes(72, 5);
  Bytes key100 = key72;
  key100.resize(100, 0x77);
  const struct {
    const char* name;
    Bytes a;
    Bytes b;
  } cases[] = {
      {"short key repeated", key4, FromHex("0a1b2c3d0a1b2c3d")},
      {"one byte repeated to 72", FromHex("5c"), Bytes(72, 0x5c)},
      {"bytes past the 72nd", key72, key100},
      {"zero keys of any length", Bytes(1, 0), Bytes(16, 0)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Fingerprint(Keyed(c.a)), Fingerprint(Keyed(c.b))) << c.name;
  }
  Bytes key71 = key72;
  key71.pop_back();
  EXPECT_NE(Fingerprint(Keyed(key72)), Fingerprint(Keyed(key71)));
}

TEST(BlowfishKeyTest, MissingOrEmptyKeyActsAsOneZeroByte) {
  const Bytes expected = Fingerprint(Keyed(Bytes(1, 0)));
  const std::uint8_t byte = 0x99;
  for (std::int32_t length : {0, -1, -2147483647 - 1}) {
    CBlowFish cipher;
    cipher.Initialize(&byte, length);
    EXPECT_EQ(Fingerprint(cipher), expected) << length;
  }
  CBlowFish cipher;
  cipher.Initialize(nullptr, 16);
  EXPECT_EQ(Fingerprint(cipher), expected);
}

TEST(BlowfishKeyTest, RekeyingEqualsAFreshObject) {
  const Bytes first = RandomBytes(16, 1);
  const Bytes second = RandomBytes(5, 2);
  CBlowFish cipher = Keyed(first);
  cipher.Initialize(second.data(), static_cast<std::int32_t>(second.size()));
  EXPECT_EQ(Fingerprint(cipher), Fingerprint(Keyed(second)));
}

TEST(BlowfishKeyTest, MovedScheduleKeepsWorking) {
  const Bytes key = RandomBytes(16, 3);
  const Bytes expected = Fingerprint(Keyed(key));
  CBlowFish source = Keyed(key);
  CBlowFish moved(std::move(source));
  EXPECT_EQ(Fingerprint(moved), expected);
  CBlowFish assigned;
  assigned = std::move(moved);
  EXPECT_EQ(Fingerprint(assigned), expected);
  moved.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
  EXPECT_EQ(Fingerprint(moved), expected);
}

}  // namespace
