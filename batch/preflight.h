#pragma once
// What a run checks before it writes anything: every source is a regular
// file of the task's kind, given once, and every output folder takes files.

#include "batch/run.h"

namespace pw {

// Throws RunError naming the first file or folder that fails. Records each
// source's identity in `run.SourceIds`.
void CheckBeforeRun(TaskKind kind, TaskMode mode, RunState& run);

}  // namespace pw
