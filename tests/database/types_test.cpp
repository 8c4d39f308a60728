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
#include "tests/database/typed_columns.h"
#include "tests/support/tempdir.h"

namespace pw::db {
namespace {

using K = FieldType::Kind;
using test::TypedColumn;
using test::TypedColumns;

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
      test::WriteTypedTable(w, "Typed");
      std::vector<FieldType> types;
      for (const TypedColumn& c : TypedColumns()) types.push_back(c.type);
      EXPECT_EQ(w.ColumnTypes("Typed"), types);
    }
    const CheckReport report = CheckDatabase(path, true);
    EXPECT_TRUE(report.ok()) << (report.faults.empty() ? "" : report.faults[0]);

    for (const TypedColumn& c : TypedColumns())
      EXPECT_TRUE(test::SchemaHas(path, "Typed", c.name, c.schema)) << name << " " << c.name;

    const auto rows = test::ExportTyped(path, "Typed", TypedColumns());
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t r = 0; r < 3; ++r) {
      ASSERT_EQ(rows[r].size(), TypedColumns().size());
      for (std::size_t c = 0; c < TypedColumns().size(); ++c)
        EXPECT_EQ(rows[r][c], TypedColumns()[c].values[r].second)
            << name << " " << TypedColumns()[c].name << " row " << r;
    }

    // Our reader gives every value in the form the writer takes back.
    Connection conn;
    OpenDatabase(conn, path);
    Query q(conn);
    OpenTable(q, "Typed");
    for (std::size_t c = 0; c < TypedColumns().size(); ++c)
      EXPECT_EQ(q.Type(static_cast<int>(c)), TypedColumns()[c].type) << TypedColumns()[c].name;
    for (int r = 0; r < 3; ++r, q.Next())
      for (std::size_t c = 0; c < TypedColumns().size(); ++c) {
        const char* given = TypedColumns()[c].values[static_cast<std::size_t>(r)].first;
        if (given == nullptr || TypedColumns()[c].type.kind == K::Ole) continue;
        const auto again = EncodeFixedValue(TypedColumns()[c].type, q.Text(static_cast<int>(c)));
        if (IsFixed(TypedColumns()[c].type))
          EXPECT_EQ(again, EncodeFixedValue(TypedColumns()[c].type, given))
              << TypedColumns()[c].name << " read as " << q.Text(static_cast<int>(c));
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
