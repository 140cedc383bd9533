// The platform's calls behind keeping secrets in memory only, and briefly.
#include "tool/secrets.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstring>
#endif

#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace tarnwick {

void KeepMemoryPrivate() {
#ifdef __linux__
  // Also where a core goes to a pipe, which the core limit does not stop.
  (void)::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
#ifndef _WIN32
  // The hard limit too, so nothing the process runs can raise it again.
  const rlimit no_core{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &no_core);
#endif
}

void SecureWipe(void* data, std::size_t size) {
#ifdef _WIN32
  ::SecureZeroMemory(data, size);
#else
  ::explicit_bzero(data, size);
#endif
}

void LockInMemory(const void* data, std::size_t size) {
#ifdef _WIN32
  (void)::VirtualLock(const_cast<void*>(data), size);
#else
  (void)::mlock(data, size);
#endif
}

}  // namespace tarnwick
