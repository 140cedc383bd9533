// Preloaded under the end-to-end tests: system calls that a test steers
// through the environment. Built with TARNWICK_REFUSE_TMPFILE, O_TMPFILE
// opens fail as unsupported, and with TARNWICK_REFUSE_LINKS link() fails
// too: the file layer's fallbacks then run on a file system that has both.
//   TARNWICK_FAIL=CALL[:ERRNO]  flock, linkat (of a descriptor), fdatasync,
//                               fsync or close fails, with EIO or ERRNO
//   TARNWICK_SHORT              reads and writes of files are interrupted
//                               or move under a page
//   TARNWICK_PROBE=NAME         each sync prints whether NAME existed by then
//   TARNWICK_STOP               the process stops at its first sync
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool Failing(const char* call) {
  const char* fail = std::getenv("TARNWICK_FAIL");
  const std::size_t length = std::strlen(call);
  if (fail == nullptr || std::strncmp(fail, call, length) != 0 || (fail[length] != '\0' && fail[length] != ':')) {
    return false;
  }
  errno = fail[length] == ':' ? static_cast<int>(std::strtol(fail + length + 1, nullptr, 10)) : EIO;
  return true;
}

int Synced(const char* call, int fd) {
  const char* name = std::getenv("TARNWICK_PROBE");
  if (name != nullptr) std::printf("%s %s %s\n", call, ::access(name, F_OK) == 0 ? "with" : "without", name);
  if (std::getenv("TARNWICK_STOP") != nullptr && ::unsetenv("TARNWICK_STOP") == 0) (void)std::raise(SIGSTOP);
  return Failing(call) ? -1 : Next<int (*)(int)>(call)(fd);
}

// Under TARNWICK_SHORT, every other read or write of a file is interrupted
// before it moves anything, and the others move less than a page. Files
// only: a file may be descriptor 0 where standard input is closed.
template <typename Buffer>
ssize_t Shortened(const char* call, int fd, Buffer buffer, std::size_t size) {
  static thread_local bool interrupt = false;
  const bool shortened = fd != 1 && fd != 2 && std::getenv("TARNWICK_SHORT") != nullptr;
  if (shortened && (interrupt = !interrupt)) return errno = EINTR, -1;
  return Next<ssize_t (*)(int, Buffer, std::size_t)>(call)(fd, buffer, shortened ? std::min<std::size_t>(size, 4093) : size);
}

}  // namespace

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open(const char* path, int flags, ...) {
#ifdef TARNWICK_REFUSE_TMPFILE
  if ((flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
#endif
  va_list args;
  va_start(args, flags);
  const bool has_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started above
  const int mode = has_mode ? va_arg(args, int) : 0;
  va_end(args);
  return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

// The same function under its large-file name, which 64-bit glibc aliases.
// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));

#ifdef TARNWICK_REFUSE_LINKS
extern "C" int link(const char* /*from*/, const char* /*to*/) noexcept { return errno = EPERM, -1; }
#endif

// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" int linkat(int from_directory, const char* from, int to_directory, const char* to, int flags) noexcept {
  if ((flags & AT_EMPTY_PATH) != 0 && Failing("linkat")) return -1;
  return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(from_directory, from, to_directory, to, flags);
}
extern "C" int flock(int fd, int operation) noexcept {
  return Failing("flock") ? -1 : Next<int (*)(int, int)>("flock")(fd, operation);
}
extern "C" int fdatasync(int fd) { return Synced("fdatasync", fd); }
extern "C" int fsync(int fd) { return Synced("fsync", fd); }
extern "C" int close(int fd) { return fd > 2 && Failing("close") ? -1 : Next<int (*)(int)>("close")(fd); }
extern "C" ssize_t read(int fd, void* buffer, size_t size) { return Shortened("read", fd, buffer, size); }
extern "C" ssize_t write(int fd, const void* buffer, size_t size) { return Shortened("write", fd, buffer, size); }
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
