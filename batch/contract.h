#pragma once
// Steps every operation takes around each file of a run.

#include <cstddef>
#include <string>

#include "batch/run.h"

namespace pw {

// Progress per file: 100 divided by the number of files, remainder dropped.
int ProgressStep(std::size_t fileCount);

// After entry `i` is completely done: its row leaves the list, its source is
// removed when asked, the counter shows `i`, the bar steps. Answers true when
// a stop was requested and the operation must return.
bool FinishEntry(const RunState& run, const CommonOptions& common, RunReporter& reporter, int i);

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
