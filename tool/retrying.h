#ifndef TARNWICK_TOOL_RETRYING_H_
#define TARNWICK_TOOL_RETRYING_H_

#include <pthread.h>

#include <cerrno>
#include <csignal>

namespace tarnwick {

// Repeats a system call that a signal interrupted, as on an intr NFS mount
// or FUSE: EINTR is no reason to fail a run. Not close, after which Linux
// has released the descriptor anyway. Safe in a signal handler.
template <typename Call>
auto Retrying(Call call) {
  auto result = call();
  while (result == -1 && errno == EINTR) result = call();
  return result;
}

// Runs `steps` with every signal blocked in this thread, so that no handler
// runs between them: a pair of calls that must not be parted.
template <typename Steps>
auto Unsignalled(Steps steps) {
  sigset_t all, previous;
  (void)sigfillset(&all);  // a macro on macOS
  (void)::pthread_sigmask(SIG_BLOCK, &all, &previous);
  const auto result = steps();
  (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return result;
}

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_RETRYING_H_
