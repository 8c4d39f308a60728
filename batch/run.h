#pragma once
// The contract between the runner, the operations and whoever shows a run
// (the window or the command line).

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace pw {

enum class TaskKind { None, Document, Workbook, Database, Text };
enum class TaskMode { None, Merge, Split };

// State of one run. Paths are byte strings exactly as the file system gives
// them; they are never re-encoded.
struct RunState {
  std::vector<std::string> WorkList;  // full paths of the chosen files, list order
  std::vector<int> WorkRowIndexes;    // list row of each entry when the run started
  std::string OutputBase;             // output folder + "/" + new-document name
  const std::atomic<bool>* StopFlag = nullptr;

  bool StopRequested() const { return StopFlag != nullptr && StopFlag->load(); }
};

// Options every operation shares.
struct CommonOptions {
  bool removeFinished = true;  // finished files leave the list
  bool deleteSources = false;  // sources go to the trash once fully processed
};

// How a source was disposed of after its run.
enum class RemoveOutcome { Trashed, Deleted, Failed };

// What an operation tells its audience. Texts are UTF-8.
class RunReporter {
 public:
  virtual ~RunReporter() = default;
  virtual void Status(const std::string& text) = 0;  // the status line
  virtual void Counter(int finished) = 0;            // the completed-files counter
  virtual void BeginProgress(int step) = 0;          // bar from 0 to 100, `step` per file
  virtual void StepProgress() = 0;
  virtual void EndProgress() = 0;
  // Entry `workIndex` of the run is finished and leaves the list: its row and
  // its record go together.
  virtual void RemoveRow(int workIndex) = 0;
  // Entry `workIndex`'s source was moved to the trash, deleted, or could not be removed.
  virtual void SourceRemoved(int workIndex, RemoveOutcome outcome) = 0;
};

// A run ends early with one of these. `Validation` is a fault in the options
// (an empty or invalid count): shown as a plain message, nothing written for
// the file named. `Failure` is a file that could not be processed.
class RunError : public std::runtime_error {
 public:
  enum class Kind { Validation, Failure };
  RunError(Kind kind, std::string file, const std::string& message)
      : std::runtime_error(message), kind_(kind), file_(std::move(file)) {}
  Kind kind() const { return kind_; }
  const std::string& file() const { return file_; }

 private:
  Kind kind_;
  std::string file_;
};

}  // namespace pw
