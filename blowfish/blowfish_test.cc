#include "blowfish/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "blowfish/blowfish_kernels.h"
#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::DataLines;
using tarnwick::testing::Fields;
using tarnwick::testing::FromHex;
using tarnwick::testing::RandomBytes;

CBlowFish Keyed(const Bytes& key) {
  CBlowFish cipher;
  cipher.Initialize(key.data(), static_cast<std::int32_t>(key.size()));
  return cipher;
}

// Keys compared through what they encipher.
Bytes Fingerprint(const CBlowFish& cipher) {
  Bytes block(64, 0);
  cipher.Encode(block.data(), block.data(), 64);
  return block;
}

// Rows are KEY PLAIN CIPHER.
TEST(BlowfishTest, PublishedVectors) {
  for (const std::string& line : DataLines("blowfish-vectors.txt")) {
    const auto field = Fields(line);
    const Bytes plain = FromHex(field[1]), expected = FromHex(field[2]);
    const CBlowFish cipher = Keyed(FromHex(field[0]));
    Bytes out(8);
    EXPECT_EQ(cipher.Encode(plain.data(), out.data(), 8), 8u);
    EXPECT_EQ(out, expected) << line;
    cipher.Decode(expected.data(), out.data(), 8);
    EXPECT_EQ(out, plain) << line;
  }
}

// Each result two ways: apart and in place, a partial block and its padded
// whole. A guard block behind each buffer survives, and Decode leaves a
// trailing partial block alone.
TEST(BlowfishTest, BuffersAgreeInPlaceApartAndPadded) {
  const CBlowFish cipher = Keyed(FromHex("f0e1d2c3b4a59687"));
  for (std::uint32_t size = 0; size <= 40; ++size) {
    const std::uint32_t total = (size + 7) / 8 * 8;
    const Bytes data = RandomBytes(size, size);
    Bytes padded = data, in_place = data, apart(total + 8, 0xA5);
    Bytes whole = apart, restored = apart;
    padded.resize(total, 0);
    padded.resize(total + 8, 0xA5);
    in_place.resize(total, 0x5A);
    in_place.resize(total + 8, 0xA5);
    EXPECT_EQ(cipher.Encode(data.data(), apart.data(), size), total);
    EXPECT_EQ(cipher.Encode(in_place.data(), in_place.data(), size), total);
    cipher.Encode(padded.data(), whole.data(), total);
    EXPECT_TRUE(apart == whole && in_place == whole) << size;
    cipher.Decode(apart.data(), restored.data(), size);
    std::copy_n(data.begin(), size - size % 8, apart.begin());
    std::fill(apart.begin() + size - size % 8, apart.end(), 0xA5);
    EXPECT_EQ(restored, apart) << size;
    cipher.Decode(in_place.data(), in_place.data(), total);
    EXPECT_EQ(in_place, padded) << size;
  }
  for (const std::uint32_t size : {0xFFFFFFF9u, 0xFFFFFFFFu}) {
    EXPECT_EQ(cipher.GetOutputLength(size), 0u);  // no 32-bit padded size
    EXPECT_EQ(cipher.Encode(nullptr, nullptr, size), 0u);
  }
  EXPECT_EQ(cipher.GetOutputLength(0xFFFFFFF1), 0xFFFFFFF8u);
}

// Short keys repeat, bytes past the 72nd do nothing, and no key is the zero
// byte, also when it keys a moved-from object again.
TEST(BlowfishTest, KeysThatActAlike) {
  const Bytes key = RandomBytes(73, 5), zero = Fingerprint(Keyed({0}));
  EXPECT_EQ(Fingerprint(Keyed({1, 2, 3})),
            Fingerprint(Keyed({1, 2, 3, 1, 2, 3})));
  EXPECT_EQ(Fingerprint(Keyed(Bytes(key.begin(), key.end() - 1))),
            Fingerprint(Keyed(key)));
  EXPECT_NE(Fingerprint(Keyed(Bytes(key.begin(), key.end() - 2))),
            Fingerprint(Keyed(key)));
  EXPECT_EQ(Fingerprint(Keyed(Bytes(16, 0))), zero);
  CBlowFish moved = Keyed(key), assigned;
  assigned = std::move(moved);
  EXPECT_EQ(Fingerprint(assigned), Fingerprint(Keyed(key)));
  assigned.Initialize(key.data(), -1);
  moved.Initialize(nullptr, 16);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(Fingerprint(assigned), zero);
  EXPECT_EQ(Fingerprint(moved), zero);
}

