#include "tests/failing_allocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> allocations_left{-1};  // -1: never fail

}  // namespace

namespace tarnwick::testing {

void FailAllocationsAfter(long allocations) { allocations_left = allocations; }
void StopFailingAllocations() { allocations_left = -1; }

}  // namespace tarnwick::testing

void* operator new(std::size_t size) {
  long left = allocations_left.load();
  while (left > 0 && !allocations_left.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 0) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
