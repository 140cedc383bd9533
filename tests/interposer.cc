// System calls that a test steers through the environment: linked into the
// commands' tests, and preloaded under the end-to-end ones.
//   TARNWICK_REFUSE=LIST        of tmpfile: O_TMPFILE opens fail as
//                               unsupported; links: hard links do (EPERM);
//                               renames: renames that refuse to replace do
//                               (EINVAL); lease: leases are (EACCES): the
//                               file layer's fallbacks then run on a file
//                               system that has them all
// On files (descriptors above 2):
//   TARNWICK_FAIL=CALL[:ERROR]  flock, linkat (of a descriptor), link (a
//                               linkat by name), renameat2, renameat,
//                               unlinkat, openat (of a directory to
//                               read), create (openat with O_EXCL),
//                               fdatasync, fsync, close or
//                               inotify_add_watch fails, with EIO or the
//                               error named, as EEXIST
//   TARNWICK_SIZE=N             fstat states N bytes
//   TARNWICK_CHANGED=FIELD      fstat of a file read from already states its
//                               size or mtime changed
//   TARNWICK_READ_ERROR=N       a read reaching offset N fails
//   TARNWICK_BREAK=N            a read reaching offset N (-1: the taking
//                               of a lease) first opens the file for
//                               writing, without waiting: a lease breaks
//   TARNWICK_REWRITE=N          a read reaching offset N first rewrites the
//                               file's first byte, mtime kept
//   TARNWICK_WRITE_ERROR=N      a write reaching offset N fails
//   TARNWICK_SHORT              every other call fails with EINTR, and reads
//                               and writes move under a page
//   TARNWICK_SIGNAL=N           a new hidden file sends the process signal N
//   TARNWICK_PROBE=NAME         each sync prints whether a name starting
//                               with NAME was in the folder by then
//   TARNWICK_STOP               the process stops at its first sync
// NOLINTBEGIN: the C library's names, parameters and variadic calls
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

#define NEXT(call) reinterpret_cast<decltype(&call)>(dlsym(RTLD_NEXT, #call))
// A file's call, interrupted or failed as steered, or made.
#define STEERED(call, ...) \
  Interrupted() || Failing(#call) ? -1 : NEXT(call)(__VA_ARGS__)

// The setting TARNWICK_`name`, or null.
const char* Env(const char* name) {
  char full[32] = "TARNWICK_";
  return getenv(strncat(full, name, 20));
}

// Files only: a file may be descriptor 0 where standard input is closed.
bool Interrupted(int fd = 3) {
  static thread_local bool interrupt = false;
  return fd > 2 && Env("SHORT") && (interrupt = !interrupt) && (errno = EINTR);
}

// The error number that the C library names `name`.
int ErrorNumber(const char* name) {
  for (int number = 1; number < 4096; ++number) {
    const char* known = strerrorname_np(number);
    if (known && !strcmp(known, name)) return number;
  }
  abort();  // a misspelt name
}

bool Failing(const char* call) {
  const char* fail = Env("FAIL");
  const size_t n = strlen(call);
  if (!fail || strncmp(fail, call, n) || (fail[n] && fail[n] != ':')) {
    return false;
  }
  errno = fail[n] ? ErrorNumber(fail + n + 1) : EIO;
  return true;
}

// Whether the file system is to lack `what`, failing with `error`.
bool Refused(const char* what, int error) {
  const char* refused = Env("REFUSE");
  return refused && strstr(refused, what) && (errno = error);
}

bool Listed(const char* prefix) {
  DIR* folder = opendir(".");
  bool listed = false;
  while (const dirent* entry = readdir(folder)) {
    listed |= !strncmp(entry->d_name, prefix, strlen(prefix));
  }
  closedir(folder);
  return listed;
}

int Synced(const char* call, int (*next)(int), int fd) {
  if (const char* name = Env("PROBE")) {
    printf("%s %s %s\n", call, Listed(name) ? "with" : "without", name);
  }
  if (Env("STOP") && unsetenv("TARNWICK_STOP") == 0) raise(SIGSTOP);
  return Interrupted() || Failing(call) ? -1 : next(fd);
}

int Mode(int flags, va_list args) {
  const bool given = flags & O_CREAT || (flags & O_TMPFILE) == O_TMPFILE;
  return given ? va_arg(args, int) : 0;
}

off_t Setting(const char* name) {
  const char* value = Env(name);
  return value ? atoll(value) : INT64_MAX;
}

// A file's offset, or -1 for standard streams and what has none.
off_t Offset(int fd) { return fd > 2 ? lseek(fd, 0, SEEK_CUR) : -1; }

// Whether a read or write of `size` at the file's offset reaches the
// offset in `setting`.
bool Reaches(int fd, size_t size, const char* setting) {
  const off_t at = Offset(fd);
  return at >= 0 && at + off_t(size) > Setting(setting);
}

// The bytes a read or write of `size` at the file's offset may move, or -1
// when it is to fail.
ssize_t Allowed(int fd, size_t size, const char* error) {
  if (Offset(fd) < 0) return size;
  if (Env("SHORT") && size > 4093) size = 4093;
  return Reaches(fd, size, error) ? (errno = EIO, -1) : ssize_t(size);
}

// The file of `fd` opened anew for writing, without waiting, or -1.
int Writer(int fd) {
  char self[32];
  snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return NEXT(open)(self, O_WRONLY | O_NONBLOCK);
}

void BreakLease(int fd) { NEXT(close)(Writer(fd)); }

// Flips the first byte and puts the times back, as a writer within the
// clock's tick would leave them.
void Rewrite(int fd) {
  const int writer = Writer(fd);
  struct stat status;
  char first;
  if (NEXT(fstat)(fd, &status) == 0 && pread(fd, &first, 1, 0) == 1) {
    (void)!pwrite(writer, &(first ^= 1), 1, 0);
    const timespec times[] = {status.st_atim, status.st_mtim};
    futimens(writer, times);
  }
  NEXT(close)(writer);
}

}  // namespace

