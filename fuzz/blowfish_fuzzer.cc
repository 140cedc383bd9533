// Encode and Decode on fuzzer-chosen keys and data, against OpenSSL's
// Blowfish block function; every block kernel this CPU runs against the
// reference kernel.
//
// Input: byte 0 picks the key length, (byte % 83) - 2, so -2 to 80; that many
// key bytes follow (fewer if the input ends); the rest is the plaintext.
// Every buffer is a heap block of exactly the size the interface promises to
// touch, so AddressSanitizer reports any access past it.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "blowfish/blowfish.h"
#include "blowfish/blowfish_kernels.h"

namespace {

using Buffer = std::unique_ptr<std::uint8_t[]>;

Buffer CopyOf(const std::uint8_t* data, std::size_t size) {
  Buffer copy(new std::uint8_t[size]);
  if (size != 0) std::memcpy(copy.get(), data, size);
  return copy;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

bool Equal(const std::uint8_t* a, const std::uint8_t* b, std::size_t size) {
  return size == 0 || std::memcmp(a, b, size) == 0;
}

std::uint32_t Load(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
         std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

struct KeyedPair {
  CBlowFish ours;
  BF_KEY reference;
};

// A key that is not positive, or absent, keys the object like one zero byte.
void ExpectZeroByteKeyEquivalent(const CBlowFish& keyed, int key_length) {
  static constexpr std::uint8_t kZeroKey[1] = {0};
  static constexpr std::uint8_t kProbe[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  CBlowFish reference;
  reference.Initialize(kZeroKey, 1);
  CBlowFish absent;
  absent.Initialize(nullptr, key_length);
  std::uint8_t expected[8], ours[8], from_absent[8];
  reference.Encode(kProbe, expected, 8);
  keyed.Encode(kProbe, ours, 8);
  absent.Encode(kProbe, from_absent, 8);
  Require(Equal(expected, ours, 8) && Equal(expected, from_absent, 8));
}

KeyedPair MakeKeyedPair(const std::uint8_t* key, int key_length) {
  static constexpr std::uint8_t kZeroKey[1] = {0};
  KeyedPair pair;
  pair.ours.Initialize(key, key_length);
  if (key_length <= 0) {
    ExpectZeroByteKeyEquivalent(pair.ours, key_length);
    BF_set_key(&pair.reference, 1, kZeroKey);
  } else {
    BF_set_key(&pair.reference, key_length, key);
  }
  return pair;
}

// The key schedule costs more than the rest of a run, and mutations mostly
// keep the key, so each distinct key is scheduled once per process.
const KeyedPair& KeyedFor(const std::uint8_t* key, int key_length) {
  static std::map<std::pair<int, std::vector<std::uint8_t>>, KeyedPair> cache;
  if (cache.size() > 1024) cache.clear();
  const std::size_t key_bytes = std::max(key_length, 0);
  auto name = std::make_pair(
      key_length, std::vector<std::uint8_t>(key, key + key_bytes));
  auto found = cache.find(name);
  if (found == cache.end()) {
    found = cache.emplace(std::move(name), MakeKeyedPair(key, key_length)).first;
  }
  return found->second;
}

// A block's halves are read least significant byte first; OpenSSL's block
// function takes the halves as words, so only the load differs.
void ExpectOpenSslBlocks(const BF_KEY& schedule, const std::uint8_t* plain,
                         const std::uint8_t* cipher, std::uint32_t size) {
  for (std::uint32_t i = 0; i < size; i += 8) {
    BF_LONG halves[2] = {Load(plain + i), Load(plain + i + 4)};
    BF_encrypt(halves, &schedule);
    Require(halves[0] == Load(cipher + i) && halves[1] == Load(cipher + i + 4));
  }
}

// Decode of a size that is not a multiple of 8 deciphers the whole blocks
// and leaves the tail unread and unwritten.
void ExpectDecodeLeavesTail(const CBlowFish& cipher,
                            const std::uint8_t* cipher_text,
                            const std::uint8_t* plain, std::uint32_t size) {
  const std::uint32_t whole = size & ~7u;
  const Buffer in = CopyOf(cipher_text, whole);
  Buffer out(new std::uint8_t[size]);
  std::memset(out.get(), 0xA5, size);
  cipher.Decode(in.get(), out.get(), size);
  Require(Equal(out.get(), plain, whole));
  for (std::uint32_t i = whole; i < size; ++i) Require(out[i] == 0xA5);
}

// Sizes with no rounded length in 32 bits are refused without a byte read
// or written; the one-byte buffers make any access visible.
void ExpectOversizeRefused(const CBlowFish& cipher, std::uint8_t pick) {
  const std::uint32_t size = 0xFFFFFFF9u + pick % 7;
  Require(cipher.GetOutputLength(size) == 0);
  const Buffer in(new std::uint8_t[1]());
  Buffer out(new std::uint8_t[1]());
  Require(cipher.Encode(in.get(), out.get(), size) == 0 && out[0] == 0);
}

// Kernels see any tables, so fixed pseudo-random ones do; the fuzzer picks
// the blocks, and each result buffer holds exactly those blocks.
void ExpectKernelsAgree(const std::uint8_t* plain, std::uint32_t size) {
  static const std::vector<std::uint32_t> tables = [] {
    std::vector<std::uint32_t> words(18 + 1024);
    std::uint32_t x = 1;
    // cppcheck-suppress useStlAlgorithm
    for (auto& w : words) w = x = x * 1664525u + 1013904223u;
    return words;
  }();
  const std::size_t blocks = size / 8;
  const std::size_t bytes = 8 * blocks;
  Buffer expected(new std::uint8_t[bytes]);
  tarnwick::blowfish::ReferenceKernel(tables.data(), tables.data() + 18, plain,
                                      expected.get(), blocks);
  for (const auto& kernel : tarnwick::blowfish::SupportedKernels()) {
    Buffer apart(new std::uint8_t[bytes]);
    kernel.run(tables.data(), tables.data() + 18, plain, apart.get(), blocks);
    Buffer in_place = CopyOf(plain, bytes);
    kernel.run(tables.data(), tables.data() + 18, in_place.get(), in_place.get(),
               blocks);
    Require(Equal(apart.get(), expected.get(), bytes) &&
            Equal(in_place.get(), expected.get(), bytes));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0 || size > 1 << 16) return 0;
  int key_length = data[0] % 83 - 2;
  key_length = std::min<int>(key_length, static_cast<int>(size - 1));
  const std::size_t key_bytes = static_cast<std::size_t>(std::max(key_length, 0));
  const Buffer key = CopyOf(data + 1, key_bytes);
  const auto plain_size = static_cast<std::uint32_t>(size - 1 - key_bytes);
  const Buffer plain = CopyOf(data + 1 + key_bytes, plain_size);

  const KeyedPair& keyed = KeyedFor(key.get(), key_length);
  const CBlowFish& cipher = keyed.ours;

  const std::uint32_t total = cipher.GetOutputLength(plain_size);
  Require(total % 8 == 0 && total >= plain_size && total - plain_size < 8);

  Buffer separate(new std::uint8_t[total]);
  Require(cipher.Encode(plain.get(), separate.get(), plain_size) == total);
  Require(Equal(plain.get(), data + 1 + key_bytes, plain_size));

  // In place the bytes past the data hold garbage that must become padding.
  Buffer in_place(new std::uint8_t[total]);
  std::memset(in_place.get(), 0xC3, total);
  if (plain_size != 0) std::memcpy(in_place.get(), plain.get(), plain_size);
  Require(cipher.Encode(in_place.get(), in_place.get(), plain_size) == total);
  Require(Equal(in_place.get(), separate.get(), total));

  Buffer padded(new std::uint8_t[total]());
  if (plain_size != 0) std::memcpy(padded.get(), plain.get(), plain_size);
  ExpectOpenSslBlocks(keyed.reference, padded.get(), separate.get(), total);

  Buffer restored(new std::uint8_t[total]);
  cipher.Decode(separate.get(), restored.get(), total);
  Require(Equal(restored.get(), padded.get(), total));
  cipher.Decode(in_place.get(), in_place.get(), total);
  Require(Equal(in_place.get(), padded.get(), total));

  ExpectDecodeLeavesTail(cipher, separate.get(), padded.get(), plain_size);
  ExpectOversizeRefused(cipher, data[0]);
  ExpectKernelsAgree(plain.get(), plain_size);
  return 0;
}
