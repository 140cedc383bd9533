// Built with -mavx512f -mavx512bw -mavx512vbmi alone; runs only where
// Avx512VbmiSupported found all three.
//
// Byte-sliced: sets of 64 blocks, each 32-bit half held as four vectors
// of 64 bytes, vector j holding byte j of every block's half. An S-box
// lookup is then a byte permutation per plane (vpermi2b over 128 bytes,
// twice, picked by the index's top bit), and the additions carry from plane
// to plane through mask registers.

// GCC 12 warns inside its own intrinsics, which start from deliberately
// undefined vectors; the pragmas cover the header's lines only.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#else
#include <immintrin.h>
#endif

#include <algorithm>
#include <array>

#include "blowfish/blowfish_kernels.h"

// Intrinsics are this file's point, and its offsets are small products of
// lane and block counts.
// NOLINTBEGIN(portability-simd-intrinsics,bugprone-implicit-widening-of-multiplication-result)
namespace tarnwick::blowfish {
namespace {

using Planes = __m512i[4];
// [S-box][byte plane][quarter of the 256 entries]
using Tables = __m512i[4][4][4];

using Index = std::array<std::uint8_t, 64>;

// Byte `plane` of each `stride`-byte element among the first 16, as lane
// `plane` of the result; `skip` bytes into each element.
constexpr Index Gather(int stride, int skip) {
  Index index{};
  for (int plane = 0; plane < 4; ++plane) {
    for (int e = 0; e < 16; ++e) {
      index[16 * plane + e] =
          static_cast<std::uint8_t>(stride * e + skip + plane);
    }
  }
  return index;
}

// Undoes Gather(8, 0) and Gather(8, 4) of 16 blocks: from the left planes
// (bytes 0-63) and right planes (64-127), blocks `first` to `first + 7`.
constexpr Index Join(int first) {
  Index index{};
  for (int b = 0; b < 8; ++b) {
    for (int i = 0; i < 8; ++i) {
      index[8 * b + i] = static_cast<std::uint8_t>((i < 4 ? 0 : 64) +
                                                   16 * (i % 4) + first + b);
    }
  }
  return index;
}

constexpr Index kWordPlanes = Gather(4, 0);
constexpr Index kLeftPlanes = Gather(8, 0);
constexpr Index kRightPlanes = Gather(8, 4);
constexpr Index kJoinLow = Join(0);
constexpr Index kJoinHigh = Join(8);

__m512i LoadIndex(const Index& index) {
  return _mm512_loadu_si512(index.data());
}

// A 4x4 transpose of 128-bit lanes across four vectors; its own inverse.
void TransposeLanes(Planes& v) {
  const __m512i t0 = _mm512_shuffle_i64x2(v[0], v[1], 0x44);
  const __m512i t1 = _mm512_shuffle_i64x2(v[0], v[1], 0xEE);
  const __m512i t2 = _mm512_shuffle_i64x2(v[2], v[3], 0x44);
  const __m512i t3 = _mm512_shuffle_i64x2(v[2], v[3], 0xEE);
  v[0] = _mm512_shuffle_i64x2(t0, t2, 0x88);
  v[1] = _mm512_shuffle_i64x2(t0, t2, 0xDD);
  v[2] = _mm512_shuffle_i64x2(t1, t3, 0x88);
  v[3] = _mm512_shuffle_i64x2(t1, t3, 0xDD);
}

void BuildTables(const std::uint32_t* s, Tables& t) {
  const __m512i planes = LoadIndex(kWordPlanes);
  for (int box = 0; box < 4; ++box) {
    for (int quarter = 0; quarter < 4; ++quarter) {
      Planes v;
      for (int q = 0; q < 4; ++q) {
        v[q] = _mm512_permutexvar_epi8(
            planes, _mm512_loadu_si512(s + 256 * box + 64 * quarter + 16 * q));
      }
      TransposeLanes(v);
      for (int j = 0; j < 4; ++j) t[box][j][quarter] = v[j];
    }
  }
}

void Load(const std::uint8_t* in, Planes& l, Planes& r) {
  const __m512i left = LoadIndex(kLeftPlanes);
  const __m512i right = LoadIndex(kRightPlanes);
  for (int q = 0; q < 4; ++q) {
    const __m512i a = _mm512_loadu_si512(in + 128 * q);
    const __m512i b = _mm512_loadu_si512(in + 128 * q + 64);
    l[q] = _mm512_permutex2var_epi8(a, left, b);
    r[q] = _mm512_permutex2var_epi8(a, right, b);
  }
  TransposeLanes(l);
  TransposeLanes(r);
}

void Store(Planes& l, Planes& r, std::uint8_t* out) {
  const __m512i low = LoadIndex(kJoinLow);
  const __m512i high = LoadIndex(kJoinHigh);
  TransposeLanes(l);
  TransposeLanes(r);
  for (int q = 0; q < 4; ++q) {
    _mm512_storeu_si512(out + 128 * q,
                        _mm512_permutex2var_epi8(l[q], low, r[q]));
    _mm512_storeu_si512(out + 128 * q + 64,
                        _mm512_permutex2var_epi8(l[q], high, r[q]));
  }
}

// Byte plane `plane` of an S-box's words at the byte indices `x`, `high`
// marking those past 127. vpermi2b overwrites its index, so the plane starts
// from a copy of `x`: lanes below 128 take the lower half of the table, and
// the others, still holding their index, then take the upper half. Copying
// an index is cheap, and the halves need no blend.
__m512i Lookup(const __m512i (&plane)[4], __m512i x, __mmask64 high) {
  const __m512i lower =
      _mm512_mask2_permutex2var_epi8(plane[0], x, ~high, plane[1]);
  return _mm512_mask2_permutex2var_epi8(plane[2], lower, high, plane[3]);
}

// vpternlogd truth tables over its operands a, b, c.
constexpr int kXor3 = 0x96;          // a ^ b ^ c
constexpr int kMajorityNotC = 0xD4;  // the majority of a, b and ~c

// Plane `j` of x += y, given the carry into it; returns the carry out of it.
// Plane 0 has no carry in, so its sum wrapped if it fell below x. Past it,
// the carry out is the majority of the operands' top bits and the sum's
// inverted top bit: a ternary logic op and a move to a mask, off the port
// that compares share with the permutes on Intel.
__mmask64 AddPlane(int j, __m512i& x, __m512i y, __mmask64 carry) {
  const __m512i plain = _mm512_add_epi8(x, y);
  if (j == 0) {
    carry = _mm512_cmplt_epu8_mask(plain, x);
    x = plain;
    return carry;
  }
  const __m512i sum =
      _mm512_mask_sub_epi8(plain, carry, plain, _mm512_set1_epi8(-1));
  carry =
      _mm512_movepi8_mask(_mm512_ternarylogic_epi32(x, y, sum, kMajorityNotC));
  x = sum;
  return carry;
}

// r ^= F(x) ^ key, `key` being the subkey the next half round starts with.
[[gnu::always_inline]] inline void XorF(const Tables& t, const Planes& x,
                                        const std::uint32_t (&key)[4],
                                        Planes& r) {
  Planes f;
#pragma GCC unroll 4
  for (int box = 0; box < 4; ++box) {
    const __mmask64 high = _mm512_movepi8_mask(x[3 - box]);
    __mmask64 carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      const __m512i y = Lookup(t[box][j], x[3 - box], high);
      if (box == 0) {
        f[j] = y;
      } else if (box == 2) {
        f[j] = _mm512_xor_si512(f[j], y);
      } else {
        carry = AddPlane(j, f[j], y, carry);
      }
    }
  }
  for (int j = 0; j < 4; ++j) {
    r[j] = _mm512_ternarylogic_epi32(
        r[j], f[j], _mm512_set1_epi32(static_cast<int>(key[j])), kXor3);
  }
}

// Each subkey byte repeated across a word, ready to broadcast into a plane.
using SpreadKeys = std::uint32_t[18][4];

void XorSubkey(const std::uint32_t (&key)[4], Planes& x) {
  for (int j = 0; j < 4; ++j) {
    x[j] = _mm512_xor_si512(x[j], _mm512_set1_epi32(static_cast<int>(key[j])));
  }
}

constexpr std::size_t kMaxSets = 8;  // 4 measured 5% slower on Zen 5

// `sets` (at most kMaxSets) independent sets of 64 blocks, taken in turn so
// that each set's carry chains have the others' work to overlap. Each half
// round's F also applies the next subkey, so only the first and last stand
// alone.
void RunSets(const Tables& t, const SpreadKeys& k, const std::uint8_t* in,
             std::uint8_t* out, std::size_t sets) {
  Planes l[kMaxSets], r[kMaxSets];
  for (std::size_t n = 0; n < sets; ++n) {
    Load(in + 512 * n, l[n], r[n]);
    XorSubkey(k[0], l[n]);
  }
  for (int i = 0; i < 16; i += 2) {
    for (std::size_t n = 0; n < sets; ++n) XorF(t, l[n], k[i + 1], r[n]);
    for (std::size_t n = 0; n < sets; ++n) XorF(t, r[n], k[i + 2], l[n]);
  }
  for (std::size_t n = 0; n < sets; ++n) {
    XorSubkey(k[17], r[n]);
    Store(r[n], l[n], out + 512 * n);
  }
}

}  // namespace

