// The built program on small files: exit status, files written, what it says.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

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
      {"split txt --lines 2 day.txt", 0, "1 个文件已被分割，并生成了新文件！"},
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

// The outputs of a --json summary as "path lines" lines ("-" for an unknown
// count) in name order, read by an independent JSON parser.
std::string JsonOutputs(const std::string& json, const test::TempDir& dir) {
  WriteFile(dir.file("summary.json"), json);
  const std::string command =
      "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); "
      "print(\"\".join(sorted(\"%s %s\\n\" % (o[\"path\"], o.get(\"lines\", \"-\")) "
      "for o in d[\"outputs\"])), end=\"\")' '" +
      dir.file("summary.json") + "' >'" + dir.file("outputs.txt") + "'";
  if (std::system(command.c_str()) != 0) return "unreadable JSON: " + json;
  return ReadFile(dir.file("outputs.txt"));
}

// Lines of a file as a reader counts them: line feeds, and a last line without one.
long long CountLines(const std::string& bytes) {
  long long n = std::count(bytes.begin(), bytes.end(), '\n');
  return bytes.empty() || bytes.back() == '\n' ? n : n + 1;
}

std::set<std::string> FilesIn(const test::TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.str()))
    names.insert(entry.path().filename().string());
  return names;
}

// A dry run writes nothing and lists exactly the files the real run then
// writes, with their line counts.
TEST(CliRun, DryRunListsWhatTheRunWrites) {
  const std::vector<std::string> cases = {
      "split txt --lines 2 day.txt",  "split txt --lines 3 --no-repeat-title day.txt long.txt",
      "split txt --parts 3 long.txt", "split txt --parts 40 day.txt",
      "split txt --size 1 long.txt",  "merge txt -o merged day.txt long.txt a.txt",
  };
  for (const std::string& args : cases) {
    test::TempDir dir;
    WriteFile(dir.file("a.txt"), "A");
    WriteFile(dir.file("day.txt"), "T\nx\ny\nz");
    std::string text = "head\r\n\n";
    for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
    WriteFile(dir.file("long.txt"), text);
    const std::set<std::string> before = FilesIn(dir);
    std::string err;
    ASSERT_EQ(RunCli(dir, args + " --dry-run --json", err), 0) << args << "\n" << err;
    const std::string planned = JsonOutputs(ReadFile(dir.file("out.log")), dir);
    std::set<std::string> after = FilesIn(dir);
    for (const char* log : {"out.log", "err.log", "summary.json", "outputs.txt"}) after.erase(log);
    EXPECT_EQ(after, before) << args << ": the dry run wrote something";

    ASSERT_EQ(RunCli(dir, args + " --json", err), 0) << args << "\n" << err;
    std::string written;  // in name order, as JsonOutputs gives them
    std::istringstream outputs(JsonOutputs(ReadFile(dir.file("out.log")), dir));
    for (std::string line; std::getline(outputs, line);) {
      const std::string path = line.substr(0, line.find(' '));
      written += path + " " + std::to_string(CountLines(ReadFile(path))) + "\n";
    }
    EXPECT_EQ(planned, written) << args;
    EXPECT_FALSE(written.empty()) << args;
  }
}

// Where a count needs the engine, the dry run names the output and says so;
// what the run would refuse, the dry run refuses alike.
TEST(CliRun, DryRunOfOtherKindsAndOfBadInput) {
  test::TempDir dir;
  db::CreateDatabaseFile(dir.file("x.mdb"), 64);
  WriteFile(dir.file("day.txt"), "T\nx\ny\nz");
  std::string err;
  EXPECT_EQ(RunCli(dir, "merge mdb --format mdb -o all x.mdb --dry-run", err), 0) << err;
  const std::string out = ReadFile(dir.file("out.log"));
  EXPECT_NE(out.find(dir.file("all.mdb")), std::string::npos) << out;
  EXPECT_NE(out.find("数据库引擎"), std::string::npos) << out;
  EXPECT_EQ(RunCli(dir, "split mdb x.mdb --delete-sources --dry-run", err), 0) << err;
  EXPECT_NE(ReadFile(dir.file("out.log")).find(dir.file("x_N.mdb")), std::string::npos);
  EXPECT_NE(ReadFile(dir.file("out.log")).find("1 个源文件将移到回收站"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir.file("x.mdb")));
  EXPECT_EQ(RunCli(dir, "split txt --size 5 day.txt --dry-run", err), 1);
  EXPECT_NE(err.find("day.txt"), std::string::npos) << err;
  ASSERT_EQ(::mkfifo(dir.file("pipe.txt").c_str(), 0600), 0);
  EXPECT_EQ(RunCli(dir, "merge txt day.txt pipe.txt --dry-run", err), 1);
  EXPECT_NE(err.find("pipe.txt"), std::string::npos) << err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("all.mdb")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("day1.txt")));
}

