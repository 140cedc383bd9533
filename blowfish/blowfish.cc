#include "blowfish/blowfish.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "blowfish/blowfish_kernels.h"
#include "blowfish/blowfish_tables.h"

namespace {

using tarnwick::blowfish::LoadLittleEndian;
using tarnwick::blowfish::StoreLittleEndian;

constexpr std::size_t kSubkeys = 18;
constexpr std::size_t kSBoxWords = 1024;
constexpr std::uint32_t kBlockSize = 8;

// Zeroes through a volatile pointer so the stores survive even when the
// memory is about to be freed.
void SecureWipe(std::uint32_t* words, std::size_t count) {
  volatile std::uint32_t* p = words;
  for (std::size_t i = 0; i < count; ++i) p[i] = 0;
}

// The subkeys in the order that deciphers: the schedule's, reversed.
std::array<std::uint32_t, kSubkeys> Reversed(const std::uint32_t* p) {
  std::array<std::uint32_t, kSubkeys> reversed{};
  std::reverse_copy(p, p + kSubkeys, reversed.begin());
  return reversed;
}

tarnwick::blowfish::BlockKernel FastestKernel() {
  static const tarnwick::blowfish::BlockKernel kernel =
      tarnwick::blowfish::SupportedKernels().back().run;
  return kernel;
}

}  // namespace

CBlowFish::CBlowFish() { Allocate(); }

CBlowFish::~CBlowFish() { Wipe(); }

CBlowFish::CBlowFish(CBlowFish&& other) noexcept
    : PArray(std::move(other.PArray)), SBoxes(std::move(other.SBoxes)) {}

CBlowFish& CBlowFish::operator=(CBlowFish&& other) noexcept {
  if (this != &other) {
    Wipe();
    PArray = std::move(other.PArray);
    SBoxes = std::move(other.SBoxes);
  }
  return *this;
}

void CBlowFish::Allocate() {
  PArray = std::make_unique<std::uint32_t[]>(kSubkeys);
  SBoxes = std::make_unique<std::uint32_t[]>(kSBoxWords);
}

void CBlowFish::Wipe() {
  if (PArray) SecureWipe(PArray.get(), kSubkeys);
  if (SBoxes) SecureWipe(SBoxes.get(), kSBoxWords);
}

void CBlowFish::Initialize(const std::uint8_t* key, std::int32_t keyLength) {
  static constexpr std::uint8_t kZeroKey[1] = {0};
  if (key == nullptr || keyLength <= 0) {
    key = kZeroKey;
    keyLength = 1;
  }
  if (!PArray || !SBoxes) Allocate();
  std::copy_n(InitialPArray, kSubkeys, PArray.get());
  std::copy_n(InitialSBoxes, kSBoxWords, SBoxes.get());

  const auto length = static_cast<std::uint32_t>(keyLength);
  std::uint32_t j = 0;
  for (std::size_t i = 0; i < kSubkeys; ++i) {
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
      word = word << 8 | key[j];
      j = (j + 1 == length) ? 0 : j + 1;
    }
    PArray[i] ^= word;
  }

  std::uint32_t left = 0;
  std::uint32_t right = 0;
  for (std::size_t i = 0; i < kSubkeys; i += 2) {
    Blowfish_encipher(&left, &right);
    PArray[i] = left;
    PArray[i + 1] = right;
  }
  for (std::size_t i = 0; i < kSBoxWords; i += 2) {
    Blowfish_encipher(&left, &right);
    SBoxes[i] = left;
    SBoxes[i + 1] = right;
  }
}

// Sizes above 0xFFFFFFF8 round up past 32 bits, which wraps them to 0.
std::uint32_t CBlowFish::GetOutputLength(std::uint32_t size) const {
  return (size + kBlockSize - 1) & ~(kBlockSize - 1);
}

std::uint32_t CBlowFish::Encode(const std::uint8_t* in, std::uint8_t* out,
                                std::uint32_t size) const {
  const std::uint32_t total = GetOutputLength(size);
  if (total == 0) return 0;
  const std::uint32_t whole = size & ~(kBlockSize - 1);
  FastestKernel()(PArray.get(), SBoxes.get(), in, out, whole / kBlockSize);
  if (whole < total) {
    std::uint8_t block[kBlockSize] = {};
    std::copy(in + whole, in + size, block);
    std::uint32_t left = LoadLittleEndian(block);
    std::uint32_t right = LoadLittleEndian(block + 4);
    Blowfish_encipher(&left, &right);
    StoreLittleEndian(left, out + whole);
    StoreLittleEndian(right, out + whole + 4);
  }
  return total;
}

void CBlowFish::Decode(const std::uint8_t* in, std::uint8_t* out,
                       std::uint32_t size) const {
  FastestKernel()(Reversed(PArray.get()).data(), SBoxes.get(), in, out,
                  size / kBlockSize);
}

void CBlowFish::Blowfish_encipher(std::uint32_t* left,
                                  std::uint32_t* right) const {
  std::uint32_t l[1] = {*left};
  std::uint32_t r[1] = {*right};
  tarnwick::blowfish::Rounds(PArray.get(), SBoxes.get(), l, r);
  *left = l[0];
  *right = r[0];
}
