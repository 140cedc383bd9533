#ifndef TARNWICK_TESTS_SCRATCH_DIR_H_
#define TARNWICK_TESTS_SCRATCH_DIR_H_

#include <filesystem>
#include <set>
#include <string>

#include "tests/test_util.h"

namespace tarnwick::testing {

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path(const std::string& name) const;
  // Every name in the directory, hidden ones included.
  std::set<std::string> Entries() const;

 private:
  std::filesystem::path root_;
};

void WriteFile(const std::string& path, const Bytes& contents);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);  // a dangling link exists too

}  // namespace tarnwick::testing

#endif  // TARNWICK_TESTS_SCRATCH_DIR_H_
