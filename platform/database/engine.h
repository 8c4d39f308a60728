#pragma once
// The database engine as the database operations use it: connections on
// files, queries on tables, the two statements that build tables, and
// records written field by field as text. Reading goes through libmdb
// (every Access version); writing goes to databases made by
// CreateDatabaseFile.

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/database/jet_writer.h"
#include "platform/database/mdb_file.h"

namespace pw::db {

class Query;

// One open database file. Two connections may be open at once on
// different files.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool IsOpen() const;
  const std::string& path() const;
  // Writes what is pending.
  void Flush();
  // Writes what is pending and closes the file.
  void Close();

 private:
  friend class Query;
  friend void OpenDatabase(Connection&, const std::string&);
  friend void CreateDatabase(Connection&, const std::string&, int, const std::string&);
  friend void OpenTable(Query&, const std::string&);
  friend void ExecuteStatement(Query&, const std::string&);
  friend std::vector<std::string> ListTables(Connection&);
  friend std::vector<SavedQueryInfo> ListQueries(Connection&);
  friend std::vector<std::pair<std::string, FieldType>> ListFields(Connection&, const std::string&);
  friend void CreateTypedTable(Query&, const std::string&, const std::string&, const FieldType&);
  friend void AddTypedColumn(Query&, const std::string&, const std::string&, const FieldType&);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A table of a connection: its fields, its records (read when opened) and
// new records appended to it.
class Query {
 public:
  explicit Query(Connection& connection);
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  bool IsOpen() const;
  void Close();  // drops a record appended but not posted
  const std::string& table() const;
  const std::vector<std::string>& FieldNames() const;
  // What a field holds: text (every value of the kinds the target does
  // not keep: numbers, dates…, as text), long text, or bytes.
  ColumnKind FieldKind(int index) const;
  // The field's own type, as a target keeping types takes it (see
  // TypeFromCode); text for no such field.
  FieldType Type(int index) const;
  // Position of a field found by name ignoring letter case; -1 for none.
  int FindField(const std::string& name) const;

  int RecordCount() const;
  int RecNo() const;  // from 1; 0 when there is no record
  void MoveTo(int recNo);
  void First();
  void Next();
  bool Eof() const;
  // The current record's value of field `index` as text (the bytes of a
  // binary field); "" for no value.
  std::string Text(int index) const;

  void Append();
  void SetField(const std::string& name, const std::string& text);
  // The same for the field at `index` (see FindField).
  void SetFieldAt(int index, std::string text);
  // Stores the appended record; throws RecordError (or DatabaseError) when
  // it cannot, and the record is dropped.
  void Post();

 private:
  friend void OpenTable(Query&, const std::string&);
  friend void ExecuteStatement(Query&, const std::string&);
  friend void CreateTypedTable(Query&, const std::string&, const std::string&, const FieldType&);
  friend void AddTypedColumn(Query&, const std::string&, const std::string&, const FieldType&);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Closes the connection and opens it on `path`. Throws DatabaseError naming
// the file and the cause (missing, not a database, damaged, encrypted,
// protected by a password).
void OpenDatabase(Connection& connection, const std::string& path);

// User tables, no system or temporary tables, in the catalog's order.
std::vector<std::string> ListTables(Connection& connection);

// Saved queries of a database opened for reading (none for one being
// written), hidden ones left out; see SavedQueryInfo.
std::vector<SavedQueryInfo> ListQueries(Connection& connection);

// Opens `table` (its name as it stands: spaces and reserved words need no
// quoting here) with all its fields and records; in a database opened for
// reading, a copyable saved query of that name opens as the table of its
// records.
void OpenTable(Query& query, const std::string& table);

// The fields of a table (or copyable saved query) of a database opened for
// reading, with their types, without reading its records.
std::vector<std::pair<std::string, FieldType>> ListFields(Connection& connection,
                                                          const std::string& table);

// A new table whose first column has `type`, and a column of `type` added
// to a table: as ExecuteStatement's two statements, for every FieldType.
void CreateTypedTable(Query& query, const std::string& table, const std::string& column,
                      const FieldType& type);
void AddTypedColumn(Query& query, const std::string& table, const std::string& column,
                    const FieldType& type);

// Runs exactly one of
//   CREATE TABLE name (column TYPE)
//   ALTER TABLE name ADD COLUMN column TYPE
// (names bare or in [ ], " " or ` `). TYPE is CHAR(250) or VARCHAR(250), a
// text column of 250 characters that keeps values unpadded; MEMO or
// LONGTEXT, long text; OLEOBJECT or LONGBINARY, bytes. Anything else
// throws DatabaseError.
void ExecuteStatement(Query& query, const std::string& text);

// The current record's value of field `field` as text; "" for no value or
// no such field.
std::string FieldText(const Query& query, const std::string& field);

// A new, empty database at `path` (which must not exist): version 64 is
// Access 2000 (.mdb), 128 is Access 2007 (.accdb). Messages name `shownAs`
// when given: the name the file will have while it is written under a
// temporary one.
void CreateDatabaseFile(const std::string& path, int version, const std::string& shownAs = {});

// Makes a new, empty database as above and opens the connection on it for
// writing, without reading it back. Messages about the file name `shownAs`
// when given.
void CreateDatabase(Connection& connection, const std::string& path, int version,
                    const std::string& shownAs = {});

// The pieces of a statement ExecuteStatement accepts (exposed for tests).
struct Statement {
  enum class Kind { CreateTable, AddColumn } kind = Kind::CreateTable;
  std::string table;
  std::string column;
  ColumnKind type = ColumnKind::Text;
};
std::optional<Statement> ParseStatement(const std::string& text);

}  // namespace pw::db
