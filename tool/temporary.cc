#include "tool/temporary.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>

namespace tarnwick {
namespace {

// The recorded temporary, in static storage. `recorded_in` is -1 while
// none is recorded; the name is complete before the descriptor says so.
std::atomic<int> recorded_in{-1};
static_assert(std::atomic<int>::is_always_lock_free);
char name[] = ".Tarnwick-XXXXXX";
constexpr int kRandomFrom = sizeof ".Tarnwick-" - 1;

// Fills the name's last six characters anew: unguessable enough that
// nobody takes them first on purpose; O_EXCL settles any clash.
void NextName(std::uint64_t& state) {
  static constexpr char kCharacters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  state = state * 6364136223846793005u + 1442695040888963407u;
  for (int i = 0; i < 6; ++i)
    name[kRandomFrom + i] = kCharacters[state >> (58 - 6 * i) & 63];
}

}  // namespace

int CreateTemporary(int directory) noexcept {
  timespec now{};
  (void)::clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t state = static_cast<std::uint64_t>(now.tv_nsec) ^
                        static_cast<std::uint64_t>(now.tv_sec) << 30 ^
                        static_cast<std::uint64_t>(::getpid()) << 40;
  sigset_t all, previous;
  (void)::sigfillset(&all);
  (void)::pthread_sigmask(SIG_BLOCK, &all, &previous);
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd == -1; ++attempt) {
    NextName(state);
    do {
      fd = ::openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                    0600);
    } while (fd == -1 && errno == EINTR);
    if (fd == -1 && errno != EEXIST) break;
  }
  if (fd != -1) recorded_in = directory;
  (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return fd;
}

const char* TemporaryName() noexcept { return name; }

// Removing first, then forgetting, leaves no moment when the file exists
// unrecorded; a signal in between only removes it again.
void RemoveTemporary() noexcept {
  const int directory = recorded_in.load();
  if (directory == -1) return;
  while (::unlinkat(directory, name, 0) == -1 && errno == EINTR) {
  }
  recorded_in = -1;
}

}  // namespace tarnwick
