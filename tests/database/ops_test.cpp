// Database merge and split on databases the test makes, as the runner calls
// them; the error log of records that cannot be stored.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <set>

#include "ops/database/database_ops.h"
#include "platform/database/engine.h"
#include "platform/database/jet_check.h"
#include "platform/paths.h"
#include "tests/database/db_readers.h"
#include "tests/database/ops_support.h"
#include "tests/database/reader_children.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using test::FakeReporter;
using test::MakeRun;

struct TableSpec {
  std::string name;
  std::vector<std::string> fields;
  Rows rows;
};

// A source database made with our own writer.
void MakeDatabase(const std::string& path, const std::vector<TableSpec>& tables) {
  db::CreateDatabaseFile(path, 64);
  db::JetWriter w(path);
  for (const TableSpec& t : tables) {
    w.CreateTable(t.name, t.fields[0]);
    for (std::size_t i = 1; i < t.fields.size(); ++i) w.AddColumn(t.name, t.fields[i]);
    for (const auto& r : t.rows) {
      std::vector<std::optional<std::string>> v(r.begin(), r.end());
      w.AppendRecord(t.name, v);
    }
  }
}

Rows Numbered(const std::string& prefix, int n) {
  Rows rows;
  for (int i = 1; i <= n; ++i) rows.push_back({prefix + std::to_string(i)});
  return rows;
}

struct Seen {
  std::vector<std::string> tables;
  std::map<std::string, db::TableData> data;
};

Seen Read(const std::string& path) {
  Seen s;
  db::MdbFile f(path);
  s.tables = f.TableNames();
  for (const auto& t : s.tables) s.data[t] = f.ReadTable(t);
  const db::CheckReport report = db::CheckDatabase(path, true);
  EXPECT_TRUE(report.ok()) << path << ": " << (report.faults.empty() ? "" : report.faults[0]);
  return s;
}

std::vector<std::string> Column(const db::TableData& t, std::size_t c) {
  std::vector<std::string> out;
  for (const auto& r : t.rows) out.push_back(r.at(c));
  return out;
}

class DatabaseOps : public ::testing::Test {
 protected:
  void SetUp() override { SetAppFolderOverride(dir.str() + "/app"); }
  void TearDown() override { SetAppFolderOverride({}); }
  std::string Log() { return pw::test::ReadFile(ErrorLogFile()); }
  pw::test::TempDir dir;
  FakeReporter reporter;
};

TEST(CleanFieldName, FollowsTheCleaningRule) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"First Name", "FirstName"},
      {"user_id", "userid"},
      {"e-mail", "email"},
      {"Price$", "Price"},
      {"Index", "Indexs"},
      {"On", "Ons"},
      {"No", "Nos"},
      {"Class", "Classs"},
      {"Age", "Ages"},
      {"ID", "ID"},
      {"Name", "Name"},
      {"Date", "Date"},
      {"Remark", "Remark"},
      {"姓名", "姓名"},
      {"#", ""},
      {"a", "as"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(CleanFieldName(in), out) << in;
}

TEST_F(DatabaseOps, MergeByNameWidensTablesAndKeepsSourceOrder) {
  std::filesystem::create_directories(dir.str() + "/app");
  const std::string a = dir.file("a.mdb"), b = dir.file("b.mdb");
  MakeDatabase(a, {{"Order Details", {"Order No", "Price$", "Remark"}, {{"1", "9.5", "x"}}},
                   {"B", {"K"}, Numbered("a", 2)}});
  MakeDatabase(
      b, {{"order details", {"Order No", "Price$", "Remark", "Note"}, {{"2", "3", "", "n"}}}});
  for (bool widen : {true, false}) {
    RunState run = MakeRun({a, b}, dir.str() + "/out/新文档");
    std::filesystem::create_directories(dir.str() + "/out");
    DatabaseMergeOptions options;
    options.addNewFields = widen;
    MergeDatabases(run, options, CommonOptions{}, reporter);
    EXPECT_EQ(run.OutputBase, dir.str() + "/out/新文档.accdb");
    EXPECT_EQ(db::MdbFile(run.OutputBase).version(), db::JetVersion::Ace);
    const Seen s = Read(run.OutputBase);
    EXPECT_EQ(s.tables, (std::vector<std::string>{"Order Details", "B"}));
    const db::TableData& t = s.data.at("Order Details");
    std::vector<std::string> names;
    for (const auto& c : t.columns) names.push_back(c.name);
    EXPECT_EQ(names, widen ? (std::vector<std::string>{"OrderNo", "Price", "Remark", "Note"})
                           : (std::vector<std::string>{"OrderNo", "Price", "Remark"}));
    EXPECT_EQ(Column(t, 0), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Column(t, 1), (std::vector<std::string>{"9.5", "3"}));
    if (widen) {
      EXPECT_EQ(Column(t, 3), (std::vector<std::string>{"", "n"}));
    }
    EXPECT_EQ(s.data.at("B").rows.size(), 2u);
  }
  EXPECT_TRUE(std::filesystem::exists(a));
  EXPECT_FALSE(std::filesystem::exists(ErrorLogFile()));
}

