#pragma once
// What the import error log ("Error.txt") of a run says, for one line on the
// command line.

#include <string>

namespace pw::cli {

// The entries of a log as the database operations write them: four lines
// each, the second telling which record failed and how many records of its
// table after it were skipped.
struct ImportLogSummary {
  int failed = 0;              // entries: records that could not be stored
  long long skippedAfter = 0;  // records after them that were skipped, as the log counts them
  bool allCounted = true;      // every entry said how many records it skipped
  int queriesNotCopied = 0;    // saved queries that could not be evaluated
};

ImportLogSummary SummarizeImportLog(const std::string& text);

// The line telling how many records were not imported and where the log is.
std::string ImportLogNote(const ImportLogSummary& summary, const std::string& logPath);

}  // namespace pw::cli
