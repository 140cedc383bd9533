#include "tool/messages.h"

#include <cstdio>

namespace tarnwick {

void Print(const char* message) { std::fputs(message, stdout); }

}  // namespace tarnwick
