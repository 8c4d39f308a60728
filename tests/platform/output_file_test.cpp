// Outputs appear whole or not at all.

#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/run_errors.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PendingOutput, AppearsUnderItsNameOnlyWhenCommitted) {
  TempDir dir;
  WriteFile(dir.file("report.docx"), "the user's older file");
  {
    PendingOutput out(dir.file("report.docx"));
    EXPECT_EQ(fs::path(out.tempPath()).parent_path(), fs::path(dir.str()));
    EXPECT_TRUE(out.tempPath().ends_with("report.docx")) << "the extension chooses the format";
    EXPECT_TRUE(IsPendingOutputName(fs::path(out.tempPath()).filename().string()));
    WriteFile(out.tempPath(), "half");
    // Given up (a failure or a stop): the older file is untouched, nothing else is left.
  }
  EXPECT_EQ(Names(dir.str()), std::vector<std::string>{"report.docx"});
  EXPECT_EQ(ReadFile(dir.file("report.docx")), "the user's older file");

  PendingOutput out(dir.file("report.docx"));
  WriteFile(out.tempPath(), "whole new content");
  out.Commit();
  EXPECT_EQ(Names(dir.str()), std::vector<std::string>{"report.docx"});
  EXPECT_EQ(ReadFile(dir.file("report.docx")), "whole new content");
}

TEST(PendingOutput, AVeryLongNameKeepsItsExtension) {
  TempDir dir;
  const std::string name = std::string(250, 'x') + ".xlsx";
  PendingOutput out(dir.file(name));
  const std::string temp = fs::path(out.tempPath()).filename().string();
  EXPECT_LE(temp.size(), 255u);
  EXPECT_TRUE(temp.ends_with(".xlsx"));
  WriteFile(out.tempPath(), "x");
  out.Commit();
  EXPECT_EQ(ReadFile(dir.file(name)), "x");
}

TEST(PendingOutput, AKilledWriterLeavesNoFinalNameAndItsLeftoverIsSweptLater) {
  TempDir dir;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    PendingOutput out(dir.file("merged.txt"));
    std::ofstream f(out.tempPath(), std::ios::binary);
    f << std::string(100000, 'a') << std::flush;
    [[maybe_unused]] const ssize_t n = ::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_FALSE(fs::exists(dir.file("merged.txt")));
  ASSERT_EQ(Names(dir.str()).size(), 1u);
  EXPECT_TRUE(IsPendingOutputName(Names(dir.str()).front()));

  // The next output written into that folder clears what the dead run left.
  PendingOutput next(dir.file("other.txt"));
  WriteFile(next.tempPath(), "y");
  next.Commit();
  EXPECT_EQ(Names(dir.str()), std::vector<std::string>{"other.txt"});
}

TEST(PendingOutput, TwoWritersOfOneNameGiveOneWholeWinner) {
  TempDir dir;
  const std::string a(1 << 20, 'a'), b(1 << 20, 'b');
  PendingOutput first(dir.file("same.txt")), second(dir.file("same.txt"));
  EXPECT_NE(first.tempPath(), second.tempPath());
  WriteFile(first.tempPath(), a);
  WriteFile(second.tempPath(), b);
  first.Commit();
  second.Commit();
  EXPECT_EQ(ReadFile(dir.file("same.txt")), b);
  EXPECT_EQ(Names(dir.str()), std::vector<std::string>{"same.txt"});
}

TEST(PendingOutput, ACommitThatCannotHappenSaysWhyAndNamesTheOutput) {
  TempDir dir;
  PendingOutput out(dir.file("gone/out.txt"));  // nothing was ever written
  try {
    out.Commit();
    FAIL() << "no output to commit";
  } catch (const RunError& e) {
    EXPECT_EQ(e.file(), dir.file("gone/out.txt"));
    EXPECT_NE(std::string(e.what()).find("不存在"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace pw
