// What every run promises, whatever its kind: bad input is refused before
// anything is written, and sources go only after the whole run has completed,
// and only the file that was processed.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "batch/runner.h"
#include "platform/filekind.h"
#include "tests/ops_text/recording_reporter.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::RecordingReporter;
using test::TempDir;
using test::WriteFile;

// A zip with a [Content_Types].xml naming `mainType` as its main part.
void WriteOfficeZip(const std::string& path, const std::string& mainType) {
  int err = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(zip, nullptr);
  static std::string types;
  types = "<?xml version=\"1.0\"?><Types><Override PartName=\"/main.xml\" ContentType=\"" +
          mainType + "\"/></Types>";
  zip_source_t* src = zip_source_buffer(zip, types.data(), types.size(), 0);
  zip_file_add(zip, "[Content_Types].xml", src, ZIP_FL_OVERWRITE);
  ASSERT_EQ(zip_close(zip), 0);
}

const char kDocxType[] =
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
const char kXlsxType[] =
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";

std::string JetHeader() {
  std::string bytes(4096, '\0');
  bytes.replace(0, 4, std::string("\x00\x01\x00\x00", 4));
  bytes.replace(4, 15, "Standard Jet DB");
  return bytes;
}

struct TaskRun {
  RecordingReporter reporter;
  RunState state;
  TaskOptions options;
};

// Runs the task through the runner; answers the error text, empty on success.
std::string RunTask(TaskRun& r, TaskKind kind, TaskMode mode, const std::vector<std::string>& files,
                    const std::string& outputBase) {
  r.state = test::MakeRun(files, outputBase, &r.reporter.stop);
  try {
    RunOperation(kind, mode, r.state, r.options, r.reporter);
  } catch (const RunError& e) {
    return e.what();
  }
  return {};
}

std::size_t FilesIn(const std::string& folder) {
  return static_cast<std::size_t>(
      std::distance(fs::directory_iterator(folder), fs::directory_iterator{}));
}

TEST(RunChecks, ContentDecidesNotTheName) {
  TempDir dir;
  WriteOfficeZip(dir.file("report.xlsx"), kDocxType);  // a document renamed .xlsx
  WriteOfficeZip(dir.file("real.xlsx"), kXlsxType);
  WriteFile(dir.file("noise.docx"), std::string("\x13\x37 random bytes\n\x01\x02"));
  WriteFile(dir.file("book.mdb"), "PK\x03\x04 not a database");
  WriteFile(dir.file("table.docx"), JetHeader());
  struct Case {
    TaskKind kind;
    std::string file, says;
  };
  const Case cases[] = {
      {TaskKind::Workbook, "report.xlsx", "不是 Excel 工作簿：它的内容是 Word 文档"},
      {TaskKind::Document, "noise.docx", "不是 Word 文档：无法识别它的内容"},
      {TaskKind::Database, "book.mdb", "不是 Access 数据库："},
      {TaskKind::Document, "table.docx", "它的内容是 Access 数据库"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TaskRun r;
    const std::size_t before = FilesIn(dir.str());
    // The good file comes first: nothing at all may be written for it either.
    const std::vector<std::string> files = {dir.file("real.xlsx"), dir.file(c.file)};
    const std::string error = RunTask(
        r, c.kind, TaskMode::Split,
        c.kind == TaskKind::Workbook ? files : std::vector{dir.file(c.file)}, dir.file("x"));
    EXPECT_NE(error.find(dir.file(c.file)), std::string::npos) << error;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_EQ(FilesIn(dir.str()), before);
  }
}

TEST(RunChecks, RefusesWhatIsNotARegularFileOrIsGivenTwice) {
  TempDir dir;
  WriteFile(dir.file("a.txt"), "one\n");
  ASSERT_EQ(::mkfifo(dir.file("pipe.xlsx").c_str(), 0600), 0);
  fs::create_directory(dir.file("folder.txt"));
  fs::create_symlink(dir.file("a.txt"), dir.file("link.txt"));
  struct Case {
    TaskKind kind;
    std::vector<std::string> files;
    std::string says;
  };
  const Case cases[] = {
      {TaskKind::Workbook, {dir.file("pipe.xlsx")}, "这不是一个普通文件"},
      {TaskKind::Text, {dir.file("folder.txt")}, "这是一个文件夹"},
      {TaskKind::Text, {dir.file("missing.txt")}, "不存在"},
      {TaskKind::Text, {dir.file("a.txt"), dir.file("a.txt")}, "出现了两次"},
      {TaskKind::Text, {dir.file("a.txt"), dir.file("link.txt")}, "是同一个文件"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    TaskRun r;
    const std::string error = RunTask(r, c.kind, TaskMode::Merge, c.files, dir.file("out"));
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir.file("out.txt")));
  }
}

TEST(RunChecks, OutputFolderMustTakeFiles) {
  TempDir dir;
  WriteFile(dir.file("a.txt"), "one\n");
  fs::create_directory(dir.file("locked"));
  fs::permissions(dir.file("locked"), fs::perms::owner_read | fs::perms::owner_exec |
                                          fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir.str(), fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::add);
  // Root writes into any folder: the run is made as an ordinary user then.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    TaskRun r;
    const std::string error =
        RunTask(r, TaskKind::Text, TaskMode::Merge, {dir.file("a.txt")}, dir.file("locked/out"));
    ::_exit(error.find("没有写入权限") != std::string::npos && r.reporter.events.empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(dir.file("locked/out.txt")));
}

