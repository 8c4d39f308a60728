#pragma once
// What a run would write, worked out from its options and its inputs without
// writing anything (--dry-run).

#include <cstdint>
#include <string>
#include <vector>

#include "batch/run.h"
#include "cli/options.h"

namespace pw::cli {

struct PlannedOutput {
  std::string path;  // exact, or a pattern with "N" for the part number
  bool exact = true;
  std::int64_t lines = -1;  // -1: not known before the run
  std::int64_t bytes = -1;
};

struct Plan {
  std::vector<PlannedOutput> outputs;
  // What only the engine can tell (numbers of parts, pages, rows, records).
  std::vector<std::string> notes;
};

// The outputs of `cl` over the run's work list. Bad input is refused as the
// run would refuse it (RunError), before anything is read further.
Plan PlanRun(const CommandLine& cl, RunState& run);

// The plan as lines for a person.
std::string PlanText(const Plan& plan);

}  // namespace pw::cli
