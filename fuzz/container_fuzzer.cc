// Any bytes as an encrypted file: decrypting never crashes, never leaves
// output behind for an invalid file, and a file it accepts holds exactly the
// data that encrypting the output again frames the same way.
//
// Input: byte 0 is the password's length (byte % 64); the password follows,
// then the file.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/memory_file_system.h"
#include "tool/commands.h"
#include "tool/container.h"

namespace {

using tarnwick::testing::Bytes;
using tarnwick::testing::MemoryFileSystem;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Encrypting `data` again must reproduce every block of `file` that holds no
// padding: the same key, the same length field, the same data.
void RequireSameFraming(const std::string& password, const Bytes& file,
                        const Bytes& data) {
  MemoryFileSystem files;
  files.files["in"] = data;
  Require(tarnwick::EncodeFile(password.c_str(), "in", "out", files) == 0);
  const Bytes& again = files.files["out"];
  Require(again.size() == file.size());
  const std::size_t unpadded =
      tarnwick::kMarkerSize + (tarnwick::kLengthFieldSize + data.size()) / 8 * 8;
  Require(std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(unpadded),
                     again.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The commands print their messages; millions of them would only slow the run.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t password_length = std::min<std::size_t>(data[0] % 64, size - 1);
  const std::string password(data + 1, data + 1 + password_length);
  const Bytes file(data + 1 + password_length, data + size);
  if (password.find('\0') != std::string::npos) return 0;

  MemoryFileSystem files;
  files.files["in"] = file;
  const int status = tarnwick::DecodeFile(password.c_str(), "in", "out", files);
  Require(files.unpublished_outputs == 0);
  if (status != 0) {
    Require(status == 1 && !files.files.contains("out"));
    return 0;
  }
  RequireSameFraming(password, file, files.files["out"]);
  return 0;
}
