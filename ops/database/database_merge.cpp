#include "batch/contract.h"
#include "ops/database/database_ops.h"
#include "ops/database/table_copy.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {

// Copies every table of the source, and its saved queries that can be
// copied, into the target; true when every record was stored and every
// query copied.
bool CopyDatabaseTables(db::Connection& target, db::Connection& source,
                        const std::string& sourcePath, const std::string& targetPath,
                        const DatabaseMergeOptions& options, const dbops::KeptTypes& kept,
                        const RunState& run, RunReporter& reporter) {
  db::Query in(source), out(target);
  bool complete = true;
  const std::string newTable = TrimText(options.newTableName);
  const std::vector<std::string> tables = dbops::On(sourcePath, [&] {
    return dbops::CopyableObjects(
        source, DisplayText(FileNamePart(sourcePath)), reporter,
        [](const std::string&) { return true; }, complete);
  });
  const auto stopped = [&run] { return run.StopRequested(); };
  for (const std::string& s : tables) {
    if (stopped()) return false;  // the merge goes unsaved
    dbops::On(sourcePath, [&] { db::OpenTable(in, s); });
    const std::string t = options.intoOneTable ? newTable : dbops::TargetTableName(s);
    dbops::On(targetPath, [&] {
      bool exists = false;
      for (const std::string& name : db::ListTables(target)) exists |= db::SameName(name, t);
      if (!exists)
        dbops::CreateTargetTable(out, t, in, kept);
      else if (options.addNewFields)
        dbops::WidenTargetTable(out, t, in, kept);
      db::OpenTable(out, t);
      complete &= dbops::CopyRecords(in, out, 1, -1, {DisplayText(FileNamePart(sourcePath)), true},
                                     stopped);
    });
  }
  return complete;
}

// The target column types of a merge that keeps field types, from every
// source's table definitions (no records are read): each column takes the
// type that holds the fields of its name in all sources, so that no value
// written early has to change type later.
dbops::KeptTypes PlanKeptTypes(const RunState& run, const DatabaseMergeOptions& options,
                               RunReporter& reporter) {
  dbops::KeptTypes kept;
  kept.keep = true;
  const std::string newTable = TrimText(options.newTableName);
  db::Connection source;
  for (const std::string& path : run.WorkList) {
    reporter.Status(Translate("ops", "正在读取字段类型：") + DisplayText(FileNamePart(path)));
    dbops::On(path, [&] {
      db::OpenDatabase(source, path);
      std::vector<std::string> objects = db::ListTables(source);
      for (const db::SavedQueryInfo& q : db::ListQueries(source))
        if (q.copyable) objects.push_back(q.name);
      for (const std::string& object : objects) {
        const std::string table = options.intoOneTable ? newTable : dbops::TargetTableName(object);
        for (const auto& [name, type] : db::ListFields(source, object)) {
          const std::string column = CleanFieldName(name);
          if (!column.empty()) kept.Note(table, column, type);
        }
      }
      source.Close();
    });
  }
  return kept;
}

}  // namespace

void MergeDatabases(RunState& run, const DatabaseMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  if (options.intoOneTable && TrimText(options.newTableName).empty())
    throw RunError(RunError::Kind::Validation, {}, Translate("ops", "请指定新表名称！"));
  const std::string target =
      ChangeExtension(run.OutputBase, options.access2007 ? ".accdb" : ".mdb");
  RefuseOutputOverSource(target, run);
  // Every source is a database before anything is written: a wrong file
  // late in the list does not cost the merge of all before it.
  for (const std::string& source : run.WorkList)
    dbops::On(source, [&] { db::ReadDatabaseHeader(source); });
  run.OutputBase = target;
  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  dbops::ProgressScope progress{reporter};
  const dbops::KeptTypes kept =
      options.keepTypes ? PlanKeptTypes(run, options, reporter) : dbops::KeptTypes{};

  // Written under a temporary name and renamed over the target once whole:
  // until then an older file of that name stays as it was.
  PendingOutput output(target);
  db::Connection targetDb, sourceDb;
  dbops::On(target, [&] {
    db::CreateDatabase(targetDb, output.tempPath(), options.access2007 ? 128 : 64, target);
  });
  std::vector<bool> complete(run.WorkList.size(), false);
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    const std::string source = run.WorkList[i];
    reporter.Status(Translate("ops", "正在合并：") + DisplayText(FileNamePart(source)));
    dbops::On(source, [&] { db::OpenDatabase(sourceDb, source); });
    complete[i] =
        CopyDatabaseTables(targetDb, sourceDb, source, target, options, kept, run, reporter);
    dbops::On(source, [&] { sourceDb.Close(); });
    dbops::On(target, [&] { targetDb.Flush(); });
    reporter.Counter(static_cast<int>(i));
    reporter.StepProgress();
    if (run.StopRequested()) {
      // The merged database goes unsaved: every source stays, and in the list.
      reporter.Status(
          Arg(Translate("ops", "用户强行退出，转换操作未完成！合并后的数据库“%1”没有生成。"),
              {DisplayText(FileNamePart(target))}));
      return;
    }
  }
  dbops::On(target, [&] { targetDb.Close(); });
  output.Commit();
  // Only now is every source's content in the merged database. A source
  // with skipped records stays on disk: the log alone holds them.
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    CommonOptions follow = common;
    if (!complete[i]) follow.deleteSources = false;
    ReleaseEntry(run, follow, reporter, static_cast<int>(i));
  }
  reporter.Status(Arg(Translate("ops", "%1 个文件合并生成新文件：%2"),
                      {run.WorkList.size(), DisplayText(target)}));
}

}  // namespace pw
