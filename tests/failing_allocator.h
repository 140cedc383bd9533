#ifndef TARNWICK_TESTS_FAILING_ALLOCATOR_H_
#define TARNWICK_TESTS_FAILING_ALLOCATOR_H_

namespace tarnwick::testing {

// Makes operator new throw std::bad_alloc once `allocations` more have
// succeeded, and from then on, until StopFailingAllocations. Linking this
// file replaces the program's operator new.
void FailAllocationsAfter(long allocations);
void StopFailingAllocations();

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_FAILING_ALLOCATOR_H_
