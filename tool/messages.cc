#include "tool/messages.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

namespace tarnwick {

// A message that cannot be printed has nowhere else to go; the exit status
// still tells.
void Print(const char* message) { (void)std::fputs(message, stdout); }

void PrintUnbuffered(const char* message) noexcept {
  const auto size = static_cast<unsigned>(std::strlen(message));
#ifdef _WIN32
  (void)::_write(1, message, size);
#else
  (void)::write(1, message, size);
#endif
}

}  // namespace tarnwick
