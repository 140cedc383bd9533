#ifndef TARNWICK_TOOL_SECRETS_H_
#define TARNWICK_TOOL_SECRETS_H_

// Keeps the password, the key and the plaintext from outliving their use:
// out of swap where the system allows, and wiped from memory once done with.

#include <cstddef>
#include <new>
#include <vector>

#include "common/inner.h"

namespace tarnwick {

// Hands out blocks that start on a cache line, so the cipher loads whole
// lines and no two threads share one, and wipes each block before handing
// it back to the heap, so what a container held does not linger there,
// and unlocks it, for any part that was locked in memory.
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
    UnlockMemory(block, count * sizeof(T));
    ::operator delete(block, kAlignment);
  }

  bool operator==(const WipingAllocator& /*other*/) const = default;
};

template <typename T>
using SecretVector = std::vector<T, WipingAllocator<T>>;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_SECRETS_H_