// The most bytes a stored value may have, lowered for one test.
struct LongValueLimit {
  explicit LongValueLimit(std::size_t bytes) { db::JetWriter::SetLongValueLimit(bytes); }
  ~LongValueLimit() { db::JetWriter::SetLongValueLimit(std::size_t{1} << 30); }
};

TEST_F(DatabaseOps, MergeIntoOneTableKeepsWideRecordsAndLogsWhatCannotBeStored) {
  std::filesystem::create_directories(dir.str() + "/app");
  // The one target table gets 241 columns from table A; B's third record,
  // fine in its own table, is wider than a page in the wider table: its
  // texts become long text, and it is stored whole.
  TableSpec wide{"A", {}, {}};
  for (int i = 1; i <= 241; ++i) wide.fields.push_back("w" + std::to_string(i));
  TableSpec b{"B", {}, {{"1"}, {"2"}}};
  std::vector<std::string> big;
  for (int i = 1; i <= 14; ++i) {
    b.fields.push_back("f" + std::to_string(i));
    big.push_back(std::string(250, static_cast<char>('a' + i)));
  }
  b.rows.push_back(big);
  b.rows.push_back({"4"});
  const std::string src = dir.file("src.mdb");
  MakeDatabase(src, {wide, b});
  DatabaseMergeOptions options;
  options.intoOneTable = true;
  options.newTableName = "  All  ";
  options.access2007 = false;
  CommonOptions common;
  common.deleteSources = true;
  {
    RunState run = MakeRun({src}, dir.file("merged"));
    MergeDatabases(run, options, common, reporter);
    EXPECT_EQ(run.OutputBase, dir.file("merged.mdb"));
    const Seen s = Read(run.OutputBase);
    ASSERT_EQ(s.tables, std::vector<std::string>{"All"});
    const db::TableData& all = s.data.at("All");
    EXPECT_EQ(all.columns.size(), 255u);
    ASSERT_EQ(all.rows.size(), 4u);
    for (std::size_t f = 0; f < big.size(); ++f) EXPECT_EQ(all.rows[2][241 + f], big[f]) << f;
    EXPECT_EQ(all.rows[3][241], "4");
    EXPECT_EQ(run.PendingRemovals, std::vector<int>{0});
    EXPECT_FALSE(std::filesystem::exists(ErrorLogFile()));
  }

  // A value beyond what a field holds cannot be stored: logged, the rest
  // of the table skipped, the source kept.
  LongValueLimit limit(200);
  RunState run = MakeRun({src}, dir.file("limited"));
  MergeDatabases(run, options, common, reporter);
  const Seen s = Read(run.OutputBase);
  EXPECT_EQ(s.data.at("All").rows.size(), 2u);
  EXPECT_TRUE(run.PendingRemovals.empty()) << "a source with skipped records stays";
  const std::string log = Log();
  EXPECT_NE(log.find("[错误信息] 数据库“src.mdb”中表“B”第3条记录出错，本表此后1条记录被跳过！\r\n"),
            std::string::npos)
      << log;
  const std::string line3 = "[出错记录]  f1：" + big[0] + "；";
  EXPECT_NE(log.find(line3), std::string::npos);
  EXPECT_NE(log.find("f8：" + big[7] + "；\r\n"), std::string::npos);  // eight fields, no more
  EXPECT_EQ(log.find("f9："), std::string::npos);
  EXPECT_NE(log.find(std::string(65, '*') + "\r\n"), std::string::npos);
  EXPECT_EQ(log.rfind("[出错时间] ", 0), 0u);

  options.newTableName = " ";
  RunState again = MakeRun({src}, dir.file("other"));
  EXPECT_THROW(MergeDatabases(again, options, CommonOptions{}, reporter), RunError);
  EXPECT_FALSE(std::filesystem::exists(dir.file("other.mdb")));
}

