#include "blowfish/blowfish.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>

#include "blowfish/blowfish_kernels.h"
#include "tests/test_util.h"

namespace {

using tarnwick::testing::Bytes;
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

// Rows are KEY PLAIN CIPHER, or KEY CIPHER over the variable-key plaintext,
// each half written most significant byte first: buffers hold it reversed.
TEST(BlowfishTest, PublishedVectors) {
  for (const char* file : {"blowfish-ecb.txt", "blowfish-setkey.txt"}) {
    for (const std::string& line : tarnwick::testing::DataLines(file)) {
      std::vector<std::string> field = tarnwick::testing::Fields(line);
      if (field.size() == 2) field.insert(field.begin() + 1, "FEDCBA9876543210");
      Bytes plain = FromHex(field[1]), expected = FromHex(field[2]), out(8);
      for (Bytes* block : {&plain, &expected}) {
        std::reverse(block->begin(), block->begin() + 4);
        std::reverse(block->begin() + 4, block->end());
      }
      const CBlowFish cipher = Keyed(FromHex(field[0]));
      EXPECT_EQ(cipher.Encode(plain.data(), out.data(), 8), 8u);
      EXPECT_EQ(out, expected) << line;
      cipher.Decode(expected.data(), out.data(), 8);
      EXPECT_EQ(out, plain) << line;
    }
  }
}

// Every size of a few blocks, each result reached two ways: apart and in
// place, a partial block and its zero-padded whole. A guard block behind
// each buffer must survive, and Decode leaves a trailing partial block be.
TEST(BlowfishTest, BuffersAgreeInPlaceApartAndPadded) {
  const CBlowFish cipher = Keyed(FromHex("f0e1d2c3b4a59687"));
  for (std::uint32_t size = 0; size <= 40; ++size) {
    const std::uint32_t total = (size + 7) / 8 * 8;
    const Bytes data = RandomBytes(size, size);
    Bytes padded = data, in_place = data, apart(total + 8, 0xA5), whole = apart, restored = apart;
    padded.resize(total, 0);
    padded.resize(total + 8, 0xA5);
    in_place.resize(total, 0x5A);
    in_place.resize(total + 8, 0xA5);
    EXPECT_EQ(cipher.GetOutputLength(size), total);
    EXPECT_EQ(cipher.Encode(data.data(), apart.data(), size), total);
    EXPECT_EQ(cipher.Encode(in_place.data(), in_place.data(), size), total);
    cipher.Encode(padded.data(), whole.data(), total);
    EXPECT_TRUE(apart == whole && in_place == whole) << size;
    cipher.Decode(apart.data(), restored.data(), size);
    const std::ptrdiff_t whole_blocks = size - size % 8;
    std::copy_n(data.begin(), whole_blocks, apart.begin());
    std::fill(apart.begin() + whole_blocks, apart.end(), 0xA5);
    EXPECT_EQ(restored, apart) << size;
    cipher.Decode(in_place.data(), in_place.data(), total);
    EXPECT_EQ(in_place, padded) << size;
  }
  for (const std::uint32_t size : {0xFFFFFFF9u, 0xFFFFFFFFu}) {  // no 32-bit padded size
    EXPECT_EQ(cipher.GetOutputLength(size), 0u);
    EXPECT_EQ(cipher.Encode(nullptr, nullptr, size), 0u);
  }
  EXPECT_EQ(cipher.GetOutputLength(0xFFFFFFF1), 0xFFFFFFF8u);
}

// Short keys repeat, bytes past the 72nd do nothing, and a key of no bytes
// is the zero byte, even when it re-keys a schedule or a moved-from object.
TEST(BlowfishTest, KeysThatActAlike) {
  const Bytes key72 = RandomBytes(72, 5), zero_byte = Fingerprint(Keyed({0}));
  Bytes key73 = key72;
  key73.push_back(0x77);
  EXPECT_EQ(Fingerprint(Keyed(FromHex("0a1b2c3d"))), Fingerprint(Keyed(FromHex("0a1b2c3d0a1b2c3d"))));
  EXPECT_EQ(Fingerprint(Keyed(key72)), Fingerprint(Keyed(key73)));
  EXPECT_NE(Fingerprint(Keyed(key72)), Fingerprint(Keyed(Bytes(key72.begin(), key72.end() - 1))));
  EXPECT_EQ(Fingerprint(Keyed(Bytes(16, 0))), zero_byte);
  CBlowFish moved(Keyed({9})), assigned;
  assigned = std::move(moved);
  EXPECT_EQ(Fingerprint(assigned), Fingerprint(Keyed({9})));
  for (const int length : {0, -1, INT_MIN, 16}) {
    for (CBlowFish* cipher : {&assigned, &moved}) {
      cipher->Initialize(length == 16 ? nullptr : key72.data(), length);  // NOLINT(bugprone-use-after-move)
      EXPECT_EQ(Fingerprint(*cipher), zero_byte) << length;
    }
  }
}

#ifdef __linux__
// The key tables are the only page-aligned blocks here: counted while they
// live, any byte of one still set when it is released, and failed on demand.
std::size_t live_tables = 0, unwiped_bytes = 0;
int tables_until_failure = -1;

std::string LockedMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line) && line.rfind("VmLck:", 0) != 0) {}
  return line;
}

