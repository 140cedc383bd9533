#include "blowfish/blowfish.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "blowfish/blowfish_tables.h"

namespace {

constexpr std::size_t kSubkeys = 18;
constexpr std::size_t kSBoxWords = 1024;
constexpr std::uint32_t kBlockSize = 8;
constexpr std::uint32_t kLargestEncodable = 0xFFFFFFF8;

// Zeroes through a volatile pointer so the stores survive even when the
// memory is about to be freed.
void SecureWipe(std::uint32_t* words, std::size_t count) {
  volatile std::uint32_t* p = words;
  for (std::size_t i = 0; i < count; ++i) p[i] = 0;
}

std::uint32_t LoadLittleEndian(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
         std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

void StoreLittleEndian(std::uint32_t w, std::uint8_t* b) {
  b[0] = static_cast<std::uint8_t>(w);
  b[1] = static_cast<std::uint8_t>(w >> 8);
  b[2] = static_cast<std::uint8_t>(w >> 16);
  b[3] = static_cast<std::uint8_t>(w >> 24);
}

std::uint32_t F(const std::uint32_t* s, std::uint32_t x) {
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^
          s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
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

std::uint32_t CBlowFish::GetOutputLength(std::uint32_t size) const {
  if (size > kLargestEncodable) return 0;
  return (size + kBlockSize - 1) & ~(kBlockSize - 1);
}

std::uint32_t CBlowFish::Encode(const std::uint8_t* in, std::uint8_t* out,
                                std::uint32_t size) const {
  const std::uint32_t total = GetOutputLength(size);
  if (total == 0) return 0;
  const std::uint32_t whole = size & ~(kBlockSize - 1);
  for (std::uint32_t i = 0; i < whole; i += kBlockSize) {
    std::uint32_t left = LoadLittleEndian(in + i);
    std::uint32_t right = LoadLittleEndian(in + i + 4);
    Blowfish_encipher(&left, &right);
    StoreLittleEndian(left, out + i);
    StoreLittleEndian(right, out + i + 4);
  }
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
  const std::uint32_t whole = size & ~(kBlockSize - 1);
  for (std::uint32_t i = 0; i < whole; i += kBlockSize) {
    std::uint32_t left = LoadLittleEndian(in + i);
    std::uint32_t right = LoadLittleEndian(in + i + 4);
    Blowfish_decipher(&left, &right);
    StoreLittleEndian(left, out + i);
    StoreLittleEndian(right, out + i + 4);
  }
}

void CBlowFish::Blowfish_encipher(std::uint32_t* left,
                                  std::uint32_t* right) const {
  const std::uint32_t* p = PArray.get();
  const std::uint32_t* s = SBoxes.get();
  std::uint32_t l = *left;
  std::uint32_t r = *right;
  for (std::size_t i = 0; i < 16; i += 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i + 1];
    l ^= F(s, r);
  }
  *left = r ^ p[17];
  *right = l ^ p[16];
}

void CBlowFish::Blowfish_decipher(std::uint32_t* left,
                                  std::uint32_t* right) const {
  const std::uint32_t* p = PArray.get();
  const std::uint32_t* s = SBoxes.get();
  std::uint32_t l = *left;
  std::uint32_t r = *right;
  for (std::size_t i = 17; i > 1; i -= 2) {
    l ^= p[i];
    r ^= F(s, l);
    r ^= p[i - 1];
    l ^= F(s, r);
  }
  *left = r ^ p[0];
  *right = l ^ p[1];
}
