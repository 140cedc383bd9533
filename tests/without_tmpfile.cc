// Preloaded under the file layer's tests to drive, on a file system that has
// unnamed temporaries and hard links, the paths taken where it has neither:
// O_TMPFILE opens fail as unsupported, and built with TARNWICK_REFUSE_LINKS,
// so does link().
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

using OpenFunction = int (*)(const char*, int, ...);

int OpenUnlessUnnamed(const char* next, const char* path, int flags, int mode) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, next))(path, flags, mode);
}

// The mode argument is there only when the open may create a file. The
// analyzer cannot see that the callers started `args`.
int ModeOf(int flags, va_list args) {
  const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  return creates ? va_arg(args, int) : 0;  // NOLINT(clang-analyzer-valist.Uninitialized)
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = ModeOf(flags, args);
  va_end(args);
  return OpenUnlessUnnamed("open", path, flags, mode);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = ModeOf(flags, args);
  va_end(args);
  return OpenUnlessUnnamed("open64", path, flags, mode);
}

#ifdef TARNWICK_REFUSE_LINKS
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int link(const char* /*from*/, const char* /*to*/) noexcept {
  errno = EPERM;
  return -1;
}
#endif
