#include "batch/runner.h"

#include "batch/contract.h"
#include "batch/preflight.h"
#include "platform/spreadsheet/xls_office.h"
#include "platform/translate.h"

namespace pw {

RunState BuildRunState(const std::vector<ChosenFile>& chosen, const std::string& newDocumentName,
                       const std::string& outputFolder) {
  RunState run;
  for (const ChosenFile& file : chosen) {
    // Paths stay exactly as the file system gave them: on Linux a name may
    // begin or end with a blank.
    if (TrimText(file.path).empty()) continue;
    run.WorkList.push_back(file.path);
    run.WorkRowIndexes.push_back(file.row);
  }
  std::string name = TrimText(newDocumentName);
  if (name.empty() && !run.WorkList.empty()) name = FileNamePart(run.WorkList.front());
  std::string folder = outputFolder;
  if (!folder.empty() && folder.back() == '/') folder.pop_back();
  run.OutputBase = folder + "/" + name;
  return run;
}

std::string KindName(TaskKind kind) {
  switch (kind) {
    case TaskKind::Document:
      return Translate("batch", "Word文档");
    case TaskKind::Workbook:
      return Translate("batch", "Excel文档");
    case TaskKind::Database:
      return Translate("batch", "Access文档");
    case TaskKind::Text:
      return Translate("batch", "纯文本文件");
    case TaskKind::None:
      break;
  }
  return {};
}

namespace {
void Dispatch(TaskKind kind, TaskMode mode, RunState& run, const TaskOptions& options,
              RunReporter& reporter);
}  // namespace

void RunOperation(TaskKind kind, TaskMode mode, RunState& run, const TaskOptions& options,
                  RunReporter& reporter) {
  if (kind == TaskKind::None || mode == TaskMode::None)
    throw RunError(
        RunError::Kind::Validation, {},
        Translate("batch", "请您先从左侧选择操作任务，然后我再把合适类型的文件列表出来！"));
  if (run.WorkList.empty())
    throw RunError(RunError::Kind::Validation, {},
                   Translate("batch", "请先选中需操作的文档，可多选！"));
  CheckBeforeRun(kind, mode, run);
  Dispatch(kind, mode, run, options, reporter);
  // Sources go only once the run has completed: its outputs hold their
  // content and are in place. A stopped run keeps every source.
  if (!run.StopRequested()) RemoveFinishedSources(run, reporter);
}

namespace {
void Dispatch(TaskKind kind, TaskMode mode, RunState& run, const TaskOptions& options,
              RunReporter& reporter) {
  const CommonOptions& common = options.common;
  const bool merge = mode == TaskMode::Merge;
  switch (kind) {
    case TaskKind::Document:
      if (merge)
        MergeDocuments(run, options.documentMerge, common, reporter);
      else
        SplitDocuments(run, options.documentSplit, common, reporter);
      return;
    case TaskKind::Workbook: {
      OfficeXlsConverter xls;  // the office server starts only for an .xls
      if (merge)
        MergeWorkbooks(run, options.workbookMerge, common, reporter, &xls);
      else
        SplitWorkbooks(run, options.workbookSplit, common, reporter, &xls);
      return;
    }
    case TaskKind::Database:
      if (merge)
        MergeDatabases(run, options.databaseMerge, common, reporter);
      else
        SplitDatabases(run, options.databaseSplit, common, reporter);
      return;
    case TaskKind::Text:
      if (merge)
        MergeTextFiles(run, common, reporter);
      else
        SplitTextFiles(run, options.textSplit, common, reporter);
      return;
    case TaskKind::None:
      break;
  }
}

}  // namespace

}  // namespace pw
