#include "tool/temporary_posix.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "tool/calls_posix.h"

namespace tarnwick {
namespace {

// The recorded temporary, in static storage: the descriptor of its
// directory, kNone while none is recorded, and its name, complete before
// the descriptor says so.
constexpr int kNone = -1;
std::atomic<int> recorded_in{kNone};
static_assert(std::atomic<int>::is_always_lock_free);
TemporaryName recorded_name;

// Spells `bits` into a name's last six characters, as base-64 digits in
// characters any file system takes.
void SpellRandomName(std::uint64_t bits, TemporaryName& name) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-";
  constexpr std::uint64_t kBase = sizeof kDigits - 1;  // not the terminator
  name = TemporaryName{".Tarnwick-XXXXXX"};
  for (char* c = name.data() + sizeof ".Tarnwick-" - 1; *c != '\0'; ++c) {
    *c = kDigits[bits % kBase];
    bits /= kBase;
  }
}

}  // namespace

// A random name, so that nobody takes it first on purpose: O_EXCL fails
// the run on a clash, one chance in 2^36 for each temporary that a killed
// run left there. Where getentropy fails, the process ID still keeps the
// name apart from those of the running processes.
int CreateHiddenTemporary(int directory, TemporaryName& name) noexcept {
  std::uint64_t bits;
  if (::getentropy(&bits, sizeof bits) != 0) {
    bits = static_cast<std::uint64_t>(::getpid());
  }
  SpellRandomName(bits, name);
  return WithSignalsBlocked([directory, &name] {
    const int fd = RetryInterrupted([directory, &name] {
      return ::openat(directory, name.data(),
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    });
    if (fd != -1) {
      recorded_name = name;
      recorded_in = directory;
    }
    return fd;
  });
}

// Removing first, then forgetting, leaves no moment when the file exists
// unrecorded; a signal in between only removes it again. With none
// recorded, kNone names no directory and the removal fails harmlessly.
void RemoveHiddenTemporary() noexcept {
  (void)RetryInterrupted(
      [] { return ::unlinkat(recorded_in, recorded_name.data(), 0); });
  recorded_in = kNone;
}

}  // namespace tarnwick
