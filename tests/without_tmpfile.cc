// Preloaded under the end-to-end tests to drive, on a file system that has
// unnamed temporaries, hard links and locks, the paths taken where it has
// none: O_TMPFILE opens fail as unsupported; built with TARNWICK_REFUSE_LINKS,
// so does link(); and flock() fails with the error number in
// TARNWICK_FLOCK_ERRNO while that is set. Both builds also probe the syncs
// that make an output durable.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open(const char* path, int flags, ...) {
  if ((flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  va_list args;
  va_start(args, flags);
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started above
  const int mode = (flags & O_CREAT) != 0 ? va_arg(args, int) : 0;  // passed only with O_CREAT
  va_end(args);
  using OpenFunction = int (*)(const char*, int, ...);
  return reinterpret_cast<OpenFunction>(::dlsym(RTLD_NEXT, "open"))(path, flags, mode);
}

// The same function under its large-file name, which 64-bit glibc aliases.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

#ifdef TARNWICK_REFUSE_LINKS
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int link(const char* /*from*/, const char* /*to*/) noexcept {
  errno = EPERM;
  return -1;
}
#endif

extern "C" int flock(int fd, int operation) noexcept {
  const char* error = std::getenv("TARNWICK_FLOCK_ERRNO");
  if (error != nullptr) errno = static_cast<int>(std::strtol(error, nullptr, 10));
  using FlockFunction = int (*)(int, int);
  return error != nullptr ? -1 : reinterpret_cast<FlockFunction>(::dlsym(RTLD_NEXT, "flock"))(fd, operation);
}

namespace {

// With TARNWICK_PROBE=NAME, prints each sync on standard output, where the
// test compares it with the tool's message, and whether NAME existed by
// then. TARNWICK_FAIL=CALL fails that call; TARNWICK_STOP stops the process
// at its first sync, for the test to look at it mid-run.
int Probed(const char* call, int fd) {
  const char* name = std::getenv("TARNWICK_PROBE");
  if (name != nullptr) std::printf("%s %s %s\n", call, ::access(name, F_OK) == 0 ? "with" : "without", name);
  if (std::getenv("TARNWICK_STOP") != nullptr && ::unsetenv("TARNWICK_STOP") == 0) (void)std::raise(SIGSTOP);
  const char* fail = std::getenv("TARNWICK_FAIL");
  if (fail == nullptr || std::strcmp(fail, call) != 0) return reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, call))(fd);
  errno = EIO;
  return -1;
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int fdatasync(int fd) { return Probed("fdatasync", fd); }
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int fsync(int fd) { return Probed("fsync", fd); }
