// Every record and every value of every real database among the fixtures
// survives a merge and a split, as two readers we did not write see them:
// mdb-reader and mdb-export read the sources and what we wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "ops/database/database_ops.h"
#include "platform/database/jet_check.h"
#include "platform/database/mdb_file.h"
#include "platform/paths.h"
#include "tests/database/db_readers.h"
#include "tests/database/ops_support.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using Row = std::vector<std::string>;

bool IsBytes(int type) {
  return type == 0x09 || type == 0x0B;
}

// One source table as it must come out: per target column, the source
// column whose value it holds (the last of those whose names clean alike).
struct Expected {
  db::TableData source;                  // through our reader
  std::vector<std::size_t> from;         // by target column
  std::vector<std::string> targetNames;  // cleaned
};

Expected Expect(const db::TableData& source) {
  Expected e;
  e.source = source;
  for (std::size_t i = 0; i < source.columns.size(); ++i) {
    const std::string c = CleanFieldName(source.columns[i].name);
    if (c.empty()) continue;
    const auto at = std::find_if(e.targetNames.begin(), e.targetNames.end(),
                                 [&](const std::string& n) { return db::SameName(n, c); });
    if (at == e.targetNames.end()) {
      e.targetNames.push_back(c);
      e.from.push_back(i);
    } else {
      e.from[static_cast<std::size_t>(at - e.targetNames.begin())] = i;
    }
  }
  return e;
}

// A source row as the target holds it: text, and bytes as hex.
Row TargetForm(const Expected& e, const Row& source) {
  Row out;
  for (std::size_t i : e.from) {
    const std::string& v = source[i];
    out.push_back(IsBytes(e.source.columns[i].type) && !v.empty() ? db::HexText(v) : v);
  }
  return out;
}

std::vector<Row> Plain(const std::vector<std::vector<std::optional<std::string>>>& rows) {
  std::vector<Row> out;
  for (const auto& r : rows) {
    Row row;
    for (const auto& v : r) row.push_back(v.value_or(""));
    out.push_back(row);
  }
  return out;
}

// mdb-export's rows, bytes marked as hex the way the other readers give them.
std::vector<Row> Exported(const std::string& path, const std::string& table,
                          const std::vector<int>& types) {
  std::vector<Row> rows = db::test::ReadWithMdbExport(path, table);
  for (Row& r : rows)
    for (std::size_t c = 0; c < r.size() && c < types.size(); ++c)
      if (IsBytes(types[c]) && !r[c].empty()) r[c] = "0x" + r[c];
  return rows;
}

// The columns both sides hold as they are (text, long text, bytes), for
// comparing a source with its copy through the same reader, in any order.
std::vector<Row> Comparable(const std::vector<Row>& rows, const std::vector<std::size_t>& columns) {
  std::vector<Row> out;
  for (const Row& r : rows) {
    Row row;
    for (std::size_t c : columns) row.push_back(c < r.size() ? r[c] : "<missing>");
    out.push_back(row);
  }
  std::sort(out.begin(), out.end());
  return out;
}

class FixtureRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.str() + "/app");
    SetAppFolderOverride(dir.str() + "/app");
  }
  void TearDown() override { SetAppFolderOverride({}); }

  // Compares table `table` of `source` with its copy spread over `outputs`
  // (their records one after the other).
  // What mdb-reader sees in a file (read beforehand, see Prefetch), and
  // whether our checker finds it sound (checked once).
  const db::test::SeenDatabase& Seen(const std::string& path) {
    auto it = seen.find(path);
    if (it == seen.end()) it = seen.emplace(path, db::test::ReadWithMdbReader(path)).first;
    return it->second;
  }
  void Prefetch(const std::vector<std::string>& paths) {
    if (db::test::MdbReaderMissing().empty()) seen = db::test::ReadAllWithMdbReader(paths);
  }
  void ExpectSound(const std::string& path) {
    if (!checked.insert(path).second) return;
    const db::CheckReport report = db::CheckDatabase(path, true);
    EXPECT_TRUE(report.ok()) << path << ": " << (report.ok() ? "" : report.faults.at(0));
  }

  void Compare(const std::string& label, const std::string& source, const Expected& e,
               const std::vector<std::string>& outputs) {
    const std::string& table = e.source.name;
    const std::size_t n = e.source.rows.size();
    std::vector<int> targetTypes;
    std::vector<Row> ours, exported, viaReader;
    bool readerThere = db::test::MdbReaderMissing().empty();
    for (const std::string& out : outputs) {
      ExpectSound(out);
      const db::MdbFile file(out);
      const auto names = file.TableNames();
      if (std::find(names.begin(), names.end(), table) == names.end()) continue;
      const db::TableData t = file.ReadTable(table);
      targetTypes.clear();
      std::vector<std::string> columnNames;
      for (const auto& c : t.columns) {
        targetTypes.push_back(c.type);
        columnNames.push_back(c.name);
      }
      ASSERT_EQ(columnNames, e.targetNames) << label;
      for (const Row& r : t.rows) ours.push_back(r);
      const auto part = Exported(out, table, targetTypes);
      exported.insert(exported.end(), part.begin(), part.end());
      if (readerThere) {
        const auto rows = Plain(Seen(out).at(table).rows);
        viaReader.insert(viaReader.end(), rows.begin(), rows.end());
      }
    }
    std::vector<Row> expected;
    for (const Row& r : e.source.rows) expected.push_back(TargetForm(e, r));
    // Our own reader of what we wrote: bytes as hex.
    for (Row& r : ours)
      for (std::size_t c = 0; c < r.size(); ++c)
        if (IsBytes(targetTypes.at(c)) && !r[c].empty()) r[c] = db::HexText(r[c]);
    ASSERT_EQ(ours.size(), n) << label;
    ASSERT_EQ(exported.size(), n) << label << " (mdb-export)";
    for (std::size_t r = 0; r < n; ++r) {
      ASSERT_EQ(ours[r], expected[r]) << label << " record " << r + 1;
      ASSERT_EQ(exported[r], expected[r]) << label << " record " << r + 1 << " (mdb-export)";
    }
    if (!readerThere) return;
    ASSERT_EQ(viaReader.size(), n) << label << " (mdb-reader)";
    for (std::size_t r = 0; r < n; ++r)
      ASSERT_EQ(viaReader[r], expected[r]) << label << " record " << r + 1 << " (mdb-reader)";

    // And with no reader of ours in between: the source as the other
    // readers see it equals the copy, value for value, in the columns kept
    // as they are.
    std::vector<std::size_t> sourceCols, targetCols;
    for (std::size_t j = 0; j < e.from.size(); ++j) {
      const int type = e.source.columns[e.from[j]].type;
      if (type == 0x0A || type == 0x0C || IsBytes(type)) {
        sourceCols.push_back(e.from[j]);
        targetCols.push_back(j);
      }
    }
    const auto sourceSeen = Plain(Seen(source).at(table).rows);
    ASSERT_EQ(sourceSeen.size(), n) << label << " (mdb-reader, source)";
    EXPECT_EQ(Comparable(sourceSeen, sourceCols), Comparable(viaReader, targetCols))
        << label << " (mdb-reader, source against copy)";
  }

  std::unique_ptr<pw::test::TempDir> memory = test::FastTempDir();
  pw::test::TempDir& dir = *memory;
  pw::test::FakeReporter reporter;
  std::map<std::string, db::test::SeenDatabase> seen;
  std::set<std::string> checked;
};

TEST_F(FixtureRoundTrip, EveryRecordAndValueSurvivesAMergeAndASplit) {
  const std::filesystem::path fixtures = std::string(PW_FIXTURES_DIR) + "/mdb";
  if (!std::filesystem::exists(fixtures)) GTEST_SKIP() << "fixtures absent: " << fixtures;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(fixtures))
    if (entry.path().extension() == ".mdb" || entry.path().extension() == ".accdb")
      files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  // Merged and split first; then every file is read by mdb-reader at once.
  struct Job {
    std::string name, copy, merged;
    std::vector<std::string> parts;
    std::vector<Expected> expected;
  };
  std::vector<Job> jobs;
  std::vector<std::string> all;
  for (const auto& path : files) {
    Job job;
    job.name = path.filename().string();
    try {
      const db::MdbFile source(path.string());
      for (const std::string& t : source.TableNames())
        job.expected.push_back(Expect(source.ReadTable(t)));
    } catch (const db::DatabaseError& e) {
      std::printf("[  SKIP    ] %s: %s\n", job.name.c_str(), e.what());  // a password, say
      continue;
    }
    if (job.expected.empty()) continue;
    // A copy to work on: a split writes beside its source.
    const std::string work = dir.str() + "/" + path.stem().string();
    std::filesystem::create_directories(work);
    job.copy = work + "/" + job.name;
    std::filesystem::copy_file(path, job.copy);

    RunState merge = test::MakeRun({job.copy}, work + "/merged");
    MergeDatabases(merge, DatabaseMergeOptions{}, CommonOptions{}, reporter);
    job.merged = merge.OutputBase;
    DatabaseSplitOptions options;
    options.partsText = "2";
    RunState split = test::MakeRun({job.copy}, {});
    SplitDatabases(split, options, CommonOptions{}, reporter);
    const std::string ext = path.extension().string();
    for (const char* p : {"_1", "_2"})
      job.parts.push_back(work + "/" + path.stem().string() + p + ext);
    // Only saved queries that cannot be evaluated may be logged, no record.
    EXPECT_EQ(pw::test::ReadFile(ErrorLogFile()).find("[出错时间]"), std::string::npos)
        << job.name << " logged records";
    all.insert(all.end(), {job.copy, job.merged, job.parts[0], job.parts[1]});
    jobs.push_back(std::move(job));
  }
  Prefetch(all);
  int tables = 0, records = 0;
  for (const Job& job : jobs) {
    for (const Expected& e : job.expected) {
      Compare(job.name + " merged, table " + e.source.name, job.copy, e, {job.merged});
      Compare(job.name + " split, table " + e.source.name, job.copy, e, job.parts);
      ++tables;
      records += static_cast<int>(e.source.rows.size());
    }
  }
  std::printf("[          ] %d tables, %d records compared\n", tables, records);
  EXPECT_GT(tables, 0);
}

}  // namespace
}  // namespace pw
