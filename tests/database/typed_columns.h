#pragma once
// A table with one column of every type a target keeps from its sources,
// the values written into it, and what mdb-schema and mdb-export show of
// it: shared by the writer's and the operations' tests.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/database/jet_writer.h"
#include "tests/database/db_readers.h"

namespace pw::db::test {

struct TypedColumn {
  const char* name;
  FieldType type;
  const char* schema;  // the type as mdb-schema writes it for Access
  // Values written (nullptr: no value) and what mdb-export shows for each.
  std::vector<std::pair<const char*, const char*>> values;
};

// Three records a column; every column's values are read back exactly.
inline const std::vector<TypedColumn>& TypedColumns() {
  static const std::vector<TypedColumn> columns = {
      {"Flag",
       FieldType::Of(FieldType::Kind::YesNo),
       "Boolean NOT NULL",
       {{"True", "1"}, {"False", "0"}, {nullptr, "0"}}},
      {"Small",
       FieldType::Of(FieldType::Kind::Byte),
       "Byte",
       {{"0", "0"}, {"255", "255"}, {nullptr, ""}}},
      {"Short",
       FieldType::Of(FieldType::Kind::Integer),
       "Integer",
       {{"-32768", "-32768"}, {"32767", "32767"}, {nullptr, ""}}},
      {"Whole",
       FieldType::Of(FieldType::Kind::Long),
       "Long Integer",
       {{"-2147483648", "-2147483648"}, {"2147483647", "2147483647"}, {"0", "0"}}},
      {"Money",
       FieldType::Of(FieldType::Kind::Currency),
       "Currency",
       {{"-922337203685477.5808", "-922337203685477.5808"},
        {"1234.5678", "1234.5678"},
        {"0.0001", "0.0001"}}},
      {"Ratio",
       FieldType::Of(FieldType::Kind::Single),
       "Single",
       {{"-1.5", "-1.5"}, {"3.4028235e+38", "3.4028235e+38"}, {nullptr, ""}}},
      {"Measure",
       FieldType::Of(FieldType::Kind::Double),
       "Double",
       {{"-0.1", "-0.1"}, {"1e+300", "1e+300"}, {"123456789.125", "123456789.125"}}},
      {"Stamp",
       FieldType::Of(FieldType::Kind::DateTime),
       "DateTime",
       {{"2024-02-29 23:59:59", "2024-02-29 23:59:59"},
        {"1899-12-30 12:00:00", "1899-12-30 12:00:00"},
        {"1900-01-01", "1900-01-01 00:00:00"}}},
      {"Key",
       FieldType::Of(FieldType::Kind::Guid),
       "Replication ID",
       {{"{6F9619FF-8B86-D011-B42D-00C04FC964FF}", "{6F9619FF-8B86-D011-B42D00C04FC964FF}"},
        {nullptr, ""},
        {"{00000000-0000-0000-0000-000000000001}", "{00000000-0000-0000-0000000000000001}"}}},
      {"Amount",
       FieldType::DecimalOf(18, 4),
       "Numeric (18, 4)",
       {{"-12345678901234.5678", "-12345678901234.5678"}, {"0.5", "0.5000"}, {nullptr, ""}}},
      {"Code",
       FieldType::Text(12),
       "Text (12)",
       {{"ABC-123", "ABC-123"},
        {"十二个字的中文名称可以吗", "十二个字的中文名称可以吗"},
        {nullptr, ""}}},
      {"Notes",
       FieldType::Of(FieldType::Kind::Memo),
       "Memo/Hyperlink (255)",
       {{"long text", "long text"}, {nullptr, ""}, {"x", "x"}}},
      {"Picture",
       FieldType::Of(FieldType::Kind::Ole),
       "OLE (255)",
       {{"\x01\x02\xFF", "0102FF"}, {nullptr, ""}, {"z", "7A"}}},
  };
  return columns;
}

// mdb-export writes a GUID's text, in hex when bytes are asked for in hex.
inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

// Whether mdb-schema declares `column` of `table` as `type`.
inline bool SchemaHas(const std::string& path, const std::string& table, const std::string& column,
                      const std::string& type) {
  const std::string schema =
      Run("mdb-schema -T " + Quoted(table) + " " + Quoted(path) + " access 2>/dev/null");
  const std::string line = "[" + column + "]\t\t\t" + type;
  return schema.find(line + ",") != std::string::npos ||
         schema.find(line + "\n") != std::string::npos;
}

// A table's records as mdb-export writes them: dates as yyyy-mm-dd
// hh:mm:ss, bytes in hex; GUIDs as their text.
inline std::vector<std::vector<std::string>> ExportTyped(const std::string& path,
                                                         const std::string& table,
                                                         const std::vector<TypedColumn>& columns) {
  const std::string out =
      Run("mdb-export -b hex -H -Q -T '%Y-%m-%d %H:%M:%S' -d \"$(printf '\\037')\" -R \"$(printf "
          "'\\035')\" " +
          Quoted(path) + " " + Quoted(table) + " 2>/dev/null");
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(out, '\x1D')) {
    if (line.empty()) continue;
    rows.push_back(Split(line, '\x1F'));
    for (std::size_t c = 0; c < rows.back().size() && c < columns.size(); ++c)
      if (columns[c].type.kind == FieldType::Kind::Guid) rows.back()[c] = Unhex(rows.back()[c]);
  }
  return rows;
}

// The table `name` of the typed columns with their three records.
inline void WriteTypedTable(JetWriter& w, const std::string& name) {
  w.CreateTable(name, TypedColumns()[0].name, TypedColumns()[0].type);
  for (std::size_t c = 1; c < TypedColumns().size(); ++c)
    w.AddColumn(name, TypedColumns()[c].name, TypedColumns()[c].type);
  for (std::size_t r = 0; r < 3; ++r) {
    std::vector<std::optional<std::string>> record;
    for (const TypedColumn& c : TypedColumns())
      record.push_back(c.values[r].first ? std::optional<std::string>(c.values[r].first)
                                         : std::nullopt);
    w.AppendRecord(name, record);
  }
}

}  // namespace pw::db::test