extern "C" {
int openat(int at, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
  if ((flags & O_TMPFILE) == O_TMPFILE && Refused("tmpfile", EOPNOTSUPP)) {
    return -1;
  }
  // O_TMPFILE holds O_DIRECTORY's bit: a directory opened to read has no
  // other of these.
  const bool directory = (flags & (O_TMPFILE | O_PATH)) == O_DIRECTORY;
  if (Interrupted() || (directory && Failing("openat")) ||
      (flags & O_EXCL && Failing("create"))) {
    return -1;
  }
  const int fd = NEXT(openat)(at, path, flags, mode);
  if (fd >= 0 && flags & O_EXCL && Env("SIGNAL")) {
    kill(getpid(), int(Setting("SIGNAL")));
  }
  return fd;
}
int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = Mode(flags, args);
  va_end(args);
  return openat(AT_FDCWD, path, flags, mode);
}
// The same under the large-file names, which 64-bit glibc aliases.
int open64(const char*, int, ...) __attribute__((alias("open")));
int openat64(int, const char*, int, ...) __attribute__((alias("openat")));

int linkat(int from_at, const char* from, int to_at, const char* to,
           int flags) noexcept {
  if (Refused("links", EPERM)) return -1;
  if (Interrupted() || (flags & AT_EMPTY_PATH && Failing("linkat")) ||
      (flags == 0 && Failing("link"))) {
    return -1;
  }
  return NEXT(linkat)(from_at, from, to_at, to, flags);
}
int renameat2(int from_at, const char* from, int to_at, const char* to,
              unsigned flags) noexcept {
  if (flags & RENAME_NOREPLACE && Refused("renames", EINVAL)) return -1;
  return STEERED(renameat2, from_at, from, to_at, to, flags);
}
int renameat(int from_at, const char* from, int to_at,
             const char* to) noexcept {
  return STEERED(renameat, from_at, from, to_at, to);
}
int unlinkat(int at, const char* path, int flags) noexcept {
  return STEERED(unlinkat, at, path, flags);
}
int flock(int fd, int operation) noexcept {
  return STEERED(flock, fd, operation);
}
int inotify_add_watch(int fd, const char* path, uint32_t mask) noexcept {
  return Failing("inotify_add_watch") ? -1
                                      : NEXT(inotify_add_watch)(fd, path, mask);
}
int fstat(int fd, struct stat* status) {
  const int result = NEXT(fstat)(fd, status);
  if (fd < 3) return result;
  if (Env("SIZE")) status->st_size = Setting("SIZE");
  const char* changed = Env("CHANGED");
  if (changed && Offset(fd) > 0) {
    ++*(!strcmp(changed, "size") ? &status->st_size : &status->st_mtim.tv_nsec);
  }
  return result;
}
int fdatasync(int fd) { return Synced("fdatasync", NEXT(fdatasync), fd); }
int fsync(int fd) { return Synced("fsync", NEXT(fsync), fd); }
int close(int fd) {
  const int result = NEXT(close)(fd);  // closed even where it fails
  return fd > 2 && Failing("close") ? -1 : result;
}
int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);
  va_end(args);
  const bool lease = command == F_SETLEASE;
  if (lease && Refused("lease", EACCES)) return -1;
  const int result = NEXT(fcntl)(fd, command, argument);
  if (lease && result == 0 && Setting("BREAK") < 0) BreakLease(fd);
  return result;
}
int fcntl64(int, int, ...) __attribute__((alias("fcntl")));
ssize_t read(int fd, void* buffer, size_t size) {
  if (Reaches(fd, size, "BREAK")) BreakLease(fd);
  if (Reaches(fd, size, "REWRITE")) Rewrite(fd);
  const ssize_t n = Allowed(fd, size, "READ_ERROR");
  return Interrupted(fd) || n < 0 ? -1 : NEXT(read)(fd, buffer, n);
}
ssize_t write(int fd, const void* buffer, size_t size) {
  const ssize_t n = Allowed(fd, size, "WRITE_ERROR");
  return Interrupted(fd) || n < 0 ? -1 : NEXT(write)(fd, buffer, n);
}
}
// NOLINTEND