#ifdef __linux__  // for aligned_alloc
// The key tables are this file's only page-aligned blocks: counted while
// they live, any byte still set when one is released, failed on demand.
int live_tables = 0, tables_until_failure = -1;
std::ptrdiff_t unwiped_bytes = 0;

// A schedule left half allocated by a failure is completed by the next
// keying.
TEST(BlowfishTest, TablesAreWipedAndFreed) {
  {
    const Bytes key = RandomBytes(56, 3);
    CBlowFish cipher = Keyed(key), moved = std::move(cipher);
    EXPECT_EQ(live_tables, 2);
    tables_until_failure = 1;
    // NOLINTNEXTLINE(bugprone-use-after-move)
    EXPECT_THROW(cipher.Initialize(key.data(), 56), std::bad_alloc);
    cipher.Initialize(key.data(), 56);
    EXPECT_EQ(Fingerprint(cipher), Fingerprint(moved));
  }
  EXPECT_EQ(live_tables, 0);
  EXPECT_EQ(unwiped_bytes, 0);
}
#endif

// Random tables act as a key. Past 576 blocks the widest kernel has taken
// every path; a guard block catches writes past the last.
TEST(BlowfishTest, KernelsMatchTheReferenceInPlaceAndApart) {
  std::uint32_t tables[18 + 1024];
  const Bytes random = RandomBytes(sizeof tables, 1);
  std::memcpy(tables, random.data(), sizeof tables);
  const auto kernels = tarnwick::blowfish::SupportedKernels();
  ASSERT_GE(kernels.size(), 2u) << "the portable kernels run everywhere";
  for (const auto& kernel : kernels) {
    for (std::size_t blocks = 0; blocks <= 600; ++blocks) {
      const Bytes plain = RandomBytes(8 * blocks, blocks);
      Bytes expected(8 * blocks + 8, 0xA5), apart = expected, in_place = plain;
      in_place.resize(expected.size(), 0xA5);
      tarnwick::blowfish::ReferenceKernel(tables, tables + 18, plain.data(),
                                          expected.data(), blocks);
      kernel.run(tables, tables + 18, plain.data(), apart.data(), blocks);
      kernel.run(tables, tables + 18, in_place.data(), in_place.data(), blocks);
      ASSERT_TRUE(apart == expected && in_place == expected)
          << kernel.name << ", " << blocks << " blocks";
    }
  }
}

#ifdef __x86_64__
// The compiler runtime's table, where the build has one, is the oracle for
// the library's own question to the processor.
TEST(BlowfishTest, TheWidestKernelIsOfferedWhereTheProcessorHasIt) {
  const auto kernels = tarnwick::blowfish::SupportedKernels();
  EXPECT_EQ(std::ranges::any_of(kernels,
                                [](const auto& kernel) {
                                  return std::strcmp(kernel.name,
                                                     "avx512vbmi") == 0;
                                }),
            __builtin_cpu_supports("avx512f") &&
                __builtin_cpu_supports("avx512bw") &&
                __builtin_cpu_supports("avx512vbmi"));
}
#endif

}  // namespace

#ifdef __linux__
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (tables_until_failure >= 0 && tables_until_failure-- == 0) {
    throw std::bad_alloc();
  }
  ++live_tables;
  return std::aligned_alloc(static_cast<std::size_t>(alignment), size);
}
void operator delete(void* block, std::align_val_t page) noexcept {
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  unwiped_bytes += std::count_if(bytes, bytes + static_cast<int>(page),
                                 [](std::uint8_t b) { return b != 0; });
  --live_tables;
  std::free(block);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return operator new(size, alignment);
}
void operator delete[](void* block, std::align_val_t page) noexcept {
  operator delete(block, page);
}
#endif
