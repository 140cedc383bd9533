#include "tool/messages.h"

#ifdef _WIN32
#include <io.h>  // write, by its POSIX name
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

// A message that cannot be printed has nowhere else to go; the exit status
// still tells.
void Print(const char* message) { (void)std::fputs(message, stdout); }

void EndOutOfMemory(void (*cleanUp)() noexcept) noexcept {
  static std::atomic_flag reported;
  if (reported.test_and_set()) return;
  [[maybe_unused]] const auto written =
      ::write(1, kOutOfMemory, sizeof kOutOfMemory - 1);
  cleanUp();
  std::_Exit(1);
}

}  // namespace tarnwick