TEST_F(DatabaseOps, MergeRefusesItsOwnSourceAndNamesABadOne) {
  const std::string a = dir.file("a.mdb");
  MakeDatabase(a, {{"T", {"A"}, Numbered("r", 1)}});
  RunState own = MakeRun({a}, dir.file("a"));
  DatabaseMergeOptions mdb;
  mdb.access2007 = false;
  EXPECT_THROW(MergeDatabases(own, mdb, CommonOptions{}, reporter), RunError);
  EXPECT_EQ(Read(a).data.at("T").rows.size(), 1u);  // untouched

  pw::test::WriteFile(dir.file("bad.mdb"), "not a database at all");
  RunState run = MakeRun({a, dir.file("bad.mdb")}, dir.file("out"));
  try {
    MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
    FAIL();
  } catch (const RunError& e) {
    EXPECT_EQ(e.kind(), RunError::Kind::Failure);
    EXPECT_NE(std::string(e.what()).find("bad.mdb”不是 Access 数据库文件"), std::string::npos)
        << e.what();
  }
  EXPECT_TRUE(reporter.removed.empty());  // refused before the first source was merged

  // A table name the target engine refuses ends the run with its cause.
  DatabaseMergeOptions named;
  named.intoOneTable = true;
  named.newTableName = "a.b";
  RunState dotted = MakeRun({a}, dir.file("dotted"));
  try {
    MergeDatabases(dotted, named, CommonOptions{}, reporter);
    FAIL();
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("不允许的字符"), std::string::npos) << e.what();
  }
}

struct SplitCase {
  DatabaseSplitOptions::Way way;
  int count;
  std::string only;
  // Per part: records of A and of B ("" = table absent).
  std::vector<std::pair<std::string, std::string>> parts;
};

std::string Range(const Seen& s, const std::string& table) {
  const auto it = s.data.find(table);
  if (it == s.data.end()) return "";
  const auto rows = Column(it->second, 0);
  if (rows.empty()) return "0";
  return rows.front() + "-" + rows.back();
}

TEST_F(DatabaseOps, SplitWaysMakeTheirParts) {
  using Way = DatabaseSplitOptions::Way;
  const std::vector<SplitCase> cases = {
      {Way::Parts, 3, "", {{"a1-a3", "0"}, {"a4-a6", "0"}, {"a7-a10", "b1-b2"}}},
      {Way::Rows, 4, "", {{"a1-a4", "b1-b2"}, {"a5-a8", ""}, {"a9-a10", ""}}},
      {Way::Rows, 5, "", {{"a1-a5", "b1-b2"}, {"a6-a10", ""}}},
      {Way::Rows, 10, "", {{"a1-a10", "b1-b2"}}},
      {Way::Parts, 2, "B", {{"", "b1-b1"}, {"", "b2-b2"}}},
      {Way::Parts, 2, "b", {{"", ""}, {"", ""}}},
  };
  for (const SplitCase& c : cases) {
    pw::test::TempDir work;
    const std::string x = work.file("x.mdb");
    MakeDatabase(x, {{"A", {"id"}, Numbered("a", 10)}, {"B", {"id"}, Numbered("b", 2)}});
    DatabaseSplitOptions options;
    options.way = c.way;
    options.partsText = options.rowsText = std::to_string(c.count);
    options.singleTable = !c.only.empty();
    options.tableName = c.only;
    RunState run = MakeRun({x}, {});
    CommonOptions common;
    common.deleteSources = true;
    SplitDatabases(run, options, common, reporter);
    std::size_t p = 0;
    for (; p < c.parts.size(); ++p) {
      const std::string part = work.file("x_" + std::to_string(p + 1) + ".mdb");
      ASSERT_TRUE(std::filesystem::exists(part)) << part;
      const Seen s = Read(part);
      EXPECT_EQ(Range(s, "A"), c.parts[p].first) << part << " way " << int(c.way) << " " << c.count;
      EXPECT_EQ(Range(s, "B"), c.parts[p].second) << part;
    }
    EXPECT_FALSE(std::filesystem::exists(work.file("x_" + std::to_string(p + 1) + ".mdb")));
    EXPECT_EQ(run.PendingRemovals.empty(), c.only == "b")
        << "source kept only when nothing was written";
  }
}

// A split by rows of several large tables keeps no reading program per
// table running through it, and each part still gets its records of each.
TEST_F(DatabaseOps, SplitByRowsOfSeveralTablesKeepsOneReadingProgram) {
  struct Counting : test::FakeReporter {
    std::size_t most = 0;
    void Status(const std::string& text) override {
      FakeReporter::Status(text);
      most = std::max(most, db::test::ReaderChildren().size());
    }
  } counting;
  // Records wide enough that a table outgrows what a pipe holds.
  auto wide = [](const std::string& prefix, int n) {
    Rows rows = Numbered(prefix, n);
    for (auto& r : rows) r.push_back(std::string(200, 'w'));
    return rows;
  };
  const std::string src = dir.file("src.mdb");
  MakeDatabase(src, {{"A", {"id", "note"}, wide("a", 3000)},
                     {"B", {"id", "note"}, wide("b", 2500)},
                     {"C", {"id", "note"}, wide("c", 3000)}});
  RunState run = MakeRun({src}, {});
  DatabaseSplitOptions options;
  options.way = DatabaseSplitOptions::Way::Rows;
  options.rowsText = "1000";
  SplitDatabases(run, options, CommonOptions{}, counting);
  EXPECT_LE(counting.most, 1u);
  const char* expected[][3] = {{"a1-a1000", "b1-b1000", "c1-c1000"},
                               {"a1001-a2000", "b1001-b2000", "c1001-c2000"},
                               {"a2001-a3000", "b2001-b2500", "c2001-c3000"}};
  for (int p = 0; p < 3; ++p) {
    const Seen s = Read(dir.file("src_" + std::to_string(p + 1) + ".mdb"));
    for (int t = 0; t < 3; ++t)
      EXPECT_EQ(Range(s, std::string(1, static_cast<char>('A' + t))), expected[p][t]) << p;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("src_4.mdb")));
}

