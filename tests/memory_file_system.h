#ifndef TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
#define TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "tests/test_util.h"
#include "tool/file_io.h"

namespace tarnwick::testing {

// Faults put behind the file layer, by name:
//   size=N|unknown  what the input's Size() reports
//   ends=N          the input delivers only its first N bytes
//   read-error=N    a read reaching input offset N fails
//   write-error=N   a write reaching output offset N fails
//   publish=taken|failed  what Publish() returns
using Faults = std::map<std::string, std::string>;

// A fault's offset; one that no offset reaches when absent or unknown.
inline std::uint64_t Offset(const Faults& faults, const std::string& fault) {
  const auto found = faults.find(fault);
  return found == faults.end() || found->second == "unknown" ? UINT64_MAX : std::stoull(found->second);
}

struct MemoryInputFile final : InputFile {
  MemoryInputFile(const Faults& faults, const Bytes& bytes) : faults(faults), size(bytes.size()), contents(bytes) {
    contents.resize(std::min(size, Offset(faults, "ends")));
  }
  std::optional<std::uint64_t> Size() override {
    const std::uint64_t stated = faults.contains("size") ? Offset(faults, "size") : size;
    return stated == UINT64_MAX ? std::nullopt : std::optional(stated);
  }
  std::optional<std::size_t> Read(std::uint8_t* buffer, std::size_t wanted) override {
    if (Offset(faults, "read-error") < read + wanted) return std::nullopt;
    const std::size_t got = std::min(wanted, contents.size() - read);
    std::copy_n(contents.begin() + static_cast<std::ptrdiff_t>(read), got, buffer);
    read += got;
    return got;
  }
  bool ConfirmUnchanged() override {  // delivering more than its size, it grew or changed
    std::uint8_t beyond = 0;
    return Read(&beyond, 1) == 0u;
  }

  const Faults& faults;
  std::uint64_t size;
  Bytes contents;  // what reads deliver: less than the size if the file shrank
  std::size_t read = 0;
};

// Files held in memory, with faults behind them. It counts outputs still
// unpublished, so a test can prove none is left.
struct MemoryFileSystem final : FileSystem {
  struct Output final : OutputFile {
    Output(MemoryFileSystem& files, const char* path) : files(files), path(path) { ++files.unpublished_outputs; }
    ~Output() override { files.unpublished_outputs -= path.empty() ? 0 : 1; }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    bool Write(const std::uint8_t* data, std::size_t size) override {
      if (Offset(files.faults, "write-error") < contents.size() + size) return false;
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

  std::unique_ptr<InputFile> OpenInput(const char* path) override {
    const auto file = files.find(path);
    return file == files.end() ? nullptr : std::make_unique<MemoryInputFile>(faults, file->second);
  }
  std::unique_ptr<OutputFile> CreateOutput(const char* path) override {
    return files.contains(path) ? nullptr : std::make_unique<Output>(*this, path);
  }

  std::map<std::string, Bytes> files;
  Faults faults;
  int unpublished_outputs = 0;
};

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
