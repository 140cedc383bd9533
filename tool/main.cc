#include "tool/commands.h"
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

}  // namespace

int main(int argc, char* argv[]) {
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