TEST_F(DatabaseOps, SplitByRowsWritesEveryPartInTheSourcesFormat) {
  // More than a thousand parts: the last records are written like the first.
  const auto memory = test::FastTempDir();
  const pw::test::TempDir& fast = *memory;
  const std::string x = fast.file("x.accdb");
  db::CreateDatabaseFile(x, 128);
  {
    db::JetWriter w(x);
    w.CreateTable("A", "id");
    for (int i = 1; i <= 1003; ++i) w.AppendRecord("A", {"a" + std::to_string(i)});
  }
  DatabaseSplitOptions options;
  options.way = DatabaseSplitOptions::Way::Rows;
  options.rowsText = "1";
  RunState run = MakeRun({x}, {});
  CommonOptions common;
  common.deleteSources = true;
  SplitDatabases(run, options, common, reporter);
  for (int p : {1, 1000, 1001, 1003}) {
    const std::string part = fast.file("x_" + std::to_string(p) + ".accdb");
    ASSERT_TRUE(std::filesystem::exists(part)) << part;
    EXPECT_EQ(db::MdbFile(part).version(), db::JetVersion::Ace) << part;
    EXPECT_EQ(Range(Read(part), "A"), "a" + std::to_string(p) + "-a" + std::to_string(p));
  }
  EXPECT_FALSE(std::filesystem::exists(fast.file("x_1004.accdb")));
  EXPECT_EQ(run.PendingRemovals, std::vector<int>{0});

  // An .mdb source gives Jet 4 parts.
  const std::string y = dir.file("y.mdb");
  MakeDatabase(y, {{"A", {"id"}, Numbered("y", 2)}});
  RunState other = MakeRun({y}, {});
  SplitDatabases(other, DatabaseSplitOptions{}, CommonOptions{}, reporter);
  EXPECT_EQ(db::MdbFile(dir.file("y_2.mdb")).version(), db::JetVersion::Jet4);
}

TEST_F(DatabaseOps, SplitEachTableIntoItsOwnDatabase) {
  const std::string x = dir.file("x.mdb");
  MakeDatabase(
      x, {{"A", {"id", "Name"}, {{"1", "一"}, {"2", "二"}}}, {"B", {"id"}, Numbered("b", 2)}});
  DatabaseSplitOptions options;
  options.way = DatabaseSplitOptions::Way::PerTable;
  RunState run = MakeRun({x}, {});
  SplitDatabases(run, options, CommonOptions{}, reporter);
  const Seen a = Read(dir.file("x_A.mdb"));
  EXPECT_EQ(a.tables, std::vector<std::string>{"A"});
  EXPECT_EQ(Column(a.data.at("A"), 1), (std::vector<std::string>{"一", "二"}));
  EXPECT_EQ(Read(dir.file("x_B.mdb")).data.at("B").rows.size(), 2u);
}

TEST_F(DatabaseOps, AStopLeavesTheUnfinishedFileInTheList) {
  const std::string x = dir.file("x.mdb");
  MakeDatabase(x, {{"A", {"id"}, Numbered("a", 3)}});
  std::atomic<bool> stop{true};
  RunState run = MakeRun({x}, {});
  run.StopFlag = &stop;
  CommonOptions common;
  common.deleteSources = true;
  SplitDatabases(run, DatabaseSplitOptions{}, common, reporter);
  EXPECT_TRUE(reporter.removed.empty());
  EXPECT_EQ(reporter.statuses.back(), "用户强行退出，转换操作未完成！");
  EXPECT_TRUE(std::filesystem::exists(x));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x_1.mdb")));
}

