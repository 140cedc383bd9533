// The Windows calls behind keeping secrets in memory only, and briefly.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tool/secrets.h"

namespace tarnwick {

// Windows writes no core file of its own accord; what a crash dump holds is
// the system's setting.
void KeepMemoryPrivate() {}

void SecureWipe(void* data, std::size_t size) { ::SecureZeroMemory(data, size); }

void LockInMemory(const void* data, std::size_t size) { (void)::VirtualLock(const_cast<void*>(data), size); }

}  // namespace tarnwick
