#pragma once
// How plinthwick-cli shows a run: lines or a one-line progress display on
// standard error, and the machine-readable summary (--json).

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "batch/run.h"
#include "cli/plan.h"

namespace pw::cli {

// One line on standard error, flushed.
void PrintLine(const std::string& line);

class CliReporter : public RunReporter {
 public:
  enum class Style {
    Lines,     // every status and counter on a line of its own (not a terminal)
    Terminal,  // one line redrawn in place: file i of n, the current file
    Quiet,     // warnings and errors only
  };
  CliReporter(const RunState& run, Style style);

  void Status(const std::string& text) override;
  void Counter(int finished) override;
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int workIndex, RemoveOutcome outcome) override;

  // A line that stays (an error, a note): the progress line makes way for it.
  void Message(const std::string& line);
  // The run is over: the progress line gives way to the last status, when
  // that still tells how the run ended.
  void Finish(bool showLastStatus);

  int finished() const { return finished_; }
  const std::vector<std::pair<std::string, RemoveOutcome>>& removals() const { return removals_; }

 private:
  void Draw(bool force);
  void Clear();

  const RunState& run_;
  const Style style_;
  int finished_ = 0;
  std::string last_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point drawnAt_{};
  std::vector<std::pair<std::string, RemoveOutcome>> removals_;
};

// The style for standard error: a terminal (not "dumb") gets the progress line.
CliReporter::Style StyleForStderr(bool quiet);

// The files in some folders, to tell afterwards which ones a run wrote.
class FolderSnapshot {
 public:
  explicit FolderSnapshot(const std::vector<std::string>& folders);
  // Files present now that were absent or another file (inode) before, in
  // name order; hidden temporaries and `ignore` left out.
  std::vector<std::string> WrittenSince(const FolderSnapshot& before,
                                        const std::string& ignore) const;

 private:
  struct Stamp {
    dev_t dev;
    ino_t ino;
  };
  std::map<std::string, Stamp> files_;
};

// The folders a run of `cl` can write into: the output folder and each source's.
std::vector<std::string> OutputFolders(const CommandLine& cl);

struct RunSummary {
  std::string mode, kind;
  int status = 0;
  bool stopped = false;
  bool dryRun = false;
  std::size_t files = 0;
  int finished = 0;
  std::vector<std::string> outputs;    // of a run
  std::vector<PlannedOutput> planned;  // of a dry run
  std::vector<std::string> notes;      // of a dry run
  long long failedRecords = 0;         // records the database could not store
  long long skippedRecords = 0;        // records skipped after them
  int queriesNotCopied = 0;            // saved queries the database could not copy
  std::string errorLog;                // when the run wrote it
  std::vector<std::pair<std::string, RemoveOutcome>> removals;
  std::vector<std::pair<std::string, std::string>> errors;  // file, message
};

// One JSON object, on one line.
std::string SummaryJson(const RunSummary& summary);

}  // namespace pw::cli
