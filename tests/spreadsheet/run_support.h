#pragma once
// A run of one workbook for the workbook tests, and a reporter that keeps
// only the last status.

#include <string>

#include "batch/contract.h"

namespace pw::test {

struct Quiet : RunReporter {
  void Status(const std::string& text) override { status = text; }
  void Counter(int) override {}
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int, RemoveOutcome) override {}
  std::string status;
};

inline RunState OneFileRun(const std::string& file, const std::string& base) {
  RunState run;
  run.WorkList = {file};
  run.WorkRowIndexes = {0};
  run.OutputBase = base;
  return run;
}

}  // namespace pw::test
