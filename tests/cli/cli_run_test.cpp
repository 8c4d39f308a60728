// The built program on small files: exit status, files written, what it says.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/database/engine.h"
#include "platform/database/jet_writer.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::WriteFile;

// Runs `program` (the built one unless given) in `dir`, with `env` before it.
int RunCli(const test::TempDir& dir, const std::string& args, std::string& err,
           const std::string& program = PW_CLI_PATH, const std::string& env = {}) {
  const std::string command = "cd '" + dir.str() + "' && " + env + " '" + program + "' " + args +
                              " >out.log 2>err.log </dev/null";
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
      {"merge txt -o nosuch/merged a.txt", 1, "nosuch”不存在"},
      {"merge txt a.txt ./a.txt", 1, "a.txt”在待处理的文件中出现了两次"},
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

// A database whose table B has one record too long for the merged table: B's
// third record fails when everything goes into one table with A's 241
// columns, and B's fourth is skipped after it.
void MakeDatabaseWithARecordThatDoesNotFit(const std::string& path) {
  db::CreateDatabaseFile(path, 64);
  db::JetWriter w(path);
  w.CreateTable("A", "w1");
  for (int i = 2; i <= 241; ++i) w.AddColumn("A", "w" + std::to_string(i));
  w.CreateTable("B", "f1");
  std::vector<std::optional<std::string>> big{std::string(250, 'a')};
  for (int i = 2; i <= 14; ++i) {
    w.AddColumn("B", "f" + std::to_string(i));
    big.emplace_back(std::string(250, static_cast<char>('a' + i)));
  }
  for (const auto& record :
       std::vector<std::vector<std::optional<std::string>>>{{"1"}, {"2"}, big, {"4"}})
    w.AppendRecord("B", record);
}

// A copy of the built program in `dir`/bin, with the database reading
// program beside it, which is neither a build tree nor marked portable, and
// its import error log in the user's data folder.
struct CopiedCli {
  explicit CopiedCli(const test::TempDir& dir)
      : path(dir.file("bin/plinthwick-cli")),
        env("XDG_DATA_HOME='" + dir.file("data") + "'"),
        userLog(dir.file("data/plinthwick/Error.txt")),
        besideLog(dir.file("bin/Error.txt")) {
    std::filesystem::create_directories(dir.file("bin"));
    std::filesystem::copy_file(PW_CLI_PATH, path);
    std::filesystem::copy_file(PW_MDB_READER_PATH, dir.file("bin/plinthwick-mdb-reader"));
  }
  std::string path, env, userLog, besideLog;
};

// An installed copy keeps the import error log in the user's data folder, a
// portable one beside itself: the log a run clears when it starts shows
// which one it uses, and a clean run says nothing of a log.
TEST(CliRun, TheLogIsTheUsersUnlessTheCopyIsPortable) {
  test::TempDir dir;
  const CopiedCli cli(dir);
  WriteFile(dir.file("a.txt"), "A\n");
  for (const bool portable : {false, true}) {
    if (portable) WriteFile(dir.file("bin/portable"), "");
    for (const std::string& log : {cli.userLog, cli.besideLog})
      WriteFile(log, "[出错时间] 2020/1/1 0:00:00\r\n[错误信息] an earlier run\r\n");
    std::string err;
    EXPECT_EQ(RunCli(dir, "merge txt -o m a.txt", err, cli.path, cli.env), 0) << err;
    EXPECT_EQ(std::filesystem::exists(cli.userLog), portable);
    EXPECT_EQ(std::filesystem::exists(cli.besideLog), !portable);
    EXPECT_EQ(err.find("错误日志"), std::string::npos) << err;
  }
}

// A record the database writer refuses is logged; the run then counts what
// was not imported, names the log and fails.
TEST(CliRun, SkippedRecordsAreCountedAndTheLogNamed) {
  test::TempDir dir;
  const CopiedCli cli(dir);
  MakeDatabaseWithARecordThatDoesNotFit(dir.file("src.mdb"));
  std::string err;
  const int status = RunCli(dir, "merge mdb --into-table All --format mdb -o merged src.mdb", err,
                            cli.path, cli.env);
  EXPECT_TRUE(std::filesystem::exists(dir.file("merged.mdb"))) << err;
  if (!std::filesystem::exists(cli.userLog)) {
    EXPECT_EQ(status, 0) << err;
    EXPECT_EQ(err.find("错误日志"), std::string::npos) << err;
    GTEST_SKIP() << "the database writer stored the record made to be refused: nothing to count";
  }
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("有 2 条记录未能导入，详见错误日志：" + cli.userLog + "\n"), std::string::npos)
      << err;
  EXPECT_NE(ReadFile(cli.userLog).find("第3条记录出错，本表此后1条记录被跳过"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(cli.besideLog));
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
  std::filesystem::copy_file(source, dir.file("other.xls"));
  ASSERT_EQ(RunCli(dir, "merge xls -o joined book.xls other.xls", err), 0) << err;
  EXPECT_GT(std::filesystem::file_size(dir.file("joined.xlsx")), 0u);
}

}  // namespace
}  // namespace pw
