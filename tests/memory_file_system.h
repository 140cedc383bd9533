#ifndef TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
#define TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tests/test_util.h"
#include "tool/file_io.h"

namespace tarnwick::testing {

// Files held in memory, with faults put behind the file layer by name:
//   size=N|unknown  what the input's Size() reports
//   ends=N          the input delivers only its first N bytes
//   read-error=N    a read reaching input offset N fails
//   write-error=N   a write reaching output offset N fails
//   publish=taken|failed  what Publish() returns
// It counts outputs still unpublished, so a test can prove none is left.
struct MemoryFileSystem final : FileSystem {
  std::map<std::string, Bytes> files;
  std::map<std::string, std::string> faults;
  int unpublished_outputs = 0;

  // A fault's offset; one that no offset reaches when absent or unknown.
  std::uint64_t Offset(const std::string& fault) const {
    const auto found = faults.find(fault);
    return found == faults.end() || found->second == "unknown" ? UINT64_MAX : std::stoull(found->second);
  }
  std::unique_ptr<InputFile> OpenInput(const char* path) override;
  std::unique_ptr<OutputFile> CreateOutput(const char* path) override;
};

struct MemoryInputFile final : InputFile {
  MemoryInputFile(const MemoryFileSystem& files, const Bytes& bytes) : files(files), size(bytes.size()) {
    contents.assign(bytes.begin(), bytes.begin() + std::min<std::uint64_t>(size, files.Offset("ends")));
  }
  std::optional<std::uint64_t> Size() override {
    const std::uint64_t stated = files.faults.contains("size") ? files.Offset("size") : size;
    return stated == UINT64_MAX ? std::nullopt : std::optional(stated);
  }
  std::optional<std::size_t> Read(std::uint8_t* buffer, std::size_t wanted) override {
    if (files.Offset("read-error") < read + wanted) return std::nullopt;
    const std::size_t got = std::min(wanted, contents.size() - read);
    std::copy_n(contents.begin() + static_cast<std::ptrdiff_t>(read), got, buffer);
    read += got;
    return got;
  }
  // A file that delivers more than its size grew or changed as it was read.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    return Read(&beyond, 1) == 0u;
  }

  const MemoryFileSystem& files;
  Bytes contents;  // what reads deliver: less than the size if the file shrank
  std::uint64_t size;
  std::size_t read = 0;
};

struct MemoryOutputFile final : OutputFile {
  MemoryOutputFile(MemoryFileSystem& files, const char* path) : files(files), path(path) { ++files.unpublished_outputs; }
  ~MemoryOutputFile() override { files.unpublished_outputs -= path.empty() ? 0 : 1; }
  MemoryOutputFile(const MemoryOutputFile&) = delete;
  MemoryOutputFile& operator=(const MemoryOutputFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (files.Offset("write-error") < contents.size() + size) return false;
    contents.insert(contents.end(), data, data + size);
    return true;
  }
  PublishResult Publish() override {
    const std::string fault = files.faults.contains("publish") ? files.faults["publish"] : "";
    if (fault == "failed") return PublishResult::kFailed;
    if (fault == "taken" || !files.files.emplace(path, contents).second) return PublishResult::kNameTaken;
    path.clear();  // published
    --files.unpublished_outputs;
    return PublishResult::kPublished;
  }

  MemoryFileSystem& files;
  std::string path;
  Bytes contents;
};

inline std::unique_ptr<InputFile> MemoryFileSystem::OpenInput(const char* path) {
  const auto file = files.find(path);
  return file == files.end() ? nullptr : std::make_unique<MemoryInputFile>(*this, file->second);
}

inline std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const char* path) {
  return files.contains(path) ? nullptr : std::make_unique<MemoryOutputFile>(*this, path);
}

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
