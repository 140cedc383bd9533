// The file layer on POSIX systems, with Linux's O_TMPFILE where it exists.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "tool/file_io.h"

namespace tarnwick {
namespace {

class Descriptor {
 public:
  Descriptor() = default;
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
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_ = -1;
};

bool SameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Where the file system has no such lock (NFS refuses an exclusive lock on
// a read-only descriptor with EBADF), the file is read unlocked; only a
// lock held by another opener refuses it.
bool LockedOrUnlockable(int fd) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  return errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP ||
         errno == EINVAL;
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
    fd_.Reset(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return fd_.valid() && ::fstat(fd_.get(), &opened_) == 0 &&
           S_ISREG(opened_.st_mode) && LockedOrUnlockable(fd_.get()) &&
           ClearNonBlocking(fd_.get());
  }

  std::optional<std::uint64_t> Size() override {
    if (opened_.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(opened_.st_size);
  }

  std::optional<std::size_t> Read(std::uint8_t* buffer,
                                  std::size_t size) override {
    std::size_t total = 0;
    while (total < size) {
      const ssize_t got = ::read(fd_.get(), buffer + total, size - total);
      if (got == 0) break;
      if (got == -1) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      total += static_cast<std::size_t>(got);
    }
    return total;
  }

  // Writers in place need not lock, so the lock alone does not rule out a
  // change; the times do, to the file system's clock resolution.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    struct stat now {};
    return Read(&beyond, 1) == 0u && ::fstat(fd_.get(), &now) == 0 &&
           now.st_size == opened_.st_size &&
           SameTime(now.st_mtim, opened_.st_mtim) &&
           SameTime(now.st_ctim, opened_.st_ctim);
  }

 private:
  Descriptor fd_;
  struct stat opened_ {};
};

// An empty name can name no new file; refused before anything is written
// for it. A name ending in a slash needs no test of its own: it names an
// existing directory, or one that is not there to hold a file.
bool NamesAFile(const char* path) { return path[0] != '\0'; }

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool Exists(const char* path) {
  struct stat status {};
  return ::lstat(path, &status) == 0 || errno != ENOENT;
}

// Opens an unnamed file in `directory`: it vanishes with the process unless
// linked, so a killed run leaves nothing behind. Not every file system has
// one; -1 then.
int OpenUnnamed(const std::string& directory) {
#ifdef O_TMPFILE
  return ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
#else
  (void)directory;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

bool UnnamedUnsupported(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

// Gives `fd`'s unnamed file the name `path`; fails with EEXIST if taken.
// The descriptor itself first: a path through /proc could be steered to
// another file where /proc is not what it seems.
bool LinkUnnamed(int fd, const char* path) {
#ifdef AT_EMPTY_PATH
  if (::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0) return true;
  // Kernels before 6.10 refuse it to the unprivileged, with ENOENT.
  if (errno != ENOENT && errno != EPERM && errno != EINVAL) return false;
#endif
  char self[32];
  (void)std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0;
}

// Gives the named temporary `temporary` the name `path` without replacing
// anything there: a hard link where the file system has them, otherwise a
// rename that refuses an existing target.
bool LinkNamed(const char* temporary, const char* path) {
  if (::link(temporary, path) == 0) return true;
#ifdef RENAME_NOREPLACE
  if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
    return ::renameat2(AT_FDCWD, temporary, AT_FDCWD, path,
                       RENAME_NOREPLACE) == 0;
  }
#endif
  return false;
}

// The signals that end a run and can be caught; their handler removes the
// hidden temporary first.
constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

sigset_t EndingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kEndingSignals) sigaddset(&set, signal);
  return set;
}

// A hidden temporary's name, kept in static storage so that a signal
// handler or an out-of-memory exit can remove the file without allocating
// or locking. The name stays put until its slot is free again.
class HiddenTemporary {
 public:
  // Creates a hidden file in `directory` and opens it for writing into
  // `fd`; nullptr when it cannot be created.
  static HiddenTemporary* Create(const std::string& directory,
                                 Descriptor& fd) {
    static constexpr char kName[] = "/.Tarnwick-XXXXXX";
    if (directory.size() + sizeof kName > sizeof HiddenTemporary::name_) {
      return nullptr;
    }
    HiddenTemporary* slot = ClaimSlot();
    if (slot == nullptr) return nullptr;
    std::memcpy(slot->name_, directory.data(), directory.size());
    std::memcpy(slot->name_ + directory.size(), kName, sizeof kName);
    // No ending signal may fall between the file's creation and its slot
    // saying so.
    const sigset_t ending = EndingSignals();
    sigset_t previous;
    (void)::pthread_sigmask(SIG_BLOCK, &ending, &previous);
    fd.Reset(::mkostemp(slot->name_, O_CLOEXEC));
    slot->state_ = fd.valid() ? kExists : kFree;
    (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return fd.valid() ? slot : nullptr;
  }

  const char* name() const { return name_; }

  // Removes the file and frees the slot, unless a signal handler has taken
  // it; removing first leaves no moment when the file exists unrecorded.
  void Remove() {
    ::unlink(name_);
    int exists = kExists;
    state_.compare_exchange_strong(exists, kFree);
  }

  // The slots stay taken: the process is ending.
  static void RemoveAll() noexcept {
    for (HiddenTemporary& slot : slots_) {
      int exists = kExists;
      if (slot.state_.compare_exchange_strong(exists, kRemoving)) {
        ::unlink(slot.name_);
      }
    }
  }

 private:
  enum State : int { kFree, kNaming, kExists, kRemoving };

  static HiddenTemporary* ClaimSlot() {
    for (HiddenTemporary& slot : slots_) {
      int free = kFree;
      if (slot.state_.compare_exchange_strong(free, kNaming)) return &slot;
    }
    errno = EMFILE;
    return nullptr;
  }

  static_assert(std::atomic<int>::is_always_lock_free);
  std::atomic<int> state_{kFree};
  char name_[PATH_MAX] = {};

  // More than a run ever holds at once.
  static HiddenTemporary slots_[4];
};

HiddenTemporary HiddenTemporary::slots_[4];

PublishResult FailedPublish() {
  return errno == EEXIST ? PublishResult::kNameTaken : PublishResult::kFailed;
}

// Makes a new entry in `directory` survive a crash. A directory this process
// may write but not read cannot be opened to sync, and some file systems
// cannot sync one (EINVAL): the entry's fate then rests with the file system.
bool SyncDirectory(const std::string& directory) {
  Descriptor fd;
  fd.Reset(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd.valid()) return errno == EACCES;
  return ::fsync(fd.get()) == 0 || errno == EINVAL;
}

// Written bytes handed to the disk at a time while the run goes on, so the
// sync before publishing waits only for the tail.
constexpr off_t kWritebackStep = off_t{256} * 1024;

// Bytes go to a temporary in the output's directory, unnamed where possible,
// otherwise hidden; only Publish gives them the output's name.
class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(std::string path) : path_(std::move(path)) {}

