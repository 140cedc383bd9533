#include "tests/scratch_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tarnwick::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  std::random_device entropy;
  for (int attempt = 0; attempt < 100; ++attempt) {
    root_ = fs::temp_directory_path() / ("tarnwick-test-" + std::to_string(entropy()));
    if (fs::create_directory(root_)) return;
  }
  throw std::runtime_error("no scratch directory");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ScratchDir::Path(const std::string& name) const {
  return (root_ / name).string();
}

std::set<std::string> ScratchDir::Entries() const {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

void WriteFile(const std::string& path, const Bytes& contents) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(contents.data()),
            static_cast<std::streamsize>(contents.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  Bytes bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  return bytes;
}

bool Exists(const std::string& path) {
  return fs::exists(fs::symlink_status(path));
}

}  // namespace tarnwick::testing
