#include "tool/temporary.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "tool/retrying.h"

namespace tarnwick {
namespace {

// The recorded temporary, in static storage: the descriptor of its
// directory, kNone while none is recorded. The name is complete before
// the descriptor says so.
constexpr int kNone = -1;
std::atomic<int> recorded_in{kNone};
static_assert(std::atomic<int>::is_always_lock_free);
char name[] = ".Tarnwick-XXXXXX";

// Spells `bits` into the name's last six characters, as base-64 digits in
// characters any file system takes.
void SpellRandomPart(std::uint64_t bits) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  constexpr std::uint64_t kBase = sizeof kDigits - 1;  // not the terminator
  for (char* c = name + sizeof ".Tarnwick-" - 1; *c != '\0'; ++c) {
    *c = kDigits[bits % kBase];
    bits /= kBase;
  }
}

}  // namespace

// A random name, so that nobody takes it first on purpose: O_EXCL fails
// the run on a clash, one chance in 2^36 for each temporary that a killed
// run left there. Where getrandom fails, the process ID still keeps the
// name apart from those of the running processes.
int CreateTemporary(int directory) noexcept {
  std::uint64_t bits;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != sizeof bits) {
    bits = static_cast<std::uint64_t>(::getpid());
  }
  SpellRandomPart(bits);
  return Unsignalled([directory] {
    const int fd = Retrying([directory] {
      return ::openat(directory, name,
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    });
    if (fd != -1) recorded_in = directory;
    return fd;
  });
}

const char* TemporaryName() noexcept { return name; }

// Removing first, then forgetting, leaves no moment when the file exists
// unrecorded; a signal in between only removes it again. With none
// recorded, kNone names no directory and the removal fails harmlessly.
void RemoveTemporary() noexcept {
  (void)Retrying([] { return ::unlinkat(recorded_in, name, 0); });
  recorded_in = kNone;
}

}  // namespace tarnwick
