// The process on POSIX systems: no core, on Linux no memory readable by
// others, and the hidden temporary removed whatever signal ends the run.
#include <sys/resource.h>
#ifdef __linux__
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "tool/messages.h"
#include "tool/process.h"
#include "tool/temporary_posix.h"

namespace tarnwick {
namespace {

// Whether `signal`'s default action ends the process, as each system's
// own table of default actions has it: macOS also discards SIGIO and
// SIGINFO (a terminal's Ctrl-T), which end a process on Linux.
bool EndsByDefault(int signal) {
  switch (signal) {
    case SIGCHLD:
    case SIGCONT:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGURG:
    case SIGWINCH:
#ifdef __APPLE__
    case SIGIO:
    case SIGINFO:
#endif
      return false;
    default:
      return true;
  }
}

// The C library keeps some signals for its own threads' use and refuses a
// handler for them (glibc 32 and 33; musl 32 to 34, and 34 is what glibc
// and the shells call SIGRTMIN), though each ends the run by default. This
// program uses nothing they serve (cancellation, timers, set-ID calls
// across threads), so the kernel is given `model`'s handler for `signal`,
// copied whole with its return trampoline, unless the caller ignores
// `signal`. The kernel's record starts with the handler on every Linux
// architecture but MIPS, whose record leads with the flags.
#if defined(__linux__) && !defined(__mips__)
void HandleBesideTheLibrary(int signal, int model) {
  constexpr long kSetBytes = (NSIG - 1) / 8;
  alignas(16) unsigned char action[128] = {};
  void (*handler)(int) = SIG_IGN;
  if (::syscall(SYS_rt_sigaction, signal, nullptr, action, kSetBytes) == 0) {
    std::memcpy(&handler, action, sizeof handler);
  }
  if (handler == SIG_DFL &&
      ::syscall(SYS_rt_sigaction, model, nullptr, action, kSetBytes) == 0) {
    (void)::syscall(SYS_rt_sigaction, signal, action, nullptr, kSetBytes);
  }
}
#else
void HandleBesideTheLibrary(int /*signal*/, int /*model*/) {}
#endif

// Removes the hidden temporary, then ends the process as the signal would
// have: blocked while its handler runs, it is taken again on return. The
// handler is reset on entry, also where it was given beside the library;
// macOS does not reset it for SIGILL and SIGTRAP, hence the call.
void RemoveTemporaryAndEnd(int signal) {
  RemoveHiddenTemporary();
  (void)std::signal(signal, SIG_DFL);
  (void)std::raise(signal);
}

// A signal the caller ignores or handles itself keeps its disposition (a
// run under nohup is not ended by SIGHUP at all). SIGKILL refuses a
// handler. The handler runs on the thread's signal stack, as a thread that
// ran out of stack has no room left on its own. The signals the library
// refuses come after the first it took the handler for, the model.
void HandleEndingSignals() {
  struct sigaction handler {};
  handler.sa_handler = RemoveTemporaryAndEnd;
  handler.sa_flags = SA_ONSTACK | SA_RESETHAND;
  int model = 0;
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    if (!EndsByDefault(signal)) continue;
    if (::sigaction(signal, nullptr, &current) != 0) {
      if (model != 0) HandleBesideTheLibrary(signal, model);
    } else if (current.sa_handler == SIG_DFL &&
               ::sigaction(signal, &handler, nullptr) == 0 && model == 0) {
      model = signal;
    }
  }
}

// Room for the largest frame the kernel pushes (AVX-512 state takes some
// 3 KiB) and the handler's few calls.
constexpr std::size_t kSignalStackSize = std::size_t{64} * 1024;

}  // namespace

SignalStack::SignalStack()
    : stack_(std::make_unique<char[]>(kSignalStackSize)) {
  stack_t stack{};
  stack.ss_sp = stack_.get();
  stack.ss_size = kSignalStackSize;
  (void)::sigaltstack(&stack, nullptr);
}

SignalStack::~SignalStack() {
  stack_t none{};
  none.ss_flags = SS_DISABLE;
  (void)::sigaltstack(&none, nullptr);
}

// Linux says which processors the process may use (a container or taskset
// may allow fewer than there are); elsewhere all count.
unsigned AvailableCores() {
#ifdef __linux__
  cpu_set_t cores;
  if (::sched_getaffinity(0, sizeof cores, &cores) == 0) {
    return static_cast<unsigned>(CPU_COUNT(&cores));
  }
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

void SetUpProcess() {
  std::set_new_handler([] { EndOutOfMemory(RemoveHiddenTemporary); });
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
