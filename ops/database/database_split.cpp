#include <unistd.h>

#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "batch/contract.h"
#include "ops/database/database_ops.h"
#include "ops/database/table_copy.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {

int ReadCount(const std::string& text, const std::string& emptyMessage,
              const std::string& notPositive) {
  const std::string t = TrimText(text);
  if (t.empty()) throw RunError(RunError::Kind::Validation, {}, emptyMessage);
  const int n = ParseCount(t, {});
  if (n <= 0) throw RunError(RunError::Kind::Validation, {}, notPositive);
  return n;
}

// A table name as part of a file name: control characters and the
// characters file systems refuse or read as a folder become "_"; nothing
// may reach into another folder.
std::string SafeFilePart(const std::string& name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool bad =
        u < 0x20 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
    out += bad ? '_' : c;
  }
  if (out.empty() || out == "." || out == "..") out = "_";
  return out;
}

// "<source without extension>_<part><extension>".
std::string OutputPath(const std::string& source, const std::string& part) {
  const std::size_t slash = source.find_last_of('/');
  const std::size_t dot = source.find_last_of('.');
  const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string ext = hasExt ? source.substr(dot) : std::string();
  return ChangeExtension(source, "_" + part + ext);
}

bool IsAccdb(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  return db::SameName(path.substr(dot), ".accdb");
}

struct Splitter {
  Splitter(RunState& r, RunReporter& rep, std::string src)
      : run(r), reporter(rep), source(std::move(src)) {}

  RunState& run;
  RunReporter& reporter;
  std::string source;
  // Parts take the source's format: ACE 12 beside an .accdb, Jet 4 beside an .mdb.
  int version = 64;
  // This source's parts, each written under a temporary name beside its
  // own. They take their names together once the whole source is split; a
  // stop or a failure takes them away (and leaves older files of those
  // names as they were).
  std::vector<PendingOutput> parts;
  db::Connection sourceDb, outputDb;
  std::map<std::string, std::unique_ptr<db::Query>> tables;  // read once per source
  std::vector<std::string> selected;
  std::set<std::string> usedParts;  // per-table part names already given
  dbops::KeptTypes kept;            // keep: each part's columns take the source's types
  bool complete = true;
  bool wroteTable = false;
  bool stopped = false;

  // Between output databases: a stop request ends the file unfinished.
  bool Stop() {
    stopped = stopped || run.StopRequested();
    return stopped;
  }

  const std::string& Output() const { return parts.back().finalPath(); }

  db::Query& Table(const std::string& name) {
    auto& q = tables[name];
    if (!q) {
      q = std::make_unique<db::Query>(sourceDb);
      dbops::On(source, [&] { db::OpenTable(*q, name); });
    }
    return *q;
  }

  void MakeOutput(const std::string& path) {
    RefuseOutputOverSource(path, run);  // never over another file of this run
    CloseOutput();
    reporter.Status(Arg(Translate("ops", "正在分割：%1（生成 %2）"),
                        {DisplayText(FileNamePart(source)), DisplayText(FileNamePart(path))}));
    parts.emplace_back(path);
    dbops::On(path, [&] { db::CreateDatabase(outputDb, parts.back().tempPath(), version, path); });
  }

  void CloseOutput() {
    if (outputDb.IsOpen()) dbops::On(Output(), [&] { outputDb.Close(); });
  }

  // Every part under its own name. Should one fail to get there, the parts
  // of this source already renamed go too: a source is split whole or not.
  void CommitParts() {
    CloseOutput();
    std::size_t done = 0;
    try {
      for (; done < parts.size(); ++done) parts[done].Commit();
    } catch (const RunError&) {
      for (std::size_t i = 0; i < done; ++i) unlink(parts[i].finalPath().c_str());
      throw;
    }
  }

  // Table `name` in the current output, with records first..last (last < 0: to the end).
  void CopyTable(const std::string& name, int first, int last, const dbops::LogForm& form) {
    db::Query& in = Table(name);
    dbops::On(Output(), [&] {
      db::Query out(outputDb);
      const std::string target = dbops::TargetTableName(name);
      dbops::CreateTargetTable(out, target, in, kept);
      db::OpenTable(out, target);
      wroteTable = true;
      if (last >= 0 && first > last) return;
      complete &= dbops::CopyRecords(in, out, first, last, form, [this] { return Stop(); });
    });
  }

  void EachTable(const std::vector<std::string>& all) {
    for (const std::string& t : all) {
      if (std::find(selected.begin(), selected.end(), t) == selected.end()) continue;
      if (Stop()) return;
      // Two names that clean up alike must not overwrite each other.
      std::string part = SafeFilePart(t);
      for (int n = 2; usedParts.count(part) != 0; ++n)
        part = SafeFilePart(t) + "(" + std::to_string(n) + ")";
      usedParts.insert(part);
      const std::string path = OutputPath(source, part);
      MakeOutput(path);
      CopyTable(t, 1, -1, {DisplayText(FileNamePart(path)), true});
    }
  }

