// Merges and splits that keep field types: every type comes through with
// its values, as mdb-schema and mdb-export see them; fields that disagree
// across sources meet in the type that holds both; without the option
// every field is text as before.
#include <gtest/gtest.h>

#include <filesystem>

#include "ops/database/database_ops.h"
#include "platform/database/engine.h"
#include "platform/database/jet_check.h"
#include "platform/paths.h"
#include "tests/database/db_readers.h"
#include "tests/database/ops_support.h"
#include "tests/database/typed_columns.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using db::FieldType;
using K = FieldType::Kind;
using db::test::TypedColumn;
using db::test::TypedColumns;

class KeepTypes : public ::testing::Test {
 protected:
  void SetUp() override {
    SetAppFolderOverride(dir.str() + "/app");
    std::filesystem::create_directories(dir.str() + "/out");
    std::filesystem::create_directories(dir.str() + "/app");
  }
  void TearDown() override { SetAppFolderOverride({}); }

  // A source holding the typed table, in Access 2000 or 2007 format.
  std::string TypedSource(const std::string& name) {
    const std::string path = dir.file(name);
    db::CreateDatabaseFile(path, name.ends_with(".accdb") ? 128 : 64);
    db::JetWriter w(path);
    db::test::WriteTypedTable(w, "Typed");
    return path;
  }

  static void ExpectSound(const std::string& path) {
    const db::CheckReport report = db::CheckDatabase(path, true);
    EXPECT_TRUE(report.ok()) << path << ": " << (report.faults.empty() ? "" : report.faults[0]);
  }

  // Every column of `table` declared as the typed table declares it, and
  // its records those of the typed table `times` over, from record `first`.
  static void ExpectTyped(const std::string& path, const std::string& table, int times,
                          std::size_t first = 0, std::size_t count = 3) {
    ExpectSound(path);
    for (const TypedColumn& c : TypedColumns())
      EXPECT_TRUE(db::test::SchemaHas(path, table, c.name, c.schema)) << path << " " << c.name;
    const auto rows = db::test::ExportTyped(path, table, TypedColumns());
    ASSERT_EQ(rows.size(), count * static_cast<std::size_t>(times)) << path;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r].size(), TypedColumns().size());
      for (std::size_t c = 0; c < TypedColumns().size(); ++c)
        EXPECT_EQ(rows[r][c], TypedColumns()[c].values[first + r % count].second)
            << path << " " << TypedColumns()[c].name << " record " << r;
    }
  }

  pw::test::TempDir dir;
  test::FakeReporter reporter;
};

TEST_F(KeepTypes, MergeAndSplitCarryEveryTypeAndValue) {
  if (db::test::Run("command -v mdb-schema").empty()) GTEST_SKIP() << "mdbtools is not installed";
  const std::string a = TypedSource("a.mdb"), b = TypedSource("b.accdb");
  for (bool access2007 : {true, false}) {
    RunState run = test::MakeRun({a, b}, dir.str() + "/out/merged");
    DatabaseMergeOptions options;
    options.keepTypes = true;
    options.access2007 = access2007;
    MergeDatabases(run, options, CommonOptions{}, reporter);
    ExpectTyped(run.OutputBase, "Typed", 2);
  }
  // By records: 2 and 1, each part with every column's type.
  RunState run = test::MakeRun({b}, dir.str() + "/out/unused");
  DatabaseSplitOptions split;
  split.keepTypes = true;
  split.way = DatabaseSplitOptions::Way::Rows;
  split.rowsText = "2";
  SplitDatabases(run, split, CommonOptions{}, reporter);
  ExpectTyped(dir.file("b_1.accdb"), "Typed", 1, 0, 2);
  ExpectTyped(dir.file("b_2.accdb"), "Typed", 1, 2, 1);
  EXPECT_FALSE(std::filesystem::exists(ErrorLogFile()));
}

TEST_F(KeepTypes, WithoutTheOptionEveryFieldIsTextAsBefore) {
  const std::string a = TypedSource("a.mdb");
  RunState run = test::MakeRun({a}, dir.str() + "/out/merged");
  MergeDatabases(run, DatabaseMergeOptions{}, CommonOptions{}, reporter);
  ExpectSound(run.OutputBase);
  const db::TableData source = db::MdbFile(a).ReadTable("Typed");
  const db::TableData merged = db::MdbFile(run.OutputBase).ReadTable("Typed");
  ASSERT_EQ(merged.columns.size(), TypedColumns().size());
  for (std::size_t c = 0; c < merged.columns.size(); ++c) {
    const K kind = TypedColumns()[c].type.kind;
    // Long text stays long text, bytes stay bytes; all else is text of 250.
    const int expected = kind == K::Memo ? 0x0C : kind == K::Ole ? 0x0B : 0x0A;
    EXPECT_EQ(merged.columns[c].type, expected) << merged.columns[c].name;
    if (expected == 0x0A) {
      EXPECT_EQ(merged.columns[c].size, 500) << merged.columns[c].name;
    }
  }
  EXPECT_EQ(merged.rows, source.rows);  // every value as the reader writes it
}

