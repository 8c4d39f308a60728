#include "platform/spreadsheet/server.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "batch/run.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using xl::CellKind;

void SetNumber(ServerSheet& s, std::uint32_t r, std::uint32_t c, double v,
               std::uint32_t style = 0) {
  xl::Cell& cell = s.Model().Put(r, c);
  cell.kind = CellKind::Number;
  cell.number = v;
  cell.style = style;
}

void SetText(ServerSheet& s, std::uint32_t r, std::uint32_t c, const std::string& v) {
  xl::Cell& cell = s.Model().Put(r, c);
  cell.kind = CellKind::Text;
  cell.text = s.Workbook().Model().AddText(v);
}

TEST(SheetServer, NewWorkbooksAndSheetsAreNamedAsTheApplicationNamesThem) {
  SheetServer server;
  ServerWorkbook& book = server.Add();
  ASSERT_EQ(book.Count(), 1);
  EXPECT_EQ(book.Worksheets(1).Name(), "Sheet1");
  EXPECT_EQ(&server.ActiveWorkbook(), &book);
  ServerSheet& added = book.add();
  EXPECT_EQ(added.Name(), "Sheet2");
  EXPECT_EQ(&book.ActiveSheet(), &added) << "a new sheet becomes active";
  EXPECT_EQ(&book.Worksheets(2), &added) << "and goes last, so positions hold";

  ServerWorkbook& second = server.Add();
  EXPECT_EQ(&server.Workbooks(2), &second);
  EXPECT_EQ(&server.ActiveWorkbook(), &second);
  book.Worksheets(1).Activate();
  EXPECT_EQ(&server.ActiveWorkbook(), &book) << "activating a sheet activates its workbook";
  second.Close();
  EXPECT_EQ(server.Count(), 1);
  EXPECT_THROW(server.Workbooks(2), RunError);
  added.Delete();
  EXPECT_THROW(book.Worksheets(1).Delete(), RunError) << "the last sheet stays";
}

TEST(SheetServer, NameRefusesWhatTheApplicationRefuses) {
  SheetServer server;
  ServerWorkbook& book = server.Add();
  book.add().Name("Data");
  ServerSheet& s = book.Worksheets(1);
  const std::string thirtyOne(31, 'x');
  const std::string chinese31 = [] {
    std::string name;
    for (int i = 0; i < 31; ++i) name += "表";
    return name;
  }();
  for (const std::string& ok :
       {thirtyOne, chinese31, std::string("销售(2)"), std::string("Sheet1")}) {
    EXPECT_NO_THROW(s.Name(ok)) << ok;
    EXPECT_EQ(s.Name(), ok);
  }
  for (const std::string& bad :
       {thirtyOne + "y", chinese31 + "表", std::string(""), std::string("a[b"), std::string("a]b"),
        std::string("a:b"), std::string("a*b"), std::string("a?b"), std::string("a/b"),
        std::string("a\\b"), std::string("'quoted'"), std::string("DATA"), std::string("data")})
    EXPECT_THROW(s.Name(bad), SheetNameRefused) << bad;
}

TEST(SheetServer, PasteKeepsValuesStylesMergesAndMovesRelativeReferences) {
  SheetServer server;
  ServerWorkbook& target = server.Add();
  ServerWorkbook& source = server.Add();
  source.Model().date1904 = true;
  ServerSheet& src = source.Worksheets(1);
  xl::Style date;
  date.numFmtId = 14;
  date.numFmt = "mm-dd-yy";
  date.font.name = "宋体";
  date.fill = {1, xl::Rgb(0xFFFF00), 0};
  const std::uint32_t dateStyle = source.Model().AddStyle(date);
  SetText(src, 1, 1, "00123");
  SetNumber(src, 1, 2, 100, dateStyle);  // a date of the 1904 system
  SetNumber(src, 2, 1, 0.1 + 0.2);
  xl::Cell& f = src.Model().Put(2, 2);
  f.kind = CellKind::Number;
  f.number = 5;
  f.formula = source.Model().AddFormula("A2*2+SUM(A1:A2)");
  xl::Cell& fixed = src.Model().Put(2, 4);  // reads A1 wherever it goes
  fixed.kind = CellKind::Number;
  fixed.number = 7;
  fixed.formula = source.Model().AddFormula("A2*$A$1");
  src.Model().merges.push_back({1, 3, 2, 4});
  src.Model().merges.push_back({2, 1, 5, 1});  // cut by the copied area
  src.Model().columns[1] = {30, false};
  src.Model().freezeRows = 1;

  src.Range("A1:D2").select();
  server.Copy();
  ServerSheet& dst = target.Worksheets(1);
  SetText(dst, 1, 1, "header");
  dst.Range("B5").select();
  dst.paste();

  const xl::Workbook& tb = target.Model();
  EXPECT_EQ(dst.Cells(5, 2).Value().text, "00123");
  EXPECT_EQ(dst.Cells(5, 2).Value().kind, CellKind::Text);
  EXPECT_EQ(dst.Cells(6, 2).Value().number, 0.1 + 0.2);
  EXPECT_EQ(dst.Cells(5, 3).Value().number, 100 + xl::kDate1904Offset)
      << "same day in the 1900 system";
  const xl::Cell* pasted = dst.Model().Find(5, 3);
  ASSERT_NE(pasted, nullptr);
  EXPECT_EQ(tb.styles[pasted->style].font.name, "宋体");
  EXPECT_EQ(tb.styles[pasted->style].fill.fg, xl::Rgb(0xFFFF00));
  EXPECT_EQ(tb.Formula(*dst.Model().Find(6, 3)), "B6*2+SUM(B5:B6)");
  EXPECT_EQ(dst.Model().Find(6, 5)->formula, 0u) << "$A$1 is not what it read here";
  EXPECT_EQ(dst.Cells(6, 5).Value().number, 7);
  // C1:D2 moves to D5:E6; A2:A5 cut down to one cell is no merge.
  EXPECT_EQ(dst.Model().merges, (std::vector<xl::Rect>{{5, 4, 6, 5}}));
  EXPECT_EQ(dst.Cells(1, 1).Value().text, "header");
  EXPECT_TRUE(dst.Model().columns.empty()) << "a range copy leaves widths alone";
  EXPECT_EQ(dst.Model().freezeRows, 0u);

  // A whole-sheet copy brings the layout too.
  ServerSheet& whole = target.add();
  src.Cells().select();
  server.Copy();
  whole.Range("A1").select();
  whole.paste();
  EXPECT_EQ(whole.Model().columns.at(1).width, 30);
  EXPECT_EQ(whole.Model().freezeRows, 1u);
  EXPECT_EQ(whole.Model().merges.size(), 2u);
  EXPECT_EQ(tb.Formula(*whole.Model().Find(2, 2)), "A2*2+SUM(A1:A2)");
  EXPECT_EQ(tb.Formula(*whole.Model().Find(2, 4)), "A2*$A$1");
}

