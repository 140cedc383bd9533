// The POSIX calls behind keeping secrets in memory only, and briefly.
#include <sys/mman.h>
#include <sys/resource.h>

#include <cstring>

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include "tool/secrets.h"

namespace tarnwick {

void KeepMemoryPrivate() {
#ifdef __linux__
  // Also where a core goes to a pipe, which the core limit does not stop.
  (void)::prctl(PR_SET_DUMPABLE, 0);
#endif
  // The hard limit too, so nothing the process runs can raise it again.
  const rlimit no_core{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &no_core);
}

void SecureWipe(void* data, std::size_t size) { ::explicit_bzero(data, size); }

void LockInMemory(const void* data, std::size_t size) { (void)::mlock(data, size); }

}  // namespace tarnwick
