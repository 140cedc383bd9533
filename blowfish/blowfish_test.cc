#include "blowfish/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <tuple>
#include <utility>

#include "blowfish/blowfish_kernels.h"
#include "tests/test_util.h"

namespace {

using namespace tarnwick::testing;

CBlowFish Keyed(const Bytes& key) {
  CBlowFish cipher;
  cipher.Initialize(key.data(), std::int32_t(key.size()));
  return cipher;
}

// Rows are KEY PLAIN CIPHER.
TEST(BlowfishTest, PublishedVectors) {
  for (const auto& [number, line] : DataLines("blowfish-vectors.txt")) {
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

// Each size apart and in place against its zero-padded whole, with a guard
// block behind each buffer; Decode leaves a trailing partial block alone.
TEST(BlowfishTest, BuffersAgreeInPlaceApartAndPadded) {
  const CBlowFish cipher = Keyed(FromHex("f0e1d2c3b4a59687"));
  for (std::uint32_t size = 0; size <= 40; ++size) {
    const std::uint32_t total = (size + 7) / 8 * 8;
    const Bytes data = RandomBytes(size, size);
    Bytes whole = data, apart(total + 8, 0xA5), in_place = data;
    whole.resize(total, 0);
    cipher.Encode(whole.data(), whole.data(), total);
    whole.resize(total + 8, 0xA5);
    in_place.resize(total + 8, 0xA5);
    EXPECT_EQ(cipher.Encode(data.data(), apart.data(), size), total);
    EXPECT_EQ(cipher.Encode(in_place.data(), in_place.data(), size), total);
    EXPECT_TRUE(apart == whole && in_place == whole) << size;
    cipher.Decode(in_place.data(), in_place.data(), size);
    std::copy_n(data.begin(), size / 8 * 8, whole.begin());
    EXPECT_EQ(in_place, whole) << size;
  }
  for (const std::uint32_t size : {0xFFFFFFF9u, 0xFFFFFFFFu}) {
    EXPECT_EQ(cipher.GetOutputLength(size), 0u);  // no 32-bit padded size
    EXPECT_EQ(cipher.Encode(nullptr, nullptr, size), 0u);
  }
  EXPECT_EQ(cipher.GetOutputLength(0xFFFFFFF1), 0xFFFFFFF8u);
}

// No key, or a length of 0 or less, is the single zero byte, which repeats
// into the published all-zero key.
TEST(BlowfishTest, MissingKeysAreTheZeroByte) {
  const Bytes expected = FromHex("4597f94e78dd9861"), key = {1};
  CBlowFish keyed = Keyed(key);
  for (const auto& [bytes, length] :
       {std::pair{key.data(), 0}, {key.data(), -1}, {nullptr, 16}}) {
    Bytes out(8);
    keyed.Initialize(bytes, length);
    keyed.Encode(out.data(), out.data(), 8);
    EXPECT_EQ(out, expected) << length;
  }
}

#ifdef __linux__  // for aligned_alloc
// The key tables are this file's only page-aligned blocks and its only
// memory locked: counted while they live and while locked, any byte still
// set when one is released, failed on demand.
int live_tables = 0, locked_blocks = 0, tables_until_failure = -1;
std::ptrdiff_t unwiped_bytes = 0;

// Locked out of swap while they live; a schedule left half allocated by a
// failure is completed by the next keying.
TEST(BlowfishTest, TablesAreLockedWipedAndFreed) {
  {
    const Bytes key = RandomBytes(56, 3);
    CBlowFish cipher = Keyed(key), moved = std::move(cipher);
    EXPECT_EQ(std::pair(live_tables, locked_blocks), std::pair(2, 2));
    tables_until_failure = 1;
    // NOLINTNEXTLINE(bugprone-use-after-move)
    EXPECT_THROW(cipher.Initialize(key.data(), 56), std::bad_alloc);
    cipher.Initialize(key.data(), 56);
    // The keys compared through a block.
    Bytes block(8), other(8);
    cipher.Encode(block.data(), block.data(), 8);
    moved.Encode(other.data(), other.data(), 8);
    EXPECT_EQ(block, other);
  }
  EXPECT_EQ(std::tuple(live_tables, locked_blocks, unwiped_bytes),
            std::tuple(0, 0, 0));
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

}  // namespace

#ifdef __linux__
void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (tables_until_failure-- == 0) throw std::bad_alloc();
  ++live_tables;
  return std::aligned_alloc(std::size_t(alignment), size);
}
void operator delete[](void* block, std::align_val_t page) noexcept {
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  unwiped_bytes +=
      std::count_if(bytes, bytes + int(page), [](int b) { return b != 0; });
  --live_tables;
  std::free(block);
}
extern "C" int mlock(const void*, std::size_t) noexcept {
  return ++locked_blocks, 0;
}
extern "C" int munlock(const void*, std::size_t) noexcept {
  return --locked_blocks, 0;
}
#endif
