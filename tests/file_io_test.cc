// The platform's file layer against the promises of its interface.
#include "tool/file_io.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/scratch_dir.h"
#include "tests/test_util.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::RandomBytes;
using testing::ReadFile;
using testing::ScratchDir;
using testing::WriteFile;

class FileIoTest : public ::testing::Test {
 protected:
  std::unique_ptr<OutputFile> OutputWith(const std::string& name, const Bytes& data) {
    std::unique_ptr<OutputFile> output = files_.CreateOutput(dir_.Path(name).c_str());
    EXPECT_NE(output, nullptr);
    if (output) {
      EXPECT_TRUE(output->Write(data.data(), data.size()));
    }
    return output;
  }

  FileSystem& files_ = PlatformFileSystem();
  ScratchDir dir_;
};

TEST_F(FileIoTest, OutputAppearsWholeOnlyWhenPublished) {
  const Bytes data = RandomBytes(100000, 1);
  const std::unique_ptr<OutputFile> output = OutputWith("out", data);
  EXPECT_EQ(dir_.Entries().count("out"), 0u);
  EXPECT_EQ(output->Publish(), PublishResult::kPublished);
  EXPECT_EQ(dir_.Entries(), std::set<std::string>{"out"});
  EXPECT_EQ(ReadFile(dir_.Path("out")), data);
}

TEST_F(FileIoTest, UnpublishedOutputLeavesNothing) {
  OutputWith("out", RandomBytes(1000, 2)).reset();
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(FileIoTest, NeverReplacesAnExistingFile) {
  WriteFile(dir_.Path("taken"), {1, 2, 3});
  EXPECT_EQ(files_.CreateOutput(dir_.Path("taken").c_str()), nullptr);

  // Taken between creation and publishing, as by a concurrent run.
  const std::unique_ptr<OutputFile> output = OutputWith("out", {9, 9});
  WriteFile(dir_.Path("out"), {4, 5});
  EXPECT_EQ(output->Publish(), PublishResult::kNameTaken);
  EXPECT_EQ(ReadFile(dir_.Path("taken")), (Bytes{1, 2, 3}));
  EXPECT_EQ(ReadFile(dir_.Path("out")), (Bytes{4, 5}));
  EXPECT_EQ(dir_.Entries(), (std::set<std::string>{"out", "taken"}));
}

TEST_F(FileIoTest, CannotCreateInAMissingDirectory) {
  EXPECT_EQ(files_.CreateOutput(dir_.Path("missing/out").c_str()), nullptr);
}

TEST_F(FileIoTest, ReadsTheWholeFileInPieces) {
  const Bytes data = RandomBytes(5000, 3);
  WriteFile(dir_.Path("in"), data);
  const std::unique_ptr<InputFile> input = files_.OpenInput(dir_.Path("in").c_str());
  ASSERT_NE(input, nullptr);
  EXPECT_EQ(input->Size(), data.size());
  Bytes read(data.size() + 10);
  EXPECT_EQ(input->Read(read.data(), 4000), 4000u);
  EXPECT_EQ(input->Read(read.data() + 4000, 1010), 1000u);
  EXPECT_EQ(input->Read(read.data(), 10), 0u);
  read.resize(data.size());
  EXPECT_EQ(read, data);
}

TEST_F(FileIoTest, RefusesWhatIsNotAReadableRegularFile) {
  WriteFile(dir_.Path("in"), {1});
  const std::unique_ptr<InputFile> first = files_.OpenInput(dir_.Path("in").c_str());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(files_.OpenInput(dir_.Path("in").c_str()), nullptr) << "in use";
  EXPECT_EQ(files_.OpenInput(dir_.Path("missing").c_str()), nullptr);
  EXPECT_EQ(files_.OpenInput(dir_.Path("").c_str()), nullptr) << "directory";
}

#ifndef _WIN32
TEST_F(FileIoTest, RefusesAFifoWithoutWaitingForAWriter) {
  ASSERT_EQ(::mkfifo(dir_.Path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(files_.OpenInput(dir_.Path("fifo").c_str()), nullptr);
}

TEST_F(FileIoTest, FollowsLinksToInputsButNotOutputs) {
  WriteFile(dir_.Path("in"), {1, 2});
  ASSERT_EQ(::symlink("in", dir_.Path("link-to-in").c_str()), 0);
  EXPECT_NE(files_.OpenInput(dir_.Path("link-to-in").c_str()), nullptr);
  ASSERT_EQ(::symlink("nowhere", dir_.Path("dangling").c_str()), 0);
  EXPECT_EQ(files_.CreateOutput(dir_.Path("dangling").c_str()), nullptr);
  EXPECT_FALSE(testing::Exists(dir_.Path("nowhere")));
}

TEST_F(FileIoTest, OutputIsPrivateToItsOwner) {
  ASSERT_EQ(OutputWith("out", {1})->Publish(), PublishResult::kPublished);
  struct stat status {};
  ASSERT_EQ(::stat(dir_.Path("out").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}
#endif

}  // namespace
}  // namespace tarnwick
