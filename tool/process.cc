#include "tool/process.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/prctl.h>
#include <sys/resource.h>

#include "tool/temporary.h"
#endif

#include "tool/messages.h"

namespace tarnwick {
namespace {

#ifdef _WIN32
// The system deletes the temporary as the process's handles close.
void RemoveTemporary() noexcept {}
#else
// Removes the hidden temporary, then ends the process as the signal would
// have: blocked while its handler runs, it is taken again on return.
void RemoveTemporaryAndEnd(int signal) {
  RemoveTemporary();
  (void)std::signal(signal, SIG_DFL);
  (void)std::raise(signal);
}

bool EndsByDefault(int signal) {
  switch (signal) {
    case SIGCHLD: case SIGCONT: case SIGSTOP: case SIGTSTP: case SIGTTIN:
    case SIGTTOU: case SIGURG: case SIGWINCH:
      return false;
    default:
      return true;
  }
}

// A signal the caller ignores or handles itself keeps its disposition (a
// run under nohup is not ended by SIGHUP at all). SIGKILL, and the signals
// the C library keeps for itself, refuse a handler. The handler runs on the
// thread's signal stack, as a thread that ran out of stack has no room left
// on its own.
void HandleEndingSignals() {
  struct sigaction handler {};
  handler.sa_handler = RemoveTemporaryAndEnd;
  handler.sa_flags = SA_ONSTACK;
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (EndsByDefault(signal) && ::sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler == SIG_DFL) {
      (void)::sigaction(signal, &handler, nullptr);
    }
  }
}
#endif

// Throwing std::bad_alloc may need memory itself, so the run ends here,
// before anything unwinds.
void EndOutOfMemory() {
  // Of threads out of memory together, one reports; the others retry until
  // the process has ended.
  static std::atomic_flag reported;
  if (reported.test_and_set()) return;
  PrintUnbuffered(kOutOfMemory);
  RemoveTemporary();
  std::_Exit(1);
}

}  // namespace

#ifndef _WIN32
// Room for the largest frame the kernel pushes (AVX-512 state takes some
// 3 KiB) and the handler's few calls.
constexpr std::size_t kSignalStackSize = std::size_t{64} * 1024;

SignalStack::SignalStack()
    : stack_(std::make_unique<char[]>(kSignalStackSize)) {
  const stack_t stack{stack_.get(), 0, kSignalStackSize};
  (void)::sigaltstack(&stack, nullptr);
}

SignalStack::~SignalStack() {
  const stack_t none{nullptr, SS_DISABLE, 0};
  (void)::sigaltstack(&none, nullptr);
}
#endif

void SetUpProcess() {
  std::set_new_handler(EndOutOfMemory);
#ifdef _WIN32
  // A drive without its medium fails the open instead of asking the user in
  // a dialog box. Windows writes no core file of its own accord.
  (void)::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
#else
  // Also where a core goes to a pipe, which the core limit does not stop.
  (void)::prctl(PR_SET_DUMPABLE, 0);
  // The hard limit too, so nothing the process runs can raise it again.
  const rlimit no_core{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &no_core);
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGXFSZ, SIG_IGN);
  static const SignalStack main_thread_stack;
  HandleEndingSignals();
#endif
}

}  // namespace tarnwick
