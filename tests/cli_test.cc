// The built Tarnwick binary, run as scripts run it.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/scratch_dir.h"
#include "tests/test_util.h"

namespace tarnwick {
namespace {

using testing::Bytes;
using testing::Exists;
using testing::Fields;
using testing::FromHex;
using testing::RandomBytes;
using testing::ReadFile;
using testing::ScratchDir;
using testing::VectorLines;
using testing::WriteFile;

using Args = std::vector<std::string>;

constexpr char kUsage[] =
    "[USAGE] Tarnwick -e/d password input-file-path output-file-path\n"
    "        (-e:encode / -d:decode)\n";

struct Child {
  pid_t pid;
  int output;  // read end of the child's standard output
};

// Starts the binary with `args`; `prepare` runs in the child before exec.
Child Start(const Args& args, const std::function<void()>& prepare = {}) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipe_ends[1], STDOUT_FILENO);
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    if (prepare) prepare();
    std::vector<char*> argv{const_cast<char*>(TARNWICK_BINARY)};
    std::transform(args.begin(), args.end(), std::back_inserter(argv),
                   [](const std::string& arg) { return const_cast<char*>(arg.c_str()); });
    argv.push_back(nullptr);
    ::execv(TARNWICK_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(pipe_ends[1]);
  return {pid, pipe_ends[0]};
}

struct Result {
  int status;  // the exit status, or -1 when killed by a signal
  std::string printed;
  bool operator==(const Result&) const = default;
};

void PrintTo(const Result& result, std::ostream* out) {
  *out << "status " << result.status << ", printed \"" << result.printed << '"';
}

Result Finish(const Child& child) {
  std::string printed;
  char buffer[256];
  for (ssize_t got; (got = ::read(child.output, buffer, sizeof buffer)) > 0;) {
    printed.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(child.output);
  int status = 0;
  ::waitpid(child.pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, printed};
}

Result RunTool(const Args& args, const std::function<void()>& prepare = {}) {
  return Finish(Start(args, prepare));
}

const Result kSuccess{0, ""};
Result Failure(const char* message) { return {1, message}; }

class CliTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.Path(name); }

  // Writes `data` to `in`, then encrypts it to `name`.
  void Encrypted(const Bytes& data, const std::string& name) {
    WriteFile(Path("in"), data);
    ASSERT_EQ(RunTool({"-e", "pw", Path("in"), Path(name)}), kSuccess);
  }

  ScratchDir dir_;
};

struct DispatchCase {
  Args args;
  Result expected;
};

TEST_F(CliTest, ChecksArgumentsBeforeAnything) {
  const std::string in = Path("in");
  const std::string out = Path("out");
  const DispatchCase cases[] = {
      {{}, {1, kUsage}},
      {{"-e", "pw", in}, {1, kUsage}},
      {{"-e", "pw", in, out, "extra"}, {1, kUsage}},
      {{"-x", "pw", in, out}, Failure("Invalid option.\n")},
      {{"-e1", "pw", in, out}, Failure("Invalid option.\n")},
      {{"-encode", "pw", in, out}, Failure("Invalid option.\n")},
      {{"", "pw", in, out}, Failure("Invalid option.\n")},
      {{"-e", "pw", in, out}, Failure("Input file open failed.\n")},
      {{"-D", "pw", in, out}, Failure("Input file open failed.\n")},
  };
  for (const DispatchCase& c : cases) {
    EXPECT_EQ(RunTool(c.args), c.expected) << ::testing::PrintToString(c.args);
  }
  EXPECT_TRUE(dir_.Entries().empty());
}

TEST_F(CliTest, OptionsIgnoreCaseAndPasswordsMayBeEmpty) {
  WriteFile(Path("in"), {1, 2, 3});
  EXPECT_EQ(RunTool({"-E", "", Path("in"), Path("enc")}), kSuccess);
  EXPECT_EQ(RunTool({"-D", "", Path("enc"), Path("dec")}), kSuccess);
  EXPECT_EQ(ReadFile(Path("dec")), (Bytes{1, 2, 3}));
  EXPECT_EQ(RunTool({"-d", "x", Path("enc"), Path("bad")}),
            Failure("Invalid data (data size). Invalid password?\n"));
}

