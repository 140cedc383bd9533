#include "tool/commands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "blowfish/blowfish.h"
#include "md5/md5.h"
#include "tests/failing_allocator.h"
#include "tests/memory_file_system.h"
#include "tests/test_util.h"
#include "tool/container.h"
#include "tool/messages.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::Fields;
using testing::FromHex;
using testing::MemoryFileSystem;
using testing::RandomBytes;
using testing::VectorLines;

using Command = int (*)(const char*, const char*, const char*, FileSystem&);

struct Outcome {
  int status;
  std::string printed;
};

Outcome RunCommand(Command command, MemoryFileSystem& files,
            const std::string& password = "password") {
  ::testing::internal::CaptureStdout();
  const int status = command(password.c_str(), "in", "out", files);
  return {status, ::testing::internal::GetCapturedStdout()};
}

// A failed run prints its one message and leaves no output, finished or not.
void ExpectFailure(const Outcome& outcome, const MemoryFileSystem& files,
                   const char* message) {
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.printed, message);
  EXPECT_EQ(files.files.count("out"), 0u);
  EXPECT_EQ(files.unpublished_outputs, 0);
}

Bytes Converted(Command command, const Bytes& input,
                const std::string& password = "password") {
  MemoryFileSystem files;
  files.files["in"] = input;
  const Outcome outcome = RunCommand(command, files, password);
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.printed, "");
  EXPECT_EQ(files.unpublished_outputs, 0);
  return files.files["out"];
}

// An encrypted file for `record`, laid out by hand as any writer could.
Bytes EncryptedRecord(Bytes record, const std::string& password) {
  std::uint8_t key[16];
  HashPassword(password.c_str(), key);
  CBlowFish cipher;
  cipher.Initialize(key, 16);
  Bytes file(kMarker, kMarker + kMarkerSize);
  file.resize(kMarkerSize + record.size());
  cipher.Encode(record.data(), file.data() + kMarkerSize,
                static_cast<std::uint32_t>(record.size()));
  return file;
}

TEST(ContainerVectorsTest, EncryptsToAndDecryptsFromPublishedFiles) {
  for (const std::string& line : VectorLines("container.txt")) {
    const std::vector<std::string> field = Fields(line);
    const Bytes password_bytes = FromHex(field[0]);
    const std::string password(password_bytes.begin(), password_bytes.end());
    SCOPED_TRACE(line);
    EXPECT_EQ(Converted(EncodeFile, FromHex(field[1]), password), FromHex(field[2]));
    EXPECT_EQ(Converted(DecodeFile, FromHex(field[2]), password), FromHex(field[1]));
  }
}

TEST(DecodeFileTest, IgnoresThePaddingValues) {
  for (std::uint32_t size = 0; size <= 12; ++size) {
    const Bytes data = RandomBytes(size, size);
    Bytes record(RecordLength(size), 0xA5);
    StoreLength(size, record.data());
    std::copy(data.begin(), data.end(), record.begin() + kLengthFieldSize);
    EXPECT_EQ(Converted(DecodeFile, EncryptedRecord(record, "pw"), "pw"), data)
        << size;
  }
}

class RoundTripTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RoundTripTest, RestoresEveryByte) {
  const Bytes data = RandomBytes(GetParam(), static_cast<std::uint32_t>(GetParam()));
  const Bytes encrypted = Converted(EncodeFile, data);
  EXPECT_EQ(encrypted.size(),
            kMarkerSize + RecordLength(static_cast<std::uint32_t>(data.size())));
  EXPECT_EQ(Converted(DecodeFile, encrypted), data);
}

std::vector<std::size_t> RoundTripSizes() {
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= 70; ++size) sizes.push_back(size);
  sizes.insert(sizes.end(), {kChunkSize - 5, kChunkSize - 4, kChunkSize - 3,
                             kChunkSize, 2 * kChunkSize + 13});
  return sizes;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTripTest,
                         ::testing::ValuesIn(RoundTripSizes()));

struct FailureCase {
  const char* name;
  Command command;  // cppcheck-suppress unusedStructMember
  std::function<void(MemoryFileSystem&)> setup;
  const char* message;  // cppcheck-suppress unusedStructMember
};

