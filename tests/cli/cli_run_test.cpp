// The built program on small files: exit status, files written, what it says.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::WriteFile;

int RunCli(const test::TempDir& dir, const std::string& args, std::string& err) {
  const std::string command =
      "cd '" + dir.str() + "' && '" PW_CLI_PATH "' " + args + " >out.log 2>err.log </dev/null";
  const int status = std::system(command.c_str());
  err = ReadFile(dir.file("err.log"));
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliRun, ExitStatusTellsTheOutcome) {
  struct Case {
    std::string args;
    int status;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"merge txt a.txt day.txt -o merged", 0, "2 个文件合并生成新文件："},
      {"split txt --lines 2 day.txt", 0, "day3.txt"},
      {"merge txt a.txt missing.txt", 1, "missing.txt"},
      {"split txt --size 5 day.txt", 1, "day.txt"},  // smaller than one chunk
      {"merge mdb missing.mdb", 1, "missing.mdb"},
      {"split mdb --parts 2 --per-table a.mdb", 2, "--per-table"},
      {"merge xls --match bogus a.xlsx", 2, "--match"},
      {"merge doc --page-break --no-page-break a.doc", 2, "--no-page-break"},
      {"split txt --parts x a.txt", 2, "--parts"},
      {"", 2, "--help"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    WriteFile(dir.file("a.txt"), "A\n");
    WriteFile(dir.file("day.txt"), "T\nx\ny\nz");
    std::string err;
    EXPECT_EQ(RunCli(dir, c.args, err), c.status) << c.args << "\n" << err;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.args << "\n" << err;
    if (c.args.starts_with("merge txt a.txt day.txt")) {
      EXPECT_EQ(ReadFile(dir.file("merged.txt")), "A\nT\nx\ny\nz");
    }
    if (c.args.starts_with("split txt --lines 2")) {
      EXPECT_EQ(ReadFile(dir.file("day1.txt")), "T\r\nx\r\n");
      EXPECT_EQ(ReadFile(dir.file("day2.txt")), "T\r\ny\r\nz\r\n");
      EXPECT_EQ(ReadFile(dir.file("day3.txt")), "T\r\n");
    }
  }
}

}  // namespace
}  // namespace pw

namespace pw {
namespace {

// Legacy workbooks go through the office server both ways: read as .xlsx,
// written back as .xls.
TEST(CliRun, LegacyWorkbooksSplitAndMergeThroughTheOfficeServer) {
  const std::string source = PW_FIXTURES_DIR "/xls/easyexcel_multiplesheets.xls";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "fixture absent: " << source;
  test::TempDir dir;
  std::filesystem::copy_file(source, dir.file("book.xls"));
  std::string err;
  ASSERT_EQ(RunCli(dir, "split xls --per-sheet book.xls", err), 0) << err;
  int parts = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("book_")) continue;
    EXPECT_TRUE(name.ends_with(".xls")) << name;
    EXPECT_GT(entry.file_size(), 0u) << name;
    ++parts;
  }
  EXPECT_GE(parts, 2);
  ASSERT_EQ(RunCli(dir, "merge xls -o joined book.xls book.xls", err), 0) << err;
  EXPECT_GT(std::filesystem::file_size(dir.file("joined.xlsx")), 0u);
}

}  // namespace
}  // namespace pw
