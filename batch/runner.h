#pragma once
// The batch run: run state from the chosen files, then the one operation of
// the task.

#include <string>
#include <vector>

#include "batch/run.h"
#include "ops/database/database_ops.h"
#include "ops/document/document_ops.h"
#include "ops/spreadsheet/workbook_ops.h"
#include "ops/text/text_ops.h"

namespace pw {

// Every option of every task, as the window's controls or the command line set them.
struct TaskOptions {
  CommonOptions common;
  TextSplitOptions textSplit;
  DocumentMergeOptions documentMerge;
  DocumentSplitOptions documentSplit;
  WorkbookMergeOptions workbookMerge;
  WorkbookSplitOptions workbookSplit;
  DatabaseMergeOptions databaseMerge;
  DatabaseSplitOptions databaseSplit;
};

struct ChosenFile {
  std::string path;  // full path, bytes
  int row = 0;       // list row when the run starts
};

// Work list in list order, and the output base: the output folder and the new
// document's name, or the first file's own name when no name is given.
RunState BuildRunState(const std::vector<ChosenFile>& chosen, const std::string& newDocumentName,
                       const std::string& outputFolder);

// Runs the one operation of the task. A run that cannot be carried out ends
// with RunError; a stop is a normal return.
void RunOperation(TaskKind kind, TaskMode mode, RunState& run, const TaskOptions& options,
                  RunReporter& reporter);

// Name of a kind for messages ("Word文档", ...).
std::string KindName(TaskKind kind);

}  // namespace pw
