// Preloaded under the end-to-end tests: system calls that a test steers
// through the environment. Built with TARNWICK_REFUSE_TMPFILE, O_TMPFILE
// opens fail as unsupported, and with TARNWICK_REFUSE_LINKS hard links fail
// too: the file layer's fallbacks then run on a file system that has both.
//   TARNWICK_FAIL=CALL[:ERRNO]  flock, linkat (of a descriptor), fdatasync,
//                               fsync or close fails, with EIO or ERRNO
//   TARNWICK_SHORT              every other call is interrupted (EINTR), and
//                               reads and writes of files move under a page
//   TARNWICK_SIGNAL=N           a new hidden file sends the process signal N
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

// Under TARNWICK_SHORT, every other call on a file fails with EINTR before
// it does anything. Files only: a file may be descriptor 0 where standard
// input is closed.
bool Interrupted(int fd = 3) {
  static thread_local bool interrupt = false;
  return fd > 2 && std::getenv("TARNWICK_SHORT") != nullptr && (interrupt = !interrupt) && (errno = EINTR);
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
  return Interrupted() || Failing(call) ? -1 : Next<int (*)(int)>(call)(fd);
}

template <typename Buffer>
ssize_t Shortened(const char* call, int fd, Buffer buffer, std::size_t size) {
  if (Interrupted(fd)) return -1;
  const bool shortened = fd > 2 && std::getenv("TARNWICK_SHORT") != nullptr;
  return Next<ssize_t (*)(int, Buffer, std::size_t)>(call)(fd, buffer, shortened ? std::min<std::size_t>(size, 4093) : size);
}

int Mode(int flags, va_list args) {
  const bool has_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): started by the caller
  return has_mode ? va_arg(args, int) : 0;
}

}  // namespace

// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
  if (Interrupted()) return -1;
  return Next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

extern "C" int openat(int directory, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
#ifdef TARNWICK_REFUSE_TMPFILE
  if ((flags & O_TMPFILE) == O_TMPFILE) return errno = EOPNOTSUPP, -1;
#endif
  if (Interrupted()) return -1;
  const int fd = Next<int (*)(int, const char*, int, ...)>("openat")(directory, path, flags, mode);
  const char* signal = std::getenv("TARNWICK_SIGNAL");
  if (fd >= 0 && (flags & O_EXCL) != 0 && signal != nullptr) (void)::kill(::getpid(), static_cast<int>(std::strtol(signal, nullptr, 10)));
  return fd;
}

// The same functions under their large-file names, which 64-bit glibc aliases.
extern "C" int open64(const char* path, int flags, ...) __attribute__((alias("open")));
extern "C" int openat64(int directory, const char* path, int flags, ...) __attribute__((alias("openat")));

extern "C" int linkat(int from_directory, const char* from, int to_directory, const char* to, int flags) noexcept {
#ifdef TARNWICK_REFUSE_LINKS
  if (flags == 0) return errno = EPERM, -1;
#endif
  if (Interrupted() || ((flags & AT_EMPTY_PATH) != 0 && Failing("linkat"))) return -1;
  return Next<int (*)(int, const char*, int, const char*, int)>("linkat")(from_directory, from, to_directory, to, flags);
}
extern "C" int renameat2(int from_directory, const char* from, int to_directory, const char* to, unsigned flags) noexcept {
  if (Interrupted()) return -1;
  return Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2")(from_directory, from, to_directory, to, flags);
}
extern "C" int unlinkat(int directory, const char* path, int flags) noexcept {
  return Interrupted() ? -1 : Next<int (*)(int, const char*, int)>("unlinkat")(directory, path, flags);
}
extern "C" int flock(int fd, int operation) noexcept {
  return Interrupted() || Failing("flock") ? -1 : Next<int (*)(int, int)>("flock")(fd, operation);
}
extern "C" int fdatasync(int fd) { return Synced("fdatasync", fd); }
extern "C" int fsync(int fd) { return Synced("fsync", fd); }
extern "C" int close(int fd) { return fd > 2 && Failing("close") ? -1 : Next<int (*)(int)>("close")(fd); }
extern "C" ssize_t read(int fd, void* buffer, size_t size) { return Shortened("read", fd, buffer, size); }
extern "C" ssize_t write(int fd, const void* buffer, size_t size) { return Shortened("write", fd, buffer, size); }
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