void Avx512VbmiKernel(const std::uint32_t* subkeys, const std::uint32_t* sboxes,
                      const std::uint8_t* in, std::uint8_t* out,
                      std::size_t blocks) {
  std::size_t b = 0;
  if (blocks >= 64) {
    Tables t;
    BuildTables(sboxes, t);
    SpreadKeys k;
    const std::uint32_t* subkey = subkeys;
    // cppcheck-suppress constVariable ; written through `word`
    for (auto& spread : k) {
      for (int shift = 0; auto& word : spread) {
        word = (*subkey >> shift & 0xFF) * 0x01010101u;
        shift += 8;
      }
      ++subkey;
    }
    while (blocks - b >= 64) {
      const std::size_t sets = std::min((blocks - b) / 64, kMaxSets);
      RunSets(t, k, in + 8 * b, out + 8 * b, sets);
      b += 64 * sets;
    }
    // Both are the key schedule in another shape.
    SecureWipe(t, sizeof t);
    SecureWipe(k, sizeof k);
  }
  InterleavedKernel(subkeys, sboxes, in + 8 * b, out + 8 * b, blocks - b);
}

}  // namespace tarnwick::blowfish
// NOLINTEND(portability-simd-intrinsics,bugprone-implicit-widening-of-multiplication-result)
