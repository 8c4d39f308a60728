// Database merge and split against the floor of reading the same data with
// mdb-export, with each step's wall time and peak memory (each step runs in
// a process of its own).
//
// Usage: database_bench [copies] [records]
//   1. merge of 20 copies of the Chinese Northwind sample, of the sample
//      with the most records and of the largest sample
//      (../shared/fixtures/mdb), split of the result;
//   2. merge of `copies` (default 20) copies of a database of `records`
//      (default 50000) records made by our own writer: the time of each
//      merged file shows whether the cost per file stays flat; then a split
//      of the merged database (1,000,000 records by default) into parts of
//      100,000 records, and into 10 even parts.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ops/database/database_ops.h"
#include "platform/database/jet_writer.h"
#include "platform/database/mdb_file.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Wall time of each file merged, from the merge's own counter.
struct Timing : pw::RunReporter {
  Clock::time_point last = Clock::now();
  std::vector<double> perFile;
  void Status(const std::string&) override {}
  void Counter(int) override {
    perFile.push_back(Seconds(last));
    last = Clock::now();
  }
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int, pw::RemoveOutcome) override {}
};

struct Measure {
  double seconds = 0;
  double peakMb = 0;
};

// Runs `step` in a child process: its wall time and peak memory. What the
// step prints goes to stdout as it runs.
Measure InChild(const std::function<void()>& step) {
  std::fflush(stdout);
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    step();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {Seconds(t0), static_cast<double>(usage.ru_maxrss) / 1024.0};
}

Measure Shell(const std::string& command) {
  return InChild([&] { _exit(std::system(command.c_str()) == 0 ? 0 : 1); });
}

std::string Quoted(const std::string& s) {
  return "'" + s + "'";
}

std::vector<std::string> Copies(const fs::path& dir, const std::string& source, int n,
                                const std::string& ext) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) {
    const fs::path copy = dir / ("copy" + std::to_string(i) + ext);
    fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
    out.push_back(copy.string());
  }
  return out;
}

pw::RunState Run(const std::vector<std::string>& files, const std::string& output) {
  pw::RunState run;
  run.WorkList = files;
  for (std::size_t i = 0; i < files.size(); ++i) run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = output;
  return run;
}

void Line(const char* what, const Measure& m, const Measure& floor) {
  std::printf("  %-44s %8.2f s  %7.1f MB peak  (%.2f x mdb-export's time)\n", what, m.seconds,
              m.peakMb, m.seconds / floor.seconds);
}

// mdb-export of every table of each file.
Measure ExportAll(const std::vector<std::string>& files, const std::vector<std::string>& tables) {
  std::string command = "true";
  for (const std::string& f : files)
    for (const std::string& t : tables)
      command += " && mdb-export " + Quoted(f) + " " + Quoted(t) + " >/dev/null";
  return Shell(command);
}

void Samples(const fs::path& dir) {
  const fs::path fixtures = std::string(PW_FIXTURES_DIR) + "/mdb";
  if (!fs::exists(fixtures)) {
    std::printf("samples absent: %s\n", fixtures.c_str());
    return;
  }
  for (const char* name : {"jet4_northwind_zh.mdb", "jet3_nwind.mdb", "jet4_types.mdb"}) {
    const std::string source = (fixtures / name).string();
    const pw::db::MdbFile probe(source);
    std::size_t records = 0;
    for (const std::string& t : probe.TableNames()) records += probe.ReadTable(t).rows.size();
    const auto files = Copies(dir, source, 20, ".mdb");
    std::printf("%s: %zu records in %zu tables, 20 copies\n", name, records,
                probe.TableNames().size());
    const Measure floor = ExportAll(files, probe.TableNames());
    std::printf("  %-44s %8.2f s  %7.1f MB peak\n", "mdb-export of the 20 copies", floor.seconds,
                floor.peakMb);
    const std::string merged = (dir / "merged").string();
    Line("merge of the 20 copies", InChild([&] {
           pw::RunState run = Run(files, merged);
           pw::DatabaseMergeOptions options;
           options.access2007 = false;
           Timing timing;
           pw::MergeDatabases(run, options, pw::CommonOptions{}, timing);
         }),
         floor);
    pw::DatabaseSplitOptions rows;
    rows.way = pw::DatabaseSplitOptions::Way::Rows;
    rows.rowsText = "5000";
    Line("split of the merged file by 5000 records", InChild([&] {
           pw::RunState run = Run({merged + ".mdb"}, {});
           Timing timing;
           pw::SplitDatabases(run, rows, pw::CommonOptions{}, timing);
         }),
         floor);
    for (const auto& e : fs::directory_iterator(dir))
      if (e.path().filename() != "app") fs::remove_all(e.path());
  }
}

