#ifndef TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
#define TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "tests/test_util.h"
#include "tool/file_io.h"

namespace tarnwick::testing {

// Faults to put behind the file layer; offsets count bytes from the start
// of the file concerned.
struct Faults {
  std::optional<std::uint64_t> reported_size;   // Size() claims this
  bool size_unknown = false;                    // Size() fails
  std::optional<std::uint64_t> input_ends_at;   // the file shrank to this
  std::optional<std::uint64_t> read_error_at;   // a read reaching it fails
  std::optional<std::uint64_t> write_error_at;  // a write reaching it fails
  std::optional<PublishResult> publish_fails;   // Publish returns this
};

// Files held in memory, with faults on demand. Tracks outputs that are
// still unpublished, so a test can prove that none is left behind.
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, Bytes> files;
  Faults faults;
  int unpublished_outputs = 0;

  std::unique_ptr<InputFile> OpenInput(const char* path) override;
  std::unique_ptr<OutputFile> CreateOutput(const char* path) override;
};

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
