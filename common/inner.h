#ifndef TARNWICK_COMMON_INNER_H_
#define TARNWICK_COMMON_INNER_H_

// What the cipher, the digest and the tool share: the block size, the byte
// order of their words, and keeping secrets out of swap and out of freed
// memory. Internal to the build: never installed.

#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // minwindef.h would otherwise shadow std::min and std::max
#endif
#include <memoryapi.h>  // VirtualLock alone, not all of windows.h
#else
#include <sys/mman.h>
#endif

namespace tarnwick {

inline constexpr std::uint32_t kBlockSize = 8;

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

// Zeroes `size` bytes at `data` even where the compiler sees no later read,
// as before the memory is freed or goes out of scope: the empty asm claims
// to read the memory, so the zeroing cannot be dropped.
inline void SecureWipe(void* data, std::size_t size) {
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Keeps the pages holding `size` bytes at `data` out of swap, where the
// system's limits allow it: best effort, as a failure costs only that.
// Whatever locks memory unlocks it before freeing it, as a lock would
// otherwise outlive the secret on pages the heap hands out again.
inline void LockInMemory(const void* data, std::size_t size) {
#ifdef _WIN32
  (void)::VirtualLock(const_cast<void*>(data), size);
#else
  (void)::mlock(data, size);
#endif
}

// Gives the pages back to the pager, for memory about to be freed.
inline void UnlockMemory(const void* data, std::size_t size) {
#ifdef _WIN32
  (void)::VirtualUnlock(const_cast<void*>(data), size);
#else
  (void)::munlock(data, size);
#endif
}

}  // namespace tarnwick

#endif  // TARNWICK_COMMON_INNER_H_