  ~PosixOutputFile() override { Discard(); }

  PosixOutputFile(const PosixOutputFile&) = delete;
  PosixOutputFile& operator=(const PosixOutputFile&) = delete;

  // Allocates nothing once a file exists, so running out of memory cannot
  // strand one.
  bool Create(const std::string& directory) {
    directory_ = directory;
    fd_.Reset(OpenUnnamed(directory));
    if (fd_.valid()) return true;
    if (!UnnamedUnsupported(errno)) return false;
    temporary_ = HiddenTemporary::Create(directory, fd_);
    return temporary_ != nullptr;
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = ::write(fd_.get(), data, size);
      if (written == -1) {
        if (errno == EINTR) continue;
        return false;
      }
      data += written;
      size -= static_cast<std::size_t>(written);
      written_ += written;
    }
    StartWriteback();
    return true;
  }

  // The data reaches the disk before the name appears, and the name right
  // after: a crash leaves no output or a complete one, never a partial one.
  PublishResult Publish() override {
    if (::fdatasync(fd_.get()) != 0) {
      Discard();
      return PublishResult::kFailed;
    }
    const PublishResult result =
        temporary_ == nullptr ? PublishUnnamed() : PublishNamed();
    if (result == PublishResult::kPublished && !SyncDirectory(directory_)) {
      return Unpublish();
    }
    return result;
  }

 private:
  // Advisory: a failed writeback shows again in the sync before publishing.
  void StartWriteback() {
#ifdef SYNC_FILE_RANGE_WRITE
    if (written_ - started_ < kWritebackStep) return;
    (void)::sync_file_range(fd_.get(), started_, written_ - started_,
                            SYNC_FILE_RANGE_WRITE);
    started_ = written_;
#endif
  }

  PublishResult PublishUnnamed() {
    if (!LinkUnnamed(fd_.get(), path_.c_str())) return FailedPublish();
    return fd_.Close() ? PublishResult::kPublished : Unpublish();
  }

  // The temporary goes whatever the outcome; after a rename it is gone
  // already.
  PublishResult PublishNamed() {
    PublishResult result = PublishResult::kFailed;
    if (fd_.Close()) {
      result = LinkNamed(temporary_->name(), path_.c_str())
                   ? PublishResult::kPublished
                   : FailedPublish();
    }
    Discard();
    return result;
  }

  PublishResult Unpublish() {
    ::unlink(path_.c_str());
    return PublishResult::kFailed;
  }

  void Discard() {
    fd_.Close();
    if (temporary_ != nullptr) temporary_->Remove();
    temporary_ = nullptr;
  }

  Descriptor fd_;
  std::string path_;
  std::string directory_;  // kept from Create: Publish allocates nothing
  HiddenTemporary* temporary_ = nullptr;  // null for an unnamed file
  off_t written_ = 0;
  off_t started_ = 0;  // written bytes whose writeback has been started
};

// Removes the hidden temporary, then ends the process as the signal would
// have.
void RemoveTemporariesAndEnd(int signal) {
  HiddenTemporary::RemoveAll();
  (void)std::signal(signal, SIG_DFL);
  (void)std::raise(signal);
}

// A signal the caller ignores or handles itself keeps its disposition (a
// run under nohup is not ended by SIGHUP at all).
void HandleEndingSignals() {
  struct sigaction handler {};
  handler.sa_handler = RemoveTemporariesAndEnd;
  handler.sa_mask = EndingSignals();
  for (const int signal : kEndingSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler == SIG_DFL) {
      (void)::sigaction(signal, &handler, nullptr);
    }
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenInput(const char* path) override {
    auto input = std::make_unique<PosixInputFile>();
    if (!input->Open(path)) return nullptr;
    return input;
  }

  std::unique_ptr<OutputFile> CreateOutput(const char* path) override {
    if (!NamesAFile(path) || Exists(path)) return nullptr;
    auto output = std::make_unique<PosixOutputFile>(path);
    if (!output->Create(DirectoryOf(path))) return nullptr;
    return output;
  }
};

}  // namespace

FileSystem& PlatformFileSystem() {
  static PosixFileSystem files = [] {
    // A file-size limit then fails the write with EFBIG, which is reported,
    // instead of killing the process.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    HandleEndingSignals();
    return PosixFileSystem{};
  }();
  return files;
}

void RemoveUnpublishedOutputs() noexcept { HiddenTemporary::RemoveAll(); }

}  // namespace tarnwick