TEST(SheetServer, OpenAndSaveAsGoThroughTheConverterForXls) {
  test::TempDir dir;
  struct FakeConverter : XlsConverter {
    void ToXlsx(const std::string& xls, const std::string& xlsx) override {
      ++toCalls;
      std::filesystem::copy_file(xls, xlsx);
    }
    void FromXlsx(const std::string& xlsx, const std::string& xls, const std::string&) override {
      ++fromCalls;
      std::filesystem::copy_file(xlsx, xls, std::filesystem::copy_options::overwrite_existing);
    }
    int toCalls = 0, fromCalls = 0;
  } converter;

  SheetServer server(&converter);
  ServerWorkbook& book = server.Add();
  SetText(book.Worksheets(1), 1, 1, "kept");
  book.SaveAs(dir.file("a.xlsx"));
  book.SaveAs(dir.file("b.xls"));
  EXPECT_EQ(converter.fromCalls, 1);
  ServerWorkbook& reopened = server.Open(dir.file("b.xls"));
  EXPECT_EQ(converter.toCalls, 1);
  EXPECT_EQ(reopened.Worksheets(1).Cells(1, 1).Value().text, "kept");

  SetNumber(book.Worksheets(1), kXlsMaxRows + 1, 1, 1);
  try {
    book.SaveAs(dir.file("big.xls"));
    ADD_FAILURE() << "rows beyond the .xls limit were accepted";
  } catch (const RunError& e) {
    EXPECT_NE(std::string(e.what()).find("65536"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("big.xls")));
  EXPECT_EQ(converter.fromCalls, 1);

  SheetServer plain;
  EXPECT_THROW(plain.Open(dir.file("b.xls")), RunError);
  EXPECT_EQ(xl::ReadXlsx(dir.file("a.xlsx"))->sheets[0]->name, "Sheet1");
}

TEST(CellValue, BlankMeansEmptyOnceControlCharactersAndSpacesAreTrimmed) {
  struct Case {
    CellKind kind;
    double number;
    const char* text;
    bool blank;
    const char* asText;
  };
  const Case cases[] = {
      {CellKind::Blank, 0, "", true, ""},
      {CellKind::Text, 0, " \t\r\n ", true, " \t\r\n "},
      {CellKind::Text, 0, " x ", false, " x "},
      {CellKind::Number, 0, "", false, "0"},
      {CellKind::Number, 1.0 / 3, "", false, "0.333333333333333"},
      {CellKind::Bool, 0, "", false, "FALSE"},
      {CellKind::Error, 0, "#N/A", false, "#N/A"},
  };
  for (const Case& c : cases) {
    CellValue v;
    v.kind = c.kind;
    v.number = c.number;
    v.text = c.text;
    EXPECT_EQ(v.IsBlank(), c.blank) << c.asText;
    EXPECT_EQ(v.Text(), c.asText);
  }
}

// A program killed during a .xls conversion leaves its folder behind; the
// next conversion removes it, and only folders of processes that are gone.
TEST(ConversionFolders, OnlyThoseOfEndedProgramsAreSwept) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);  // gone now
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  struct Case {
    std::string name;
    bool kept;
  };
  const Case cases[] = {
      {"pw-xls-" + std::to_string(child) + "-sweep", false},
      {"pw-xls-" + std::to_string(::getpid()) + "-sweep", true},  // this program's
      {"pw-xls-1-sweep", true},                                   // a live process
      {"pw-xls-sweep" + std::to_string(child), true},             // not one of ours
  };
  for (const Case& c : cases) {
    std::filesystem::create_directories(temp / c.name / "inner");
    test::WriteFile((temp / c.name / "inner" / "book.xlsx").string(), "x");
  }
  SweepStaleConversionFolders();
  for (const Case& c : cases) {
    EXPECT_EQ(std::filesystem::exists(temp / c.name), c.kept) << c.name;
    std::filesystem::remove_all(temp / c.name);
  }
}

}  // namespace
}  // namespace pw
