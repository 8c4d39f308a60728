#pragma once
// Desktop databases: merge the tables of many databases into one new
// database, and split databases into several.

#include <string>

#include "batch/run.h"

namespace pw {

struct DatabaseMergeOptions {
  bool intoOneTable = false;  // every table into `newTableName`; else by table name
  std::string newTableName;
  bool addNewFields = true;  // widen an existing target table by new source columns
  bool access2007 = true;    // .accdb (Access 2007); else .mdb (Access 2000)
  // Target columns take their source fields' types (the type that holds
  // them all when sources disagree); else every field becomes text.
  bool keepTypes = false;
};

struct DatabaseSplitOptions {
  enum class Way { Parts, Rows, PerTable };
  Way way = Way::Parts;
  std::string partsText = "2";  // number of parts
  std::string rowsText = "10";  // records per part
  bool singleTable = false;     // only the table named `tableName` (letter case counts)
  std::string tableName;
  bool keepTypes = false;  // parts' columns take the source fields' types; else text
};

void MergeDatabases(RunState& run, const DatabaseMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter);
void SplitDatabases(RunState& run, const DatabaseSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter);

// A source field name as a target column name: blanks, control characters
// and - _ & ! @ # $ % * ^ dropped; an "s" appended when the result occurs
// (ignoring case) inside the list of words the engine reserves.
std::string CleanFieldName(const std::string& name);

// Appends one line and CR LF to the error log (UTF-8), opening and closing
// the file for each line. Throws RunError when the log cannot be written.
void WriteErrorLog(const std::string& line);

}  // namespace pw
