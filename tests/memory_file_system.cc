#include "tests/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tarnwick::testing {
namespace {

bool Reaches(const std::optional<std::uint64_t>& offset, std::uint64_t from,
             std::size_t size) {
  return offset && *offset < from + size;
}

class MemoryInputFile final : public InputFile {
 public:
  MemoryInputFile(Bytes contents, const Faults& faults)
      : contents_(std::move(contents)), faults_(faults) {}

  std::optional<std::uint64_t> Size() override {
    if (faults_.size_unknown) return std::nullopt;
    return faults_.reported_size.value_or(contents_.size());
  }

  std::optional<std::size_t> Read(std::uint8_t* buffer,
                                  std::size_t size) override {
    if (Reaches(faults_.read_error_at, position_, size)) return std::nullopt;
    const std::uint64_t end =
        std::min<std::uint64_t>(contents_.size(),
                                faults_.input_ends_at.value_or(contents_.size()));
    const std::size_t got = std::min<std::uint64_t>(size, end - std::min(end, position_));
    if (got != 0) std::memcpy(buffer, contents_.data() + position_, got);
    position_ += got;
    return got;
  }

 private:
  Bytes contents_;
  const Faults& faults_;
  std::uint64_t position_ = 0;
};

class MemoryOutputFile final : public OutputFile {
 public:
  MemoryOutputFile(MemoryFileSystem& files, std::string path)
      : files_(files), path_(std::move(path)) {
    ++files_.unpublished_outputs;
  }
  ~MemoryOutputFile() override {
    if (!published_) --files_.unpublished_outputs;
  }
  MemoryOutputFile(const MemoryOutputFile&) = delete;
  MemoryOutputFile& operator=(const MemoryOutputFile&) = delete;

  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (Reaches(files_.faults.write_error_at, contents_.size(), size)) {
      return false;
    }
    contents_.insert(contents_.end(), data, data + size);
    return true;
  }

  PublishResult Publish() override {
    if (files_.faults.publish_fails) return *files_.faults.publish_fails;
    if (files_.files.contains(path_)) return PublishResult::kNameTaken;
    files_.files[path_] = std::move(contents_);
    published_ = true;
    --files_.unpublished_outputs;
    return PublishResult::kPublished;
  }

 private:
  MemoryFileSystem& files_;
  std::string path_;
  Bytes contents_;
  bool published_ = false;
};

}  // namespace

std::unique_ptr<InputFile> MemoryFileSystem::OpenInput(const char* path) {
  const auto file = files.find(path);
  if (file == files.end()) return nullptr;
  return std::make_unique<MemoryInputFile>(file->second, faults);
}

std::unique_ptr<OutputFile> MemoryFileSystem::CreateOutput(const char* path) {
  if (files.contains(path)) return nullptr;
  return std::make_unique<MemoryOutputFile>(*this, path);
}

}  // namespace tarnwick::testing
