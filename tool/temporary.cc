#include "tool/temporary.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace tarnwick {
namespace {

// The recorded temporary, in static storage. `recorded_in` is -1 while
// none is recorded; the name is complete before the descriptor says so.
std::atomic<int> recorded_in{-1};
static_assert(std::atomic<int>::is_always_lock_free);
char name[] = ".Tarnwick-XXXXXX";

// Spells `bits` into the name's last six characters, six bits each, in
// characters any file system takes.
void SpellRandomPart(std::uint64_t bits) {
  static constexpr char kCharacters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  for (char* c = name + sizeof ".Tarnwick-" - 1; *c != '\0'; ++c) {
    *c = kCharacters[bits % 64];
    bits /= 64;
  }
}

}  // namespace

// Random names, so that nobody takes them first on purpose; O_EXCL settles
// any clash. Without getrandom the names are only counted on.
int CreateTemporary(int directory) noexcept {
  sigset_t all, previous;
  (void)::sigfillset(&all);
  (void)::pthread_sigmask(SIG_BLOCK, &all, &previous);
  std::uint64_t bits = 0;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd == -1; ++attempt) {
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) ++bits;
    SpellRandomPart(bits);
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
