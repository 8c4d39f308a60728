#pragma once
// A reporter that writes down every call, and can request a stop when a given
// status text appears.

#include <atomic>
#include <string>
#include <vector>

#include "batch/run.h"

namespace pw::test {

class RecordingReporter : public RunReporter {
 public:
  std::vector<std::string> events;
  std::atomic<bool> stop{false};
  std::string stopOnStatus;  // the stop flag is set when a status text starts with this

  void Status(const std::string& text) override {
    events.push_back("status " + text);
    if (!stopOnStatus.empty() && text.starts_with(stopOnStatus)) stop = true;
  }
  void Counter(int finished) override { events.push_back("counter " + std::to_string(finished)); }
  void BeginProgress(int step) override { events.push_back("begin " + std::to_string(step)); }
  void StepProgress() override { events.push_back("step"); }
  void EndProgress() override { events.push_back("end"); }
  void RemoveRow(int i) override { events.push_back("remove " + std::to_string(i)); }
  void SourceRemoved(int i, RemoveOutcome outcome) override {
    events.push_back("source " + std::to_string(i) + " " +
                     (outcome == RemoveOutcome::Trashed   ? "trashed"
                      : outcome == RemoveOutcome::Deleted ? "deleted"
                      : outcome == RemoveOutcome::Failed  ? "failed"
                                                          : "replaced"));
  }
};

inline RunState MakeRun(const std::vector<std::string>& files, const std::string& outputBase,
                        const std::atomic<bool>* stop) {
  RunState run;
  run.WorkList = files;
  for (std::size_t i = 0; i < files.size(); ++i) run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = outputBase;
  run.StopFlag = stop;
  return run;
}

}  // namespace pw::test
