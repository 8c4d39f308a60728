#pragma once
// What the database operation tests share: a reporter that records what a
// run shows, and a run over given files.

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "batch/run.h"
#include "tests/support/tempdir.h"

namespace pw::test {

struct FakeReporter : RunReporter {
  std::vector<int> removed;
  std::vector<std::string> statuses;
  int ended = 0;
  // A stop asked for as soon as a status holding `stopWhen` is shown.
  std::atomic<bool>* stop = nullptr;
  std::string stopWhen;
  void Status(const std::string& text) override {
    statuses.push_back(text);
    if (stop != nullptr && !stopWhen.empty() && text.find(stopWhen) != std::string::npos)
      *stop = true;
  }
  void Counter(int) override {}
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override { ++ended; }
  void RemoveRow(int i) override { removed.push_back(i); }
  void SourceRemoved(int, RemoveOutcome) override {}
};

inline RunState MakeRun(const std::vector<std::string>& files, const std::string& outputBase) {
  RunState run;
  run.WorkList = files;
  for (std::size_t i = 0; i < files.size(); ++i) run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = outputBase;
  return run;
}

// A folder in memory where there is a tmpfs: many small databases cost
// many syncs on a disk.
inline std::unique_ptr<TempDir> FastTempDir() {
  const char* old = std::getenv("TMPDIR");
  const std::string keep = old != nullptr ? old : "";
  if (std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  auto dir = std::make_unique<TempDir>();
  old != nullptr ? setenv("TMPDIR", keep.c_str(), 1) : unsetenv("TMPDIR");
  return dir;
}

}  // namespace pw::test