  void Evenly(int count) {
    const dbops::LogForm form{DisplayText(FileNamePart(source)), false};
    for (int p = 1; p <= count && !Stop(); ++p) {
      MakeOutput(OutputPath(source, std::to_string(p)));
      for (const std::string& t : selected) {
        const long long r = Table(t).RecordCount();
        const long long c = r / count;
        const long long first = c * (p - 1) + 1;
        const long long last = p < count ? c * p : r;
        CopyTable(t, static_cast<int>(first), static_cast<int>(last), form);
      }
    }
  }

  // Whether table `name` has a record `recNo` (counted from 1): records are
  // read in order, as far as that one, without counting the rest.
  bool HasRecord(const std::string& name, long long recNo) {
    db::Query& q = Table(name);
    dbops::On(source, [&] { q.MoveTo(static_cast<int>(recNo)); });
    return !q.Eof();
  }

  void ByRows(int rows) {
    const dbops::LogForm form{DisplayText(FileNamePart(source)), false};
    // Each part takes from every table in turn. One table streams straight
    // from its reading program; several are first counted, one after
    // another, which sets their records aside on disk, so that no reading
    // program per table waits through the whole split.
    if (selected.size() > 1)
      for (const std::string& t : selected) {
        db::Query& q = Table(t);
        dbops::On(source, [&] { q.RecordCount(); });
      }
    for (int p = 1;; ++p) {
      const long long first = static_cast<long long>(p - 1) * rows + 1;
      if (first > std::numeric_limits<int>::max()) break;
      // A part is made while records remain for it (part 1 always): no
      // trailing database without tables when the largest table fills
      // its parts exactly.
      bool remain = false;
      for (const std::string& t : selected) remain = HasRecord(t, first) || remain;
      if (p > 1 && !remain) break;
      if (Stop()) break;
      MakeOutput(OutputPath(source, std::to_string(p)));
      for (const std::string& t : selected) {
        if (!HasRecord(t, first)) continue;
        const long long last =
            std::min<long long>(first + rows - 1, std::numeric_limits<int>::max());
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
    count =
        ReadCount(options.partsText, Translate("ops", "文件数不能为空且必须为阿拉伯数字，请检查！"),
                  Translate("ops", "文件数必须大于 0，请检查！"));
  if (options.way == Way::Rows)
    count = ReadCount(options.rowsText,
                      Translate("ops", "数据行数不能为空且必须为阿拉伯数字，请检查！"),
                      Translate("ops", "数据行数必须大于 0，请检查！"));
  const std::string only = TrimText(options.tableName);
  if (options.singleTable && only.empty())
    throw RunError(RunError::Kind::Validation, {}, Translate("ops", "请选择需要操作的数据表！"));

  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  dbops::ProgressScope progress{reporter};
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    Splitter s(run, reporter, run.WorkList[i]);
    if (IsAccdb(s.source)) s.version = 128;
    s.kept.keep = options.keepTypes;
    const std::string shown = DisplayText(FileNamePart(s.source));
    reporter.Status(Translate("ops", "正在分割：") + shown);
    dbops::On(s.source, [&] {
      db::OpenDatabase(s.sourceDb, s.source);
      const std::vector<std::string> all = dbops::CopyableObjects(
          s.sourceDb, shown, reporter,
          [&](const std::string& t) { return !options.singleTable || t == only; }, s.complete);
      s.selected = all;
      if (options.way == Way::PerTable) s.EachTable(all);
      if (options.way == Way::Parts) s.Evenly(count);
      if (options.way == Way::Rows) s.ByRows(count);
    });
    if (s.stopped) {  // this file is not finished: its row stays, its source too
      std::string text = Translate("ops", "用户强行退出，转换操作未完成！");
      if (!s.parts.empty())
        text += Arg(Translate("ops", "已撤销“%1”已生成的 %2 个数据库。"), {shown, s.parts.size()});
      reporter.Status(text);
      return;  // the parts go with `s`, their connection first
    }
    s.CommitParts();
    dbops::On(s.source, [&] { s.sourceDb.Close(); });
    // Only a source whose every selected record reached an output may go.
    CommonOptions follow = common;
    if (!s.complete || !s.wroteTable) follow.deleteSources = false;
    if (FinishEntry(run, follow, reporter, static_cast<int>(i))) {
      reporter.Status(Translate("ops", "用户强行退出，转换操作未完成！"));
      return;
    }
  }
  reporter.Status(
      Arg(Translate("ops", "%1 个文件已被分割，并生成了新文件！"), {run.WorkList.size()}));
}

}  // namespace pw
