// Built with -mavx2 alone; runs only where SupportedKernels found AVX2.

#include <immintrin.h>

#include "blowfish/blowfish_kernels.h"

namespace tarnwick::blowfish {
namespace {

// Groups of 8 blocks in flight: enough gathers to cover their latency.
constexpr std::size_t kGroups = 4;
constexpr std::size_t kBatch = 8 * kGroups;

__m256i Gather(const std::uint32_t* box, __m256i index) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(box), index, 4);
}

__m256i F(const std::uint32_t* s, __m256i x) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i a = Gather(s, _mm256_srli_epi32(x, 24));
  const __m256i b = Gather(s + 256, _mm256_and_si256(_mm256_srli_epi32(x, 16), byte));
  const __m256i c = Gather(s + 512, _mm256_and_si256(_mm256_srli_epi32(x, 8), byte));
  const __m256i d = Gather(s + 768, _mm256_and_si256(x, byte));
  return _mm256_add_epi32(_mm256_xor_si256(_mm256_add_epi32(a, b), c), d);
}

// kBatch blocks: each group's halves split into a left and a right vector
// (in a lane order that the join below undoes), 16 rounds, joined back.
void RunBatch(const std::uint32_t* p, const std::uint32_t* s,
              const std::uint8_t* in, std::uint8_t* out) {
  __m256i l[kGroups];
  __m256i r[kGroups];
  for (std::size_t g = 0; g < kGroups; ++g) {
    const __m256 a = _mm256_castsi256_ps(_mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(in + 64 * g)));
    const __m256 b = _mm256_castsi256_ps(_mm256_loadu_si256(
        reinterpret_cast<const __m256i*>(in + 64 * g + 32)));
    l[g] = _mm256_castps_si256(_mm256_shuffle_ps(a, b, 0x88));
    r[g] = _mm256_castps_si256(_mm256_shuffle_ps(a, b, 0xDD));
  }
  for (std::size_t i = 0; i < 16; i += 2) {
    const __m256i even = _mm256_set1_epi32(static_cast<int>(p[i]));
    const __m256i odd = _mm256_set1_epi32(static_cast<int>(p[i + 1]));
    for (std::size_t g = 0; g < kGroups; ++g) l[g] = _mm256_xor_si256(l[g], even);
    for (std::size_t g = 0; g < kGroups; ++g) r[g] = _mm256_xor_si256(r[g], F(s, l[g]));
    for (std::size_t g = 0; g < kGroups; ++g) r[g] = _mm256_xor_si256(r[g], odd);
    for (std::size_t g = 0; g < kGroups; ++g) l[g] = _mm256_xor_si256(l[g], F(s, r[g]));
  }
  const __m256i last = _mm256_set1_epi32(static_cast<int>(p[17]));
  const __m256i second_last = _mm256_set1_epi32(static_cast<int>(p[16]));
  for (std::size_t g = 0; g < kGroups; ++g) {
    const __m256i left = _mm256_xor_si256(r[g], last);
    const __m256i right = _mm256_xor_si256(l[g], second_last);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64 * g),
                        _mm256_unpacklo_epi32(left, right));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 64 * g + 32),
                        _mm256_unpackhi_epi32(left, right));
  }
}

}  // namespace

void Avx2Kernel(const std::uint32_t* subkeys, const std::uint32_t* sboxes,
                const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) {
  const std::size_t whole = blocks / kBatch * kBatch;
  for (std::size_t b = 0; b < whole; b += kBatch) {
    RunBatch(subkeys, sboxes, in + 8 * b, out + 8 * b);
  }
  InterleavedKernel(subkeys, sboxes, in + 8 * whole, out + 8 * whole,
                    blocks - whole);
}

}  // namespace tarnwick::blowfish
