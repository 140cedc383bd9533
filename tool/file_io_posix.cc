// The file layer on Linux. An output is written to an unnamed file
// (O_TMPFILE) where the file system can name one later, to a hidden
// temporary otherwise, and every step on it is taken relative to its
// directory, held open from the start: publishing and removal follow the
// directory wherever it is moved meanwhile.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

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

// Where the file system has no such lock (NFS refuses an exclusive lock on
// a read-only descriptor with EBADF), the file is read unlocked; only a
// lock held by another opener refuses it.
bool LockedOrUnlockable(int fd) {
  if (Retrying([fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0) {
    return true;
  }
  return errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP ||
         errno == EINVAL;
}

// A read lease is refused while anyone holds the file open for writing, and
// breaks when anyone opens it so later or truncates it: writes in place
// need change neither the size nor, at their end, the modification time, so
// only the lease sees them all. EAGAIN: open for writing now. Any other
// refusal (not the owner and no CAP_LEASE, NFS, FUSE) leaves the file to
// the size and time checks alone. A break signals nobody, as its SIGIO
// would end the run: the reads ask after the lease instead.
bool LeasedOrUnleasable(int fd, bool& leased) {
  leased = ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
  if (!leased) return errno != EAGAIN;
  (void)::fcntl(fd, F_SETOWN, 0);
  return true;
}

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
  // change; the size and the modification time do, to the file system's
  // clock resolution. A new mode, owner or link leaves the data as it was.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    struct stat now {};
    const bool unchanged =
        Retrying([&] { return ::read(fd_.get(), &beyond, 1); }) == 0 &&
        LeaseHeld() && ::fstat(fd_.get(), &now) == 0 &&
        now.st_size == opened_.st_size &&
        now.st_mtim.tv_sec == opened_.st_mtim.tv_sec &&
        now.st_mtim.tv_nsec == opened_.st_mtim.tv_nsec;
    ReleaseLease();
    return unchanged;
  }

 private:
  // Whether nobody has opened the file for writing since the lease was
  // taken. A broken lease is given back at once: the opener waits on it.
  bool LeaseHeld() {
    if (!leased_ || ::fcntl(fd_.get(), F_GETLEASE) == F_RDLCK) return true;
    ReleaseLease();
    return false;
  }

  void ReleaseLease() {
    if (leased_) (void)::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
    leased_ = false;
  }

  Descriptor fd_;
  struct stat opened_ {};
  bool leased_ = false;
};

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

PublishResult FailedPublish() {
  return errno == EEXIST ? PublishResult::kNameRefused : PublishResult::kFailed;
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
  if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK &&
      errno != ENOSYS) {
    return FailedPublish();
  }
  if (Retrying([&] {
        return ::renameat2(directory, temporary, directory, name,
                           RENAME_NOREPLACE);
      }) == 0) {
    return PublishResult::kPublished;
  }
  if (errno != EINVAL && errno != ENOSYS) return FailedPublish();
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
  return Retrying([&] { return ::fsync(readable.get()); }) == 0 ||
         errno == EINVAL;
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

  // Opens the output's directory (O_PATH: one this process may write but
  // not read still takes the output) and starts the file in it. Allocates
  // nothing once a file exists, so running out of memory cannot strand one.
  bool Create(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                               : path.substr(0, slash);
    name_ = path.substr(slash + 1);
    directory_.Reset(Retrying([&] {
      return ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }));
    // An empty name (a path ending in a slash) names no file.
    if (name_.empty() || !directory_.valid() || Exists()) return false;
    fd_.Reset(Retrying([this] {
      return ::openat(directory_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC,
                      0600);
    }));
    if (fd_.valid() && CanLinkUnnamed(fd_.get(), directory_.get())) {
      return true;
    }
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
    written_ += static_cast<off_t>(size);
    StartWriteback();
    return true;
  }

  // The data reaches the disk before the name appears, and the name right
  // after: a crash leaves no output or a complete one, never a partial one.
  PublishResult Publish() override {
    if (Retrying([this] { return ::fdatasync(fd_.get()); }) != 0) {
      Discard();
      return PublishResult::kFailed;
    }
    const PublishResult result = hidden_ ? PublishNamed() : PublishUnnamed();
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
  void StartWriteback() {
    if (written_ - started_ < kWritebackStep) return;
    (void)::sync_file_range(fd_.get(), started_, written_ - started_,
                            SYNC_FILE_RANGE_WRITE);
    started_ = written_;
  }

  PublishResult PublishUnnamed() {
    if (!LinkUnnamed(fd_.get(), directory_.get(), name_.c_str())) {
      return FailedPublish();
    }
    return fd_.Close() ? PublishResult::kPublished : Unpublish();
  }

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
