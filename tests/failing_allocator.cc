// Linked into a test, replaces operator new with one that fails on demand:
// FailAllocationsAfter(n) lets n more allocations succeed, then throws
// std::bad_alloc until FailAllocationsAfter(-1), or only once when asked.
// It returns how many were left: -1 once a single failure has been thrown.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations_left{-1};
std::atomic<bool> just_once{false};
}  // namespace

namespace tarnwick::testing {
long FailAllocationsAfter(long allocations, bool once) {
  just_once = once;
  return allocations_left.exchange(allocations);
}
}  // namespace tarnwick::testing

void* operator new(std::size_t size) {
  long left = allocations_left.load();
  while (left > 0 && !allocations_left.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0 && just_once) allocations_left.compare_exchange_strong(left, -1);
  void* block = left == 0 ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