// Two sources whose fields of one name disagree: the column takes the type
// that holds both, and the first source's values (written before the
// second's are read) are in it unchanged.
TEST_F(KeepTypes, DisagreeingFieldsMeetInTheWiderType) {
  if (db::test::Run("command -v mdb-schema").empty()) GTEST_SKIP() << "mdbtools is not installed";
  struct Case {
    const char* column;
    FieldType first;
    const char* firstValue;
    FieldType second;
    const char* secondValue;
    const char* schema;  // what mdb-schema declares
    const char* shownFirst;
    const char* shownSecond;  // what mdb-export shows
  };
  const Case cases[] = {
      {"ByteLong", FieldType::Of(K::Byte), "7", FieldType::Of(K::Long), "-70000", "Long Integer",
       "7", "-70000"},
      {"IntDouble", FieldType::Of(K::Integer), "-5", FieldType::Of(K::Double), "2.5", "Double",
       "-5", "2.5"},
      {"LongMoney", FieldType::Of(K::Long), "3", FieldType::Of(K::Currency), "-1.2345", "Currency",
       "3.0000", "-1.2345"},
      {"LongDecimal", FieldType::Of(K::Long), "100000", FieldType::DecimalOf(5, 2), "1.25",
       "Numeric (12, 2)", "100000.00", "1.25"},
      {"SingleMoney", FieldType::Of(K::Single), "0.5", FieldType::Of(K::Currency), "2", "Double",
       "0.5", "2"},
      {"TextLong", FieldType::Text(5), "ab", FieldType::Of(K::Long), "-1234567", "Text (11)", "ab",
       "-1234567"},
      {"DateLong", FieldType::Of(K::DateTime), "2024-01-02 03:04:05", FieldType::Of(K::Long), "5",
       "Text (19)", "2024-01-02 03:04:05", "5"},
      {"TextMemo", FieldType::Text(10), "short", FieldType::Of(K::Memo), "long",
       "Memo/Hyperlink (255)", "short", "long"},
      {"BytesText", FieldType::Of(K::Ole), "\x01\x02", FieldType::Text(3), "t",
       "Memo/Hyperlink (255)", "0x0102", "t"},
  };
  auto make = [&](const std::string& name, bool first) {
    const std::string path = dir.file(name);
    db::CreateDatabaseFile(path, 64);
    db::JetWriter w(path);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      const FieldType& t = first ? cases[i].first : cases[i].second;
      if (i == 0)
        w.CreateTable("Mixed", cases[i].column, t);
      else
        w.AddColumn("Mixed", cases[i].column, t);
    }
    std::vector<std::optional<std::string>> record;
    for (const Case& c : cases) record.emplace_back(first ? c.firstValue : c.secondValue);
    w.AppendRecord("Mixed", record);
    return path;
  };
  const std::string a = make("a.mdb", true), b = make("b.mdb", false);
  RunState run = test::MakeRun({a, b}, dir.str() + "/out/merged");
  DatabaseMergeOptions options;
  options.keepTypes = true;
  MergeDatabases(run, options, CommonOptions{}, reporter);
  ExpectSound(run.OutputBase);
  const auto rows = db::test::ExportTyped(run.OutputBase, "Mixed", {});
  ASSERT_EQ(rows.size(), 2u);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    EXPECT_TRUE(db::test::SchemaHas(run.OutputBase, "Mixed", c.column, c.schema)) << c.column;
    EXPECT_EQ(rows[0][i], c.shownFirst) << c.column;
    EXPECT_EQ(rows[1][i], c.shownSecond) << c.column;
  }
  EXPECT_FALSE(std::filesystem::exists(ErrorLogFile()));
}

// Databases Access made (Access 97, 2000 and 2007 files with every field
// type, autonumbers, edge dates, Chinese text): each merged alone with
// types kept declares the same types in the same order and exports the
// same values.
TEST_F(KeepTypes, AccessFilesKeepTheirTypesAndValues) {
  const std::filesystem::path fixtures = std::string(PW_FIXTURES_DIR) + "/mdb";
  if (!std::filesystem::exists(fixtures)) GTEST_SKIP() << "fixtures absent: " << fixtures;
  if (db::test::Run("command -v mdb-schema").empty()) GTEST_SKIP() << "mdbtools is not installed";
  // The declared types in column order, names left out (they are cleaned).
  auto types = [](const std::string& path) {
    std::string out;
    for (const std::string& line : db::test::Split(
             db::test::Run("mdb-schema " + db::test::Quoted(path) + " access 2>/dev/null"), '\n'))
      if (line.rfind("\t[", 0) == 0) {
        std::string type = line.substr(line.find(']') + 1);
        // Required is a rule on values, not part of the type.
        if (const auto at = type.find(" NOT NULL"); at != std::string::npos) type.erase(at, 9);
        out += type + "\n";
      }
    return out;
  };
  auto values = [](const std::string& path, const std::string& table) {
    return db::test::Run("mdb-export -H -b hex -T '%Y-%m-%d %H:%M:%S' " + db::test::Quoted(path) +
                         " " + db::test::Quoted(table) + " 2>/dev/null");
  };
  for (const char* name : {"jet3_types.mdb", "jet4_types.mdb", "ace12_types.accdb",
                           "jet4_dates_edge.mdb", "jet4_northwind_zh.mdb"}) {
    const std::string source = (fixtures / name).string();
    RunState run = test::MakeRun({source}, dir.str() + "/out/" + name);
    DatabaseMergeOptions options;
    options.keepTypes = true;
    MergeDatabases(run, options, CommonOptions{}, reporter);
    ExpectSound(run.OutputBase);
    const std::string kept = types(run.OutputBase);
    EXPECT_NE(kept.find("Long Integer"), std::string::npos) << name;
    EXPECT_EQ(kept, types(source)) << name;
    const db::MdbFile read(source);
    for (const std::string& table : read.TableNames())
      EXPECT_EQ(values(run.OutputBase, table), values(source, table)) << name << " " << table;
  }
}

}  // namespace
}  // namespace pw