void PlainInput(MemoryFileSystem& files) { files.files["in"] = Bytes(1000, 7); }
void EncryptedInput(MemoryFileSystem& files) {
  files.files["in"] = Converted(EncodeFile, Bytes(1000, 7));
}
void Raw(MemoryFileSystem& files, const Bytes& bytes) { files.files["in"] = bytes; }

std::vector<FailureCase> FailureCases() {
  const auto withLengthField = [](std::uint32_t field) {
    return [field](MemoryFileSystem& files) {
      Bytes record(8, 0);
      StoreLength(field, record.data());
      files.files["in"] = EncryptedRecord(record, "password");
    };
  };
  const auto publishFails = [](auto input, PublishResult result) {
    return [input, result](MemoryFileSystem& files) {
      input(files);
      files.faults.publish_fails = result;
    };
  };
  return {
      {"EncryptMissingInput", EncodeFile, [](MemoryFileSystem&) {}, kInputOpenFailed},
      {"EncryptUnknownSize", EncodeFile,
       [](MemoryFileSystem& f) { PlainInput(f); f.faults.size_unknown = true; },
       kInvalidInputSize},
      {"EncryptTooLargeToFrame", EncodeFile,
       [](MemoryFileSystem& f) { PlainInput(f); f.faults.reported_size = kMaxDataLength + 1; },
       kInvalidInputSize},
      // The largest input that frames is read, so the short file shows.
      {"EncryptLargestFrameable", EncodeFile,
       [](MemoryFileSystem& f) { PlainInput(f); f.faults.reported_size = kMaxDataLength; },
       kInputReadFailed},
      {"EncryptInputShrank", EncodeFile,
       [](MemoryFileSystem& f) { PlainInput(f); f.faults.input_ends_at = 999; },
       kInputReadFailed},
      {"EncryptPublishNameTaken", EncodeFile,
       publishFails(PlainInput, PublishResult::kNameTaken), kOutputOpenFailed},
      {"EncryptPublishFails", EncodeFile,
       publishFails(PlainInput, PublishResult::kFailed), kOutputWriteFailed},
      {"DecryptMissingInput", DecodeFile, [](MemoryFileSystem&) {}, kInputOpenFailed},
      {"DecryptUnknownSize", DecodeFile,
       [](MemoryFileSystem& f) { EncryptedInput(f); f.faults.size_unknown = true; },
       kInvalidInputSize},
      {"DecryptTooLarge", DecodeFile,
       [](MemoryFileSystem& f) { EncryptedInput(f); f.faults.reported_size = kMaxEncryptedFileSize + 1; },
       kInvalidInputSize},
      // The largest accepted size goes on to the checks: 2^32 - 4 is not whole blocks.
      {"DecryptLargestAccepted", DecodeFile,
       [](MemoryFileSystem& f) { EncryptedInput(f); f.faults.reported_size = kMaxEncryptedFileSize; },
       kInvalidFileSize},
      {"DecryptEmpty", DecodeFile, [](MemoryFileSystem& f) { Raw(f, {}); }, kInvalidMarker},
      {"DecryptOneByte", DecodeFile, [](MemoryFileSystem& f) { Raw(f, {0x0D}); }, kInvalidMarker},
      {"DecryptSwappedMarker", DecodeFile,
       [](MemoryFileSystem& f) { Raw(f, {0x0A, 0x0D, 1, 2, 3, 4, 5, 6, 7, 8}); }, kInvalidMarker},
      {"DecryptPartialBlock", DecodeFile,
       [](MemoryFileSystem& f) { Raw(f, {0x0D, 0x0A, 1, 2, 3, 4, 5, 6, 7}); }, kInvalidFileSize},
      {"DecryptMarkerOnly", DecodeFile,
       [](MemoryFileSystem& f) { Raw(f, {0x0D, 0x0A}); }, kInvalidDataSize},
      {"DecryptWrongPassword", DecodeFile,
       [](MemoryFileSystem& f) { f.files["in"] = Converted(EncodeFile, Bytes(1000, 7), "other"); },
       kInvalidDataSize},
      {"DecryptLengthBeyondRecord", DecodeFile, withLengthField(13), kInvalidDataSize},
      {"DecryptLengthWrappingAround", DecodeFile, withLengthField(0xFFFFFFFD), kInvalidDataSize},
      {"DecryptPublishNameTaken", DecodeFile,
       publishFails(EncryptedInput, PublishResult::kNameTaken), kOutputOpenFailed},
      {"DecryptPublishFails", DecodeFile,
       publishFails(EncryptedInput, PublishResult::kFailed), kOutputWriteFailed},
  };
}

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class FailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailureTest, PrintsItsMessageAndLeavesNoOutput) {
  MemoryFileSystem files;
  GetParam().setup(files);
  ExpectFailure(RunCommand(GetParam().command, files), files, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, FailureTest, ::testing::ValuesIn(FailureCases()),
                         [](const auto& info) { return info.param.name; });

TEST(OutputExistsTest, LeavesTheExistingFileUntouched) {
  for (const auto setup : {PlainInput, EncryptedInput}) {
    MemoryFileSystem files;
    setup(files);
    files.files["out"] = {1, 2, 3};
    const Outcome outcome =
        RunCommand(setup == PlainInput ? Command{EncodeFile} : Command{DecodeFile}, files);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.printed, kOutputOpenFailed);
    EXPECT_EQ(files.files["out"], (Bytes{1, 2, 3}));
    EXPECT_EQ(files.unpublished_outputs, 0);
  }
}

