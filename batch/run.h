#pragma once
// The contract between the runner, the operations and whoever shows a run
// (the window or the command line).

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/run_errors.h"
#include "platform/trash.h"

namespace pw {

enum class TaskKind { None, Document, Workbook, Database, Text };
enum class TaskMode { None, Merge, Split };

// State of one run. Paths are byte strings exactly as the file system gives
// them; they are never re-encoded.
struct RunState {
  std::vector<std::string> WorkList;  // full paths of the chosen files, list order
  std::vector<int> WorkRowIndexes;    // list row of each entry when the run started
  std::string OutputBase;             // output folder + "/" + new-document name
  StopFlagRef StopFlag = nullptr;
  // Each entry's file as it was when the run started (device and inode): a
  // source is removed only if it is still that file. Empty: not checked.
  std::vector<FileIdentity> SourceIds;
  // Entries whose sources go once the run has completed, in the order they finished.
  std::vector<int> PendingRemovals;

  bool StopRequested() const { return StopRequestedBy(StopFlag); }
};

// Options every operation shares.
struct CommonOptions {
  bool removeFinished = true;  // finished files leave the list
  bool deleteSources = false;  // sources go to the trash once the whole run has completed
};

// What an operation tells its audience. Texts are UTF-8.
class RunReporter {
 public:
  virtual ~RunReporter() = default;
  virtual void Status(const std::string& text) = 0;  // the status line
  virtual void Counter(int finished) = 0;            // the completed-files counter
  virtual void BeginProgress(int step) = 0;          // bar from 0 to 100, `step` per file
  virtual void StepProgress() = 0;
  // How far the current file is: `done` of `total` in the operation's own
  // unit (bytes, pages, records). For operations that can tell within one
  // big file; the next StepProgress starts the next file at 0.
  virtual void FileProgress(std::int64_t /*done*/, std::int64_t /*total*/) {}
  virtual void EndProgress() = 0;
  // Entry `workIndex` of the run is finished and leaves the list: its row and
  // its record go together.
  virtual void RemoveRow(int workIndex) = 0;
  // Entry `workIndex`'s source was moved to the trash, deleted, or could not be removed.
  virtual void SourceRemoved(int workIndex, RemoveOutcome outcome) = 0;
};

}  // namespace pw