TEST_F(DatabaseOps, SplitChecksItsOptionsBeforeMakingAnything) {
  const std::string x = dir.file("x.mdb");
  MakeDatabase(x, {{"A", {"id"}, Numbered("a", 3)}});
  using Way = DatabaseSplitOptions::Way;
  struct Bad {
    Way way;
    std::string count;
    bool single;
    std::string message;
  };
  const std::vector<Bad> bad = {
      {Way::Parts, " ", false, "文件数不能为空且必须为阿拉伯数字，请检查！"},
      {Way::Rows, "", false, "数据行数不能为空且必须为阿拉伯数字，请检查！"},
      {Way::Rows, "1O", false, "阿拉伯数字"},
      {Way::Parts, "0", false, "文件数必须大于 0"},
      {Way::Rows, "-3", false, "数据行数必须大于 0"},
      {Way::PerTable, "", true, "请选择需要操作的数据表！"},
  };
  for (const Bad& b : bad) {
    DatabaseSplitOptions options;
    options.way = b.way;
    options.partsText = options.rowsText = b.count;
    options.singleTable = b.single;
    RunState run = MakeRun({x}, {});
    try {
      SplitDatabases(run, options, CommonOptions{}, reporter);
      ADD_FAILURE() << b.count;
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Validation);
      EXPECT_NE(std::string(e.what()).find(b.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x_1.mdb")));
  }
  // A part that would land on another file of the run is refused.
  MakeDatabase(dir.file("x_1.mdb"), {{"Keep", {"id"}, Numbered("k", 1)}});
  RunState run = MakeRun({x, dir.file("x_1.mdb")}, {});
  EXPECT_THROW(SplitDatabases(run, DatabaseSplitOptions{}, CommonOptions{}, reporter), RunError);
  EXPECT_EQ(Read(dir.file("x_1.mdb")).tables, std::vector<std::string>{"Keep"});
}

// Names of files the runs left behind that are not outputs: temporary files
// of outputs that were never put in place.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(".~pw", 0) == 0 || name.find(".pw-new") != std::string::npos)
      out.push_back(name);
  }
  return out;
}

std::set<std::string> FileNames(const std::string& folder) {
  std::set<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder))
    out.insert(e.path().filename().string());
  return out;
}

// Runs `work` in a child process whose files may not grow beyond `bytes`,
// as on a full disk. Answers "<file>|<message>" of the RunError it ended
// with, or "completed".
std::string WithFileSizeLimit(rlim_t bytes, const std::function<void()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    const rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string answer = "completed";
    try {
      work();
    } catch (const RunError& e) {
      answer = e.file() + "|" + e.what();
    } catch (const std::exception& e) {
      answer = std::string("not a RunError|") + e.what();
    }
    if (write(fds[1], answer.data(), answer.size()) < 0) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  std::string answer;
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
    answer.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return answer;
}

// A table of `rows` records of 200 characters: about 120 KB for 600.
TableSpec BigTable(const std::string& name, int rows) {
  TableSpec t{name, {"Text"}, {}};
  for (int i = 0; i < rows; ++i) t.rows.push_back({std::to_string(i) + std::string(196, 'x')});
  return t;
}

TEST_F(DatabaseOps, AStopMidSplitUndoesOnlyTheFileInProgress) {
  const std::string x = dir.file("x.mdb"), y = dir.file("y.mdb");
  MakeDatabase(x, {{"A", {"id"}, Numbered("a", 10)}});
  MakeDatabase(y, {{"A", {"id"}, Numbered("b", 10)}});
  MakeDatabase(dir.file("y_1.mdb"), {{"Old", {"id"}, Numbered("o", 1)}});  // the user's own
  std::atomic<bool> stop{false};
  reporter.stop = &stop;
  reporter.stopWhen = "生成 y_3.mdb";  // y_1 to y_3 are made, then the stop is seen
  RunState run = MakeRun({x, y}, {});
  run.StopFlag = &stop;
  DatabaseSplitOptions options;
  options.partsText = "5";
  CommonOptions common;
  common.deleteSources = true;
  SplitDatabases(run, options, common, reporter);

  EXPECT_EQ(reporter.statuses.back(),
            "用户强行退出，转换操作未完成！已撤销“y.mdb”已生成的 3 个数据库。");
  for (int p = 1; p <= 5; ++p)  // the finished source keeps every part
    EXPECT_EQ(Range(Read(dir.file("x_" + std::to_string(p) + ".mdb")), "A"),
              "a" + std::to_string(2 * p - 1) + "-a" + std::to_string(2 * p));
  EXPECT_EQ(Read(dir.file("y_1.mdb")).tables, std::vector<std::string>{"Old"});
  for (int p = 2; p <= 5; ++p)
    EXPECT_FALSE(std::filesystem::exists(dir.file("y_" + std::to_string(p) + ".mdb"))) << p;
  EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
  EXPECT_EQ(reporter.removed, std::vector<int>{0});
  EXPECT_EQ(run.PendingRemovals, std::vector<int>{0});
}

