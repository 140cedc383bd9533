// The file layer on POSIX systems. An input is read under watch, so that a
// run never passes off data that changed while it was read; an output is
// written to a file without a name, or under a hidden one, in its
// directory, and gets its name only when complete. Every step on the output
// is taken relative to its directory, held open from the start: publishing
// and removal follow the directory wherever it is moved meanwhile.
//
// What each system offers is decided once, in the first part; the classes
// after it are the same on every system.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <poll.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#endif
#ifdef __APPLE__
#include <sys/event.h>
#endif

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "tool/calls_posix.h"
#include "tool/file_io.h"
#include "tool/temporary_posix.h"

namespace tarnwick {
namespace {

// Whether `error` says that the file system cannot do what was asked, as
// against failing at it: it lacks the call or the flag (ENOSYS, ENOTSUP and
// EOPNOTSUPP, one number on Linux and two on macOS; EINVAL; ENOTTY, macOS's
// answer to an fcntl a file system does not implement), hard links (EPERM,
// EMLINK) or locks (ENOLCK; EBADF: NFS refuses an exclusive lock on a
// read-only descriptor). The next way is then tried, or the step skipped.
bool FileSystemCannot(int error) {
  switch (error) {
    case ENOSYS:
    case EOPNOTSUPP:
    case EINVAL:
    case ENOTTY:
    case EPERM:
    case EMLINK:
    case ENOLCK:
    case EBADF:
      return true;
    default:
      return error == ENOTSUP;
  }
}

// ---- What each system offers ----

// Leases: Linux's alone (macOS keeps its own to the system). A read lease
// is refused while anyone holds the file open or mapped for writing, and
// breaks when anyone opens it so later or truncates it. Taking one
// makes this process its break signal's target at once, so that signal is
// first made one whose default is to be ignored: no break can end the run,
// however early it comes. kInUse: open for writing now; kNone: refused
// otherwise (not the owner and without CAP_LEASE, NFS).
enum class Lease { kHeld, kNone, kInUse };
#ifdef __linux__
Lease TakeReadLease(int fd) {
  if (::fcntl(fd, F_SETSIG, SIGURG) == 0 &&
      ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
    return Lease::kHeld;
  }
  return errno == EAGAIN ? Lease::kInUse : Lease::kNone;
}
bool LeaseBroken(int fd) { return ::fcntl(fd, F_GETLEASE) != F_RDLCK; }
void GiveLeaseBack(int fd) { (void)::fcntl(fd, F_SETLEASE, F_UNLCK); }
#else
Lease TakeReadLease(int /*fd*/) { return Lease::kNone; }
bool LeaseBroken(int /*fd*/) { return false; }
void GiveLeaseBack(int /*fd*/) {}
#endif

// A watch that sees every write made to the file open as `fd` through this
// system, by any process and whatever the clock: a descriptor to ask with
// WriteSeen, or -1 where the system has none or refuses one (its limit of
// watches reached). Writes through a shared mapping go unseen. Linux's
// inotify watches a name, so the file is named through /proc, whatever
// its own name is by now; macOS's kqueue watches the descriptor, and
// reports a truncation only as a change of attributes, so any such change
// counts there.
#if defined(__linux__)
// The name through which /proc reaches the file open as `fd`, whatever its
// own name is by now.
std::array<char, 32> ProcName(int fd) {
  std::array<char, 32> name{};
  (void)std::snprintf(name.data(), name.size(), "/proc/self/fd/%d", fd);
  return name;
}

int WatchWrites(int fd) {
  const std::array<char, 32> self = ProcName(fd);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch >= 0 && ::inotify_add_watch(watch, self.data(), IN_MODIFY) < 0) {
    (void)::close(watch);
    return -1;
  }
  return watch;
}
bool WriteSeen(int watch) {
  pollfd ready{};
  ready.fd = watch;
  ready.events = POLLIN;
  return RetryInterrupted([&] { return ::poll(&ready, 1, 0); }) != 0;
}
#elif defined(__APPLE__)
int WatchWrites(int fd) {
  struct kevent watched {};
  watched.ident = static_cast<uintptr_t>(fd);
  watched.filter = EVFILT_VNODE;
  watched.flags = EV_ADD | EV_CLEAR;
  watched.fflags = NOTE_WRITE | NOTE_EXTEND | NOTE_ATTRIB;
  const int queue = ::kqueue();
  if (queue >= 0 && ::kevent(queue, &watched, 1, nullptr, 0, nullptr) != 0) {
    (void)::close(queue);
    return -1;
  }
  return queue;
}
bool WriteSeen(int queue) {
  struct kevent seen {};
  const timespec now{};
  return RetryInterrupted(
             [&] { return ::kevent(queue, nullptr, 0, &seen, 1, &now); }) != 0;
}
#else
int WatchWrites(int /*fd*/) { return -1; }
bool WriteSeen(int /*watch*/) { return false; }
#endif

// When the file's data last changed, to the file system's resolution.
std::pair<time_t, long> Modified(const struct stat& status) {
#ifdef __APPLE__
  return {status.st_mtimespec.tv_sec, status.st_mtimespec.tv_nsec};
#else
  return {status.st_mtim.tv_sec, status.st_mtim.tv_nsec};
#endif
}

// A directory opened for lookups alone takes new names where this process
// may write it but not read it.
#if defined(O_PATH)
constexpr int kLookupOnly = O_PATH;
#elif defined(O_SEARCH)
constexpr int kLookupOnly = O_SEARCH;
#else
constexpr int kLookupOnly = O_RDONLY;
#endif

// Renames `from` to `to` in `directory` unless `to` exists, where the
// system can; ENOSYS where it cannot.
int RenameNoReplace(int directory, const char* from, const char* to) {
#if defined(__APPLE__)
  return ::renameatx_np(directory, from, directory, to, RENAME_EXCL);
#elif defined(RENAME_NOREPLACE)
  return ::renameat2(directory, from, directory, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
  // A C library without the wrapper (musl): the call itself, whose flag
  // RENAME_NOREPLACE is bit 0.
  return static_cast<int>(
      ::syscall(SYS_renameat2, directory, from, directory, to, 1u));
#else
  return errno = ENOSYS, -1;
#endif
}

// Puts `fd`'s data on stable storage, and its metadata too where `all`.
// macOS's fsync stops at the drive's cache; F_FULLFSYNC goes past it where
// the file system can, and fsync serves where it cannot.
int SyncToDisk(int fd, bool all) {
#ifdef F_FULLFSYNC
  (void)all;  // both go
  const int full = ::fcntl(fd, F_FULLFSYNC);
  return full == 0 || !FileSystemCannot(errno) ? full : ::fsync(fd);
#else
  return all ? ::fsync(fd) : ::fdatasync(fd);
#endif
}

// Linux's extras: files without a name (O_TMPFILE), which leave nothing
// behind however the run ends, and writeback started as the data comes.
#ifdef TARNWICK_LINUX_EXTRAS
// Gives the unnamed file `fd` the name `name` in `directory`: through the
// descriptor itself, or through its path in /proc where the kernel refuses
// that to the unprivileged (before Linux 6.10). False with EEXIST when the
// name is taken.
bool LinkUnnamed(int fd, int directory, const char* name) {
  if (RetryInterrupted([&] {
        return ::linkat(fd, "", directory, name, AT_EMPTY_PATH);
      }) == 0) {
    return true;
  }
  if (errno == EEXIST) return false;
  const std::array<char, 32> self = ProcName(fd);
  return RetryInterrupted([&] {
           return ::linkat(AT_FDCWD, self.data(), directory, name,
                           AT_SYMLINK_FOLLOW);
         }) == 0;
}

// An unnamed file in `directory` that can be given a name when complete,
// or -1. Whether it can is asked before anything is written: linkat looks
// at the file it links before at the new name, so linking it as ".", a
// name that always exists, makes no name but tells which: EEXIST when the
// file could be linked (directly or through /proc).
int CreateUnnamed(int directory) {
  const int fd = RetryInterrupted([directory] {
    return ::openat(directory, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  });
  if (fd < 0 || (!LinkUnnamed(fd, directory, ".") && errno == EEXIST)) {
    return fd;
  }
  (void)::close(fd);
  return -1;
}

// Advisory: a failed writeback shows again in the sync before publishing.
void StartWriteback(int fd, off_t from, off_t length) {
  (void)::sync_file_range(fd, from, length, SYNC_FILE_RANGE_WRITE);
}
#else
bool LinkUnnamed(int /*fd*/, int /*directory*/, const char* /*name*/) {
  return errno = ENOSYS, false;
}
int CreateUnnamed(int /*directory*/) { return -1; }
void StartWriteback(int /*fd*/, off_t /*from*/, off_t /*length*/) {}
#endif

// ---- The same on every system ----

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

  void Reset(int fd) {
    Close();
    fd_ = fd;
  }

  // Closing is where some file systems report a failed write.
  bool Close() {
    if (!valid()) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

// Moves `size` bytes by steps: `step(done)` moves some of what is left
// after `done` and says how many, 0 at the end of a file, -1 on an error.
template <typename Step>
bool TransferAll(std::size_t size, Step step) {
  for (std::size_t done = 0; done < size;) {
    const ssize_t moved = RetryInterrupted([&] { return step(done); });
    if (moved <= 0) return false;
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

// Takes an exclusive lock, which refuses other programs' locks; false only
// where another opener holds one. Where the file system has no such lock,
// the file is read unlocked.
bool LockAgainstOthers(int fd) {
  const auto lock = [fd] { return ::flock(fd, LOCK_EX | LOCK_NB); };
  return RetryInterrupted(lock) == 0 || FileSystemCannot(errno);
}

// F_GETFL fails only on a bad descriptor, and this one was just opened.
bool ClearNonBlocking(int fd) {
  return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
}

// Whether the input stays as it was opened, asked after every read and once
// at the end. Three witnesses, each where it can be had: the lease refuses
// a file anyone holds open or mapped for writing and breaks at any such
// open later; the watch sees every write made through this
// system, whatever the clock; the size and the modification time have the
// last word, and see what the others cannot reach, to the file system's
// clock. A new mode, owner or link leaves the data as it was.
class InputWatch {
 public:
  // Starts on the file open as `fd`, as `opened` describes it; false where
  // it is open for writing now.
  bool Start(int fd, const struct stat& opened) {
    fd_ = fd;
    opened_ = opened;
    const Lease lease = TakeReadLease(fd);
    leased_ = lease == Lease::kHeld;
    writes_.Reset(WatchWrites(fd));
    return lease != Lease::kInUse;
  }

  bool Unchanged() {
    if (leased_ && LeaseBroken(fd_)) {
      ReturnLease();  // the opener waits on it
      return false;
    }
    return !writes_.valid() || !WriteSeen(writes_.get());
  }

  // The last word; the lease goes back whatever it says.
  bool Confirm() {
    struct stat now {};
    const bool unchanged = Unchanged() && ::fstat(fd_, &now) == 0 &&
                           now.st_size == opened_.st_size &&
                           Modified(now) == Modified(opened_);
    ReturnLease();
    return unchanged;
  }

  std::uint64_t size() const {
    return static_cast<std::uint64_t>(opened_.st_size);
  }

 private:
  void ReturnLease() {
    if (leased_) GiveLeaseBack(fd_);
    leased_ = false;
  }

  int fd_ = -1;
  struct stat opened_ {};
  bool leased_ = false;
  Descriptor writes_;
};

class PosixInputFile final : public InputFile {
 public:
  bool Open(const char* path) {
    // Opening a FIFO releases a writer blocked on it, and opening a device
    // can act on it (a tape rewinds): look before opening.
    struct stat status {};
    if (::stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    // O_NONBLOCK: should a FIFO have taken the file's place since, the open
    // must not wait for a writer.
    fd_.Reset(RetryInterrupted([path] {
      return ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
    return fd_.valid() && ::fstat(fd_.get(), &status) == 0 &&
           S_ISREG(status.st_mode) && LockAgainstOthers(fd_.get()) &&
           watch_.Start(fd_.get(), status) && ClearNonBlocking(fd_.get());
  }

  std::optional<std::uint64_t> Size() override { return watch_.size(); }

  bool Read(std::uint8_t* buffer, std::size_t size) override {
    return TransferAll(size,
                       [&](std::size_t done) {
                         return ::read(fd_.get(), buffer + done, size - done);
                       }) &&
           watch_.Unchanged();
  }

  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    const auto read_beyond = [&] { return ::read(fd_.get(), &beyond, 1); };
    return RetryInterrupted(read_beyond) == 0 && watch_.Confirm();
  }

 private:
  Descriptor fd_;
  InputWatch watch_;
};

// What a failed step that would have given the output its name means.
PublishResult FailureOf(int error) {
  return error == EEXIST ? PublishResult::kNameRefused : PublishResult::kFailed;
}

// The run's own empty file takes the name first, then the temporary is
// renamed over it. Only SIGKILL or a crash of the system between the two
// leaves that empty file, and so does a failed rename whose removal then
// fails too. Another program that deletes the placeholder and puts a file
// of its own under the name in the instant before the rename has that file
// replaced: these file systems rename only by replacing, so the window is
// kept to the one call between, and cannot be closed.
PublishResult RenameOverPlaceholder(int directory, const char* temporary,
                                    const char* name) {
  return WithSignalsBlocked([&] {
    const Descriptor placeholder(RetryInterrupted([&] {
      return ::openat(directory, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                      0600);
    }));
    if (!placeholder.valid()) return PublishResult::kNameRefused;
    if (RetryInterrupted([&] {
          return ::renameat(directory, temporary, directory, name);
        }) == 0) {
      return PublishResult::kPublished;
    }
    (void)RetryInterrupted([&] { return ::unlinkat(directory, name, 0); });
    return PublishResult::kNameRefused;
  });
}

// Makes a new entry in `directory` survive a crash. A directory this
// process may write but not read cannot be opened to sync, and some file
// systems cannot sync one: the entry's fate then rests with the file
// system.
bool SyncDirectory(int directory) {
  const Descriptor readable(RetryInterrupted([directory] {
    return ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!readable.valid()) return errno == EACCES;
  const auto sync = [&] { return SyncToDisk(readable.get(), true); };
  return RetryInterrupted(sync) == 0 || FileSystemCannot(errno);
}

// Written bytes handed to the disk at a time while the run goes on, so the
// sync before publishing waits only for the tail.
constexpr off_t kWritebackStep = off_t{256} * 1024;

class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile() = default;
  ~PosixOutputFile() override { Discard(); }
  PosixOutputFile(const PosixOutputFile&) = delete;
  PosixOutputFile& operator=(const PosixOutputFile&) = delete;

  // Opens the output's directory (for lookups only where the system can:
  // one this process may write but not read still takes the output) and
  // starts the file in it, unnamed where it can be.
  bool Create(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                               : path.substr(0, slash);
    name_ = path.substr(slash + 1);
    directory_.Reset(RetryInterrupted([&] {
      return ::open(directory.c_str(), kLookupOnly | O_DIRECTORY | O_CLOEXEC);
    }));
    // An empty name (a path ending in a slash) names no file.
    if (name_.empty() || !directory_.valid() || Exists()) return false;
    fd_.Reset(CreateUnnamed(directory_.get()));
    if (fd_.valid()) return true;
    fd_.Reset(CreateHiddenTemporary(directory_.get(), temporary_));
    kind_ = Kind::kHidden;
    return fd_.valid();
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (!TransferAll(size, [&](std::size_t done) {
          return ::write(fd_.get(), data + done, size - done);
        })) {
      return false;
    }
    written_ += static_cast<off_t>(size);
    if (written_ - started_ >= kWritebackStep) {
      StartWriteback(fd_.get(), started_, written_ - started_);
      started_ = written_;
    }
    return true;
  }

  // The data reaches the disk before the name appears, and the name right
  // after: a crash leaves no output or a complete one, never a partial one.
  // A hidden temporary goes whatever the outcome.
  PublishResult Publish() override {
    const auto sync = [this] { return SyncToDisk(fd_.get(), false); };
    if (RetryInterrupted(sync) != 0) {
      Discard();
      return PublishResult::kFailed;
    }
    const PublishResult result = GiveName();
    Discard();
    if (result == PublishResult::kPublished &&
        !SyncDirectory(directory_.get())) {
      return Unpublish();
    }
    return result;
  }

 private:
  enum class Kind { kUnnamed, kHidden };

  // Anything under the name, a dangling link included, takes it.
  bool Exists() const {
    struct stat status {};
    return ::fstatat(directory_.get(), name_.c_str(), &status,
                     AT_SYMLINK_NOFOLLOW) == 0 ||
           errno != ENOENT;
  }

  // Gives the complete file the output's name, never replacing anything
  // there, by the first of these ways the file system takes; each is tried
  // only where the one before is one it cannot do:
  // 1. the unnamed file is linked in (Linux's extras), so nothing is left
  //    behind however the run ends, SIGKILL included; whether it can be
  //    is settled when the file is created, before anything is written;
  // 2. the hidden temporary is hard-linked to the name, then removed;
  // 3. it is renamed by a rename that refuses to replace (no hard links);
  // 4. the run's own empty placeholder takes the name and the temporary is
  //    renamed over it (neither: exFAT and other FUSE file systems, 9p,
  //    virtual machines' shared folders).
  PublishResult GiveName() {
    if (kind_ == Kind::kUnnamed) {
      if (!LinkUnnamed(fd_.get(), directory_.get(), name_.c_str())) {
        return FailureOf(errno);
      }
      return fd_.Close() ? PublishResult::kPublished : Unpublish();
    }
    if (!fd_.Close()) return PublishResult::kFailed;
    const int at = directory_.get();
    const char* from = temporary_.data();
    const char* to = name_.c_str();
    if (RetryInterrupted([&] { return ::linkat(at, from, at, to, 0); }) == 0) {
      return PublishResult::kPublished;
    }
    if (!FileSystemCannot(errno)) return FailureOf(errno);
    if (RetryInterrupted([&] { return RenameNoReplace(at, from, to); }) == 0) {
      return PublishResult::kPublished;
    }
    if (!FileSystemCannot(errno)) return FailureOf(errno);
    return RenameOverPlaceholder(at, from, to);
  }

  PublishResult Unpublish() {
    (void)RetryInterrupted(
        [this] { return ::unlinkat(directory_.get(), name_.c_str(), 0); });
    return PublishResult::kFailed;
  }

  // After a rename the temporary is gone already.
  void Discard() {
    fd_.Close();
    if (kind_ == Kind::kHidden) RemoveHiddenTemporary();
  }

  Descriptor directory_;
  Descriptor fd_;
  std::string name_;
  Kind kind_ = Kind::kUnnamed;
  TemporaryName temporary_{};  // the hidden temporary's name
  off_t written_ = 0;
  off_t started_ = 0;  // written bytes whose writeback has been started
};

}  // namespace

std::unique_ptr<InputFile> OpenInput(const char* path) {
  auto input = std::make_unique<PosixInputFile>();
  if (!input->Open(path)) return nullptr;
  return input;
}

std::unique_ptr<OutputFile> CreateOutput(const char* path) {
  auto output = std::make_unique<PosixOutputFile>();
  if (!output->Create(path)) return nullptr;
  return output;
}

}  // namespace tarnwick
