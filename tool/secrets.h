#ifndef TARNWICK_TOOL_SECRETS_H_
#define TARNWICK_TOOL_SECRETS_H_

// Keeps the password, the key and the plaintext from outliving their use:
// out of swap where the system allows, and wiped from memory once done with.

#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace tarnwick {

// Zeroes `size` bytes at `data` even where the compiler sees no later read,
// as before the memory is freed or goes out of scope: the empty asm claims
// to read the memory, so the zeroing cannot be dropped.
inline void SecureWipe(void* data, std::size_t size) {
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

// Keeps the pages holding `size` bytes at `data` out of swap until the
// process ends, where the system's limits allow it; best effort. One file a
// platform: secrets_posix.cc, secrets_win32.cc.
void LockInMemory(const void* data, std::size_t size);

// Hands out blocks that start on a cache line, so the cipher loads whole
// lines and no two threads share one, and wipes each block before handing
// it back to the heap, so what a container held does not linger there.
template <typename T>
struct WipingAllocator {
  using value_type = T;
  static constexpr std::align_val_t kAlignment{64};

  WipingAllocator() = default;
  template <typename U>
  // cppcheck-suppress noExplicitConstructor ; rebinding converts implicitly
  explicit(false) WipingAllocator(const WipingAllocator<U>& /*other*/) {}

  T* allocate(std::size_t count) {
    return static_cast<T*>(::operator new(count * sizeof(T), kAlignment));
  }

  void deallocate(T* block, std::size_t count) {
    SecureWipe(block, count * sizeof(T));
    ::operator delete(block, kAlignment);
  }

  bool operator==(const WipingAllocator& /*other*/) const = default;
};

template <typename T>
using SecretVector = std::vector<T, WipingAllocator<T>>;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_SECRETS_H_
