// The process on Windows, which writes no core file of its own accord and
// deletes the temporary itself as the process's handles close.
#include <windows.h>

#include <algorithm>
#include <new>
#include <thread>

#include "tool/messages.h"
#include "tool/process.h"

namespace tarnwick {

// No signal ends a Windows process through a handler.
SignalStack::SignalStack() = default;
SignalStack::~SignalStack() = default;

unsigned AvailableCores() {
  return std::max(1u, std::thread::hardware_concurrency());
}

void SetUpProcess() {
  std::set_new_handler([] { EndOutOfMemory([]() noexcept {}); });
  // A drive without its medium fails the open instead of asking the user in
  // a dialog box.
  (void)::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

}  // namespace tarnwick
