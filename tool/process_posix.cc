// The process on POSIX systems: no core, on Linux no memory readable by
// others, and the hidden temporary removed whatever ends the run.
#include <sys/resource.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <csignal>
#include <memory>
#include <new>

#include "tool/messages.h"
#include "tool/process.h"
#include "tool/temporary.h"

namespace tarnwick {
namespace {

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

// Room for the largest frame the kernel pushes (AVX-512 state takes some
// 3 KiB) and the handler's few calls.
constexpr std::size_t kSignalStackSize = std::size_t{64} * 1024;

}  // namespace

SignalStack::SignalStack()
    : stack_(std::make_unique<char[]>(kSignalStackSize)) {
  const stack_t stack{stack_.get(), 0, kSignalStackSize};
  (void)::sigaltstack(&stack, nullptr);
}

SignalStack::~SignalStack() {
  const stack_t none{nullptr, SS_DISABLE, 0};
  (void)::sigaltstack(&none, nullptr);
}

void SetUpProcess() {
  std::set_new_handler([] { EndOutOfMemory(RemoveTemporary); });
#ifdef __linux__
  // Also where a core goes to a pipe, which the core limit does not stop.
  (void)::prctl(PR_SET_DUMPABLE, 0);
#endif
  // The hard limit too, so nothing the process runs can raise it again.
  const rlimit no_core{0, 0};
  (void)::setrlimit(RLIMIT_CORE, &no_core);
  (void)std::signal(SIGPIPE, SIG_IGN);
  (void)std::signal(SIGXFSZ, SIG_IGN);
  static const SignalStack main_thread_stack;
  HandleEndingSignals();
}

}  // namespace tarnwick
