#include "blowfish/blowfish_kernels.h"

#include <algorithm>
#include <iterator>
#include <vector>

#ifdef TARNWICK_X86_KERNELS
#include <cpuid.h>
#endif
#if defined(TARNWICK_X86_KERNELS) && defined(__APPLE__)
#include <sys/sysctl.h>
#endif

namespace tarnwick::blowfish {
namespace {

template <std::size_t N>
void RunLanes(const std::uint32_t* p, const std::uint32_t* s,
              const std::uint8_t* in, std::uint8_t* out) {
  std::uint32_t l[N];
  std::uint32_t r[N];
  for (std::size_t n = 0; n < N; ++n) {
    l[n] = LoadLittleEndian(in + 8 * n);
    r[n] = LoadLittleEndian(in + 8 * n + 4);
  }
  Rounds(p, s, l, r);
  for (std::size_t n = 0; n < N; ++n) {
    StoreLittleEndian(l[n], out + 8 * n);
    StoreLittleEndian(r[n], out + 8 * n + 4);
  }
}

bool OnAnyProcessor() { return true; }

}  // namespace

#ifdef TARNWICK_X86_KERNELS
// Whether the system saves the mask and 512-bit registers across switches.
// macOS enables that state only at a thread's first AVX-512 instruction,
// and a boot setting can refuse it while CPUID still offers the
// instructions: there the system itself is asked, as for the instructions.
#ifdef __APPLE__
bool SystemKeepsAvx512Vbmi() {
  for (const char* name : {"hw.optional.avx512f", "hw.optional.avx512bw",
                           "hw.optional.avx512vbmi"}) {
    int enabled = 0;
    std::size_t size = sizeof enabled;
    if (::sysctlbyname(name, &enabled, &size, nullptr, 0) != 0 ||
        enabled == 0) {
      return false;
    }
  }
  return true;
}
#else
bool SystemKeepsAvx512Vbmi() {
  unsigned saved = 0, high = 0;
  asm volatile("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
  const unsigned needed = 0xe6;  // SSE, AVX, the opmask and both ZMM halves
  return (saved & needed) == needed;
}
#endif

// CPUID itself rather than __builtin_cpu_supports, whose table lives in the
// compiler's runtime, and Zig's runtime has none.
bool Avx512VbmiSupported() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 7 || !__get_cpuid(1, &a, &b, &c, &d) ||
      (c & bit_OSXSAVE) == 0) {
    return false;
  }
  __cpuid_count(7, 0, a, b, c, d);
  return (b & bit_AVX512F) != 0 && (b & bit_AVX512BW) != 0 &&
         (c & bit_AVX512VBMI) != 0 && SystemKeepsAvx512Vbmi();
}
#endif

void ReferenceKernel(const std::uint32_t* subkeys, const std::uint32_t* sboxes,
                     const std::uint8_t* in, std::uint8_t* out,
                     std::size_t blocks) {
  for (std::size_t b = 0; b < blocks; ++b) {
    RunLanes<1>(subkeys, sboxes, in + 8 * b, out + 8 * b);
  }
}

void InterleavedKernel(const std::uint32_t* subkeys,
                       const std::uint32_t* sboxes, const std::uint8_t* in,
                       std::uint8_t* out, std::size_t blocks) {
  constexpr std::size_t kLanes = 8;
  const std::size_t whole = blocks / kLanes * kLanes;
  for (std::size_t b = 0; b < whole; b += kLanes) {
    RunLanes<kLanes>(subkeys, sboxes, in + 8 * b, out + 8 * b);
  }
  ReferenceKernel(subkeys, sboxes, in + 8 * whole, out + 8 * whole,
                  blocks - whole);
}

std::span<const Kernel> SupportedKernels() {
  static const std::vector<Kernel> supported = [] {
    const Kernel all[] = {
        {"reference", ReferenceKernel, OnAnyProcessor},
        {"interleaved", InterleavedKernel, OnAnyProcessor},
#ifdef TARNWICK_X86_KERNELS
        {"avx512vbmi", Avx512VbmiKernel, Avx512VbmiSupported},
#endif
    };
    std::vector<Kernel> kernels;
    std::ranges::copy_if(all, std::back_inserter(kernels),
                         [](const Kernel& k) { return k.supported(); });
    return kernels;
  }();
  return supported;
}

}  // namespace tarnwick::blowfish
