#pragma once
// Writes new Jet 4 (.mdb, Access 2000) and ACE 12 (.accdb, Access 2007)
// databases whose user tables hold text, long text (memo), binary (OLE
// object), number, currency, date/time, yes/no and GUID columns (see
// FieldType): the system tables, their rows and indexes, table
// definitions, usage maps, data pages and long-value pages.
//
// Long text and binary values stay in the record while it fits; the
// longest of them move to long-value pages (one page, or a chain of pages)
// when the record would be wider than a data page's room. A text column
// that meets a value longer than its width, or whose value a record cannot
// hold otherwise, becomes a long-text column (the table's records written
// before are rewritten for it): no value is cut.
//
// Limits: 255 columns; values of up to 1 GB; the catalog indexes have at
// most one node page over their leaves (thousands of tables); files up to
// 2 GB, usage maps inline up to 64 MB and reference maps beyond.
// Empty text is stored as no value. Names: at most 64 characters, no
// leading blank, none of . ! ` [ ] or control characters.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/database/field_types.h"
#include "platform/database/mdb_file.h"

namespace pw::db {

enum class NewFormat { Jet4, Ace12 };

// What a column holds: text of up to 250 characters, long text (memo), or
// bytes (OLE object).
enum class ColumnKind { Text, Memo, Binary };

// A record that cannot be stored (too long, too many columns). The text is
// complete and names the cause.
class RecordError : public DatabaseError {
 public:
  using DatabaseError::DatabaseError;
};

class JetWriter {
 public:
  // Writes a new database without user tables at `path` (replacing nothing:
  // the file must not exist). Throws DatabaseError. Messages name the file
  // `shownAs` when given: the name it will have, when `path` is a temporary
  // one.
  static void Create(const std::string& path, NewFormat format, const std::string& shownAs = {});

  // Opens a database made by Create for adding to it. Throws DatabaseError
  // for any other file. Messages name `shownAs` when given, as above.
  explicit JetWriter(const std::string& path, const std::string& shownAs = {});
  ~JetWriter();
  JetWriter(const JetWriter&) = delete;
  JetWriter& operator=(const JetWriter&) = delete;

  std::vector<std::string> TableNames() const;
  std::vector<std::string> ColumnNames(const std::string& table) const;  // column order
  std::vector<ColumnKind> ColumnKinds(const std::string& table) const;   // column order
  std::vector<FieldType> ColumnTypes(const std::string& table) const;    // column order

  // A new table with one column. Names are UTF-8.
  void CreateTable(const std::string& table, const std::string& firstColumn,
                   ColumnKind kind = ColumnKind::Text);
  void AddColumn(const std::string& table, const std::string& column,
                 ColumnKind kind = ColumnKind::Text);
  // The same with a column of any type of FieldType: numbers, dates, yes/no
  // and GUIDs are stored in the record's fixed part, text of the given
  // width.
  void CreateTable(const std::string& table, const std::string& firstColumn, const FieldType& type);
  void AddColumn(const std::string& table, const std::string& column, const FieldType& type);
  // One record; `values` in column order, nullopt for no value (missing
  // trailing values are no value). Text and long text are UTF-8, binary
  // values their bytes, other types text as EncodeFixedValue reads it.
  // Throws RecordError when it cannot be stored (a value its column's type
  // cannot hold, too long a record); nothing is written then.
  void AppendRecord(const std::string& table,
                    const std::vector<std::optional<std::string>>& values);

  // Writes what is pending. Every write leaves a file that readers open.
  void Flush();

  // How many pages a usage map may cover inline before it becomes a
  // reference map (default 16384, 64 MB); tests lower it.
  static void SetInlineMapLimit(std::uint32_t pages);
  // The most bytes one stored value may have (default 1 GB, what the
  // long-value field can describe); tests lower it.
  static void SetLongValueLimit(std::size_t bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace pw::db
