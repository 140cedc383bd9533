#include <cstring>

#include "tool/commands.h"
#include "tool/messages.h"
#include "tool/process.h"
#include "tool/secrets.h"

namespace {

// The option word as a whole, in either case of its ASCII letter, whatever
// the locale: "-e" or "-E", "-d" or "-D".
bool IsOption(const char* word, char letter) {
  return word[0] == '-' &&
         (word[1] == letter || word[1] == letter - 'a' + 'A') &&
         word[2] == '\0';
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
  tarnwick::SetUpProcess();
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
