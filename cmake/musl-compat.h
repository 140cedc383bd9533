// Force-included into the musl builds (cmake/zig.cmake): Zig's musl has the
// system call but no wrapper for it, and the file layer's fallback, which
// must never replace an existing output, needs RENAME_NOREPLACE.
#ifndef TARNWICK_CMAKE_MUSL_COMPAT_H_
#define TARNWICK_CMAKE_MUSL_COMPAT_H_

#include <sys/syscall.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE 1
#endif

inline int renameat2(int from_directory, const char* from, int to_directory,
                     const char* to, unsigned flags) {
  return static_cast<int>(
      syscall(SYS_renameat2, from_directory, from, to_directory, to, flags));
}

#endif  // TARNWICK_CMAKE_MUSL_COMPAT_H_
