#include "tool/secrets.h"

#include <windows.h>

namespace tarnwick {

void LockInMemory(const void* data, std::size_t size) {
  (void)::VirtualLock(const_cast<void*>(data), size);
}

}  // namespace tarnwick
