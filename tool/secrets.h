#ifndef TARNWICK_TOOL_SECRETS_H_
#define TARNWICK_TOOL_SECRETS_H_

// Keeps the password, the key and the plaintext from outliving their use:
// out of core files, out of swap where the system allows, and wiped from
// memory once done with.

#include <cstddef>
#include <memory>
#include <vector>

namespace tarnwick {

// No core file and, on Linux, no debugger or /proc reader of the same user
// sees the process's memory from here on. Elsewhere as much as the system
// offers.
void KeepMemoryPrivate();

// Zeroes `size` bytes at `data` even where the compiler sees no later read,
// as before the memory is freed or goes out of scope.
void SecureWipe(void* data, std::size_t size);

// Keeps the pages holding `size` bytes at `data` out of swap until the
// process ends, where the system's limits allow it; best effort.
void LockInMemory(const void* data, std::size_t size);

// Wipes each block before handing it back to the heap, so what a container
// held does not linger there.
template <typename T>
struct WipingAllocator {
  using value_type = T;

  WipingAllocator() = default;
  template <typename U>
  // cppcheck-suppress noExplicitConstructor ; rebinding converts implicitly
  explicit(false) WipingAllocator(const WipingAllocator<U>& /*other*/) {}

  T* allocate(std::size_t count) { return std::allocator<T>().allocate(count); }

  void deallocate(T* block, std::size_t count) {
    SecureWipe(block, count * sizeof(T));
    std::allocator<T>().deallocate(block, count);
  }

  bool operator==(const WipingAllocator& /*other*/) const = default;
};

template <typename T>
using SecretVector = std::vector<T, WipingAllocator<T>>;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_SECRETS_H_
