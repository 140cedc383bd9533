#include "tool/messages.h"

#ifdef _WIN32
#include <io.h>  // write, by its POSIX name
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
  [[maybe_unused]] const auto written = ::write(1, message, size);
}

}  // namespace tarnwick
