#pragma once
// Reading .mdb and .accdb files (Jet 3, Jet 4, ACE) through libmdb. The
// library finds the tables, columns and rows; every value is turned into
// text here, from its stored bytes. libmdb runs in a child process, one
// for each open file (and one more for each table read while another is),
// so that a damaged file can make it crash, loop or print, but never takes
// the program with it. Records stream from it as they are read.

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/database/jet_bytes.h"

namespace pw::db {

// A database that cannot be opened, read or written. The text is complete
// and names the file.
class DatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A database that fails while its records are being read: the file is the
// database read (the text names it too).
class ReadError : public DatabaseError {
 public:
  ReadError(std::string file, const std::string& what)
      : DatabaseError(what), file_(std::move(file)) {}
  const std::string& file() const { return file_; }

 private:
  std::string file_;
};

// "无法打开数据库“<file>”：<cause>"
std::string OpenErrorText(const std::string& path, const std::string& cause);

// Checks `path` as a database to read, before anything reads it: opened
// without waiting (a named pipe never blocks), only a regular file, and a
// header page of Jet or ACE ("Standard Jet DB" / "Standard ACE DB"), whole
// pages, neither encrypted nor protected by a password. Answers the header;
// throws DatabaseError naming the file and the cause.
HeaderInfo ReadDatabaseHeader(const std::string& path);

struct ColumnInfo {
  std::string name;   // UTF-8
  int type = 0;       // the stored type code (0x0A text, 0x0C memo …)
  int size = 0;       // bytes, as declared
  int precision = 0;  // decimal fields: digits in all
  int scale = 0;      // decimal fields: digits after the point
};

struct TableData {
  std::string name;
  std::vector<ColumnInfo> columns;
  // One text per column (binary and OLE object fields: their bytes); ""
  // for no value.
  std::vector<std::vector<std::string>> rows;
};

// A saved query, and whether it is plain enough to be evaluated here (see
// saved_query.h).
struct SavedQueryInfo {
  std::string name;
  bool copyable = false;
};

// The records of a table or saved query, one at a time as the reading
// process sends them: only the record at hand is held. Ending the stream
// early ends the reading process.
class RecordStream {
 public:
  ~RecordStream();
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  const std::vector<ColumnInfo>& columns() const;
  // The next record, one text per column as in TableData; false after the
  // last. Throws ReadError when the file fails part way.
  bool Next(std::vector<std::string>& row);

 private:
  friend class MdbFile;
  RecordStream();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MdbFile {
 public:
  // Throws DatabaseError for a file that is missing, not a database,
  // damaged, encrypted or protected by a password.
  explicit MdbFile(const std::string& path);
  ~MdbFile();
  MdbFile(const MdbFile&) = delete;
  MdbFile& operator=(const MdbFile&) = delete;

  const std::string& path() const;
  JetVersion version() const;
  // User tables in the order the catalog holds them: no system or
  // temporary tables.
  const std::vector<std::string>& TableNames() const;
  // Every record of a user table, counted by reading. Throws DatabaseError.
  TableData ReadTable(const std::string& name) const;
  // The columns of a user table or a copyable saved query, without its
  // records. Throws DatabaseError.
  std::vector<ColumnInfo> ReadColumns(const std::string& name) const;
  // Saved queries in the catalog's order, hidden ones ("~…") left out.
  const std::vector<SavedQueryInfo>& Queries() const;
  // The records a copyable saved query gives, as a table's. Throws
  // DatabaseError.
  TableData ReadQuery(const std::string& name) const;
  // The records of a user table, or of a copyable saved query when `query`,
  // as a stream. Throws DatabaseError as ReadTable and ReadQuery do, for
  // what shows before the first record.
  std::unique_ptr<RecordStream> OpenRecords(const std::string& name, bool query) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The reading program's work: "tables HEADER PATH", "table HEADER PATH
// NAME", "query HEADER PATH NAME", or "table-columns" / "query-columns"
// with the same arguments (the columns only), answered on descriptor 3. Runs in its own process,
// see MdbFile.
int RunMdbReader(int argc, char** argv);

}  // namespace pw::db