// Read and write faults at and around every chunk boundary of a file that
// spans three chunks.
enum class Fault { kReadError, kInputShrinks, kWriteError };

struct FaultCase {
  Command command;
  Fault fault;
  std::uint64_t offset;
};

std::vector<FaultCase> FaultCases() {
  std::vector<FaultCase> cases;
  const std::uint64_t size = 2 * kChunkSize + 100;
  for (const Command command : {Command{EncodeFile}, Command{DecodeFile}}) {
    for (const Fault fault : {Fault::kReadError, Fault::kInputShrinks, Fault::kWriteError}) {
      for (const std::uint64_t offset :
           {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, kChunkSize - 1,
            kChunkSize, kChunkSize + 1, kChunkSize + 2, 2 * kChunkSize,
            2 * kChunkSize + 2, size - 1}) {
        cases.push_back({command, fault, offset});  // cppcheck-suppress useStlAlgorithm
      }
    }
  }
  return cases;
}

void PrintTo(const FaultCase& c, std::ostream* out) {
  static constexpr const char* kFaults[] = {"read error", "input shrinks", "write error"};
  *out << (c.command == Command{EncodeFile} ? "encrypt, " : "decrypt, ")
       << kFaults[static_cast<int>(c.fault)] << " at " << c.offset;
}

class FaultTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, FailsWithoutOutput) {
  const FaultCase& c = GetParam();
  const Bytes data = RandomBytes(2 * kChunkSize + 100, 1);
  MemoryFileSystem files;
  files.files["in"] = c.command == Command{EncodeFile} ? data : Converted(EncodeFile, data);
  switch (c.fault) {
    case Fault::kReadError: files.faults.read_error_at = c.offset; break;
    case Fault::kInputShrinks: files.faults.input_ends_at = c.offset; break;
    case Fault::kWriteError: files.faults.write_error_at = c.offset; break;
  }
  ExpectFailure(RunCommand(c.command, files), files,
                c.fault == Fault::kWriteError ? kOutputWriteFailed : kInputReadFailed);
}

INSTANTIATE_TEST_SUITE_P(ChunkBoundaries, FaultTest, ::testing::ValuesIn(FaultCases()));

// Every allocation of a run, failed in turn, is reported and leaves nothing.
TEST(OutOfMemoryTest, EveryAllocationFailureIsReported) {
  for (const auto setup : {PlainInput, EncryptedInput}) {
    const Command command = setup == PlainInput ? Command{EncodeFile} : Command{DecodeFile};
    int failures = 0;
    for (long allocation = 0;; ++allocation) {
      MemoryFileSystem files;
      setup(files);
      ::testing::internal::CaptureStdout();
      testing::FailAllocationsAfter(allocation);
      const int status = command("password", "in", "out", files);
      testing::StopFailingAllocations();
      const Outcome outcome{status, ::testing::internal::GetCapturedStdout()};
      if (status == 0) break;
      ExpectFailure(outcome, files, kOutOfMemory);
      ++failures;
    }
    EXPECT_GE(failures, 3);  // at least the input, the cipher and the buffer
  }
}

}  // namespace
}  // namespace tarnwick
