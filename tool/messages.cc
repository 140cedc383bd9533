#include "tool/messages.h"

#include <cstdio>

namespace tarnwick {

// A message that cannot be printed has nowhere else to go; the exit status
// still tells.
void Print(const char* message) { (void)std::fputs(message, stdout); }

}  // namespace tarnwick
