#include <atomic>
#include <csignal>
#include <cstdlib>
#include <new>

#include "tool/commands.h"
#include "tool/file_io.h"
#include "tool/messages.h"

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whole-string comparison that folds only ASCII letters, whatever the locale.
bool EqualsIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (LowerAscii(*a) != LowerAscii(*b)) return false;
  }
  return *a == *b;
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

}  // namespace

int main(int argc, char* argv[]) {
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
  if (EqualsIgnoringAsciiCase(argv[1], "-e")) {
    return tarnwick::EncodeFile(argv[2], argv[3], argv[4]);
  }
  if (EqualsIgnoringAsciiCase(argv[1], "-d")) {
    return tarnwick::DecodeFile(argv[2], argv[3], argv[4]);
  }
  tarnwick::Print(tarnwick::kInvalidOption);
  return 1;
}
