// Columns of every type a target keeps from its sources: stored natively,
// read back with the same type and value by mdb-schema, mdb-export and our
// reader; values a column cannot hold are refused, not altered.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "platform/database/engine.h"
#include "platform/database/jet_check.h"
#include "platform/database/jet_writer.h"
#include "tests/database/db_readers.h"
#include "tests/support/tempdir.h"

namespace pw::db {
namespace {

using K = FieldType::Kind;

struct TypedColumn {
  const char* name;
  FieldType type;
  const char* schema;  // the type as mdb-schema writes it for Access
  // Values written (nullptr: no value) and what mdb-export shows for each.
  std::vector<std::pair<const char*, const char*>> values;
};

// Three records a column; every column's values are read back exactly.
const std::vector<TypedColumn>& Columns() {
  static const std::vector<TypedColumn> columns = {
      {"Flag",
       FieldType::Of(K::YesNo),
       "Boolean NOT NULL",
       {{"True", "1"}, {"False", "0"}, {nullptr, "0"}}},
      {"Small", FieldType::Of(K::Byte), "Byte", {{"0", "0"}, {"255", "255"}, {nullptr, ""}}},
      {"Short",
       FieldType::Of(K::Integer),
       "Integer",
       {{"-32768", "-32768"}, {"32767", "32767"}, {nullptr, ""}}},
      {"Whole",
       FieldType::Of(K::Long),
       "Long Integer",
       {{"-2147483648", "-2147483648"}, {"2147483647", "2147483647"}, {"0", "0"}}},
      {"Money",
       FieldType::Of(K::Currency),
       "Currency",
       {{"-922337203685477.5808", "-922337203685477.5808"},
        {"1234.5678", "1234.5678"},
        {"0.0001", "0.0001"}}},
      {"Ratio",
       FieldType::Of(K::Single),
       "Single",
       {{"-1.5", "-1.5"}, {"3.4028235e+38", "3.4028235e+38"}, {nullptr, ""}}},
      {"Measure",
       FieldType::Of(K::Double),
       "Double",
       {{"-0.1", "-0.1"}, {"1e+300", "1e+300"}, {"123456789.125", "123456789.125"}}},
      {"Stamp",
       FieldType::Of(K::DateTime),
       "DateTime",
       {{"2024-02-29 23:59:59", "2024-02-29 23:59:59"},
        {"1899-12-30 12:00:00", "1899-12-30 12:00:00"},
        {"1900-01-01", "1900-01-01 00:00:00"}}},
      {"Key",
       FieldType::Of(K::Guid),
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
       FieldType::Of(K::Memo),
       "Memo/Hyperlink (255)",
       {{"long text", "long text"}, {nullptr, ""}, {"x", "x"}}},
      {"Picture",
       FieldType::Of(K::Ole),
       "OLE (255)",
       {{"\x01\x02\xFF", "0102FF"}, {nullptr, ""}, {"z", "7A"}}},
  };
  return columns;
}

// mdb-export writes a GUID's text, in hex when bytes are asked for in hex.
std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Schema(const std::string& path) {
  return test::Run("mdb-schema -T Typed " + test::Quoted(path) + " access 2>/dev/null");
}

TEST(TypedColumns, EveryTypeIsStoredNativelyAndReadsBackExactly) {
  if (test::Run("command -v mdb-schema").empty()) GTEST_SKIP() << "mdbtools is not installed";
  for (const auto& [format, name] :
       {std::pair{NewFormat::Jet4, "typed.mdb"}, std::pair{NewFormat::Ace12, "typed.accdb"}}) {
    pw::test::TempDir dir;
    const std::string path = dir.file(name);
    JetWriter::Create(path, format);
    {
      JetWriter w(path);
      // A fixed column first, then the rest: the record's fixed part and
      // its variable part both in use.
      w.CreateTable("Typed", Columns()[0].name, Columns()[0].type);
      for (std::size_t c = 1; c < Columns().size(); ++c)
        w.AddColumn("Typed", Columns()[c].name, Columns()[c].type);
      for (std::size_t r = 0; r < 3; ++r) {
        std::vector<std::optional<std::string>> record;
        for (const TypedColumn& c : Columns())
          record.push_back(c.values[r].first ? std::optional<std::string>(c.values[r].first)
                                             : std::nullopt);
        w.AppendRecord("Typed", record);
      }
      std::vector<FieldType> types;
      for (const TypedColumn& c : Columns()) types.push_back(c.type);
      EXPECT_EQ(w.ColumnTypes("Typed"), types);
    }
    const CheckReport report = CheckDatabase(path, true);
    EXPECT_TRUE(report.ok()) << (report.faults.empty() ? "" : report.faults[0]);

    const std::string schema = Schema(path);
    for (const TypedColumn& c : Columns())
      EXPECT_TRUE(schema.find(std::string("[") + c.name + "]\t\t\t" + c.schema + ",") !=
                      std::string::npos ||
                  schema.find(std::string("[") + c.name + "]\t\t\t" + c.schema + "\n") !=
                      std::string::npos)
          << name << " " << c.name << " in\n"
          << schema;

    const auto exported = test::Run(
        "mdb-export -b hex -H -Q -T '%Y-%m-%d %H:%M:%S' -d \"$(printf '\\037')\" -R \"$(printf "
        "'\\035')\" " +
        test::Quoted(path) + " Typed");
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : test::Split(exported, '\x1D'))
      if (!line.empty()) rows.push_back(test::Split(line, '\x1F'));
    ASSERT_EQ(rows.size(), 3u) << exported;
    for (std::size_t r = 0; r < 3; ++r) {
      ASSERT_EQ(rows[r].size(), Columns().size());
      for (std::size_t c = 0; c < Columns().size(); ++c)
        EXPECT_EQ(Columns()[c].type.kind == K::Guid ? Unhex(rows[r][c]) : rows[r][c],
                  Columns()[c].values[r].second)
            << name << " " << Columns()[c].name << " row " << r;
    }

    // Our reader gives every value in the form the writer takes back.
    Connection conn;
    OpenDatabase(conn, path);
    Query q(conn);
    OpenTable(q, "Typed");
    for (std::size_t c = 0; c < Columns().size(); ++c)
      EXPECT_EQ(q.Type(static_cast<int>(c)), Columns()[c].type) << Columns()[c].name;
    for (int r = 0; r < 3; ++r, q.Next())
      for (std::size_t c = 0; c < Columns().size(); ++c) {
        const char* given = Columns()[c].values[static_cast<std::size_t>(r)].first;
        if (given == nullptr || Columns()[c].type.kind == K::Ole) continue;
        const auto again = EncodeFixedValue(Columns()[c].type, q.Text(static_cast<int>(c)));
        if (IsFixed(Columns()[c].type))
          EXPECT_EQ(again, EncodeFixedValue(Columns()[c].type, given))
              << Columns()[c].name << " read as " << q.Text(static_cast<int>(c));
        else
          EXPECT_EQ(q.Text(static_cast<int>(c)), given);
      }
  }
}

// Values given as text reach the stored bytes exactly, and a value a type
// cannot hold is refused rather than cut, rounded or wrapped.
TEST(TypedColumns, ValuesAreStoredExactlyOrRefused) {
  auto bytes = [](auto v) {
    std::string s(sizeof v, '\0');
    std::memcpy(s.data(), &v, sizeof v);
    return std::optional<std::string>(s);
  };
  const std::optional<std::string> refused;
  struct Case {
    FieldType type;
    const char* text;
    std::optional<std::string> stored;
  };
  const Case cases[] = {
      {FieldType::Of(K::Byte), "256", refused},
      {FieldType::Of(K::Byte), "-1", refused},
      {FieldType::Of(K::Integer), "32768", refused},
      {FieldType::Of(K::Integer), "12.0", bytes(std::int16_t{12})},
      {FieldType::Of(K::Long), "12.5", refused},
      {FieldType::Of(K::Long), "abc", refused},
      {FieldType::Of(K::Long), " -7 ", bytes(std::int32_t{-7})},
      {FieldType::Of(K::Currency), "-0.0001", bytes(std::int64_t{-1})},
      {FieldType::Of(K::Currency), "1.00005", refused},
      {FieldType::Of(K::Currency), "1.50000", bytes(std::int64_t{15000})},
      {FieldType::Of(K::Single), "1e39", refused},
      {FieldType::Of(K::Double), "-Infinity", bytes(-std::numeric_limits<double>::infinity())},
      {FieldType::Of(K::Double), "1,5", refused},
      // Before 1899-12-30 the day counts back and the time forward.
      {FieldType::Of(K::DateTime), "1899-12-29 06:00:00", bytes(-1.25)},
      {FieldType::Of(K::DateTime), "2024-01-02", bytes(45293.0)},
      {FieldType::Of(K::DateTime), "2023-02-29", refused},
      {FieldType::Of(K::DateTime), "2024-01-02 24:00:00", refused},
      {FieldType::Of(K::DateTime), "-700000", bytes(-700000.0)},
      {FieldType::Of(K::YesNo), "Yes", std::string("\1")},
      {FieldType::Of(K::YesNo), "maybe", refused},
      {FieldType::Of(K::Guid), "{6F9619FF-8B86-D011-B42D00C04FC964FF}",
       std::string("\xFF\x19\x96\x6F\x86\x8B\x11\xD0\xB4\x2D\x00\xC0\x4F\xC9\x64\xFF", 16)},
      {FieldType::Of(K::Guid), "{6F9619FF}", refused},
      {FieldType::DecimalOf(5, 2), "123.45",
       std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0\x39\x30\0\0", 17)},
      {FieldType::DecimalOf(5, 2), "-0.5",
       std::string("\x80\0\0\0\0\0\0\0\0\0\0\0\0\x32\0\0\0", 17)},
      {FieldType::DecimalOf(5, 2), "1234.5", refused},
      {FieldType::DecimalOf(5, 2), "1.234", refused},
  };
  for (const Case& c : cases)
    EXPECT_EQ(EncodeFixedValue(c.type, c.text), c.stored) << TypeName(c.type) << " " << c.text;
}

}  // namespace
}  // namespace pw::db
