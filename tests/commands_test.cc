// The commands in-process, over files in memory with faults put behind them.
#include "tool/commands.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tests/memory_file_system.h"
#include "tool/container.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::FromHex;
using testing::MemoryFileSystem;
using Command = int (*)(const char*, const char*, const char*, FileSystem&, unsigned);

// Runs `command` from "in" to "out"; returns its status and what it printed.
std::pair<int, std::string> Printed(Command command, MemoryFileSystem& files, const std::string& password = "password",
                                    unsigned threads = 0) {
  ::testing::internal::CaptureStdout();
  const int status = command(password.c_str(), "in", "out", files, threads);
  return {status, ::testing::internal::GetCapturedStdout()};
}

Bytes Converted(Command command, const Bytes& input, const std::string& password = "password", unsigned threads = 0) {
  MemoryFileSystem files;
  files.files["in"] = input;
  EXPECT_EQ(Printed(command, files, password, threads), std::pair(0, std::string()));
  return files.files["out"];
}

// A record enciphered behind the marker by hand, as any writer could.
Bytes Enciphered(Bytes record) {
  std::uint8_t key[16];
  HashPassword("password", key);
  CBlowFish cipher;
  cipher.Initialize(key, 16);
  cipher.Encode(record.data(), record.data(), static_cast<std::uint32_t>(record.size()));
  record.insert(record.begin(), {0x0D, 0x0A});
  return record;
}

// The encrypted file of `data`, framed and enciphered by hand.
Bytes Framed(const Bytes& data) {
  Bytes record(4);
  for (std::size_t i = 0; i < 4; ++i) record[i] = static_cast<std::uint8_t>(data.size() >> (8 * i));
  record.insert(record.end(), data.begin(), data.end());
  record.resize((record.size() + 7) / 8 * 8, 0);
  return Enciphered(record);
}

// INPUT is none, plain:N, sealed:N (N bytes encrypted under "password"),
// hex:HEX (the file itself) or record:HEX (a record enciphered by hand).
Bytes Input(const std::string& input) {
  const std::string kind = input.substr(0, input.find(':')), value = input.substr(input.find(':') + 1);
  const Bytes data = kind == "plain" || kind == "sealed" ? testing::RandomBytes(std::stoul(value), 1) : FromHex(value);
  return kind == "sealed" ? Converted(EncodeFile, data) : kind == "record" ? Enciphered(data) : data;
}

// Rows of testdata/commands.txt: OP INPUT [FAULT...] => MESSAGE, or => =HEX
// for a run that succeeds with that output. A failed run prints exactly its
// message, leaves nothing under the output's name (an existing file there
// untouched) and no output unpublished; on one thread and on three alike.
class RowTest : public ::testing::TestWithParam<std::tuple<std::string, unsigned>> {};

TEST_P(RowTest, PrintsItsMessageAndLeavesNoOutput) {
  const auto& [row, threads] = GetParam();
  std::istringstream fields(row.substr(0, row.find(" => ")));
  const std::string expected = row.substr(row.find(" => ") + 4);
  std::string op, input;
  fields >> op >> input;
  MemoryFileSystem files;
  if (input != "none") files.files["in"] = Input(input);
  for (std::string fault; fields >> fault;) {
    if (fault == "exists") files.files["out"] = {1, 2, 3};
    files.faults[fault.substr(0, fault.find('='))] = fault.substr(fault.find('=') + 1);
  }
  const Bytes before = files.files.contains("out") ? files.files["out"] : Bytes{};
  const auto [status, printed] = Printed(op == "e" ? Command{EncodeFile} : Command{DecodeFile}, files, "password", threads);
  EXPECT_EQ(files.unpublished_outputs, 0);
  if (expected[0] == '=') {
    EXPECT_EQ(status, 0);
    EXPECT_EQ(files.files["out"], FromHex(expected.substr(1)));
    return;
  }
  EXPECT_EQ(status, 1);
  EXPECT_EQ(printed, expected + "\n");
  EXPECT_EQ(files.files.contains("out") ? files.files["out"] : Bytes{}, before);
}

INSTANTIATE_TEST_SUITE_P(Commands, RowTest, ::testing::Combine(
    ::testing::ValuesIn(testing::DataLines("commands.txt")), ::testing::Values(1u, 3u)));

// Rows: PASSWORD (hex) PLAIN FILE.
TEST(CommandsTest, EncryptToAndDecryptFromPublishedFiles) {
  for (const std::string& line : testing::DataLines("container.txt")) {
    const std::vector<std::string> field = testing::Fields(line);
    const Bytes password = FromHex(field[0]);
    const std::string text(password.begin(), password.end());
    EXPECT_EQ(Converted(EncodeFile, FromHex(field[1]), text), FromHex(field[2])) << line;
    EXPECT_EQ(Converted(DecodeFile, FromHex(field[2]), text), FromHex(field[1])) << line;
  }
}

// The length field is stored least significant byte first: each byte seen
// on its own, as no file the other tests make is large enough to show it.
TEST(CommandsTest, LengthFieldBytes) {
  for (const auto& [length, hex] : {std::pair{0x01020304u, "04030201"}, {0xFEDCBA98u, "98badcfe"}}) {
    std::uint8_t field[4];
    StoreLength(length, field);
    EXPECT_EQ(Bytes(field, field + 4), FromHex(hex));
    EXPECT_EQ(LoadLength(field), length);
  }
}

// Around the length field, whole blocks, the 256 KiB chunks and the 4 MiB
// records from which a run takes every core, on one thread, three, or as many
// as the size calls for; padding is zero.
TEST(CommandsTest, RoundTripsRestoreEveryByte) {
  for (const unsigned threads : {0u, 1u, 3u})
  for (const std::size_t size : {0, 1, 3, 4, 5, 11, 12, 13, 262139, 262140, 262141, 262144, 524284,
                                 524285, 524288, 524301, 4194292, 4194300}) {
    const Bytes data = testing::RandomBytes(size, static_cast<std::uint32_t>(size));
    const Bytes encrypted = Converted(EncodeFile, data, "password", threads);
    EXPECT_TRUE(encrypted == Framed(data)) << size;
    EXPECT_TRUE(Converted(DecodeFile, encrypted, "password", threads) == data) << size;
  }
}

}  // namespace
}  // namespace tarnwick
