#ifndef TARNWICK_TOOL_TEMPORARY_H_
#define TARNWICK_TOOL_TEMPORARY_H_

// The hidden temporary that holds an output until it is published, where
// the file system has no unnamed files. A run holds at most one. It is
// recorded by its directory's descriptor and its name, so that a signal
// handler or the out-of-memory exit can remove it wherever the directory
// has been moved to; nothing here allocates or locks. Not on Windows, where
// the system deletes the temporary itself.

#include <array>

namespace tarnwick {

// A hidden temporary's name within its directory, NUL-terminated.
using TemporaryName = std::array<char, sizeof ".Tarnwick-XXXXXX">;

// Creates a hidden temporary in `directory` under a new random name, which
// goes to `name`, open for writing, and records it; no signal is handled
// between the two. Its descriptor, or -1.
int CreateTemporary(int directory, TemporaryName& name) noexcept;

// Removes the recorded temporary, if there is one, and forgets it.
void RemoveTemporary() noexcept;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_TEMPORARY_H_
