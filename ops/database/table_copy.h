#pragma once
// What database merge and split share: the target tables they create and
// the record step with its error log entry.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch/run.h"
#include "platform/database/engine.h"

namespace pw::dbops {

// A source table's name as a target table's: control characters, which
// no database engine accepts in a name, become "_".
std::string TargetTableName(const std::string& name);

// The types of target columns when a run keeps field types: a column
// takes the type every source field of its (cleaned) name in its table fits
// in, as noted before anything is written, else its own field's type.
struct KeptTypes {
  bool keep = false;
  // Target table, then cleaned column name, both in lower case.
  std::map<std::string, std::map<std::string, db::FieldType>> widest;

  // Notes a source field of `type` bound for `column` of `table`.
  void Note(const std::string& table, const std::string& column, const db::FieldType& type);
  db::FieldType For(const std::string& table, const std::string& column,
                    const db::FieldType& own) const;
};

// Creates `table` with a column for each field's cleaned name of the open
// `source` query. Without kept types: long text (MEMO) for a memo or
// hyperlink field, bytes (LONGBINARY, an OLE object column) for an OLE
// object or binary field, else text (the first CHAR(250), the rest
// VARCHAR(250)); with them, the type `kept` gives. A column the engine
// refuses (a name it does not allow, a cleaned name twice) is skipped; a
// table it refuses throws DatabaseError with the cause.
void CreateTargetTable(db::Query& target, const std::string& table, const db::Query& source,
                       const KeptTypes& kept = {});

// Adds the cleaned source fields the target table lacks, typed as above;
// the columns it has keep their types.
void WidenTargetTable(db::Query& target, const std::string& table, const db::Query& source,
                      const KeptTypes& kept = {});

// The tables of an open source database and then its saved queries that
// can be copied (plain selects from one table), those `wanted` accepts.
// Every other wanted query is named in the status line and the log as not
// copied, and makes `complete` false.
std::vector<std::string> CopyableObjects(db::Connection& source, const std::string& databaseName,
                                         RunReporter& reporter,
                                         const std::function<bool(const std::string&)>& wanted,
                                         bool& complete);

// Runs one step; a database error in it becomes the run's failure on
// `file` (the file the step reads or writes, by the name the user knows),
// or on the source being read when reading its records fails part way.
template <class Step>
auto On(const std::string& file, Step&& step) {
  try {
    return step();
  } catch (const db::ReadError& e) {
    throw RunError(RunError::Kind::Failure, e.file(), e.what());
  } catch (const db::DatabaseError& e) {
    throw RunError(RunError::Kind::Failure, file, e.what());
  }
}

// How a failed record is logged: the merge and the per-table split give
// the number of records skipped, the parts of a split do not.
struct LogForm {
  std::string databaseName;  // file name shown in the log
  bool countSkipped = true;
};

// Copies records `first` to `last` (counted from 1; last < 0: to the end)
// from the open source query into the open target query, field by field by
// cleaned name; bytes that meet a text column go in as hex text ("0x…").
// A record that cannot be stored is logged and ends the copy; so does
// `stopped` answering true (asked every few hundred records), without a log
// entry. Answers true when every record of the range was stored.
bool CopyRecords(db::Query& source, db::Query& target, int first, int last, const LogForm& form,
                 const std::function<bool()>& stopped = {});

// "YYYY/M/D H:MM:SS", local time.
std::string LogTimestamp();

// The progress bar ends however the operation does.
struct ProgressScope {
  RunReporter& reporter;
  ~ProgressScope() { reporter.EndProgress(); }
};

}  // namespace pw::dbops
