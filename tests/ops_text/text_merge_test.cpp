#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "batch/contract.h"
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

TEST(TextMerge, JoinsFilesByteForByteAndKeepsTheContractInOrder) {
  test::TempDir dir;
  // A BOM in a later file, a last line without line end, an empty file, GBK bytes, lone CRs.
  const std::vector<std::pair<std::string, std::string>> sources = {
      {"a.txt", "\xEF\xBB\xBFone\r\ntwo"},
      {"empty.txt", ""},
      {"\xB1\xA8\xB8\xE6.txt", "\xEF\xBB\xBF\xB1\xA8\r\x00mid\n"},
  };
  std::vector<std::string> files;
  std::string expected;
  for (const auto& [name, bytes] : sources) {
    WriteFile(dir.file(name), bytes);
    files.push_back(dir.file(name));
    expected += bytes;
  }
  RecordingReporter reporter;
  RunState run = test::MakeRun(files, dir.file("新文档"), &reporter.stop);
  MergeTextFiles(run, CommonOptions{}, reporter);

  EXPECT_EQ(run.OutputBase, dir.file("新文档.txt"));
  EXPECT_EQ(ReadFile(run.OutputBase), expected);
  const std::vector<std::string> want = {
      "begin 33", "status 正在合并第 0 个文件： a.txt",
      "remove 0", "counter 0",
      "step",     "status 正在合并第 1 个文件： empty.txt",
      "remove 1", "counter 1",
      "step",     "status 正在合并第 2 个文件： 报告.txt",
      "remove 2", "counter 2",
      "step",     "status 合并操作已完成，正在清理内存... ",
      "end",      "status 3 个文件合并生成新文件：" + dir.file("新文档.txt"),
  };
  EXPECT_EQ(reporter.events, want);
  for (const std::string& f : files) EXPECT_TRUE(fs::exists(f));
}

TEST(TextMerge, OutputNameTakesTheTxtExtension) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"新文档", "新文档.txt"},
      {"out.csv", "out.txt"},
      {"out.txt", "out.txt"},
      {"v1.2/name", "v1.2/name.txt"},
  };
  for (const auto& [base, want] : cases) {
    test::TempDir dir;
    fs::create_directories(dir.file("v1.2"));
    WriteFile(dir.file("a.txt"), "x");
    RecordingReporter reporter;
    RunState run = test::MakeRun({dir.file("a.txt")}, dir.file(base), nullptr);
    MergeTextFiles(run, CommonOptions{}, reporter);
    EXPECT_EQ(run.OutputBase, dir.file(want)) << base;
    EXPECT_EQ(ReadFile(dir.file(want)), "x") << base;
  }
}

