// Database merge of 20 copies of a database and a split of the result by
// rows, against the floor of reading the same sources with mdb-export.
// Usage: database_bench [source.mdb]   (default: the Chinese Northwind
// sample in ../shared/fixtures/mdb)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ops/database/database_ops.h"
#include "platform/database/mdb_file.h"
#include "platform/paths.h"

namespace {

struct Quiet : pw::RunReporter {
  void Status(const std::string&) override {}
  void Counter(int) override {}
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int, pw::RemoveOutcome) override {}
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string source =
      argc > 1 ? argv[1] : std::string(PW_FIXTURES_DIR) + "/mdb/jet4_northwind_zh.mdb";
  if (!fs::exists(source)) {
    std::printf("source absent: %s\n", source.c_str());
    return 0;
  }
  const fs::path dir = fs::temp_directory_path() / "pw-database-bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "app");
  pw::SetAppFolderOverride((dir / "app").string());
  pw::RunState run;
  for (int i = 0; i < 20; ++i) {
    const fs::path copy = dir / ("copy" + std::to_string(i) + ".mdb");
    fs::copy_file(source, copy);
    run.WorkList.push_back(copy.string());
    run.WorkRowIndexes.push_back(i);
  }
  std::size_t records = 0;
  const pw::db::MdbFile probe(source);
  for (const std::string& t : probe.TableNames()) records += probe.ReadTable(t).rows.size();

  auto t0 = std::chrono::steady_clock::now();
  for (const std::string& file : run.WorkList)
    for (const std::string& t : probe.TableNames())
      if (std::system(("mdb-export " + Quoted(file) + " " + Quoted(t) + " >/dev/null").c_str()) !=
          0)
        return 1;
  const double floor = Seconds(t0);

  Quiet quiet;
  run.OutputBase = (dir / "merged").string();
  pw::DatabaseMergeOptions merge;
  merge.access2007 = false;
  t0 = std::chrono::steady_clock::now();
  pw::MergeDatabases(run, merge, pw::CommonOptions{}, quiet);
  const double merged = Seconds(t0);

  pw::RunState split;
  split.WorkList = {run.OutputBase};
  split.WorkRowIndexes = {0};
  pw::DatabaseSplitOptions rows;
  rows.way = pw::DatabaseSplitOptions::Way::Rows;
  rows.rowsText = "5000";
  t0 = std::chrono::steady_clock::now();
  pw::SplitDatabases(split, rows, pw::CommonOptions{}, quiet);
  const double splitTime = Seconds(t0);

  std::printf("source: %s, %zu records in %zu tables, 20 copies\n", source.c_str(), records,
              probe.TableNames().size());
  std::printf("mdb-export of the 20 copies to CSV: %7.2f s\n", floor);
  std::printf("merge of the 20 copies:             %7.2f s  (%.2f x mdb-export)\n", merged,
              merged / floor);
  std::printf("split of the merged file by 5000 rows: %5.2f s  (merged file %.1f MB)\n", splitTime,
              static_cast<double>(fs::file_size(run.OutputBase)) / 1e6);
  fs::remove_all(dir);
  return 0;
}
