#ifndef TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
#define TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_

#include <cstdint>
#include <limits>
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
class MemoryFileSystem final : public FileSystem {
 public:
  std::map<std::string, Bytes> files;
  std::map<std::string, std::string> faults;
  int unpublished_outputs = 0;

  // A fault's offset; kNever, which no offset reaches, when absent or unknown.
  static constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t Offset(const std::string& fault) const;
  std::unique_ptr<InputFile> OpenInput(const char* path) override;
  std::unique_ptr<OutputFile> CreateOutput(const char* path) override;
};

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_MEMORY_FILE_SYSTEM_H_
