#include "tool/secrets.h"

#include <sys/mman.h>

namespace tarnwick {

void LockInMemory(const void* data, std::size_t size) {
  (void)::mlock(data, size);
}

}  // namespace tarnwick
