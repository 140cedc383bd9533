#include "md5/md5.h"

#include <cstddef>
#include <cstring>
#include <iterator>

#include "common/inner.h"

namespace {

using tarnwick::LoadLittleEndian;
using tarnwick::SecureWipe;
using tarnwick::StoreLittleEndian;

const std::uint8_t PADDING[64] = {0x80};

constexpr std::uint32_t RotateLeft(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

constexpr std::uint32_t F(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & y) | (~x & z);
}
constexpr std::uint32_t G(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return (x & z) | (y & ~z);
}
constexpr std::uint32_t H(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return x ^ y ^ z;
}
constexpr std::uint32_t I(std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return y ^ (x | ~z);
}

using RoundFunction = std::uint32_t (*)(std::uint32_t, std::uint32_t,
                                        std::uint32_t);

// One step: a = b + ((a + f(b, c, d) + x + t) <<< s).
void Step(RoundFunction f, std::uint32_t& a, std::uint32_t b, std::uint32_t c,
          std::uint32_t d, std::uint32_t x, int s, std::uint32_t t) {
  a = b + RotateLeft(a + f(b, c, d) + x + t, s);
}

// The integer part of 2^32 * |sin(i + 1)|, i in radians.
constexpr std::uint32_t kSine[] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a,
    0xa8304613, 0xfd469501, 0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be,
    0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821, 0xf61e2562, 0xc040b340,
    0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8,
    0x676f02d9, 0x8d2a4c8a, 0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c,
    0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70, 0x289b7ec6, 0xeaa127fa,
    0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92,
    0xffeff47d, 0x85845dd1, 0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1,
    0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// A round's steps rotate by its four amounts in turn.
constexpr int kShiftCycle = 4;

// A block's bytes, and its 32-bit words; each round takes every word once.
constexpr std::uint32_t kBlockBytes = 64;
constexpr int kBlockWords = 16;

struct Round {
  RoundFunction f;
  int shifts[kShiftCycle];
  int first_word;   // message word of the round's first step
  int word_stride;  // how far the message word advances, mod 16, per step
};

constexpr Round kRounds[4] = {
    {F, {7, 12, 17, 22}, 0, 1},
    {G, {5, 9, 14, 20}, 1, 5},
    {H, {4, 11, 16, 23}, 5, 3},
    {I, {6, 10, 15, 21}, 0, 7},
};

void StoreWordsLittleEndian(std::uint8_t* out, const std::uint32_t* words,
                            std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    StoreLittleEndian(words[i], out + 4 * i);
  }
}

// Folds one 64-byte block, at any alignment, into `state`.
void MD5Transform(std::uint32_t state[4],
                  const std::uint8_t block[kBlockBytes]) {
  std::uint32_t x[kBlockWords];
  for (std::size_t i = 0; i < std::size(x); ++i) {
    x[i] = LoadLittleEndian(block + 4 * i);
  }
  std::uint32_t abcd[4] = {state[0], state[1], state[2], state[3]};
  for (int round = 0; round < 4; ++round) {
    const Round& r = kRounds[round];
    for (int step = 0; step < kBlockWords; ++step) {
      // The register that is updated rotates a, d, c, b from step to step.
      const int a = (16 - step) % 4;
      const int word = (r.first_word + r.word_stride * step) % kBlockWords;
      Step(r.f, abcd[a], abcd[(a + 1) % 4], abcd[(a + 2) % 4],
           abcd[(a + 3) % 4], x[word], r.shifts[step % kShiftCycle],
           kSine[kBlockWords * round + step]);
    }
  }
  for (int i = 0; i < 4; ++i) state[i] += abcd[i];
  // The block may be the password (RFC 1321 clears it too), and for the
  // last block the registers are the digest less the public initial values.
  SecureWipe(x, sizeof x);
  SecureWipe(abcd, sizeof abcd);
}

// Where the digest's frames were: the compiler may have spilled its working
// registers there, which for a password's last block are the key less MD5's
// public initial values.
[[gnu::noinline]] void WipeStack() {
  std::uint8_t frames[1024];
  SecureWipe(frames, sizeof frames);
}

}  // namespace

void MD5Init(MD5_CTX* context) {
  context->count[0] = context->count[1] = 0;
  context->state[0] = 0x67452301;
  context->state[1] = 0xefcdab89;
  context->state[2] = 0x98badcfe;
  context->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX* context, const std::uint8_t* input,
               std::uint32_t inputLen) {
  std::uint32_t index = (context->count[0] >> 3) & 0x3F;
  const std::uint32_t bits = inputLen << 3;
  context->count[0] += bits;
  if (context->count[0] < bits) context->count[1]++;
  context->count[1] += inputLen >> 29;

  const std::uint32_t partLen = kBlockBytes - index;
  std::uint32_t i = 0;
  if (inputLen >= partLen) {
    std::memcpy(&context->buffer[index], input, partLen);
    MD5Transform(context->state, context->buffer);
    for (i = partLen; inputLen - i >= kBlockBytes; i += kBlockBytes) {
      MD5Transform(context->state, &input[i]);
    }
    index = 0;
  }
  if (inputLen > i)
    std::memcpy(&context->buffer[index], &input[i], inputLen - i);
}

void MD5Final(std::uint8_t digest[16], MD5_CTX* context) {
  std::uint8_t bits[sizeof context->count];
  StoreWordsLittleEndian(bits, context->count, std::size(context->count));
  const std::uint32_t index = (context->count[0] >> 3) & 0x3F;
  const std::uint32_t padLen = (index < 56) ? (56 - index) : (120 - index);
  MD5Update(context, PADDING, padLen);
  MD5Update(context, bits, sizeof bits);
  StoreWordsLittleEndian(digest, context->state, std::size(context->state));
  SecureWipe(context, sizeof(*context));
}

void HashPassword(const char* password, std::uint8_t key[16]) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, reinterpret_cast<const std::uint8_t*>(password),
            static_cast<std::uint32_t>(std::strlen(password)));
  MD5Final(key, &context);
  WipeStack();
}