// The summary tells the sources removed and the errors; --quiet leaves only
// errors on standard error.
TEST(CliRun, JsonSummaryAndQuiet) {
  test::TempDir dir;
  WriteFile(dir.file("a.txt"), "A\n");
  WriteFile(dir.file("b.txt"), "B\n");
  const std::string home = "HOME='" + dir.file("home") + "' XDG_DATA_HOME=";
  std::string err;
  ASSERT_EQ(
      RunCli(dir, "merge txt -q --json --delete-sources -o m a.txt b.txt", err, PW_CLI_PATH, home),
      0)
      << err;
  EXPECT_EQ(err, "");
  const std::string json = ReadFile(dir.file("out.log"));
  EXPECT_NE(json.find("\"finished\":2,"), std::string::npos) << json;
  EXPECT_NE(json.find("\"outputs\":[{\"path\":\"" + dir.file("m.txt") + "\",\"bytes\":4}]"),
            std::string::npos)
      << json;
  for (const std::string name : {"a.txt", "b.txt"})
    EXPECT_NE(json.find("{\"path\":\"" + dir.file(name) + "\",\"outcome\":\"trashed\"}"),
              std::string::npos)
        << json;
  EXPECT_EQ(JsonOutputs(json, dir), dir.file("m.txt") + " -\n");

  WriteFile(dir.file("a.txt"), "A\n");
  EXPECT_EQ(RunCli(dir, "merge txt -q --json -o n a.txt gone.txt", err), 1);
  EXPECT_NE(err.find("gone.txt"), std::string::npos) << err;
  const std::string failed = ReadFile(dir.file("out.log"));
  EXPECT_NE(failed.find("\"status\":1,"), std::string::npos) << failed;
  EXPECT_NE(failed.find("\"outputs\":[]"), std::string::npos) << failed;
  EXPECT_NE(failed.find("\"errors\":[{\"path\":\"" + dir.file("gone.txt") + "\",\"message\":"),
            std::string::npos)
      << failed;
}

// On a terminal the progress is one line drawn over itself, and the run ends
// with its outcome on a line of its own.
TEST(CliRun, ProgressOnATerminalIsOneLine) {
  test::TempDir dir;
  std::string args;
  for (int i = 0; i < 3; ++i) {
    WriteFile(dir.file("f" + std::to_string(i) + ".txt"), "x\n");
    args += " f" + std::to_string(i) + ".txt";
  }
  const std::string command = "cd '" + dir.str() + "' && TERM=xterm script -qec \"'" +
                              std::string(PW_CLI_PATH) + "' merge txt -o m" + args +
                              "\" /dev/null >tty.log 2>&1 </dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string tty = ReadFile(dir.file("tty.log"));
  EXPECT_NE(tty.find("\r\033[K[1/3] 0% f0.txt"), std::string::npos) << tty;
  EXPECT_NE(tty.find("\r\033[K3 个文件合并生成新文件：" + dir.file("m.txt") + "\r\n"),
            std::string::npos)
      << tty;
  EXPECT_EQ(tty.find("已完成"), std::string::npos) << tty;
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
// What a run could not keep is counted on the last line, the log named, and
// the exit status is 1. Every record is stored now, so the sample database's
// saved queries with joins are what the run cannot keep.
TEST(CliRun, WhatCouldNotBeKeptIsCountedAndTheLogNamed) {
  const std::string source = PW_FIXTURES_DIR "/mdb/jet3_nwind.mdb";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "fixture absent: " << source;
  test::TempDir dir;
  const CopiedCli cli(dir);
  std::filesystem::copy_file(source, dir.file("src.mdb"));
  std::string err;
  const int status = RunCli(dir, "merge mdb --delete-sources --format mdb -o merged src.mdb", err,
                            cli.path, cli.env);
  EXPECT_TRUE(std::filesystem::exists(dir.file("merged.mdb"))) << err;
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("个查询未能复制，详见错误日志：" + cli.userLog + "\n"), std::string::npos)
      << err;
  EXPECT_NE(ReadFile(cli.userLog).find("[未复制查询]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(cli.besideLog));
  EXPECT_TRUE(std::filesystem::exists(dir.file("src.mdb"))) << "a source not kept whole stays";
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