TEST(TextMerge, RefusesAnOutputThatIsOneOfItsSources) {
  test::TempDir dir;
  WriteFile(dir.file("a.txt"), "first");
  WriteFile(dir.file("b.txt"), "second");
  fs::create_hard_link(dir.file("b.txt"), dir.file("link.txt"));
  // The first file's own name (an empty new-document name), and another name for the second.
  for (const std::string& base : {dir.file("a.txt"), dir.file("link")}) {
    RecordingReporter reporter;
    RunState run = test::MakeRun({dir.file("a.txt"), dir.file("b.txt")}, base, nullptr);
    try {
      MergeTextFiles(run, CommonOptions{}, reporter);
      ADD_FAILURE() << "no refusal for " << base;
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Validation);
      EXPECT_NE(std::string(e.what()).find(run.OutputBase), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(ReadFile(dir.file("a.txt")), "first");
  EXPECT_EQ(ReadFile(dir.file("b.txt")), "second");
}

TEST(TextMerge, AFailureLeavesAnOlderFileOfTheOutputsNameAsItWas) {
  test::TempDir dir;
  WriteFile(dir.file("a.txt"), "merged first");
  WriteFile(dir.file("c.txt"), "never");
  WriteFile(dir.file("out.txt"), "older");
  RecordingReporter reporter;
  RunState run = test::MakeRun({dir.file("a.txt"), dir.file("gone.txt"), dir.file("c.txt")},
                               dir.file("out"), &reporter.stop);
  try {
    MergeTextFiles(run, CommonOptions{}, reporter);
    FAIL() << "no failure";
  } catch (const RunError& e) {
    EXPECT_EQ(e.kind(), RunError::Kind::Failure);
    EXPECT_EQ(e.file(), dir.file("gone.txt"));
    EXPECT_NE(std::string(e.what()).find(dir.file("gone.txt")), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("不存在"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadFile(dir.file("out.txt")), "older");
  EXPECT_EQ(Names(dir.str()), (std::vector<std::string>{"a.txt", "c.txt", "out.txt"}));
  EXPECT_EQ(reporter.events.back(), "end");  // the bar goes away on a failure too
}

TEST(TextMerge, AStopKeepsTheWholeFilesAndUndoesTheOneInProgress) {
  struct Case {
    const char* stopAt;  // the status text on which the stop arrives
    std::string output;  // out.txt afterwards; it held "older" before the run
    const char* undone;
  };
  const std::vector<Case> cases = {
      {"正在合并第 1 个文件", std::string(1000, 'a'), "b.txt"},
      // Nothing merged whole: the older file keeps its name and content.
      {"正在合并第 0 个文件", "older", "a.txt"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    textio::SetBlockSizeForTesting(16);
    WriteFile(dir.file("a.txt"), std::string(1000, 'a'));  // copied in pieces of 512 bytes
    WriteFile(dir.file("b.txt"), std::string(4096, 'b'));
    WriteFile(dir.file("c.txt"), "never read");
    WriteFile(dir.file("out.txt"), "older");
    RecordingReporter reporter;
    reporter.stopOnStatus = c.stopAt;
    RunState run = test::MakeRun({dir.file("a.txt"), dir.file("b.txt"), dir.file("c.txt")},
                                 dir.file("out"), &reporter.stop);
    CommonOptions common;
    common.deleteSources = true;
    MergeTextFiles(run, common, reporter);
    textio::SetBlockSizeForTesting(0);

    EXPECT_EQ(ReadFile(dir.file("out.txt")), c.output) << c.stopAt;
    EXPECT_EQ(
        reporter.events[reporter.events.size() - 2],
        "status 用户强行退出，合并操作未完成！已撤销正在处理的“" + std::string(c.undone) + "”。");
    EXPECT_EQ(std::count(reporter.events.begin(), reporter.events.end(), "counter 1"), 0);
    // Every source stays (a stopped run removes none) and nothing half-written is left.
    EXPECT_EQ(Names(dir.str()), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "out.txt"}));
  }
}

TEST(TextMerge, CopiesBetweenFileSystemsToo) {
  // The kernel copies only within one file system; elsewhere the plain read and write loop runs.
  std::error_code ec;
  const fs::path shm = "/dev/shm";
  test::TempDir dir;
  struct stat a {
  }, b{};
  if (::stat(shm.c_str(), &a) != 0 || ::stat(dir.str().c_str(), &b) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system at /dev/shm";
  const fs::path source = shm / ("pw-merge-" + std::to_string(::getpid()) + ".txt");
  std::string bytes;
  for (int k = 0; k < 100000; ++k) bytes += std::to_string(k) + "\r\n";
  WriteFile(source.string(), bytes);
  textio::SetBlockSizeForTesting(4096);
  RecordingReporter reporter;
  RunState run = test::MakeRun({source.string(), source.string()}, dir.file("out"), &reporter.stop);
  MergeTextFiles(run, CommonOptions{}, reporter);
  textio::SetBlockSizeForTesting(0);
  fs::remove(source, ec);
  EXPECT_EQ(ReadFile(dir.file("out.txt")), bytes + bytes);
}

TEST(TextMerge, DeletedSourcesGoToTheTrashOnceTheMergedFileIsComplete) {
  test::TempDir dir;
  const std::string data = dir.file("data");
  fs::create_directories(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  WriteFile(dir.file("src/a.txt"), "A");
  WriteFile(dir.file("src/b.txt"), "B");
  RecordingReporter reporter;
  RunState run = test::MakeRun({dir.file("src/a.txt"), dir.file("src/b.txt")}, dir.file("out"),
                               &reporter.stop);
  CommonOptions common;
  common.deleteSources = true;
  common.removeFinished = false;
  MergeTextFiles(run, common, reporter);
  RemoveFinishedSources(run, reporter);  // as the runner does after a whole run
  ::unsetenv("XDG_DATA_HOME");

  EXPECT_EQ(ReadFile(dir.file("out.txt")), "AB");
  EXPECT_FALSE(fs::exists(dir.file("src/a.txt")));
  EXPECT_EQ(ReadFile(data + "/Trash/files/b.txt"), "B");
  const std::vector<std::string> want = {"begin 50",
                                         "status 正在合并第 0 个文件： a.txt",
                                         "counter 0",
                                         "step",
                                         "status 正在合并第 1 个文件： b.txt",
                                         "counter 1",
                                         "step",
                                         "status 合并操作已完成，正在清理内存... ",
                                         "end",
                                         "status 2 个文件合并生成新文件：" + dir.file("out.txt"),
                                         "source 0 trashed",
                                         "source 1 trashed"};
  EXPECT_EQ(reporter.events, want);
}

}  // namespace
}  // namespace pw
