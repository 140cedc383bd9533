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

int OpenUnlessUnnamed(const char* next, const char* path, int flags, va_list args) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  const int mode = (flags & O_CREAT) != 0 ? va_arg(args, int) : 0;
  return reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, next))(path, flags, mode);
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = OpenUnlessUnnamed("open", path, flags, args);
  va_end(args);
  return fd;
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int fd = OpenUnlessUnnamed("open64", path, flags, args);
  va_end(args);
  return fd;
}

#ifdef TARNWICK_REFUSE_LINKS
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int link(const char* /*from*/, const char* /*to*/) noexcept {
  errno = EPERM;
  return -1;
}
#endif
