#include "blowfish/blowfish.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>

#include "blowfish/blowfish_kernels.h"
#include "blowfish/blowfish_tables.h"
#include "common/inner.h"

namespace {

using tarnwick::kBlockSize;
using tarnwick::LoadLittleEndian;
using tarnwick::LockInMemory;
using tarnwick::SecureWipe;
using tarnwick::StoreLittleEndian;
using tarnwick::UnlockMemory;

constexpr std::size_t kSubkeys = 18;
constexpr std::size_t kSBoxWords = 1024;

// Each table gets a page of its own, so locking it in memory and unlocking
// it again concerns no other data (where pages are 4 KiB).
constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kTableBytes = kPageSize;
static_assert(kSBoxWords * sizeof(std::uint32_t) <= kTableBytes);

// A zeroed table, kept out of swap where the system's limits allow it.
std::uint32_t* NewTable() {
  auto* table = new (std::align_val_t{kPageSize})
      std::uint32_t[kTableBytes / sizeof(std::uint32_t)]();
  LockInMemory(table, kTableBytes);
  return table;
}

// The subkeys in the order that deciphers: the schedule's, reversed. They
// are key material, so they are wiped as they go out of scope.
class ReversedSubkeys {
 public:
  explicit ReversedSubkeys(const std::uint32_t* p) {
    std::reverse_copy(p, p + kSubkeys, words_.begin());
  }
  ~ReversedSubkeys() { SecureWipe(words_.data(), sizeof words_); }
  ReversedSubkeys(const ReversedSubkeys&) = delete;
  ReversedSubkeys& operator=(const ReversedSubkeys&) = delete;

  const std::uint32_t* data() const { return words_.data(); }

 private:
  std::array<std::uint32_t, kSubkeys> words_;
};

// Loads one 8-byte block from `in` as its two halves, runs `walk` over them
// and stores them to `out`.
template <typename Walk>
void TransformBlock(const std::uint8_t* in, std::uint8_t* out, Walk walk) {
  std::uint32_t left = LoadLittleEndian(in);
  std::uint32_t right = LoadLittleEndian(in + 4);
  walk(&left, &right);
  StoreLittleEndian(left, out);
  StoreLittleEndian(right, out + 4);
}

// The 16 rounds over one block's halves, subkeys `p` first to last.
void RoundsOnHalves(const std::uint32_t* p, const std::uint32_t* s,
                    std::uint32_t* left, std::uint32_t* right) {
  std::uint32_t l[1] = {*left};
  std::uint32_t r[1] = {*right};
  tarnwick::blowfish::Rounds(p, s, l, r);
  *left = l[0];
  *right = r[0];
}

tarnwick::blowfish::BlockKernel FastestKernel() {
  static const tarnwick::blowfish::BlockKernel kernel =
      tarnwick::blowfish::SupportedKernels().back().run;
  return kernel;
}

}  // namespace

void CBlowFish::TableDeleter::operator()(std::uint32_t* table) const {
  SecureWipe(table, kTableBytes);
  UnlockMemory(table, kTableBytes);
  ::operator delete[](table, std::align_val_t{kPageSize});
}

CBlowFish::CBlowFish() { Allocate(); }

CBlowFish::~CBlowFish() = default;
CBlowFish::CBlowFish(CBlowFish&& other) noexcept = default;
CBlowFish& CBlowFish::operator=(CBlowFish&& other) noexcept = default;

void CBlowFish::Allocate() {
  PArray = Table(NewTable());
  SBoxes = Table(NewTable());
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
  // They end as the schedule's last two words.
  SecureWipe(&left, sizeof left);
  SecureWipe(&right, sizeof right);
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
    TransformBlock(block, out + whole,
                   [this](std::uint32_t* l, std::uint32_t* r) {
                     Blowfish_encipher(l, r);
                   });
  }
  return total;
}

// The kernel takes the blocks before the last and the single-block walk the
// last, as Encode splits off its partial block: every call runs both.
void CBlowFish::Decode(const std::uint8_t* in, std::uint8_t* out,
                       std::uint32_t size) const {
  const std::uint32_t blocks = size / kBlockSize;
  if (blocks == 0) return;
  const std::uint32_t last = (blocks - 1) * kBlockSize;
  FastestKernel()(ReversedSubkeys(PArray.get()).data(), SBoxes.get(), in, out,
                  blocks - 1);
  TransformBlock(
      in + last, out + last,
      [this](std::uint32_t* l, std::uint32_t* r) { Blowfish_decipher(l, r); });
}

void CBlowFish::Blowfish_encipher(std::uint32_t* left,
                                  std::uint32_t* right) const {
  RoundsOnHalves(PArray.get(), SBoxes.get(), left, right);
}

// The same steps with the subkeys in reverse order.
void CBlowFish::Blowfish_decipher(std::uint32_t* left,
                                  std::uint32_t* right) const {
  RoundsOnHalves(ReversedSubkeys(PArray.get()).data(), SBoxes.get(), left,
                 right);
}
