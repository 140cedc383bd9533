#ifndef TARNWICK_TOOL_TEMPORARY_POSIX_H_
#define TARNWICK_TOOL_TEMPORARY_POSIX_H_

// The hidden temporary that holds an output until it is published, on
// POSIX systems wherever no unnamed file can be had: always in the portable
// build and on macOS, and with Linux's extras on file systems without them
// (exFAT and other FUSE file systems, 9p). A run holds at most one. It is
// recorded by its directory's descriptor and its name, so that a signal
// handler or the out-of-memory exit can remove it wherever the directory
// has been moved to; nothing here allocates or locks. (Windows deletes its
// temporary itself.)

#include <array>

namespace tarnwick {

// A hidden temporary's name within its directory, NUL-terminated.
using TemporaryName = std::array<char, sizeof ".Tarnwick-XXXXXX">;

// Creates a hidden temporary in `directory` under a new random name, which
// goes to `name`, open for writing, and records it; no signal is handled
// between the two. Its descriptor, or -1.
int CreateHiddenTemporary(int directory, TemporaryName& name) noexcept;

// Removes the recorded temporary, if there is one, and forgets it.
void RemoveHiddenTemporary() noexcept;

}  // namespace tarnwick

#endif  // TARNWICK_TOOL_TEMPORARY_POSIX_H_
