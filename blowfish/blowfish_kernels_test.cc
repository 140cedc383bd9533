#include "blowfish/blowfish_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/test_util.h"

namespace {

using tarnwick::blowfish::Kernel;
using tarnwick::blowfish::ReferenceKernel;
using tarnwick::blowfish::SupportedKernels;
using tarnwick::testing::Bytes;
using tarnwick::testing::RandomBytes;

using Words = std::vector<std::uint32_t>;

// A kernel is a function of any tables, so random ones stand in for keys.
Words RandomWords(std::size_t count, std::uint32_t seed) {
  const Bytes bytes = RandomBytes(4 * count, seed);
  Words words(count);
  std::memcpy(words.data(), bytes.data(), bytes.size());
  return words;
}

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuard = 0x5A;

// Runs `kernel` on a copy of `data` inside guard bytes, in place or into a
// separate buffer, and checks that only the blocks themselves change.
Bytes RunGuarded(const Kernel& kernel, const Words& p, const Words& s,
          const Bytes& data, bool in_place) {
  const std::size_t size = data.size();
  Bytes out(size + 2 * kGuardBytes, kGuard);
  Bytes in = data;
  std::uint8_t* target = out.data() + kGuardBytes;
  if (in_place) std::copy(data.begin(), data.end(), target);
  kernel.run(p.data(), s.data(), in_place ? target : in.data(), target,
             size / 8);
  EXPECT_EQ(in, data);
  const auto guard = [](std::uint8_t b) { return b == kGuard; };
  EXPECT_TRUE(std::all_of(out.begin(), out.begin() + kGuardBytes, guard));
  EXPECT_TRUE(std::all_of(out.end() - kGuardBytes, out.end(), guard));
  return {target, target + size};
}

class BlockKernelTest : public ::testing::TestWithParam<Kernel> {};

TEST_P(BlockKernelTest, MatchesReferenceInPlaceAndApart) {
  std::vector<std::size_t> sizes(201);
  for (std::size_t n = 0; n < sizes.size(); ++n) sizes[n] = n;
  sizes.insert(sizes.end(), {255, 256, 257, 1000, 4099});
  for (std::uint32_t seed = 0; seed < 3; ++seed) {
    const Words p = RandomWords(18, seed);
    const Words s = RandomWords(1024, seed + 100);
    Words reversed(p.rbegin(), p.rend());
    for (std::size_t blocks : sizes) {
      SCOPED_TRACE(testing::Message() << "seed " << seed << ", " << blocks
                                      << " blocks");
      const Bytes plain = RandomBytes(std::size_t{8} * blocks, static_cast<std::uint32_t>(std::size_t{seed} * 10000 + blocks));
      Bytes expected(plain.size());
      ReferenceKernel(p.data(), s.data(), plain.data(), expected.data(),
                      blocks);
      for (bool in_place : {false, true}) {
        EXPECT_EQ(RunGuarded(GetParam(), p, s, plain, in_place), expected);
        EXPECT_EQ(RunGuarded(GetParam(), reversed, s, expected, in_place), plain);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Supported, BlockKernelTest,
    ::testing::ValuesIn(SupportedKernels().begin(), SupportedKernels().end()),
    [](const ::testing::TestParamInfo<Kernel>& info) {
      return std::string(info.param.name);
    });

}  // namespace