// A stop asked for while a table is being copied is answered within the
// table: the record late in it that cannot be stored is never reached (no
// log entry), and nothing is left behind.
TEST_F(DatabaseOps, AStopIsAnsweredWithinATable) {
  Rows rows = Numbered("a", 3000);
  rows[2499] = {std::string(300, 'x')};  // beyond the limit below
  const std::string src = dir.file("src.mdb");
  MakeDatabase(src, {{"A", {"id"}, rows}});
  LongValueLimit limit(200);
  struct Case {
    bool merge;
    const char* stopWhen;
  };
  for (const Case& c : {Case{true, "正在合并：src.mdb"}, Case{false, "生成 src_A.mdb"}}) {
    std::atomic<bool> stop{false};
    reporter.stop = &stop;
    reporter.stopWhen = c.stopWhen;
    RunState run = MakeRun({src}, dir.file("merged"));
    run.StopFlag = &stop;
    if (c.merge) {
      MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
    } else {
      DatabaseSplitOptions options;
      options.way = DatabaseSplitOptions::Way::PerTable;
      SplitDatabases(run, options, CommonOptions{}, reporter);
    }
    EXPECT_NE(reporter.statuses.back().find("用户强行退出"), std::string::npos) << c.stopWhen;
    EXPECT_FALSE(std::filesystem::exists(ErrorLogFile())) << c.stopWhen << ": " << Log();
    EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{}) << c.stopWhen;
    EXPECT_FALSE(std::filesystem::exists(dir.file("merged.mdb")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("src_A.mdb")));
  }
}

TEST_F(DatabaseOps, AFullDiskMidSplitUndoesOnlyTheFileInProgress) {
  const std::string x = dir.file("x.mdb"), y = dir.file("y.mdb");
  MakeDatabase(x, {{"A", {"id"}, Numbered("a", 2)}});
  MakeDatabase(
      y, {{"A", {"id"}, Numbered("b", 2)}, {"B", {"id"}, Numbered("c", 2)}, BigTable("C", 600)});
  MakeDatabase(dir.file("y_A.mdb"), {{"Old", {"id"}, Numbered("o", 1)}});
  const std::string answer = WithFileSizeLimit(128 * 1024, [&] {
    DatabaseSplitOptions options;
    options.way = DatabaseSplitOptions::Way::PerTable;
    RunState run = MakeRun({x, y}, {});
    SplitDatabases(run, options, CommonOptions{}, reporter);
  });
  EXPECT_EQ(answer.substr(0, answer.find('|')), dir.file("y_C.mdb"));
  EXPECT_NE(answer.find("“" + dir.file("y_C.mdb") + "”：文件太大"), std::string::npos) << answer;
  EXPECT_EQ(answer.find(".~pw"), std::string::npos) << answer;
  EXPECT_EQ(Read(dir.file("x_A.mdb")).data.at("A").rows.size(), 2u);
  EXPECT_EQ(Read(dir.file("y_A.mdb")).tables, std::vector<std::string>{"Old"});
  EXPECT_FALSE(std::filesystem::exists(dir.file("y_B.mdb")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("y_C.mdb")));
  EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{});
}