// A schedule left half allocated by a failure is completed by the next keying.
TEST(BlowfishTest, TablesAreLockedThenReleasedWipedAndUnlocked) {
  const std::string unlocked = LockedMemory();
  {
    const Bytes key = RandomBytes(56, 3);
    CBlowFish cipher = Keyed(key), moved = std::move(cipher);  // cipher has no tables now
    EXPECT_EQ(live_tables, 2u);
#ifndef __SANITIZE_ADDRESS__  // which makes mlock do nothing
    EXPECT_NE(LockedMemory(), unlocked);
#endif
    tables_until_failure = 1;
    EXPECT_THROW(cipher.Initialize(key.data(), 56), std::bad_alloc);  // NOLINT(bugprone-use-after-move)
    cipher.Initialize(key.data(), 56);
    EXPECT_EQ(Fingerprint(cipher), Fingerprint(moved));
  }
  EXPECT_EQ(live_tables, 0u);
  EXPECT_EQ(unwiped_bytes, 0u);
  EXPECT_EQ(LockedMemory(), unlocked);
}
#endif

// Any tables act as a key, so random ones do. Past 256 blocks the widest
// kernel has taken every path; a guard block catches writes past the last.
TEST(BlowfishTest, KernelsMatchTheReferenceInPlaceAndApart) {
  std::vector<std::uint32_t> tables(18 + 1024);
  const Bytes random = RandomBytes(4 * tables.size(), 1);
  std::memcpy(tables.data(), random.data(), random.size());
  const auto kernels = tarnwick::blowfish::SupportedKernels();
  ASSERT_GE(kernels.size(), 2u) << "the portable kernels run everywhere";
  for (const auto& kernel : kernels) {
    for (std::size_t blocks = 0; blocks <= 300; ++blocks) {
      const Bytes plain = RandomBytes(8 * blocks, static_cast<std::uint32_t>(blocks));
      Bytes expected(8 * blocks + 8, 0xA5), apart = expected, in_place = plain;
      in_place.resize(expected.size(), 0xA5);
      tarnwick::blowfish::ReferenceKernel(tables.data(), &tables[18], plain.data(), expected.data(), blocks);
      kernel.run(tables.data(), &tables[18], plain.data(), apart.data(), blocks);
      kernel.run(tables.data(), &tables[18], in_place.data(), in_place.data(), blocks);
      ASSERT_TRUE(apart == expected && in_place == expected) << kernel.name << ", " << blocks << " blocks";
    }
  }
}

}  // namespace

#ifdef __linux__
void* operator new(std::size_t size, std::align_val_t alignment) {
  if (tables_until_failure >= 0 && tables_until_failure-- == 0) throw std::bad_alloc();
  void* block = std::aligned_alloc(static_cast<std::size_t>(alignment), size);
  live_tables += block != nullptr;
  return block != nullptr ? block : throw std::bad_alloc();
}
void operator delete(void* block, std::align_val_t page) noexcept {  // a table fills its page
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  unwiped_bytes += std::count_if(bytes, bytes + static_cast<std::size_t>(page), [](std::uint8_t b) { return b != 0; });
  live_tables -= 1;
  std::free(block);
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void operator delete[](void* block, std::align_val_t page) noexcept { operator delete(block, page); }
#endif