TEST(RunChecks, MissingOutputFolderIsRefusedBeforeAnyWork) {
  TempDir dir;
  WriteFile(dir.file("a.txt"), "one\n");
  TaskRun r;
  const std::string error =
      RunTask(r, TaskKind::Text, TaskMode::Merge, {dir.file("a.txt")}, dir.file("gone/out"));
  EXPECT_NE(error.find("保存目录“" + dir.file("gone") + "”不存在"), std::string::npos) << error;
  EXPECT_TRUE(r.reporter.events.empty());
}

// The trash lives in this test's folder, so nothing leaves it.
class SourceRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    WriteFile(dir.file("a.txt"), "head\n1\n2\n");
    WriteFile(dir.file("b.txt"), "head\n3\n4\n");
    r.options.common.deleteSources = true;
    r.options.textSplit.way = TextSplitOptions::Way::Parts;
  }
  void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }
  std::vector<std::string> Sources() const { return {dir.file("a.txt"), dir.file("b.txt")}; }
  std::vector<std::string> Removed() const {
    std::vector<std::string> out;
    for (const std::string& e : r.reporter.events)
      if (e.starts_with("source ")) out.push_back(e);
    return out;
  }
  TempDir dir;
  TaskRun r;
};

TEST_F(SourceRemoval, GoOnlyAfterTheWholeRunAndInTheirOrder) {
  ASSERT_EQ(RunTask(r, TaskKind::Text, TaskMode::Merge, Sources(), dir.file("all")), "");
  EXPECT_EQ(Removed(), (std::vector<std::string>{"source 0 trashed", "source 1 trashed"}));
  // Both sources went after the merged file was complete.
  const auto& ev = r.reporter.events;
  const auto firstRemoval = std::find(ev.begin(), ev.end(), "source 0 trashed");
  const auto lastCounter = std::find(ev.begin(), ev.end(), "counter 1");
  EXPECT_LT(lastCounter, firstRemoval);
  EXPECT_EQ(test::ReadFile(dir.file("all.txt")), "head\n1\n2\nhead\n3\n4\n");
  EXPECT_FALSE(fs::exists(dir.file("a.txt")));
  EXPECT_TRUE(fs::exists(dir.file("data/Trash/files/a.txt")));
}

TEST_F(SourceRemoval, AStoppedRunRemovesNone) {
  r.reporter.stopOnStatus = "正在合并第 1 个文件";
  RunTask(r, TaskKind::Text, TaskMode::Merge, Sources(), dir.file("all"));
  EXPECT_TRUE(Removed().empty());
  EXPECT_TRUE(fs::exists(dir.file("a.txt")));
  EXPECT_TRUE(fs::exists(dir.file("b.txt")));
}

TEST_F(SourceRemoval, AFailedRunRemovesNone) {
  // The second source cannot be split (UTF-16 with a byte-order mark) after
  // the first one's parts are written.
  WriteFile(dir.file("b.txt"), std::string("\xFF\xFEh\0\n\0", 6));
  EXPECT_NE(RunTask(r, TaskKind::Text, TaskMode::Split, Sources(), dir.file("a.txt")), "");
  EXPECT_TRUE(Removed().empty());
  EXPECT_TRUE(fs::exists(dir.file("a.txt")));
  EXPECT_TRUE(fs::exists(dir.file("a1.txt")));
}

TEST_F(SourceRemoval, AFileRenamedOverTheSourceDuringTheRunIsKept) {
  // While the second file is merged, another file takes the first one's name.
  r.reporter.stopOnStatus = "never";
  WriteFile(dir.file("other.txt"), "someone else's file\n");
  struct Swapper : RecordingReporter {
    std::string from, to;
    void Status(const std::string& text) override {
      RecordingReporter::Status(text);
      if (text.starts_with("正在合并第 1 个文件")) fs::rename(from, to);
    }
  } swapper;
  swapper.from = dir.file("other.txt");
  swapper.to = dir.file("a.txt");
  r.state = test::MakeRun(Sources(), dir.file("all"), nullptr);
  RunOperation(TaskKind::Text, TaskMode::Merge, r.state, r.options, swapper);

  std::vector<std::string> removed;
  for (const std::string& e : swapper.events)
    if (e.starts_with("source ")) removed.push_back(e);
  EXPECT_EQ(removed, (std::vector<std::string>{"source 0 replaced", "source 1 trashed"}));
  EXPECT_EQ(test::ReadFile(dir.file("a.txt")), "someone else's file\n");
  EXPECT_EQ(test::ReadFile(dir.file("all.txt")), "head\n1\n2\nhead\n3\n4\n");
}

// Every real file of the shared fixtures is told by its content.
TEST(FileContentSniffing, TellsTheFixturesApart) {
  const fs::path root = "../shared/fixtures";
  const fs::path base = fs::exists(root) ? root : fs::path(PW_SOURCE_DIR) / root;
  if (!fs::exists(base)) GTEST_SKIP() << "../shared/fixtures is absent: real files not checked";
  const std::map<std::string, FileContent> byFolder = {
      {"doc", FileContent::WordDocument}, {"docx", FileContent::WordDocument},
      {"xls", FileContent::Workbook},     {"xlsx", FileContent::Workbook},
      {"mdb", FileContent::Database},     {"txt", FileContent::Unknown},
  };
  int checked = 0;
  for (const auto& [folder, want] : byFolder) {
    for (const auto& entry : fs::directory_iterator(base / folder)) {
      if (entry.path().filename() == "SOURCES.md") continue;
      int err = 0;
      EXPECT_EQ(SniffFileContent(entry.path().string(), err), want) << entry.path();
      EXPECT_EQ(err, 0);
      ++checked;
    }
  }
  EXPECT_GT(checked, 50);
}

}  // namespace
}  // namespace pw