// The merged database appears whole or not at all; an older file of its
// name stays as it was until then.
TEST_F(DatabaseOps, AMergeThatDoesNotFinishLeavesNoMergedDatabase) {
  std::filesystem::create_directories(dir.str() + "/app");
  const std::string a = dir.file("a.mdb"), b = dir.file("b.mdb"), c = dir.file("c.mdb");
  MakeDatabase(a, {{"T", {"id"}, Numbered("a", 3)}});
  MakeDatabase(b, {{"T", {"id"}, Numbered("b", 3)}});
  MakeDatabase(c, {BigTable("T", 600)});
  const std::string out = dir.file("out.accdb");
  MakeDatabase(out, {{"Old", {"id"}, Numbered("o", 1)}});
  auto untouched = [&](const std::string& why) {
    EXPECT_EQ(Read(out).tables, std::vector<std::string>{"Old"}) << why;
    EXPECT_EQ(Leftovers(dir.str()), std::vector<std::string>{}) << why;
  };

  // Stopped after the second source.
  std::atomic<bool> stop{false};
  reporter.stop = &stop;
  reporter.stopWhen = "正在合并：b.mdb";
  RunState stopped = MakeRun({a, b, c}, dir.file("out"));
  stopped.StopFlag = &stop;
  CommonOptions common;
  common.deleteSources = true;
  MergeDatabases(stopped, DatabaseMergeOptions{}, common, reporter);
  EXPECT_EQ(reporter.statuses.back(),
            "用户强行退出，转换操作未完成！合并后的数据库“out.accdb”没有生成。");
  EXPECT_TRUE(reporter.removed.empty());
  EXPECT_TRUE(stopped.PendingRemovals.empty());
  untouched("stop");

  // The disk fills while the third source is merged.
  const std::string answer = WithFileSizeLimit(128 * 1024, [&] {
    RunState run = MakeRun({a, b, c}, dir.file("out"));
    MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
  });
  EXPECT_EQ(answer.substr(0, answer.find('|')), out);
  EXPECT_NE(answer.find("“" + out + "”：文件太大"), std::string::npos) << answer;
  untouched("full disk");

  // The second source is damaged behind a sound header.
  std::string bytes = pw::test::ReadFile(b);
  std::fill(bytes.begin() + 4096, bytes.end(), '\0');
  pw::test::WriteFile(b, bytes);
  reporter.removed.clear();
  RunState run = MakeRun({a, b, c}, dir.file("out"));
  try {
    MergeDatabases(run, DatabaseMergeOptions{}, common, reporter);
    ADD_FAILURE() << "merged a damaged source";
  } catch (const RunError& e) {
    EXPECT_EQ(e.file(), b);
    EXPECT_NE(std::string(e.what()).find("b.mdb"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(reporter.removed.empty());
  EXPECT_TRUE(run.PendingRemovals.empty());
  untouched("damaged source");
}

// Runs `work`; should it block on the named pipe `fifo`, the pipe gets a
// writer so the test fails instead of hanging.
void Bounded(const std::string& fifo, const std::function<void()>& work) {
  auto done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return done.get();
  const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  done.wait();
  close(fd);
  FAIL() << "blocked on " << fifo;
}

TEST_F(DatabaseOps, WhatIsNotADatabaseIsRefusedBeforeAnythingIsWritten) {
  const std::string good = dir.file("good.mdb");
  MakeDatabase(good, {{"T", {"id"}, Numbered("t", 4)}});
  pw::test::WriteFile(dir.file("book.mdb"), std::string("PK\x03\x04", 4) + std::string(9000, 'w'));
  std::string noise(8192, '\0');
  unsigned state = 7;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  pw::test::WriteFile(dir.file("noise.accdb"), noise);
  ASSERT_EQ(mkfifo(dir.file("pipe.mdb").c_str(), 0600), 0);
  std::filesystem::create_directory(dir.file("folder.mdb"));
  const std::set<std::string> before = FileNames(dir.str());
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"book.mdb", "“" + dir.file("book.mdb") + "”不是 Access 数据库文件"},
      {"noise.accdb", "“" + dir.file("noise.accdb") + "”不是 Access 数据库文件"},
      {"pipe.mdb", "无法打开“" + dir.file("pipe.mdb") + "”：这不是一个普通文件"},
      {"folder.mdb", "“" + dir.file("folder.mdb") + "”：这是一个文件夹"},
  };
  Bounded(dir.file("pipe.mdb"), [&] {
    for (const auto& [name, message] : cases) {
      const std::string bad = dir.file(name);
      auto expectRefused = [&](const std::function<void()>& op, const char* what) {
        try {
          op();
          ADD_FAILURE() << what << " took " << name;
        } catch (const RunError& e) {
          EXPECT_EQ(e.file(), bad) << what;
          EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
        EXPECT_EQ(FileNames(dir.str()), before) << what << " " << name;
      };
      expectRefused(
          [&] {
            RunState run = MakeRun({good, bad}, dir.file("merged"));
            MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
          },
          "merge");
      expectRefused(
          [&] {
            RunState run = MakeRun({bad}, {});
            SplitDatabases(run, DatabaseSplitOptions{}, CommonOptions{}, reporter);
          },
          "split");
    }
  });
}

// Replaces, in the file's bytes, each UCS-2 occurrence of `from` by `to`
// (same length): a table name our writer would refuse to make.
void PatchName(const std::string& path, const std::u16string& from, const std::u16string& to) {
  auto bytes = [](const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
    return out;
  };
  std::string file = pw::test::ReadFile(path);
  const std::string f = bytes(from), t = bytes(to);
  for (std::size_t at = file.find(f); at != std::string::npos; at = file.find(f, at + 1))
    file.replace(at, f.size(), t);
  pw::test::WriteFile(path, file);
}

TEST_F(DatabaseOps, TableNamesBecomeSafeFileNames) {
  const std::string x = dir.file("x.mdb");
  MakeDatabase(x, {{"表~甲", {"id"}, Numbered("n", 2)},
                   {"a/b", {"id"}, Numbered("s", 1)},
                   {"a_b", {"id"}, Numbered("u", 1)},
                   {"<c>:d|*?\"\\", {"id"}, Numbered("c", 1)},
                   {"e\x7F"
                    "f",
                    {"id"},
                    Numbered("d", 1)}});
  PatchName(x, u"表~甲", u"表\n甲");
  ASSERT_EQ(db::MdbFile(x).TableNames().at(0), "表\n甲");
  DatabaseSplitOptions options;
  options.way = DatabaseSplitOptions::Way::PerTable;
  RunState run = MakeRun({x}, {});
  SplitDatabases(run, options, CommonOptions{}, reporter);
  EXPECT_EQ(FileNames(dir.str()),
            (std::set<std::string>{"x.mdb", "x_表_甲.mdb", "x_a_b.mdb", "x_a_b(2).mdb",
                                   "x__c__d_____.mdb", "x_e_f.mdb"}));
  const Seen n = Read(dir.file("x_表_甲.mdb"));  // the table takes a name the engine accepts
  EXPECT_EQ(n.tables, std::vector<std::string>{"表_甲"});
  EXPECT_EQ(Range(n, "表_甲"), "n1-n2");
  EXPECT_EQ(Read(dir.file("x_a_b.mdb")).tables, std::vector<std::string>{"a/b"});
  EXPECT_EQ(Read(dir.file("x_a_b(2).mdb")).tables, std::vector<std::string>{"a_b"});
}

TEST_F(DatabaseOps, RealDatabasesMergeWithTheirTextIntact) {
  const std::string zh = std::string(PW_FIXTURES_DIR) + "/mdb/jet4_northwind_zh.mdb";
  const std::string nw = std::string(PW_FIXTURES_DIR) + "/mdb/jet3_nwind.mdb";
  if (!std::filesystem::exists(zh) || !std::filesystem::exists(nw))
    GTEST_SKIP() << "fixtures absent: " << zh;
  std::filesystem::create_directories(dir.str() + "/app");
  RunState run = MakeRun({zh, nw}, dir.file("merged"));
  CommonOptions common;
  common.deleteSources = true;
  MergeDatabases(run, DatabaseMergeOptions{}, common, reporter);
  const Seen s = Read(run.OutputBase);
  const db::TableData customers = s.data.at("Customers");
  EXPECT_EQ(customers.rows.size(), 91u + 91u);
  EXPECT_EQ(customers.rows[0][1], "三川实业有限公司");
  EXPECT_EQ(s.data.at("Order Details").rows.size(), 2155u);  // name with a blank
  EXPECT_EQ(s.data.at("OrderDetails").rows.size(), 2157u);
  // Notes longer than 250 characters and photos are kept whole; no record
  // is logged, only the saved queries that could not be copied.
  const std::string log = Log();
  EXPECT_EQ(log.find("[出错时间]"), std::string::npos) << log;
  const db::TableData employees = db::MdbFile(zh).ReadTable("Employees");
  const db::TableData& merged = s.data.at("Employees");
  ASSERT_EQ(merged.rows.size(), 9u + 9u);
  for (std::size_t r = 0; r < employees.rows.size(); ++r)
    EXPECT_EQ(merged.rows[r], employees.rows[r]) << r;

  // Plain saved queries become tables of their records; every other one is
  // named in the status line and the log, and keeps its source.
  EXPECT_EQ(s.data.at("Current Product List").rows.size(), 69u);  // not discontinued
  const db::TableData& top = s.data.at("Ten Most Expensive Products");
  ASSERT_EQ(top.rows.size(), 10u);
  EXPECT_EQ(top.columns[0].name, "TenMostExpensiveProducts");
  EXPECT_EQ(top.rows[0], (std::vector<std::string>{"Côte de Blaye", "263.5"}));
  EXPECT_EQ(top.rows[9], (std::vector<std::string>{"Rössle Sauerkraut", "45.6"}));
  std::size_t notCopied = 0;
  for (std::size_t at = log.find("[未复制查询]"); at != std::string::npos;
       at = log.find("[未复制查询]", at + 1))
    ++notCopied;
  EXPECT_EQ(notCopied, 20u + 2u);
  EXPECT_NE(
      log.find(
          "数据库“jet3_nwind.mdb”中的未复制查询“Orders Qry”：含联接或表达式的查询无法求值\r\n"),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("未复制查询“SaleBeginValueQry”"), std::string::npos);
  EXPECT_NE(std::find(reporter.statuses.begin(), reporter.statuses.end(),
                      "未复制查询“Orders Qry”：含联接或表达式的查询无法求值"),
            reporter.statuses.end());
  EXPECT_TRUE(run.PendingRemovals.empty());

  // A reader we did not write sees the same merged database, value by value.
  if (!db::test::MdbReaderMissing().empty()) GTEST_SKIP() << db::test::MdbReaderMissing();
  const db::test::SeenDatabase seen = db::test::ReadWithMdbReader(run.OutputBase);
  ASSERT_EQ(seen.size(), s.tables.size());
  for (const auto& [name, table] : s.data) {
    const db::test::SeenTable& other = seen.at(name);
    ASSERT_EQ(other.rows.size(), table.rows.size()) << name;
    for (std::size_t r = 0; r < table.rows.size(); ++r)
      for (std::size_t c = 0; c < table.columns.size(); ++c)
        ASSERT_EQ(other.rows[r][c].value_or(""),
                  table.columns[c].type == 0x0B && !table.rows[r][c].empty()
                      ? db::HexText(table.rows[r][c])
                      : table.rows[r][c])
            << name << " " << r;
  }
}

}  // namespace
}  // namespace pw
