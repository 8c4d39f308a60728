#pragma once
// What a run's thread has reported and the window has not shown yet. The
// operation only records its reports here; the window takes them all at once,
// at most every 50 ms, so a run of many small files costs the window a few
// dozen updates instead of one per report.

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/run_errors.h"

namespace pw {

struct RunReports {
  bool statusChanged = false;
  std::string status;
  int counter = -1;  // -1: unchanged
  // The bar: 0 not asked for yet, 1 shown, 2 taken away.
  int bar = 0;
  int step = 0;                              // per file, as the operation asked
  int filesDone = 0;                         // bar steps so far
  std::int64_t fileDone = 0, fileTotal = 0;  // within the current file
  std::vector<int> finishedEntries;          // work indexes whose rows leave the list
  std::vector<std::pair<int, RemoveOutcome>> sourceOutcomes;
};

class RunFeed {
 public:
  template <typename F>
  void update(F&& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    change(pending_);
  }
  // Hands over what has piled up; bar state and counts carry on.
  RunReports take() {
    std::lock_guard<std::mutex> lock(mutex_);
    RunReports out = pending_;
    pending_.statusChanged = false;
    pending_.counter = -1;
    pending_.finishedEntries.clear();
    pending_.sourceOutcomes.clear();
    return out;
  }

 private:
  std::mutex mutex_;
  RunReports pending_;
};

// The bar's position, 0 to 100. Runs of up to 100 files advance the step
// the operation asked for per file; longer runs, whose step is 0, advance by
// files done out of `files`. A file that reports its own progress moves the
// bar within its share.
constexpr int ProgressValue(int filesDone, int files, int step, std::int64_t fileDone,
                            std::int64_t fileTotal) {
  const double within =
      fileTotal > 0 ? static_cast<double>(std::clamp<std::int64_t>(fileDone, 0, fileTotal)) /
                          static_cast<double>(fileTotal)
                    : 0.0;
  double value = 0;
  if (step > 0)
    value = (filesDone + within) * step;
  else if (files > 0)
    value = (filesDone + within) * 100.0 / files;
  return std::clamp(static_cast<int>(value), 0, 100);
}

}  // namespace pw
