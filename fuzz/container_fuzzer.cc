// Any bytes as an encrypted file: decrypting never crashes, and creates its
// output only when it succeeds.
// Input: byte 0 is the password's length (% 64), the password, the file.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tool/commands.h"

namespace {

namespace fs = std::filesystem;
std::string folder, in, out;  // a scratch folder of the run's own

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const auto scratch = fs::temp_directory_path() / "fuzz.XXXXXX";
  folder = mkdtemp(std::string(scratch).data());
  (void)std::atexit([] {
    std::error_code ignored;  // nothing to report to at exit
    fs::remove_all(folder, ignored);
  });
  in = folder + "/in", out = folder + "/out";
  return std::freopen("/dev/null", "w", stdout) == nullptr;  // the messages
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  if (size == 0) return 0;
  const std::size_t length = std::min<std::size_t>(data[0] % 64, size - 1);
  const std::string password(data + 1, data + 1 + length);
  const std::string file(data + 1 + length, data + size);
  if (password.find('\0') != std::string::npos) return 0;
  std::ofstream(in) << file;
  const int status =
      tarnwick::DecodeFile(password.c_str(), in.c_str(), out.c_str());
  if ((status == 0) != fs::exists(out)) std::abort();
  (void)std::remove(in.c_str());
  (void)std::remove(out.c_str());
  return 0;
}
