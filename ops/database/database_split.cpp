#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <memory>

#include "batch/contract.h"
#include "ops/database/database_ops.h"
#include "ops/database/table_copy.h"
#include "platform/errors.h"
#include "platform/textcodec.h"

namespace pw {

namespace {

constexpr int kMaxParts = 1000;

int ReadCount(const std::string& text, const char* emptyMessage, const char* notPositive) {
  const std::string t = TrimText(text);
  if (t.empty()) throw RunError(RunError::Kind::Validation, {}, emptyMessage);
  const int n = ParseCount(t, {});
  if (n <= 0) throw RunError(RunError::Kind::Validation, {}, notPositive);
  return n;
}

// "<source without extension>_<part><extension>"; a "/" in a table name
// would reach into another folder and becomes "_".
std::string OutputPath(const std::string& source, std::string part) {
  std::replace(part.begin(), part.end(), '/', '_');
  const std::size_t slash = source.find_last_of('/');
  const std::size_t dot = source.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string ext = hasExt ? source.substr(dot) : std::string();
  return ChangeExtension(source, "_" + part + ext);
}

struct Splitter {
  RunState& run;
  const DatabaseSplitOptions& options;
  std::string source;
  db::Connection sourceDb, outputDb;
  std::map<std::string, std::unique_ptr<db::Query>> tables;  // read once per source
  std::vector<std::string> selected;
  bool complete = true;
  bool wroteTable = false;
  bool stopped = false;

  // Between output databases: a stop request ends the file unfinished.
  bool Stop() {
    stopped = stopped || run.StopRequested();
    return stopped;
  }

  db::Query& Table(const std::string& name) {
    auto& q = tables[name];
    if (!q) {
      q = std::make_unique<db::Query>(sourceDb);
      db::OpenTable(*q, name);
    }
    return *q;
  }

  void MakeOutput(const std::string& path) {
    RefuseOutputOverSource(path, run);  // never over another file of this run
    outputDb.Close();
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && unlink(path.c_str()) != 0) {
      const int err = errno;
      throw RunError(RunError::Kind::Failure, path, FileErrorText("替换", path, err));
    }
    db::CreateDatabaseFile(path, 64);
    db::OpenDatabase(outputDb, path);
  }

  // Table `name` in the current output, with records first..last (last < 0: to the end).
  void CopyTable(const std::string& name, int first, int last, const dbops::LogForm& form) {
    db::Query& in = Table(name);
    db::Query out(outputDb);
    dbops::CreateTargetTable(out, name, in.FieldNames());
    db::OpenTable(out, name);
    wroteTable = true;
    if (last >= 0 && first > last) return;
    complete &= dbops::CopyRecords(in, out, first, last, form);
  }

  void EachTable(const std::vector<std::string>& all) {
    for (const std::string& t : all) {
      if (Stop()) return;
      if (std::find(selected.begin(), selected.end(), t) == selected.end()) continue;
      const std::string path = OutputPath(source, t);
      MakeOutput(path);
      CopyTable(t, 1, -1, {DisplayText(FileNamePart(path)), true});
    }
  }

  void Evenly(int parts) {
    const dbops::LogForm form{DisplayText(FileNamePart(source)), false};
    for (int p = 1; p <= parts && !Stop(); ++p) {
      MakeOutput(OutputPath(source, std::to_string(p)));
      for (const std::string& t : selected) {
        const long long r = Table(t).RecordCount();
        const long long c = r / parts;
        const long long first = c * (p - 1) + 1;
        const long long last = p < parts ? c * p : r;
        CopyTable(t, static_cast<int>(first), static_cast<int>(last), form);
      }
    }
  }

  void ByRows(int rows) {
    const dbops::LogForm form{DisplayText(FileNamePart(source)), false};
    long long largest = 0;
    for (int p = 1; p <= kMaxParts; ++p) {
      // A part is made while records remain for it (part 1 always): no
      // trailing database without tables when the largest table fills
      // its parts exactly.
      if (p > 1 && (static_cast<long long>(p - 1) * rows >= largest || Stop())) break;
      MakeOutput(OutputPath(source, std::to_string(p)));
      for (const std::string& t : selected) {
        const long long r = Table(t).RecordCount();
        largest = std::max(largest, r);
        const long long first = static_cast<long long>(p - 1) * rows + 1;
        if (r < first) continue;
        const long long last = std::min(static_cast<long long>(rows) * p, r);
        CopyTable(t, static_cast<int>(first), static_cast<int>(last), form);
      }
    }
  }
};

}  // namespace

void SplitDatabases(RunState& run, const DatabaseSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  using Way = DatabaseSplitOptions::Way;
  int count = 0;
  if (options.way == Way::Parts)
    count = ReadCount(options.partsText, "文件数不能为空且必须为阿拉伯数字，请检查！",
                      "文件数必须大于 0，请检查！");
  if (options.way == Way::Rows)
    count = ReadCount(options.rowsText, "数据行数不能为空且必须为阿拉伯数字，请检查！",
                      "数据行数必须大于 0，请检查！");
  const std::string only = TrimText(options.tableName);
  if (options.singleTable && only.empty())
    throw RunError(RunError::Kind::Validation, {}, "请选择需要操作的数据表！");

  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  dbops::ProgressScope progress{reporter};
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    Splitter s{run, options, run.WorkList[i], {}, {}, {}, {}, true, false, false};
    reporter.Status("正在分割：" + DisplayText(FileNamePart(s.source)));
    std::string failing = s.source;
    try {
      db::OpenDatabase(s.sourceDb, s.source);
      const std::vector<std::string> all = db::ListTables(s.sourceDb);
      for (const std::string& t : all)
        if (!options.singleTable || t == only) s.selected.push_back(t);
      if (options.way == Way::PerTable) s.EachTable(all);
      if (options.way == Way::Parts) s.Evenly(count);
      if (options.way == Way::Rows) s.ByRows(count);
      failing = s.outputDb.path().empty() ? s.source : s.outputDb.path();
      s.outputDb.Close();
      s.sourceDb.Close();
    } catch (const db::DatabaseError& e) {
      throw RunError(RunError::Kind::Failure, failing, e.what());
    }
    if (s.stopped) {  // this file is not finished: its row stays, its source too
      reporter.Status("用户强行退出，转换操作未完成！");
      return;
    }
    // Only a source whose every selected record reached an output may go.
    CommonOptions follow = common;
    if (!s.complete || !s.wroteTable) follow.deleteSources = false;
    if (FinishEntry(run, follow, reporter, static_cast<int>(i))) {
      reporter.Status("用户强行退出，转换操作未完成！");
      return;
    }
  }
}

}  // namespace pw
