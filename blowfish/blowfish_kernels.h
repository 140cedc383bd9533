#ifndef TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_
#define TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_

// Block kernels behind CBlowFish::Encode and Decode. Internal: not installed.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace tarnwick::blowfish {

// Runs `blocks` 8-byte blocks from `in` to `out` through the 16 rounds, with
// the 18 `subkeys` applied first to last: the schedule's order enciphers, the
// reverse order deciphers. `sboxes` holds the four S-boxes, 1024 words.
// `in` == `out` works in place; nothing past `8 * blocks` bytes is touched.
using BlockKernel = void (*)(const std::uint32_t* subkeys,
                             const std::uint32_t* sboxes,
                             const std::uint8_t* in, std::uint8_t* out,
                             std::size_t blocks);

// Zeroes key material where the compiler sees no later read, as before the
// memory is freed or goes out of scope: the empty asm claims to read it.
inline void SecureWipe(void* data, std::size_t size) {
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

struct Kernel {
  const char* name;
  BlockKernel run;
  bool (*supported)();  // whether this CPU runs it
};

// The kernels this CPU runs, slowest first; Encode and Decode use the last.
std::span<const Kernel> SupportedKernels();

inline std::uint32_t LoadLittleEndian(const std::uint8_t* b) {
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 |
         std::uint32_t{b[2]} << 16 | std::uint32_t{b[3]} << 24;
}

inline void StoreLittleEndian(std::uint32_t w, std::uint8_t* b) {
  b[0] = static_cast<std::uint8_t>(w);
  b[1] = static_cast<std::uint8_t>(w >> 8);
  b[2] = static_cast<std::uint8_t>(w >> 16);
  b[3] = static_cast<std::uint8_t>(w >> 24);
}

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
void Avx512VbmiKernel(const std::uint32_t* subkeys,
                      const std::uint32_t* sboxes, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks);
// Defined with the portable kernels: it runs before anything knows whether
// the CPU has AVX-512, so it must not be compiled for it.
bool Avx512VbmiSupported();
#endif

}  // namespace tarnwick::blowfish

#endif  // TARNWICK_BLOWFISH_BLOWFISH_KERNELS_H_