// A table like an order list: six text fields of everyday lengths; with
// `longNote`, the last record's customer is longer than a text column holds.
void OrderList(const std::string& path, int records, bool longNote) {
  pw::db::JetWriter::Create(path, pw::db::NewFormat::Jet4);
  pw::db::JetWriter w(path);
  w.CreateTable("Orders", "OrderID");
  for (const char* c : {"Customer", "OrderDate", "ShipName", "ShipCity", "Freight"})
    w.AddColumn("Orders", c);
  for (int i = 0; i < records; ++i)
    w.AppendRecord("Orders", {std::to_string(100000 + i),
                              longNote && i == records - 1 ? std::string(300, 'L')
                                                           : "CUST" + std::to_string(i % 91),
                              "2024-0" + std::to_string(1 + i % 9) + "-1" + std::to_string(i % 9),
                              "Ship to customer number " + std::to_string(i % 91),
                              i % 2 ? "Beijing" : "Guangzhou", std::to_string(i % 1000) + ".25"});
}

void Large(const fs::path& dir, int copies, int records) {
  const std::string source = (dir / "source.mdb").string();
  OrderList(source, records, false);
  const auto files = Copies(dir, source, copies, ".mdb");
  const long long total = static_cast<long long>(copies) * records;
  std::printf("generated: %d records, %.1f MB; %d copies, %lld records merged\n", records,
              static_cast<double>(fs::file_size(source)) / 1e6, copies, total);
  const Measure floor = ExportAll(files, {"Orders"});
  std::printf("  %-44s %8.2f s  %7.1f MB peak\n", "mdb-export of the copies", floor.seconds,
              floor.peakMb);
  const std::string merged = (dir / "merged").string();
  Line("merge of the copies", InChild([&] {
         pw::RunState run = Run(files, merged);
         pw::DatabaseMergeOptions options;
         options.access2007 = false;
         Timing timing;
         pw::MergeDatabases(run, options, pw::CommonOptions{}, timing);
         std::printf("  time per merged file:");
         for (double s : timing.perFile) std::printf(" %.2f", s);
         std::printf(" s\n");
       }),
       floor);
  const std::string mergedFile = merged + ".mdb";
  std::printf("  merged file: %.1f MB\n", static_cast<double>(fs::file_size(mergedFile)) / 1e6);
  const Measure exportMerged = ExportAll({mergedFile}, {"Orders"});
  std::printf("  %-44s %8.2f s  %7.1f MB peak\n", "mdb-export of the merged file",
              exportMerged.seconds, exportMerged.peakMb);
  pw::DatabaseSplitOptions rows;
  rows.way = pw::DatabaseSplitOptions::Way::Rows;
  rows.rowsText = std::to_string(std::max<long long>(1, total / 10));
  Line("split of the merged file into 10 parts", InChild([&] {
         pw::RunState run = Run({mergedFile}, {});
         Timing timing;
         pw::SplitDatabases(run, rows, pw::CommonOptions{}, timing);
       }),
       exportMerged);
  // Even parts need each table's count first: the records go through the
  // spool rather than straight to the parts.
  pw::DatabaseSplitOptions even;
  even.way = pw::DatabaseSplitOptions::Way::Parts;
  even.partsText = "10";
  Line("split of the merged file into 10 even parts", InChild([&] {
         pw::RunState run = Run({mergedFile}, {});
         Timing timing;
         pw::SplitDatabases(run, even, pw::CommonOptions{}, timing);
       }),
       exportMerged);

  // The last copy's long value turns the merged text column into long text:
  // the records merged before it are written again.
  std::vector<std::string> late = files;
  fs::remove(late.back());
  OrderList(late.back(), records, true);
  Line("merge whose last copy widens a column", InChild([&] {
         pw::RunState run = Run(late, (dir / "widened").string());
         pw::DatabaseMergeOptions options;
         options.access2007 = false;
         Timing timing;
         pw::MergeDatabases(run, options, pw::CommonOptions{}, timing);
       }),
       floor);
}

}  // namespace

int main(int argc, char** argv) {
  const int copies = argc > 1 ? std::atoi(argv[1]) : 20;
  const int records = argc > 2 ? std::atoi(argv[2]) : 50000;
  const fs::path dir = fs::temp_directory_path() / "pw-database-bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "app");
  pw::SetAppFolderOverride((dir / "app").string());
  Samples(dir);
  Large(dir, copies, records);
  fs::remove_all(dir);
  return 0;
}
