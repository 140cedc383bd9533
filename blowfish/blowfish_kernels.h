#ifndef TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_
#define TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_

// Block kernels behind CBlowFish::Encode and Decode. Internal: not installed.

#include <cstddef>
#include <cstdint>
#include <span>

#include "common/inner.h"

namespace tarnwick::blowfish {

// Runs `blocks` 8-byte blocks from `in` to `out` through the 16 rounds, with
// the 18 `subkeys` applied first to last: the schedule's order enciphers, the
// reverse order deciphers. `sboxes` holds the four S-boxes, 1024 words.
// `in` == `out` works in place; nothing past `8 * blocks` bytes is touched.
using BlockKernel = void (*)(const std::uint32_t* subkeys,
                             const std::uint32_t* sboxes,
                             const std::uint8_t* in, std::uint8_t* out,
                             std::size_t blocks);

struct Kernel {
  const char* name;
  BlockKernel run;
  bool (*supported)();  // whether this CPU runs it
};

// The kernels this CPU runs, slowest first; Encode and Decode use the last.
std::span<const Kernel> SupportedKernels();

inline std::uint32_t F(const std::uint32_t* s, std::uint32_t x) {
  return ((s[x >> 24] + s[256 + ((x >> 16) & 0xFF)]) ^
          s[512 + ((x >> 8) & 0xFF)]) +
         s[768 + (x & 0xFF)];
}

// N blocks through the rounds side by side, so the table loads of one block
// overlap the others' instead of waiting on each other.
template <std::size_t N>
inline void Rounds(const std::uint32_t* p, const std::uint32_t* s,
                   std::uint32_t (&l)[N], std::uint32_t (&r)[N]) {
  for (std::size_t i = 0; i < 16; i += 2) {
    for (std::size_t n = 0; n < N; ++n) l[n] ^= p[i];
    for (std::size_t n = 0; n < N; ++n) r[n] ^= F(s, l[n]);
    for (std::size_t n = 0; n < N; ++n) r[n] ^= p[i + 1];
    for (std::size_t n = 0; n < N; ++n) l[n] ^= F(s, r[n]);
  }
  for (std::size_t n = 0; n < N; ++n) {
    const std::uint32_t left = r[n] ^ p[17];
    r[n] = l[n] ^ p[16];
    l[n] = left;
  }
}

void ReferenceKernel(const std::uint32_t* subkeys, const std::uint32_t* sboxes,
                     const std::uint8_t* in, std::uint8_t* out,
                     std::size_t blocks);
void InterleavedKernel(const std::uint32_t* subkeys,
                       const std::uint32_t* sboxes, const std::uint8_t* in,
                       std::uint8_t* out, std::size_t blocks);

#ifdef TARNWICK_X86_KERNELS
void Avx512VbmiKernel(const std::uint32_t* subkeys, const std::uint32_t* sboxes,
                      const std::uint8_t* in, std::uint8_t* out,
                      std::size_t blocks);
// Defined with the portable kernels: it runs before anything knows whether
// the CPU has AVX-512, so it must not be compiled for it.
bool Avx512VbmiSupported();
#endif

}  // namespace tarnwick::blowfish

#endif  // TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_
