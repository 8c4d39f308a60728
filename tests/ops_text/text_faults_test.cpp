// Text merge and split when the process is killed or the disk fills: no file
// under a final name that looks complete, and the cause in plain words.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "ops/text/text_io.h"
#include "ops/text/text_ops.h"
#include "tests/ops_text/folder_names.h"
#include "tests/ops_text/recording_reporter.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::Names;
using test::ReadFile;
using test::RecordingReporter;
using test::WriteFile;

// Numbered lines ending in LF, `count` of them.
std::string Lines(int count) {
  std::string s;
  for (int k = 0; k < count; ++k) s += "line " + std::to_string(k) + "\n";
  return s;
}

// A reporter that halts the process at a status text, to be killed there.
class HaltingReporter : public RecordingReporter {
 public:
  std::string haltOn;
  void Status(const std::string& text) override {
    RecordingReporter::Status(text);
    if (!haltOn.empty() && text.starts_with(haltOn))
      for (;;) ::pause();
  }
};

// Merges `files` into `output`, or splits each of them by `lines` lines.
void RunText(bool merge, const std::vector<std::string>& files, const std::string& output,
             const char* lines = "100", const std::string& haltOn = {}) {
  HaltingReporter reporter;
  reporter.haltOn = haltOn;
  RunState run = test::MakeRun(files, output, &reporter.stop);
  if (merge) {
    MergeTextFiles(run, CommonOptions{}, reporter);
  } else {
    TextSplitOptions options;
    options.way = TextSplitOptions::Way::Lines;
    options.linesText = lines;
    SplitTextFiles(run, options, CommonOptions{}, reporter);
  }
}

// Runs `body` in a child process after `setup`; answers what the run failed
// with, "" when it succeeded.
std::string FailureInChild(const std::function<void()>& setup, const std::function<void()>& body) {
  int pipe[2];
  if (::pipe(pipe) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe[0]);
    setup();
    std::string said;
    try {
      body();
    } catch (const RunError& e) {
      said = e.what();
    }
    [[maybe_unused]] const ssize_t n = ::write(pipe[1], said.data(), said.size());
    ::_exit(0);
  }
  ::close(pipe[1]);
  std::string said;
  char buf[4096];
  for (ssize_t n; (n = ::read(pipe[0], buf, sizeof buf)) > 0;) said.append(buf, n);
  ::close(pipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  return said;
}

TEST(TextFaults, AKilledRunLeavesNoFileUnderAFinalNameAndTheNextRunSweepsItsRemains) {
  for (const bool merge : {true, false}) {
    test::TempDir dir;
    WriteFile(dir.file("a.txt"), Lines(20000));
    WriteFile(dir.file("b.txt"), Lines(20000));
    const std::vector<std::string> files = {dir.file("a.txt"), dir.file("b.txt")};
    const pid_t pid = ::fork();
    if (pid == 0) {
      // The merge halts once the first file is in; the split reads a byte at a time.
      textio::SetBlockSizeForTesting(1);
      RunText(merge, files, dir.file("out"), "100", merge ? "正在合并第 1 个文件" : "");
      ::_exit(0);
    }
    // Killed once it has written a good deal under hidden names: the first
    // file merged, or two parts split.
    const auto written = [&] {
      std::uintmax_t bytes = 0, count = 0;
      for (const std::string& name : Names(dir.str())) {
        if (!name.starts_with(".")) continue;
        bytes += fs::file_size(dir.file(name));
        ++count;
      }
      return merge ? bytes == Lines(20000).size() : count >= 3;
    };
    for (int wait = 0; wait < 20000 && !written(); ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed";
    std::vector<std::string> finals;
    for (const std::string& name : Names(dir.str()))
      if (!name.starts_with(".")) finals.push_back(name);
    EXPECT_EQ(finals, (std::vector<std::string>{"a.txt", "b.txt"})) << (merge ? "merge" : "split");

    RunText(merge, files, dir.file("out"));
    for (const std::string& name : Names(dir.str()))
      EXPECT_FALSE(name.starts_with(".")) << name << " left by the killed run";
    if (merge) {
      EXPECT_EQ(ReadFile(dir.file("out.txt")), Lines(20000) + Lines(20000));
    }
  }
}

TEST(TextFaults, AFullDiskIsNamedInPlainWordsAndLeavesNoOutput) {
  const auto fileSizeLimit = [] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
  for (const bool merge : {true, false}) {
    test::TempDir dir;
    WriteFile(dir.file("a.txt"), Lines(10000));  // 108,890 bytes
    WriteFile(dir.file("out.txt"), "older");
    const std::string said = FailureInChild(
        fileSizeLimit, [&] { RunText(merge, {dir.file("a.txt")}, dir.file("out"), "100000"); });
    const std::string output = dir.file(merge ? "out.txt" : "a1.txt");
    EXPECT_NE(said.find(output), std::string::npos) << said;
    EXPECT_NE(said.find("文件太大"), std::string::npos) << said;
    EXPECT_EQ(Names(dir.str()), (std::vector<std::string>{"a.txt", "out.txt"})) << said;
    EXPECT_EQ(ReadFile(dir.file("out.txt")), "older");
  }
}

TEST(TextFaults, AFullFileSystemIsNamedInPlainWordsAndLeavesNoOutput) {
  test::TempDir dir;
  const std::string disk = dir.file("disk");
  fs::create_directories(disk);
  if (::mount("pw-full", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  for (const bool merge : {true, false}) {
    // Merge: big sources elsewhere, the output on the small disk; split: the source on it.
    const std::string source = merge ? dir.file("a.txt") : disk + "/a.txt";
    WriteFile(source, Lines(merge ? 30000 : 15000));
    const std::string said =
        FailureInChild([] {},
                       [&] {
                         RunText(merge, {source, source}, disk + "/out", "100000");
                       });
    EXPECT_NE(said.find(disk + (merge ? "/out.txt" : "/a")), std::string::npos) << said;
    EXPECT_NE(said.find("磁盘空间不足"), std::string::npos) << said;
    EXPECT_EQ(Names(disk), merge ? std::vector<std::string>{} : std::vector<std::string>{"a.txt"})
        << said;
    fs::remove(source);
  }
  ::umount2(disk.c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace pw
