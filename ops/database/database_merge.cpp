#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "batch/contract.h"
#include "ops/database/database_ops.h"
#include "ops/database/table_copy.h"
#include "platform/errors.h"
#include "platform/textcodec.h"

namespace pw {

namespace {

// Copies every table of the source into the target; true when every record
// was stored.
bool CopyDatabaseTables(db::Connection& target, db::Connection& source,
                        const std::string& sourcePath, const DatabaseMergeOptions& options) {
  db::Query in(source), out(target);
  bool complete = true;
  const std::string newTable = TrimText(options.newTableName);
  for (const std::string& s : db::ListTables(source)) {
    db::OpenTable(in, s);
    const std::vector<std::string> fields = in.FieldNames();
    const std::string t = options.intoOneTable ? newTable : s;
    bool exists = false;
    for (const std::string& name : db::ListTables(target)) exists |= db::SameName(name, t);
    if (!exists)
      dbops::CreateTargetTable(out, t, fields);
    else if (options.addNewFields)
      dbops::WidenTargetTable(out, t, fields);
    db::OpenTable(out, t);
    complete &= dbops::CopyRecords(in, out, 1, -1, {DisplayText(FileNamePart(sourcePath)), true});
  }
  return complete;
}

}  // namespace

void MergeDatabases(RunState& run, const DatabaseMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  if (options.intoOneTable && TrimText(options.newTableName).empty())
    throw RunError(RunError::Kind::Validation, {}, "请指定新表名称！");
  const std::string target =
      ChangeExtension(run.OutputBase, options.access2007 ? ".accdb" : ".mdb");
  RefuseOutputOverSource(target, run);
  run.OutputBase = target;
  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  dbops::ProgressScope progress{reporter};

  std::error_code ec;
  if (std::filesystem::exists(target, ec) && unlink(target.c_str()) != 0) {
    const int err = errno;
    throw RunError(RunError::Kind::Failure, target, FileErrorText("替换", target, err));
  }
  db::Connection targetDb, sourceDb;
  try {
    db::CreateDatabaseFile(target, options.access2007 ? 128 : 64);
    db::OpenDatabase(targetDb, target);
  } catch (const db::DatabaseError& e) {
    throw RunError(RunError::Kind::Failure, target, e.what());
  }
  for (std::size_t i = 0; i < run.WorkList.size(); ++i) {
    const std::string source = run.WorkList[i];
    reporter.Status("正在合并：" + DisplayText(FileNamePart(source)));
    bool complete = false;
    try {
      db::OpenDatabase(sourceDb, source);
      complete = CopyDatabaseTables(targetDb, sourceDb, source, options);
      sourceDb.Close();
      targetDb.Flush();
    } catch (const db::DatabaseError& e) {
      throw RunError(RunError::Kind::Failure, source, e.what());
    }
    // A source with skipped records stays on disk: the log alone holds them.
    CommonOptions follow = common;
    if (!complete) follow.deleteSources = false;
    if (FinishEntry(run, follow, reporter, static_cast<int>(i))) {
      reporter.Status("用户强行退出，转换操作未完成！");
      targetDb.Close();
      return;
    }
  }
  try {
    targetDb.Close();
  } catch (const db::DatabaseError& e) {
    throw RunError(RunError::Kind::Failure, target, e.what());
  }
}

}  // namespace pw