TEST_F(CliTest, EncryptsToAndDecryptsFromPublishedFiles) {
  int line_number = 0;
  for (const std::string& line : VectorLines("container.txt")) {
    const std::vector<std::string> field = Fields(line);
    const Bytes password_bytes = FromHex(field[0]);
    const std::string password(password_bytes.begin(), password_bytes.end());
    const std::string n = std::to_string(++line_number);
    WriteFile(Path("plain" + n), FromHex(field[1]));
    WriteFile(Path("file" + n), FromHex(field[2]));
    EXPECT_EQ(RunTool({"-e", password, Path("plain" + n), Path("enc" + n)}), kSuccess);
    EXPECT_EQ(RunTool({"-d", password, Path("file" + n), Path("dec" + n)}), kSuccess);
    EXPECT_EQ(ReadFile(Path("enc" + n)), FromHex(field[2])) << line;
    EXPECT_EQ(ReadFile(Path("dec" + n)), FromHex(field[1])) << line;
  }
}

TEST_F(CliTest, RoundTripsRestoreEveryByte) {
  std::vector<std::size_t> sizes;
  for (std::size_t size = 0; size <= 70; ++size) sizes.push_back(size);
  sizes.push_back(3 * 1024 * 1024 + 5);
  for (const std::size_t size : sizes) {
    const Bytes data = RandomBytes(size, static_cast<std::uint32_t>(size));
    const std::string n = std::to_string(size);
    WriteFile(Path("in" + n), data);
    ASSERT_EQ(RunTool({"-e", "pw", Path("in" + n), Path("enc" + n)}), kSuccess);
    ASSERT_EQ(RunTool({"-d", "pw", Path("enc" + n), Path("dec" + n)}), kSuccess);
    EXPECT_EQ(ReadFile(Path("dec" + n)), data) << size;
  }
}

TEST_F(CliTest, NeverTouchesAnExistingOutput) {
  Encrypted({1, 2, 3}, "enc");
  WriteFile(Path("taken"), {7});
  for (const char* option : {"-e", "-d"}) {
    EXPECT_EQ(RunTool({option, "pw", Path("enc"), Path("taken")}),
              Failure("Output file open failed.\n"));
    EXPECT_EQ(RunTool({option, "pw", Path("enc"), Path("enc")}),
              Failure("Output file open failed.\n"));
  }
  EXPECT_EQ(ReadFile(Path("taken")), (Bytes{7}));
  EXPECT_EQ(RunTool({"-d", "pw", Path("enc"), Path("dec")}), kSuccess);
  EXPECT_EQ(ReadFile(Path("dec")), (Bytes{1, 2, 3}));
}

TEST_F(CliTest, RefusesInputsThatAreNotRegularFiles) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(Path("dir").c_str(), 0700), 0);
  for (const char* option : {"-e", "-d"}) {
    for (const char* input : {"fifo", "dir", "missing"}) {
      EXPECT_EQ(RunTool({option, "pw", Path(input), Path("out")}),
                Failure("Input file open failed.\n"))
          << option << ' ' << input;
    }
  }
  EXPECT_EQ(dir_.Entries(), (std::set<std::string>{"dir", "fifo"}));
}

TEST_F(CliTest, DoesNotFollowALinkAtTheOutputPath) {
  WriteFile(Path("in"), {1});
  ASSERT_EQ(::symlink("target", Path("out").c_str()), 0);
  EXPECT_EQ(RunTool({"-e", "pw", Path("in"), Path("out")}),
            Failure("Output file open failed.\n"));
  EXPECT_FALSE(Exists(Path("target")));
}

