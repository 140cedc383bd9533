#include "tool/secrets.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace tarnwick {

// The empty asm claims to read the memory, so the zeroing cannot be dropped.
void SecureWipe(void* data, std::size_t size) {
  std::memset(data, 0, size);
  __asm__ __volatile__("" : : "r"(data) : "memory");
}

void LockInMemory(const void* data, std::size_t size) {
#ifdef _WIN32
  (void)::VirtualLock(const_cast<void*>(data), size);
#else
  (void)::mlock(data, size);
#endif
}

}  // namespace tarnwick
