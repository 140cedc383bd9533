// The commands in-process on files in a scratch folder, with faults steered
// through tests/interposer.cc, linked in.
#include "tool/commands.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "blowfish/blowfish.h"
#include "tests/test_util.h"
#include "tool/temporary_posix.h"

namespace tarnwick {
namespace {

using namespace testing;
namespace fs = std::filesystem;

std::set<std::string> Listing(const char* directory = ".") {
  std::set<std::string> names;
  for (const auto& file : fs::directory_iterator(directory)) {
    names.insert(file.path().filename());
  }
  return names;
}

// plain:N (N bytes), framed:N (the same framed with zero padding),
// hex:HEX (the file itself) or record:HEX: records are enciphered behind
// the marker by hand, as any writer could, under the digest of "password".
Bytes Input(const std::string& input) {
  const std::string kind = input.substr(0, input.find(':'));
  const std::string value = input.substr(input.find(':') + 1);
  if (kind == "hex") return FromHex(value);
  Bytes record = FromHex(kind == "record" ? value : "-");
  if (kind != "record") {
    Bytes data = RandomBytes(std::stoul(value), 1);
    if (kind == "plain") return data;
    for (int i = 0; i < 4; ++i) record.push_back(data.size() >> (8 * i));
    record.insert(record.end(), data.begin(), data.end());
    record.resize((record.size() + 7) / 8 * 8, 0);
  }
  const Bytes key = FromHex("5f4dcc3b5aa765d61d8327deb882cf99");
  CBlowFish cipher;
  cipher.Initialize(key.data(), 16);
  cipher.Encode(record.data(), record.data(), record.size());
  record.insert(record.begin(), {0x0D, 0x0A});
  return record;
}

// Rows of testdata/commands.txt: OP INPUT [FAULT...] => MESSAGE, or
// => INPUT for a run that succeeds with that output. A FAULT is a setting of
// the interposer, less its TARNWICK_; PASSWORD=HEX, the password, "password"
// otherwise; or UNNAMED, for a row that steers the unnamed output file,
// which only Linux's extras make. A run leaves no descriptor open and
// nothing new but its output, and prints nothing or exactly its message. On
// one thread and on three alike, each in a scratch folder of its own.
class RowTest : public ::testing::TestWithParam<std::tuple<Row, unsigned>> {
 protected:
  void SetUp() override {
    fs::current_path(fs::temp_directory_path());
    fs::current_path(mkdtemp(std::string("tarnwick.XXXXXX").data()));
  }
  void TearDown() override {
    fs::remove_all(fs::current_path());
    fs::current_path(fs::temp_directory_path());
  }
};

TEST_P(RowTest, PrintsItsMessageOrWritesItsOutput) {
  const auto& [row, threads] = GetParam();
  const auto fields = Fields(row.text.substr(0, row.text.find("=>")));
  const std::string expected = row.text.substr(row.text.find("=>") + 3);
  const bool succeeds = expected.find(':') != std::string::npos;
  if (fields[1] != "none") {
    const Bytes input = Input(fields[1]);
    std::ofstream("in") << std::string(input.begin(), input.end());
  }
  std::vector<std::string> settings;
  std::string password = "password";
  for (auto fault = fields.begin() + 2; fault != fields.end(); ++fault) {
    if (*fault == "UNNAMED") {
#ifndef TARNWICK_LINUX_EXTRAS
      GTEST_SKIP() << "every output is hidden";
#endif
    } else if (fault->starts_with("PASSWORD=")) {
      const Bytes bytes = FromHex(fault->substr(9));
      password.assign(bytes.begin(), bytes.end());
    } else {
      settings.push_back("TARNWICK_" + *fault);
    }
  }
  auto listed = Listing();
  const auto descriptors = Listing("/proc/self/fd").size();
  for (std::string& setting : settings) putenv(setting.data());
  ::testing::internal::CaptureStdout();
  const auto command = fields[0] == "e" ? EncodeFile : DecodeFile;
  const int status = command(password.c_str(), "in", "out", threads);
  const std::string printed = ::testing::internal::GetCapturedStdout();
  for (const std::string& setting : settings) {
    unsetenv(setting.substr(0, setting.find('=')).c_str());
  }
  EXPECT_EQ(Listing("/proc/self/fd").size(), descriptors);
  EXPECT_EQ(status, succeeds ? 0 : 1);
  EXPECT_EQ(printed, succeeds ? "" : expected + "\n");
  if (succeeds) {
    std::ifstream out("out");
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(out), {}), Input(expected));
    listed.insert("out");
  }
  EXPECT_EQ(Listing(), listed);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, RowTest,
    ::testing::Combine(::testing::ValuesIn(DataLines("commands.txt")),
                       ::testing::Values(1u, 3u)));

// Each temporary takes a new name, and a creation that fails forgets its
// name, which may be another's file.
TEST(CommandsTest, TemporariesTakeNewNamesAndFailuresForgetThem) {
  TemporaryName made, failed;
  close(CreateHiddenTemporary(AT_FDCWD, made));
  setenv("TARNWICK_FAIL", "create:EEXIST", 1);
  EXPECT_EQ(CreateHiddenTemporary(AT_FDCWD, failed), -1);
  unsetenv("TARNWICK_FAIL");
  EXPECT_NE(made, failed);
  close(open(failed.data(), O_CREAT | O_WRONLY, 0600));
  RemoveHiddenTemporary();
  EXPECT_EQ(unlink(failed.data()), 0);
  EXPECT_NE(unlink(made.data()), 0);
}

}  // namespace
}  // namespace tarnwick
