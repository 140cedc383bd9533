// The file layer on POSIX systems. An output is written to a hidden
// temporary in its directory, or, with Linux's extras, to an unnamed file
// (O_TMPFILE) where the file system can name one later. Every step on it is
// taken relative to its directory, held open from the start: publishing and
// removal follow the directory wherever it is moved meanwhile. What the
// systems lack is said where it is used: leases and writeback hints are
// Linux's, a no-replace rename Linux's and macOS's, a sync past the drive's
// cache macOS's.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "tool/file_io.h"
#include "tool/retrying.h"
#include "tool/temporary.h"

namespace tarnwick {
namespace {

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
    const ssize_t moved = Retrying([&] { return step(done); });
    if (moved <= 0) return false;
    done += static_cast<std::size_t>(moved);
  }
  return true;
}

// Whether `error` says that the file system does not do what was asked:
// one number on Linux, two on macOS.
bool Unsupported(int error) {
#if ENOTSUP != EOPNOTSUPP
  if (error == ENOTSUP) return true;
#endif
  return error == EOPNOTSUPP;
}

// Where the file system has no such lock (NFS refuses an exclusive lock on
// a read-only descriptor with EBADF), the file is read unlocked; only a
// lock held by another opener refuses it.
bool LockedOrUnlockable(int fd) {
  if (Retrying([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    return true;
  }
  return errno == EBADF || errno == ENOLCK || Unsupported(errno) ||
         errno == EINVAL;
}

// A read lease is refused while anyone holds the file open for writing, and
// breaks when anyone opens it so later or truncates it: writes in place
// need change neither the size nor, at their end, the modification time, so
// only the lease sees them all. EAGAIN: open for writing now. Any other
// refusal (not the owner and no CAP_LEASE, NFS, FUSE) leaves the file to
// the size and time checks alone. A break signals nobody, as its SIGIO
// would end the run: the reads ask after the lease instead.
#ifdef F_SETLEASE
bool LeasedOrUnleasable(int fd, bool& leased) {
  leased = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (!leased) return errno != EAGAIN;
  (void)::fcntl(fd, F_SETOWN, 0);
  return true;
}
bool LeaseBroken(int fd) { return ::fcntl(fd, F_GETLEASE) != F_RDLCK; }
void GiveLeaseBack(int fd) { (void)::fcntl(fd, F_SETLEASE, F_UNLCK); }
#else
bool LeasedOrUnleasable(int /*fd*/, bool& leased) {
  leased = false;
  return true;
}
bool LeaseBroken(int /*fd*/) { return false; }
void GiveLeaseBack(int /*fd*/) {}
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

// F_GETFL fails only on a bad descriptor, and this one was just opened.
bool ClearNonBlocking(int fd) {
  return ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
}

class PosixInputFile final : public InputFile {
 public:
  bool Open(const char* path) {
    // Opening a FIFO releases a writer blocked on it, and opening a device
    // can act on it (a tape rewinds): look before opening.
    struct stat named {};
    if (::stat(path, &named) != 0 || !S_ISREG(named.st_mode)) return false;
    // O_NONBLOCK: should a FIFO have taken the file's place since, the open
    // must not wait for a writer.
    fd_.Reset(Retrying([path] {
      return ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }));
    return fd_.valid() && ::fstat(fd_.get(), &opened_) == 0 &&
           S_ISREG(opened_.st_mode) && LockedOrUnlockable(fd_.get()) &&
           LeasedOrUnleasable(fd_.get(), leased_) &&
           ClearNonBlocking(fd_.get());
  }

  std::optional<std::uint64_t> Size() override {
    return static_cast<std::uint64_t>(opened_.st_size);
  }

  bool Read(std::uint8_t* buffer, std::size_t size) override {
    return TransferAll(size, [&](std::size_t done) {
             return ::read(fd_.get(), buffer + done, size - done);
           }) &&
           LeaseHeld();
  }

  // Writers in place need not lock, so the lock alone does not rule out a
  // change. The lease does, where one was had; without it the size and the
  // modification time catch what was written after the open, to the file
  // system's clock resolution, but not a write already under way then. A
  // new mode, owner or link leaves the data as it was.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    struct stat now {};
    const bool unchanged =
        Retrying([&] { return ::read(fd_.get(), &beyond, 1); }) == 0 &&
        LeaseHeld() && ::fstat(fd_.get(), &now) == 0 &&
        now.st_size == opened_.st_size && Modified(now) == Modified(opened_);
    ReleaseLease();
    return unchanged;
  }

 private:
  // Whether nobody has opened the file for writing since the lease was
  // taken. A broken lease is given back at once: the opener waits on it.
  bool LeaseHeld() {
    if (!leased_ || !LeaseBroken(fd_.get())) return true;
    ReleaseLease();
    return false;
  }

  void ReleaseLease() {
    if (leased_) GiveLeaseBack(fd_.get());
    leased_ = false;
  }

  Descriptor fd_;
  struct stat opened_ {};
  bool leased_ = false;
};

#ifdef TARNWICK_LINUX_EXTRAS
// Gives the unnamed file `fd` the name `name` in `directory`: through the
// descriptor itself, or through its path in /proc where the kernel refuses
// that to the unprivileged (before Linux 6.10). False with EEXIST when the
// name is taken.
bool LinkUnnamed(int fd, int directory, const char* name) {
  if (Retrying([&] {
        return ::linkat(fd, "", directory, name, AT_EMPTY_PATH);
      }) == 0) {
    return true;
  }
  if (errno == EEXIST) return false;
  char self[32];
  (void)std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return Retrying([&] {
           return ::linkat(AT_FDCWD, self, directory, name, AT_SYMLINK_FOLLOW);
         }) == 0;
}

// Whether the unnamed file can be given a name when it is complete, asked
// before anything is written to it. linkat looks at the file it links
// before at the new name, so linking it as ".", a name that always exists,
// makes no name but tells which: EEXIST when the file could be linked
// (directly or through /proc), another error when it could not.
bool CanLinkUnnamed(int fd, int directory) {
  return !LinkUnnamed(fd, directory, ".") && errno == EEXIST;
}
#endif

PublishResult FailedPublish() {
  return errno == EEXIST ? PublishResult::kNameRefused : PublishResult::kFailed;
}

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
// the file system can.
int SyncToDisk(int fd, bool all) {
#ifdef F_FULLFSYNC
  (void)all;  // both go
  return ::fcntl(fd, F_FULLFSYNC) == 0 ? 0 : ::fsync(fd);
#else
  return all ? ::fsync(fd) : ::fdatasync(fd);
#endif
}

// For a mount with neither hard links nor a rename that refuses to replace
// (FUSE, 9p, shared folders): the run's own empty file takes the name
// first, then the temporary is renamed over it. Only SIGKILL or a crash of
// the system between the two leaves that empty file.
PublishResult RenameOverPlaceholder(int directory, const char* temporary,
                                    const char* name) {
  return Unsignalled([&] {
    const Descriptor placeholder(Retrying([&] {
      return ::openat(directory, name,
                      O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    }));
    if (!placeholder.valid()) return PublishResult::kNameRefused;
    if (Retrying([&] {
          return ::renameat(directory, temporary, directory, name);
        }) == 0) {
      return PublishResult::kPublished;
    }
    (void)Retrying([&] { return ::unlinkat(directory, name, 0); });
    return PublishResult::kNameRefused;
  });
}

// Gives the hidden temporary the name `name` without replacing anything
// there: a hard link where the file system has them, otherwise a rename
// that refuses an existing target, otherwise a placeholder.
PublishResult NameTemporary(int directory, const char* temporary,
                            const char* name) {
  if (Retrying([&] {
        return ::linkat(directory, temporary, directory, name, 0);
      }) == 0) {
    return PublishResult::kPublished;
  }
  if (errno != EPERM && errno != EMLINK && errno != ENOSYS &&
      !Unsupported(errno)) {
    return FailedPublish();
  }
  if (Retrying([&] {
        return RenameNoReplace(directory, temporary, name);
      }) == 0) {
    return PublishResult::kPublished;
  }
  if (errno != EINVAL && errno != ENOSYS && !Unsupported(errno)) {
    return FailedPublish();
  }
  return RenameOverPlaceholder(directory, temporary, name);
}

// Makes a new entry in `directory` survive a crash. A directory this process
// may write but not read cannot be opened to sync, and some file systems
// cannot sync one (EINVAL): the entry's fate then rests with the file system.
bool SyncDirectory(int directory) {
  const Descriptor readable(Retrying([directory] {
    return ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }));
  if (!readable.valid()) return errno == EACCES;
  return Retrying([&] { return SyncToDisk(readable.get(), true); }) == 0 ||
         errno == EINVAL;
}

#ifdef TARNWICK_LINUX_EXTRAS
// Written bytes handed to the disk at a time while the run goes on, so the
// sync before publishing waits only for the tail.
constexpr off_t kWritebackStep = off_t{256} * 1024;
#endif

class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile() = default;
  ~PosixOutputFile() override { Discard(); }
  PosixOutputFile(const PosixOutputFile&) = delete;
  PosixOutputFile& operator=(const PosixOutputFile&) = delete;

  // Opens the output's directory (for lookups only where the system can:
  // one this process may write but not read still takes the output) and
  // starts the file in it.
  bool Create(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                               : path.substr(0, slash);
    name_ = path.substr(slash + 1);
    directory_.Reset(Retrying([&] {
      return ::open(directory.c_str(), kLookupOnly | O_DIRECTORY | O_CLOEXEC);
    }));
    // An empty name (a path ending in a slash) names no file.
    if (name_.empty() || !directory_.valid() || Exists()) return false;
#ifdef TARNWICK_LINUX_EXTRAS
    fd_.Reset(Retrying([this] {
      return ::openat(directory_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                      0600);
    }));
    if (fd_.valid() && CanLinkUnnamed(fd_.get(), directory_.get())) {
      return true;
    }
#endif
    fd_.Reset(CreateTemporary(directory_.get(), temporary_));
    hidden_ = fd_.valid();
    return hidden_;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (!TransferAll(size, [&](std::size_t done) {
          return ::write(fd_.get(), data + done, size - done);
        })) {
      return false;
    }
    StartWriteback(size);
    return true;
  }

  // The data reaches the disk before the name appears, and the name right
  // after: a crash leaves no output or a complete one, never a partial one.
  PublishResult Publish() override {
    if (Retrying([this] { return SyncToDisk(fd_.get(), false); }) != 0) {
      Discard();
      return PublishResult::kFailed;
    }
#ifdef TARNWICK_LINUX_EXTRAS
    const PublishResult result = hidden_ ? PublishNamed() : PublishUnnamed();
#else
    const PublishResult result = PublishNamed();
#endif
    if (result == PublishResult::kPublished &&
        !SyncDirectory(directory_.get())) {
      return Unpublish();
    }
    return result;
  }

 private:
  // Anything under the name, a dangling link included, takes it.
  bool Exists() const {
    struct stat status {};
    return ::fstatat(directory_.get(), name_.c_str(), &status,
                     AT_SYMLINK_NOFOLLOW) == 0 ||
           errno != ENOENT;
  }

  // Advisory: a failed writeback shows again in the sync before publishing.
  void StartWriteback([[maybe_unused]] std::size_t size) {
#ifdef TARNWICK_LINUX_EXTRAS
    written_ += static_cast<off_t>(size);
    if (written_ - started_ < kWritebackStep) return;
    (void)::sync_file_range(fd_.get(), started_, written_ - started_,
                            SYNC_FILE_RANGE_WRITE);
    started_ = written_;
#endif
  }

#ifdef TARNWICK_LINUX_EXTRAS
  PublishResult PublishUnnamed() {
    if (!LinkUnnamed(fd_.get(), directory_.get(), name_.c_str())) {
      return FailedPublish();
    }
    return fd_.Close() ? PublishResult::kPublished : Unpublish();
  }
#endif

  // The temporary goes whatever the outcome; after a rename it is gone
  // already.
  PublishResult PublishNamed() {
    PublishResult result = PublishResult::kFailed;
    if (fd_.Close()) {
      result =
          NameTemporary(directory_.get(), temporary_.data(), name_.c_str());
    }
    Discard();
    return result;
  }

  PublishResult Unpublish() {
    (void)Retrying(
        [this] { return ::unlinkat(directory_.get(), name_.c_str(), 0); });
    return PublishResult::kFailed;
  }

  void Discard() {
    fd_.Close();
    if (hidden_) RemoveTemporary();
    hidden_ = false;
  }

  Descriptor directory_;
  Descriptor fd_;
  std::string name_;
  bool hidden_ = false;  // a hidden temporary, not an unnamed file
  TemporaryName temporary_{};  // the hidden temporary's name
#ifdef TARNWICK_LINUX_EXTRAS
  off_t written_ = 0;
  off_t started_ = 0;  // written bytes whose writeback has been started
#endif
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
