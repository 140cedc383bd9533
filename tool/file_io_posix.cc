// The file layer on POSIX systems, with Linux's O_TMPFILE where it exists.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "tool/file_io.h"

namespace tarnwick {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int get() const { return fd_; }

  // Closing is where some file systems report a failed write.
  bool Close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}

  std::optional<std::uint64_t> Size() override {
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0 || status.st_size < 0) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
  }

  std::optional<std::size_t> Read(std::uint8_t* buffer,
                                  std::size_t size) override {
    std::size_t total = 0;
    while (total < size) {
      const ssize_t got = ::read(fd_.get(), buffer + total, size - total);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        return std::nullopt;
      }
      total += static_cast<std::size_t>(got);
    }
    return total;
  }

 private:
  Descriptor fd_;
};

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
bool LinkUnnamed(int fd, const char* path) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) {
    return true;
  }
#ifdef AT_EMPTY_PATH
  // Without /proc mounted; needs privileges on older kernels.
  if (errno == ENOENT) return ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH) == 0;
#endif
  return false;
}

// Gives the named temporary `temporary` the name `path` without replacing
// anything there: a hard link where the file system has them, otherwise a
// rename that refuses an existing target.
bool LinkNamed(const std::string& temporary, const char* path) {
  if (::link(temporary.c_str(), path) == 0) return true;
#ifdef RENAME_NOREPLACE
  if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
    return ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path,
                       RENAME_NOREPLACE) == 0;
  }
#endif
  return false;
}

PublishResult FailedPublish() {
  return errno == EEXIST ? PublishResult::kNameTaken : PublishResult::kFailed;
}

// Bytes go to a temporary in the output's directory, unnamed where possible,
// otherwise hidden; only Publish gives them the output's name.
class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string path, std::string temporary)
      : fd_(fd), path_(std::move(path)), temporary_(std::move(temporary)) {}

  ~PosixOutputFile() override {
    fd_.Close();
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
  }

  PosixOutputFile(const PosixOutputFile&) = delete;
  PosixOutputFile& operator=(const PosixOutputFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t written = ::write(fd_.get(), data, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }

  PublishResult Publish() override {
    return temporary_.empty() ? PublishUnnamed() : PublishNamed();
  }

 private:
  PublishResult PublishUnnamed() {
    if (!LinkUnnamed(fd_.get(), path_.c_str())) return FailedPublish();
    if (!fd_.Close()) {
      ::unlink(path_.c_str());
      return PublishResult::kFailed;
    }
    return PublishResult::kPublished;
  }

  // The temporary goes whatever the outcome; after a rename it is gone
  // already.
  PublishResult PublishNamed() {
    PublishResult result = PublishResult::kFailed;
    if (fd_.Close()) {
      result = LinkNamed(temporary_, path_.c_str()) ? PublishResult::kPublished
                                                    : FailedPublish();
    }
    ::unlink(temporary_.c_str());
    temporary_.clear();
    return result;
  }

  Descriptor fd_;
  std::string path_;
  std::string temporary_;  // empty for an unnamed file
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenInput(const char* path) override {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto input = std::make_unique<PosixInputFile>(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    // Advisory, so it keeps out only openers that lock too, as this tool does.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return nullptr;
    if (::fcntl(fd, F_SETFL, O_RDONLY) != 0) return nullptr;
    return input;
  }

  std::unique_ptr<OutputFile> CreateOutput(const char* path) override {
    if (Exists(path)) return nullptr;
    const std::string directory = DirectoryOf(path);
    const int unnamed = OpenUnnamed(directory);
    if (unnamed >= 0) return std::make_unique<PosixOutputFile>(unnamed, path, "");
    if (!UnnamedUnsupported(errno)) return nullptr;
    std::string temporary = directory + "/.Tarnwick-XXXXXX";
    const int named = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (named < 0) return nullptr;
    return std::make_unique<PosixOutputFile>(named, path, std::move(temporary));
  }
};

}  // namespace

FileSystem& PlatformFileSystem() {
  static PosixFileSystem files = [] {
    // A file-size limit then fails the write with EFBIG, which is reported,
    // instead of killing the process.
    (void)std::signal(SIGXFSZ, SIG_IGN);
    return PosixFileSystem{};
  }();
  return files;
}

}  // namespace tarnwick
