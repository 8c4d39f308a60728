// Database merge and split on databases the test makes, as the runner calls
// them; the error log of records that cannot be stored.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "ops/database/database_ops.h"
#include "platform/database/engine.h"
#include "platform/database/jet_check.h"
#include "platform/paths.h"
#include "tests/database/db_readers.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using Rows = std::vector<std::vector<std::string>>;

struct FakeReporter : RunReporter {
  std::vector<int> removed;
  std::vector<std::string> statuses;
  int ended = 0;
  void Status(const std::string& text) override { statuses.push_back(text); }
  void Counter(int) override {}
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override { ++ended; }
  void RemoveRow(int i) override { removed.push_back(i); }
  void SourceRemoved(int, RemoveOutcome) override {}
};

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

RunState MakeRun(const std::vector<std::string>& files, const std::string& outputBase) {
  RunState run;
  run.WorkList = files;
  for (std::size_t i = 0; i < files.size(); ++i) run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = outputBase;
  return run;
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

TEST_F(DatabaseOps, MergeIntoOneTableLogsTheRecordThatDoesNotFit) {
  std::filesystem::create_directories(dir.str() + "/app");
  // The one target table gets 241 columns from table A; B's third record,
  // fine in its own table, no longer fits a record of the wider table.
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
  RunState run = MakeRun({src}, dir.file("merged"));
  DatabaseMergeOptions options;
  options.intoOneTable = true;
  options.newTableName = "  All  ";
  options.access2007 = false;
  CommonOptions common;
  common.deleteSources = true;
  MergeDatabases(run, options, common, reporter);
  EXPECT_EQ(run.OutputBase, dir.file("merged.mdb"));
  const Seen s = Read(run.OutputBase);
  ASSERT_EQ(s.tables, std::vector<std::string>{"All"});
  EXPECT_EQ(s.data.at("All").columns.size(), 255u);
  EXPECT_EQ(s.data.at("All").rows.size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(src)) << "a source with skipped records was removed";
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
    EXPECT_NE(std::string(e.what()).find("bad.mdb"), std::string::npos) << e.what();
  }
  EXPECT_EQ(reporter.removed, std::vector<int>{0});  // the first source was merged

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
    EXPECT_EQ(std::filesystem::exists(x), c.only == "b")
        << "source kept only when nothing was written";
  }
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

TEST_F(DatabaseOps, RealDatabasesMergeWithTheirTextIntact) {
  const std::string zh = std::string(PW_FIXTURES_DIR) + "/mdb/jet4_northwind_zh.mdb";
  const std::string nw = std::string(PW_FIXTURES_DIR) + "/mdb/jet3_nwind.mdb";
  if (!std::filesystem::exists(zh) || !std::filesystem::exists(nw))
    GTEST_SKIP() << "fixtures absent: " << zh;
  std::filesystem::create_directories(dir.str() + "/app");
  RunState run = MakeRun({zh, nw}, dir.file("merged"));
  MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
  const Seen s = Read(run.OutputBase);
  const db::TableData customers = s.data.at("Customers");
  EXPECT_EQ(customers.rows.size(), 91u + 91u);
  EXPECT_EQ(customers.rows[0][1], "三川实业有限公司");
  EXPECT_EQ(s.data.at("Order Details").rows.size(), 2155u);  // name with a blank
  EXPECT_EQ(s.data.at("OrderDetails").rows.size(), 2157u);
  // Notes longer than 250 characters cannot be stored: logged, not cut.
  EXPECT_NE(Log().find("中表“Employees”第"), std::string::npos);

  // A reader we did not write sees the same merged database, value by value.
  if (!db::test::MdbReaderMissing().empty()) GTEST_SKIP() << db::test::MdbReaderMissing();
  const db::test::SeenDatabase seen = db::test::ReadWithMdbReader(run.OutputBase);
  ASSERT_EQ(seen.size(), s.tables.size());
  for (const auto& [name, table] : s.data) {
    const db::test::SeenTable& other = seen.at(name);
    ASSERT_EQ(other.rows.size(), table.rows.size()) << name;
    for (std::size_t r = 0; r < table.rows.size(); ++r)
      for (std::size_t c = 0; c < table.columns.size(); ++c)
        ASSERT_EQ(other.rows[r][c].value_or(""), table.rows[r][c]) << name << " " << r;
  }
}

}  // namespace
}  // namespace pw