TEST_F(CliTest, ReportsAFileSizeLimit) {
  Encrypted(RandomBytes(1 << 20, 1), "enc");
  const auto limit = [] {
    const rlim_t bytes = 64 * 1024UL;
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  for (const char* option : {"-e", "-d"}) {
    const std::string input = Path(option == std::string("-e") ? "in" : "enc");
    EXPECT_EQ(RunTool({option, "pw", input, Path("out")}, limit),
              Failure("Output file write failed.\n"));
  }
  EXPECT_EQ(dir_.Entries(), (std::set<std::string>{"in", "enc"}));
}

// Needs the right to mount; ctest runs each test in a process of its own, so
// the private mount namespace ends with the test.
TEST_F(CliTest, ReportsAFullFileSystem) {
  if (::unshare(CLONE_NEWNS) != 0 ||
      ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0) {
    GTEST_SKIP() << "no mount namespace here";
  }
  ASSERT_EQ(::mkdir(Path("full").c_str(), 0700), 0);
  if (::mount("tmpfs", Path("full").c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  Encrypted(RandomBytes(1 << 20, 2), "enc");
  for (const char* option : {"-e", "-d"}) {
    const std::string input = Path(option == std::string("-e") ? "in" : "enc");
    EXPECT_EQ(RunTool({option, "pw", input, Path("full/out")}),
              Failure("Output file write failed.\n"));
    EXPECT_TRUE(std::filesystem::is_empty(Path("full")));
  }
  ::umount2(Path("full").c_str(), MNT_DETACH);
}

// Two runs racing for one output: one wins whole, the other is refused.
TEST_F(CliTest, ConcurrentRunsNeverShareAnOutput) {
  const Bytes first = RandomBytes(8 << 20, 3);
  const Bytes second = RandomBytes(8 << 20, 4);
  WriteFile(Path("first"), first);
  WriteFile(Path("second"), second);
  for (int round = 0; round < 5; ++round) {
    const Child a = Start({"-e", "pw", Path("first"), Path("out")});
    const Child b = Start({"-e", "pw", Path("second"), Path("out")});
    const Result results[] = {Finish(a), Finish(b)};
    const int winner = results[0] == kSuccess ? 0 : 1;
    EXPECT_EQ(results[winner], kSuccess);
    EXPECT_EQ(results[1 - winner], Failure("Output file open failed.\n"));
    ASSERT_EQ(RunTool({"-d", "pw", Path("out"), Path("dec")}), kSuccess);
    EXPECT_EQ(ReadFile(Path("dec")), winner == 0 ? first : second);
    std::filesystem::remove(Path("out"));
    std::filesystem::remove(Path("dec"));
  }
}

// Runs killed at random points leave nothing at the output path, nor any
// temporary beside it.
TEST_F(CliTest, KilledRunsLeaveNoOutput) {
  const Bytes data = RandomBytes(24 << 20, 5);
  Encrypted(data, "enc");
  const Bytes encrypted = ReadFile(Path("enc"));
  const std::set<std::string> inputs = dir_.Entries();
  std::mt19937 random(6);  // NOLINT(cert-msc32-c,cert-msc51-cpp): replayable
  int killed = 0;
  for (const char* option : {"-e", "-d"}) {
    const std::string input = Path(option == std::string("-e") ? "in" : "enc");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunTool({option, "pw", input, Path("out")}), kSuccess);
    const auto full_run = std::chrono::steady_clock::now() - start;
    std::filesystem::remove(Path("out"));
    for (int round = 0; round < 20; ++round) {
      const Child child = Start({option, "pw", input, Path("out")});
      std::this_thread::sleep_for(full_run * std::uniform_real_distribution(0.0, 1.2)(random));
      ::kill(child.pid, SIGKILL);
      const bool was_killed = Finish(child).status == -1;
      killed += was_killed ? 1 : 0;
      // A kill that lands after the output got its name finds it complete.
      if (Exists(Path("out"))) {
        EXPECT_EQ(ReadFile(Path("out")), option == std::string("-e") ? encrypted : data);
        std::filesystem::remove(Path("out"));
      }
      EXPECT_EQ(dir_.Entries(), inputs);
    }
  }
  RecordProperty("killed", killed);
  std::printf("%d of 40 runs killed before they finished\n", killed);
}

}  // namespace
}  // namespace tarnwick
