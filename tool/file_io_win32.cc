// The file layer on Windows, through KERNEL32's ANSI calls: paths are the
// command line's byte strings in the process's code page, passed unchanged.
// Handles do no text conversion, so file data stays byte for byte.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "tool/file_io.h"

namespace tarnwick {
namespace {

// ReadFile and WriteFile count in DWORDs; larger requests go in pieces.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// Moves `size` bytes by steps: `step(done, wanted, &moved)` moves up to
// `wanted` bytes of what is left after `done`, FALSE on an error; moving
// none is the end of a file.
template <typename Step>
bool TransferAll(std::size_t size, Step step) {
  for (std::size_t done = 0; done < size;) {
    const auto wanted = static_cast<DWORD>(std::min(size - done, kMaxTransfer));
    DWORD moved = 0;
    if (step(done, wanted, &moved) == FALSE || moved == 0) return false;
    done += moved;
  }
  return true;
}

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }

  // Closing is where a network share may report a failed write.
  bool Close() {
    if (!valid()) return true;
    const BOOL closed = ::CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

class Win32InputFile final : public InputFile {
 public:
  explicit Win32InputFile(HANDLE handle) : handle_(handle) {}

  std::optional<std::uint64_t> Size() override {
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(handle_.get(), &size) == 0 || size.QuadPart < 0) {
      return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
  }

  bool Read(std::uint8_t* buffer, std::size_t size) override {
    return TransferAll(size, [&](std::size_t done, DWORD wanted, DWORD* got) {
      return ::ReadFile(handle_.get(), buffer + done, wanted, got, nullptr);
    });
  }

  // Nobody else can write to the unshared file while it is open; only a
  // size the file does not keep to shows here.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    DWORD got = 1;
    return ::ReadFile(handle_.get(), &beyond, 1, &got, nullptr) != 0 &&
           got == 0;
  }

 private:
  Handle handle_;
};

// An empty name, or one ending in a separator, can name no new file.
bool NamesAFile(const char* path) {
  const std::size_t length = std::strlen(path);
  return length != 0 && path[length - 1] != '\\' && path[length - 1] != '/';
}

// Everything of `path` up to its file name: the directory with its trailing
// separator, a bare drive ("C:"), or nothing for the current directory.
std::string DirectoryPrefixOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos) return path.substr(0, separator + 1);
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return "";
}

// Anything but a plain "not found" counts as taken: a link, dangling or not,
// answers for itself, and a name that cannot be looked at is not claimed.
bool Exists(const char* path) {
  return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES ||
         ::GetLastError() != ERROR_FILE_NOT_FOUND;
}

bool NameTaken(DWORD error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Whether the file of `handle` goes when its last handle closes, which the
// system does as the process ends, however it ends.
bool SetDeleteOnClose(HANDLE handle, bool deleted) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = deleted ? TRUE : FALSE;
  return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// Creates a hidden temporary beside the output, under a name that no other
// run (nor an earlier attempt of this one) holds. It is deleted when its
// handle closes, so a killed run leaves nothing behind, until publishing
// keeps it.
std::pair<HANDLE, std::string> CreateDeleteOnCloseTemporary(
    const std::string& prefix) {
  const DWORD process = ::GetCurrentProcessId();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    char name[64];
    (void)std::snprintf(name, sizeof name, ".Tarnwick-%lx-%llx-%u.tmp",
                        static_cast<unsigned long>(process),
                        static_cast<unsigned long long>(::GetTickCount64()),
                        attempt);
    std::string temporary = prefix + name;
    const HANDLE handle = ::CreateFileA(
        temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      if (SetDeleteOnClose(handle, true)) return {handle, std::move(temporary)};
      ::CloseHandle(handle);
      ::DeleteFileA(temporary.c_str());
      break;
    }
    if (!NameTaken(::GetLastError())) break;
  }
  return {INVALID_HANDLE_VALUE, ""};
}

// Bytes go to the hidden temporary; only Publish gives them the output's
// name.
class Win32OutputFile final : public OutputFile {
 public:
  Win32OutputFile(HANDLE handle, std::string path, std::string temporary)
      : handle_(handle),
        path_(std::move(path)),
        temporary_(std::move(temporary)) {}

  ~Win32OutputFile() override { Discard(); }

  Win32OutputFile(const Win32OutputFile&) = delete;
  Win32OutputFile& operator=(const Win32OutputFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    return TransferAll(size, [&](std::size_t done, DWORD wanted,
                                 DWORD* written) {
      return ::WriteFile(handle_.get(), data + done, wanted, written, nullptr);
    });
  }

  PublishResult Publish() override {
    const PublishResult result = MoveIntoPlace();
    if (result == PublishResult::kPublished) {
      temporary_.clear();
    } else {
      Discard();
    }
    return result;
  }

 private:
  Handle handle_;
  std::string path_;
  std::string temporary_;  // empty once published or discarded

  PublishResult MoveIntoPlace() {
    // The data reaches the disk before the name appears (the move itself
    // is written through). The move needs the handle closed (nothing was
    // shared with it), and the file kept when it closes.
    if (::FlushFileBuffers(handle_.get()) == 0 ||
        !SetDeleteOnClose(handle_.get(), false) || !handle_.Close()) {
      return PublishResult::kFailed;
    }
    if (::SetFileAttributesA(temporary_.c_str(), FILE_ATTRIBUTE_NORMAL) == 0) {
      return PublishResult::kFailed;
    }
    // Without MOVEFILE_REPLACE_EXISTING the move refuses a taken name.
    if (::MoveFileExA(temporary_.c_str(), path_.c_str(),
                      MOVEFILE_WRITE_THROUGH) == 0) {
      return NameTaken(::GetLastError()) ? PublishResult::kNameRefused
                                         : PublishResult::kFailed;
    }
    return PublishResult::kPublished;
  }

  void Discard() {
    handle_.Close();
    if (!temporary_.empty()) ::DeleteFileA(temporary_.c_str());
    temporary_.clear();
  }
};

}  // namespace

std::unique_ptr<InputFile> OpenInput(const char* path) {
  // No sharing: the open fails while anyone else has the file open, and
  // keeps everyone else out until closed. Directories need backup
  // semantics to open, so they fail here.
  const HANDLE handle =
      ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  auto input = std::make_unique<Win32InputFile>(handle);
  // Consoles, pipes and other devices have no size to read up to.
  if (::GetFileType(handle) != FILE_TYPE_DISK) return nullptr;
  return input;
}

std::unique_ptr<OutputFile> CreateOutput(const char* path) {
  if (!NamesAFile(path) || Exists(path)) return nullptr;
  auto [handle, temporary] =
      CreateDeleteOnCloseTemporary(DirectoryPrefixOf(path));
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32OutputFile>(handle, path, std::move(temporary));
}

}  // namespace tarnwick
