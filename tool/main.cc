#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include "tool/commands.h"
#include "tool/file_io.h"
#include "tool/messages.h"
#include "tool/secrets.h"

namespace {

// The option word as a whole, in either case of its ASCII letter, whatever
// the locale: "-e" or "-E", "-d" or "-D".
bool IsOption(const char* word, char letter) {
  return word[0] == '-' &&
         (word[1] == letter || word[1] == letter - 'a' + 'A') &&
         word[2] == '\0';
}

// Runs where any allocation fails. Throwing std::bad_alloc may need memory
// itself, so the run ends here, before anything unwinds.
void EndOutOfMemory() {
  // Of threads out of memory together, one reports; the others retry until
  // the process has ended.
  static std::atomic_flag reported;
  if (reported.test_and_set()) return;
  tarnwick::PrintUnbuffered(tarnwick::kOutOfMemory);
  tarnwick::RemoveUnpublishedOutputs();
  std::_Exit(1);
}

// Copies the password out of the argument vector and blanks it there, so
// ps and /proc/PID/cmdline stop showing it to other users.
tarnwick::SecretVector<char> TakePassword(char* argument) {
  const std::size_t length = std::strlen(argument);
  tarnwick::SecretVector<char> password(argument, argument + length + 1);
  tarnwick::LockInMemory(password.data(), password.size());
  tarnwick::SecureWipe(argument, length);
  return password;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before the password is copied, so that no copy reaches a core file.
  tarnwick::KeepMemoryPrivate();
  std::set_new_handler(EndOutOfMemory);
#ifdef SIGPIPE
  // A message lost in a closed pipe must not change the exit status.
  (void)std::signal(SIGPIPE, SIG_IGN);
#endif
  if (argc != 5) {
    tarnwick::Print(tarnwick::kUsageLine);
    tarnwick::Print(tarnwick::kUsageOptionsLine);
    return 1;
  }
  const tarnwick::SecretVector<char> password = TakePassword(argv[2]);
  if (IsOption(argv[1], 'e')) {
    return tarnwick::EncodeFile(password.data(), argv[3], argv[4]);
  }
  if (IsOption(argv[1], 'd')) {
    return tarnwick::DecodeFile(password.data(), argv[3], argv[4]);
  }
  tarnwick::Print(tarnwick::kInvalidOption);
  return 1;
}
