#pragma once
// Steps every operation takes around each file of a run.

#include <cstddef>
#include <string>

#include "batch/run.h"

namespace pw {

// Progress per file: 100 divided by the number of files, remainder dropped.
int ProgressStep(std::size_t fileCount);

// After entry `i` is completely done: its row leaves the list, its source is
// marked for removal when asked, the counter shows `i`, the bar steps.
// Answers true when a stop was requested and the operation must return.
bool FinishEntry(RunState& run, const CommonOptions& common, RunReporter& reporter, int i);

// For operations that finish all entries at once (the merged output is saved):
// entry `i`'s row leaves the list and its source is marked for removal when asked.
void ReleaseEntry(RunState& run, const CommonOptions& common, RunReporter& reporter, int i);

// Removes the sources marked above. Called once the operation has returned
// whole: never after a failure or a stop, so no source goes before every
// output that holds its content is in place. A source that is no longer the
// file the run started with is kept.
void RemoveFinishedSources(RunState& run, RunReporter& reporter);

// Refuses (throws RunError) when `output` names one of the run's own sources:
// writing it would destroy that source before it is read.
void RefuseOutputOverSource(const std::string& output, const RunState& run);

// The last path component of a byte path ("/a/b/day.txt" -> "day.txt").
std::string FileNamePart(const std::string& path);

// `path` with its extension (from the last dot of the file name) replaced by
// `ext` (".txt"), or `ext` appended when the name has none.
std::string ChangeExtension(const std::string& path, const std::string& ext);

// Trims blanks and control characters at both ends, as the window's texts are compared.
std::string TrimText(const std::string& text);

// Reads a count box: an integer in 32-bit range. Throws RunError(Validation)
// naming `file` and the box when the text is not a whole number.
int ParseCount(const std::string& text, const std::string& file);

}  // namespace pw
