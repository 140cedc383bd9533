#ifndef TARNWICK_TOOL_CALLS_POSIX_H_
#define TARNWICK_TOOL_CALLS_POSIX_H_

// System calls on POSIX systems against the signals that may arrive among
// them.

#include <pthread.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace tarnwick {

// Repeats a system call that a signal interrupted, as on an intr NFS mount
// or FUSE: EINTR is no reason to fail a run. Not close, after which Linux
// has released the descriptor anyway. Safe in a signal handler.
template <typename Call>
auto RetryInterrupted(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR) result = call();
  return result;
}

// Runs `steps` with every signal blocked in this thread, so that no handler
// runs between them: a pair of calls that must not be parted. Every signal
// by its bit, as musl's sigfillset leaves out 32 to 34, which end a run all
// the same (see process_posix.cc).
template <typename Steps>
auto WithSignalsBlocked(Steps steps) {
  sigset_t all, previous;
  std::memset(&all, 0xff, sizeof all);
  (void)::pthread_sigmask(SIG_BLOCK, &all, &previous);
  const auto result = steps();
  (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_CALLS_POSIX_H_
