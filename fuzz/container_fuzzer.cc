// Any bytes as an encrypted file: decrypting never crashes and leaves no
// output behind when it fails, and a file it accepts holds exactly the data
// that, encrypted again, gives the same blocks up to the padding.
// Input: byte 0 is the password's length (byte % 64), the password follows,
// then the file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "tests/memory_file_system.h"
#include "tool/commands.h"

using tarnwick::testing::MemoryFileSystem;

static void Require(bool condition) {
  if (!condition) std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);  // the failures' messages
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t length = std::min<std::size_t>(data[0] % 64, size - 1);
  const std::string password(data + 1, data + 1 + length);
  if (password.find('\0') != std::string::npos) return 0;
  MemoryFileSystem files;
  files.files["in"].assign(data + 1 + length, data + size);
  const int status = tarnwick::DecodeFile(password.c_str(), "in", "out", files);
  Require(files.unpublished_outputs == 0 && (status == 0) == files.files.contains("out"));
  if (status != 0) return 0;
  files.files["again"] = files.files["out"];
  Require(tarnwick::EncodeFile(password.c_str(), "again", "sealed", files) == 0);
  const auto& file = files.files["in"];
  const auto& sealed = files.files["sealed"];
  const std::size_t unpadded = 2 + (4 + files.files["out"].size()) / 8 * 8;
  Require(sealed.size() == file.size() && std::equal(file.begin(), file.begin() + unpadded, sealed.begin()));
  return 0;
}
