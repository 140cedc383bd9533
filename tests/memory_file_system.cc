#include "tests/memory_file_system.h"

#include <algorithm>

namespace tarnwick::testing {
namespace {

class MemoryInputFile final : public InputFile {
 public:
  MemoryInputFile(const Bytes& contents, const MemoryFileSystem& files) : size_(contents.size()), files_(files) {
    contents_.assign(contents.begin(), contents.begin() + std::min<std::uint64_t>(size_, files.Offset("ends")));
  }

  std::optional<std::uint64_t> Size() override {
    const std::uint64_t size = files_.faults.contains("size") ? files_.Offset("size") : size_;
    return size == MemoryFileSystem::kNever ? std::nullopt : std::optional(size);
  }

  std::optional<std::size_t> Read(std::uint8_t* buffer, std::size_t size) override {
    if (files_.Offset("read-error") < read_ + size) return std::nullopt;
    const std::size_t got = std::min(size, contents_.size() - read_);
    std::copy_n(contents_.begin() + static_cast<std::ptrdiff_t>(read_), got, buffer);
    read_ += got;
    return got;
  }

  // A file that delivers more than its size grew or changed as it was read.
  bool ConfirmUnchanged() override {
    std::uint8_t beyond = 0;
    return Read(&beyond, 1) == 0u;
  }

 private:
  Bytes contents_;  // what reads deliver: less than the size if the file shrank
  std::uint64_t size_;
  const MemoryFileSystem& files_;
  std::size_t read_ = 0;
};

class MemoryOutputFile final : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {
    ++files_.unpublished_outputs;
  }
  ~MemoryOutputFile() override { files_.unpublished_outputs -= path_.empty() ? 0 : 1; }
  MemoryOutputFile(const MemoryOutputFile&) = delete;
  MemoryOutputFile& operator=(const MemoryOutputFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (files_.Offset("write-error") < contents_.size() + size) return false;
    contents_.insert(contents_.end(), data, data + size);
    return true;
  }

  PublishResult Publish() override {
    const std::string fault = files_.faults.contains("publish") ? files_.faults["publish"] : "";
    if (fault == "failed") return PublishResult::kFailed;
    if (fault == "taken" || !files_.files.emplace(path_, contents_).second) return PublishResult::kNameTaken;
    path_.clear();  // published
    --files_.unpublished_outputs;
    return PublishResult::kPublished;
  }

 private:
  MemoryFileSystem& files_;
  std::string path_;
  Bytes contents_;
};

}  // namespace

std::uint64_t MemoryFileSystem::Offset(const std::string& fault) const {
  const auto found = faults.find(fault);
  return found == faults.end() || found->second == "unknown" ? kNever : std::stoull(found->second);
}

std::unique_ptr<InputFile> MemoryFileSystem::OpenInput(const char* path) {
  const auto file = files.find(path);
  return file == files.end() ? nullptr : std::make_unique<MemoryInputFile>(file->second, *this);
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const char* path) {
  return files.contains(path) ? nullptr : std::make_unique<MemoryOutputFile>(*this, path);
}

}  // namespace tarnwick::testing
