// Reading real databases, and formatting stored values as text.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/database/jet_bytes.h"
#include "platform/database/mdb_file.h"
#include "tests/support/tempdir.h"

namespace pw::db {
namespace {

std::string Fixture(const std::string& name) {
  return std::string(PW_FIXTURES_DIR) + "/mdb/" + name;
}

std::string FileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

#define REQUIRE_FIXTURE(path) \
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent: " << (path)

TEST(ValueText, NumbersDatesAndMoney) {
  EXPECT_EQ(FormatSingle(0.15f), "0.15");
  EXPECT_EQ(FormatDouble(444.555), "444.555");
  EXPECT_EQ(FormatDouble(100000000.0), "100000000");
  EXPECT_EQ(FormatDouble(-0.5), "-0.5");
  EXPECT_EQ(FormatCurrency(180000), "18");
  EXPECT_EQ(FormatCurrency(-12345), "-1.2345");
  EXPECT_EQ(FormatCurrency(98000), "9.8");
  const std::map<double, std::string> dates = {
      {0.0, "1899-12-30"},
      {1.5, "1899-12-31 12:00:00"},
      {-1.25, "1899-12-29 06:00:00"},
      {2958101.0, "9999-01-01"},
      {-657434.0, "0100-01-01"},
      {44532.0 + 41.0 / 86400.0, "2021-12-02 00:00:41"},
  };
  for (const auto& [value, text] : dates) EXPECT_EQ(FormatOleDate(value), text) << value;
}

TEST(Utf16, RoundTripsChineseAndAstral) {
  const std::string text = "订单 Order 😀";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  const unsigned char compressed[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2A, 0x4E, 0x00, 'c'};
  EXPECT_EQ(Utf16ToUtf8(DecodeJetText(compressed, sizeof compressed)), "ab个c");
}

TEST(MdbFileOpen, RefusesWhatIsNotAReadableDatabase) {
  test::TempDir dir;
  std::string page(4096, '\0');
  const std::string header = std::string("\x00\x01\x00\x00Standard Jet DB", 19);
  const std::map<std::string, std::string> files = {
      {"empty.mdb", ""},
      {"text.mdb", "hello, this is not a database\n"},
      {"short.mdb", header + std::string(100, '\0')},
      {"torn.mdb", header + page.substr(19) + page.substr(0, 1000)},
  };
  for (const auto& [name, bytes] : files) {
    test::WriteFile(dir.file(name), bytes);
    try {
      MdbFile f(dir.file(name));
      ADD_FAILURE() << name << " opened";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(MdbFile(dir.file("missing.mdb")), DatabaseError);
}

TEST(MdbFileOpen, RefusesPasswordAndEncryptionAndNamesTheCause) {
  const std::string password = Fixture("jet4_password.mdb");
  const std::string plain = Fixture("jet4_empty_jet_engine.mdb");
  REQUIRE_FIXTURE(password);
  REQUIRE_FIXTURE(plain);
  // An encrypted database: a non-zero key in the (masked) header.
  std::string bytes = pw::test::ReadFile(plain);
  bytes[0x3E] = static_cast<char>(bytes[0x3E] ^ 0x5A);
  pw::test::TempDir dir;
  pw::test::WriteFile(dir.file("locked.mdb"), bytes);
  const std::pair<std::string, std::string> cases[] = {{password, "密码"},
                                                       {dir.file("locked.mdb"), "加密"}};
  for (const auto& [path, cause] : cases) {
    try {
      MdbFile f(path);
      ADD_FAILURE() << path << " opened";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(FileName(path)), std::string::npos) << e.what();
    }
  }
}

TEST(MdbFileRead, Access97TextUsesTheHeadersCodePage) {
  const std::string source = Fixture("jet3_types.mdb");
  REQUIRE_FIXTURE(source);
  // The same file as if written on a Chinese system: code page 936 in the
  // (masked) header, and a value "中文lmnop" in GBK bytes.
  std::string bytes = pw::test::ReadFile(source);
  bytes[0x3C] = static_cast<char>((936 & 0xFF) ^ HeaderMask()[0x3C - 0x18]);
  bytes[0x3D] = static_cast<char>((936 >> 8) ^ HeaderMask()[0x3D - 0x18]);
  const std::size_t at = bytes.find("hijklmnop");
  ASSERT_NE(at, std::string::npos);
  bytes.replace(at, 4, "\xD6\xD0\xCE\xC4");
  pw::test::TempDir dir;
  pw::test::WriteFile(dir.file("gbk.mdb"), bytes);
  const TableData t = MdbFile(dir.file("gbk.mdb")).ReadTable("Table1");
  EXPECT_EQ(t.rows.at(1).at(1), "中文lmnop");
}

struct Expected {
  const char* file;
  std::map<std::string, std::size_t> rows;
};

TEST(MdbFileRead, EveryFixtureListsItsTablesAndCountsByReading) {
  const std::vector<Expected> all = {
      {"jet3_nwind.mdb",
       {{"Order Details", 2155},
        {"Orders", 830},
        {"Products", 77},
        {"Shippers", 3},
        {"Categories", 8},
        {"Customers", 91},
        {"Employees", 9},
        {"Suppliers", 29},
        {"Umsätze", 830}}},
      {"jet3_types.mdb", {{"Table1", 2}, {"Table2", 0}, {"Table3", 0}, {"Table4", 0}}},
      {"jet4_northwind_zh.mdb",
       {{"Customers", 91},
        {"Employees", 9},
        {"OrderDetails", 2157},
        {"Orders", 830},
        {"Products", 77},
        {"Reports", 1},
        {"Suppliers", 29},
        {"Categories", 8},
        {"Shippers", 3}}},
      {"jet4_types.mdb", {{"Table1", 2}, {"Table2", 0}, {"Table3", 0}, {"Table4", 0}}},
      {"jet4_dates_edge.mdb", {{"DateTest", 6}}},
      {"jet4_fixed_text.mdb", {{"users", 2}}},
      {"jet4_deleted_column.mdb", {{"Table1", 2}}},
      {"jet4_overflow_rows.mdb", {{"Table1", 7}}},
      {"jet4_empty_access2000.mdb", {}},
      {"jet4_empty_jet_engine.mdb", {}},
      {"ace12_types.accdb", {{"Table1", 2}, {"Table2", 0}, {"Table3", 0}, {"Table4", 0}}},
      {"ace12_empty.accdb", {}},
      {"ace12_inserted_column.accdb", {{"Table1", 1}}},
      {"ace12_longtext.accdb", {{"Table1", 1}}},
  };
  for (const Expected& e : all) {
    const std::string path = Fixture(e.file);
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "fixture absent: " << path;
    MdbFile f(path);
    std::map<std::string, std::size_t> got;
    for (const std::string& t : f.TableNames()) got[t] = f.ReadTable(t).rows.size();
    EXPECT_EQ(got, e.rows) << e.file;
  }
}

std::string Cell(const TableData& t, std::size_t row, const std::string& column) {
  for (std::size_t c = 0; c < t.columns.size(); ++c)
    if (t.columns[c].name == column) return t.rows.at(row).at(c);
  ADD_FAILURE() << "no column " << column;
  return {};
}

TEST(MdbFileRead, ValuesComeFromTheirBytes) {
  const std::string types = Fixture("jet4_types.mdb");
  const std::string dates = Fixture("jet4_dates_edge.mdb");
  const std::string zh = Fixture("jet4_northwind_zh.mdb");
  const std::string memo = Fixture("ace12_longtext.accdb");
  REQUIRE_FIXTURE(types);
  REQUIRE_FIXTURE(dates);
  REQUIRE_FIXTURE(zh);
  REQUIRE_FIXTURE(memo);
  const TableData t = MdbFile(types).ReadTable("Table1");
  EXPECT_EQ(Cell(t, 0, "A"), "abcdefg");
  EXPECT_EQ(Cell(t, 0, "F"), "444.555");
  EXPECT_EQ(Cell(t, 0, "G"), "1974-09-21");
  EXPECT_EQ(Cell(t, 0, "H"), "3.5");
  EXPECT_EQ(Cell(t, 0, "I"), "True");
  EXPECT_EQ(Cell(t, 1, "I"), "False");
  const TableData d = MdbFile(dates).ReadTable("DateTest");
  EXPECT_EQ(Cell(d, 1, "DateTimeCol"), "9999-01-01");
  EXPECT_EQ(Cell(d, 3, "DateTimeCol"), "0632-01-01");
  EXPECT_EQ(Cell(d, 5, "LongTextCol"), "New line\r\nin field");
  const TableData c = MdbFile(zh).ReadTable("Customers");
  EXPECT_EQ(Cell(c, 0, "CompanyName"), "三川实业有限公司");
  const TableData p = MdbFile(zh).ReadTable("Products");
  EXPECT_EQ(Cell(p, 0, "UnitPrice"), "18");
  const TableData m = MdbFile(memo).ReadTable("Table1");
  EXPECT_EQ(Cell(m, 0, "LongText").size(), 5000u);
}

}  // namespace
}  // namespace pw::db
