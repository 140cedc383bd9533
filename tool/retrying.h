#ifndef TARNWICK_TOOL_RETRYING_H_
#define TARNWICK_TOOL_RETRYING_H_

#include <cerrno>

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

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_RETRYING_H_
