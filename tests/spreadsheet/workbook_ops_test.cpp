#include "ops/spreadsheet/workbook_ops.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <sstream>
#include <thread>

#include "batch/contract.h"
#include "ops/spreadsheet/geometry.h"
#include "platform/output_file.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "tests/spreadsheet/sheet_support.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using Grid = std::vector<std::vector<std::string>>;

struct Recorder : RunReporter {
  void Status(const std::string& text) override { status = text; }
  void Counter(int n) override { counter = n; }
  void BeginProgress(int) override {}
  void StepProgress() override { ++steps; }
  void EndProgress() override {}
  void RemoveRow(int i) override { removed.push_back(i); }
  void SourceRemoved(int i, RemoveOutcome) override { deleted.push_back(i); }
  std::string status;
  int counter = -1, steps = 0;
  std::vector<int> removed, deleted;
};

// Cells from text: "" empty, "=..." a formula ("=...|v" with its computed
// value v), a number, or text.
void Fill(SheetServer& server, ServerSheet& sheet, const Grid& grid, std::uint32_t top = 1) {
  xl::Workbook& book = sheet.Workbook().Model();
  (void)server;
  for (std::size_t r = 0; r < grid.size(); ++r)
    for (std::size_t c = 0; c < grid[r].size(); ++c) {
      const std::string& v = grid[r][c];
      if (v.empty()) continue;
      xl::Cell& cell =
          sheet.Model().Put(top + static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(c + 1));
      char* end = nullptr;
      const double d = std::strtod(v.c_str(), &end);
      if (v[0] == '=') {
        const std::size_t bar = v.find('|');
        cell.formula = book.AddFormula(v.substr(1, bar == std::string::npos ? bar : bar - 1));
        if (bar != std::string::npos) {
          cell.kind = xl::CellKind::Number;
          cell.number = std::strtod(v.c_str() + bar + 1, nullptr);
        }
      } else if (*end == '\0' && v[0] != '0') {
        cell.kind = xl::CellKind::Number;
        cell.number = d;
      } else {
        cell.kind = xl::CellKind::Text;
        cell.text = book.AddText(v);
      }
    }
}

// `adjust` may change the book before it is saved (styles, merges).
void MakeBook(const std::string& path, const std::vector<std::pair<std::string, Grid>>& sheets,
              const std::function<void(xl::Workbook&)>& adjust = {}) {
  SheetServer server;
  ServerWorkbook& book = server.Add();
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    ServerSheet& s = i == 0 ? book.Worksheets(1) : book.add();
    s.Name(sheets[i].first);
    Fill(server, s, sheets[i].second);
  }
  if (adjust) adjust(book.Model());
  book.SaveAs(path);
}

// The cell at `ref` of the first sheet named `sheet` of a saved workbook.
struct SavedCell {
  std::string shown;   // as ReadGrid shows it
  std::string format;  // its number format
};
SavedCell CellOf(const std::string& path, const std::string& sheet, const char* ref) {
  const auto book = xl::ReadXlsx(path);
  for (const auto& s : book->sheets) {
    if (s->name != sheet) continue;
    std::uint32_t r = 0, c = 0;
    xl::ParseCellRef(ref, r, c);
    const xl::Cell* cell = s->Find(r, c);
    if (cell == nullptr) return {};
    CellValue v;
    v.kind = cell->kind;
    v.number = cell->number;
    if (cell->kind == xl::CellKind::Text) v.text = book->Text(cell->text);
    return {cell->formula != 0 ? "=" + book->Formula(*cell) : v.Text(),
            book->styles[cell->style].numFmt};
  }
  return {"<no sheet " + sheet + ">", {}};
}

// A sheet of a saved workbook as text, to its last cell; formulas as "=...".
Grid ReadGrid(const std::string& path, std::size_t sheet = 0) {
  const auto book = xl::ReadXlsx(path);
  const xl::Sheet& s = *book->sheets.at(sheet);
  Grid g(s.LastRow(), std::vector<std::string>(s.LastColumn()));
  for (const xl::Row& row : s.rows)
    for (const xl::Cell& c : row.cells) {
      CellValue v;
      v.kind = c.kind;
      v.number = c.number;
      if (c.kind == xl::CellKind::Text) v.text = book->Text(c.text);
      g[row.index - 1][c.col - 1] = c.formula != 0 ? "=" + book->Formula(c) : v.Text();
    }
  return g;
}

std::vector<std::string> SheetNames(const std::string& path) {
  std::vector<std::string> names;
  const auto book = xl::ReadXlsx(path);
  for (const auto& s : book->sheets) names.push_back(s->name);
  return names;
}

Grid Table(int dataRows, int cols = 4, const std::string& tag = "") {
  Grid g;
  std::vector<std::string> header;
  for (int c = 0; c < cols; ++c) header.push_back("H" + std::to_string(c + 1));
  g.push_back(header);
  for (int r = 0; r < dataRows; ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < cols; ++c)
      row.push_back(tag + std::to_string(r + 1) + "." + std::to_string(c + 1));
    g.push_back(row);
  }
  return g;
}

RunState MakeRun(const std::vector<std::string>& files, const std::string& base) {
  RunState run;
  run.WorkList = files;
  for (std::size_t i = 0; i < files.size(); ++i) run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = base;
  return run;
}

// -------------------------------------------------------------- geometry

TEST(SheetGeometry, ColumnLettersNameEveryColumnOfTheSheet) {
  const std::pair<long, const char*> cases[] = {
      {0, ""},    {-3, ""},    {1, "A"},    {26, "Z"},      {27, "AA"}, {52, "AZ"},
      {53, "BA"}, {256, "IV"}, {257, "IW"}, {16384, "XFD"}, {16385, ""}};
  for (const auto& [n, letters] : cases) EXPECT_EQ(ColumnLetters(n), letters) << n;
}

TEST(SheetGeometry, ScansSeeEveryNonBlankCellWhereverItLies) {
  SheetServer server;
  ServerWorkbook& book = server.Add();
  ServerSheet& s = book.Worksheets(1);
  EXPECT_TRUE(IsSheetBlank(s));
  Fill(server, s, {{" \t"}});
  EXPECT_TRUE(IsSheetBlank(s)) << "a space is blank";
  Fill(server, s, {{"", "", "", "", "", "", "", "", "", "far"}});
  EXPECT_FALSE(IsSheetBlank(s)) << "J1 holds data";

  ServerSheet& t = book.add();
  Fill(server, t,
       {{"title"},
        {"a", "b", "c", "d", "e", "f"},
        {"1", "2", "3", "4", "5", "6"},
        {"1", "2", "3", "4", "5", "6"}});
  ScanState scan;
  DetectHeaderRow(t, 5, scan);
  EXPECT_EQ(scan.ScanRow, 2u);
  EXPECT_EQ(scan.ScanWidth, 6u) << "equal runs: the earlier row stays";

  ServerSheet& lone = book.add();
  Fill(server, lone, {{"a"}, {"b", "", "c"}});
  ScanState none;
  DetectHeaderRow(lone, 5, none);
  EXPECT_EQ(none.ScanRow, 1u);
  EXPECT_EQ(none.ScanWidth, 1u);

  // A row whose first and last cells are blank does not end the data.
  Grid gap = Table(120, 3);
  gap[50] = {"", "middle", ""};
  Fill(server, t, gap, 10);
  xl::Cell& deep = t.Model().Put(70000, 200);
  deep.kind = xl::CellKind::Number;
  FindUsedRows(t, scan);
  EXPECT_EQ(scan.ScanRow, 70000u);
  EXPECT_EQ(UsedColumns(t), 200u);
}

TEST(SheetGeometry, ARowFilledAcrossTheFirstHundredColumnsIsNeverTheHeader) {
  SheetServer server;
  ServerWorkbook& book = server.Add();
  ServerSheet& s = book.Worksheets(1);
  auto filled = [](int n) { return std::vector<std::string>(static_cast<std::size_t>(n), "x"); };
  Fill(server, s, {filled(120), filled(100), filled(99), filled(99)});
  ScanState scan;
  DetectHeaderRow(s, 5, scan);
  EXPECT_EQ(scan.ScanRow, 3u);
  EXPECT_EQ(scan.ScanWidth, 99u);

  ServerSheet& wide = book.add();
  Fill(server, wide, {filled(100), filled(150)});
  ScanState none;
  DetectHeaderRow(wide, 5, none);
  EXPECT_EQ(none.ScanRow, 1u);
  EXPECT_EQ(none.ScanWidth, 1u);

  // A formula not computed yet is something: the sheet is not blank.
  ServerSheet& pending = book.add();
  Fill(server, pending, {{"", "=1+1"}});
  EXPECT_FALSE(IsSheetBlank(pending));
  EXPECT_EQ(UsedColumns(pending), 2u);
}

TEST(SheetGeometry, PickerOffersEveryNonBlankSheetWhereverItsDataLies) {
  test::TempDir dir;
  Grid far(12, std::vector<std::string>(1));
  far[11][0] = "A12";
  MakeBook(dir.file("p.xlsx"), {{"空", {{" "}}}, {"Far", far}, {"数据", Table(1)}});
  EXPECT_EQ(SheetsHoldingData(dir.file("p.xlsx")), (std::vector<std::string>{"Far", "数据"}));
  EXPECT_THROW(SheetsHoldingData(dir.file("missing.xlsx")), RunError);
}

// ---------------------------------------------------------------- merge

TEST(WorkbookMerge, TitlesDetectedOnceAndEveryCellOfEverySourceArrives) {
  test::TempDir dir;
  Grid second = Table(10, 4, "b");
  second[5].resize(10);
  second[5][9] = "beyond the header";  // J6: right of the header's run
  second.push_back({"=A2*2", "", "", ""});
  MakeBook(dir.file("a.xlsx"), {{"S", Table(10, 4, "a")}});
  MakeBook(dir.file("b.xlsx"), {{"S", second}});
  RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("merged"));
  Recorder rec;
  WorkbookMergeOptions opt;
  opt.match = WorkbookMergeOptions::Match::Any;
  MergeWorkbooks(run, opt, CommonOptions{}, rec);

  EXPECT_EQ(run.OutputBase, dir.file("merged.xlsx"));
  const Grid g = ReadGrid(dir.file("merged.xlsx"));
  ASSERT_EQ(g.size(), 22u);
  EXPECT_EQ(g[0][0], "H1");
  EXPECT_EQ(g[1][0], "a1.1");
  EXPECT_EQ(g[11][0], "b1.1");
  EXPECT_EQ(g[15][9], "beyond the header");
  EXPECT_EQ(g[21][0], "=A12*2") << "relative reference moved with the row";
  EXPECT_EQ(rec.status, "合并完毕！共合并 2 个文件。");
  EXPECT_EQ(rec.removed, (std::vector<int>{0, 1}));
}

TEST(WorkbookMerge, EverySourceSheetLeavesOutItsOwnTitleBlock) {
  test::TempDir dir;
  Grid titled = Table(3, 3, "a");
  titled.insert(titled.begin(), {"2024 年报表"});
  MakeBook(dir.file("titled.xlsx"), {{"S", titled}});
  MakeBook(dir.file("plain.xlsx"), {{"S", Table(3, 3, "b")}});
  struct Case {
    std::vector<std::string> order;
    Grid first;  // column A of the merged sheet
  };
  const Case cases[] = {
      {{"titled", "plain"},
       {{"2024 年报表"}, {"H1"}, {"a1.1"}, {"a2.1"}, {"a3.1"}, {"b1.1"}, {"b2.1"}, {"b3.1"}}},
      {{"plain", "titled"}, {{"H1"}, {"b1.1"}, {"b2.1"}, {"b3.1"}, {"a1.1"}, {"a2.1"}, {"a3.1"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.order[0]);
    std::vector<std::string> files;
    for (const auto& name : c.order) files.push_back(dir.file(name + ".xlsx"));
    RunState run = MakeRun(files, dir.file("m.xlsx"));
    Recorder rec;
    WorkbookMergeOptions opt;
    opt.match = WorkbookMergeOptions::Match::Any;
    MergeWorkbooks(run, opt, CommonOptions{}, rec);
    Grid columnA;
    for (const auto& row : ReadGrid(dir.file("m.xlsx"))) columnA.push_back({row[0]});
    EXPECT_EQ(columnA, c.first);
  }
}

// Merges of many rows write the rows merged so far out ahead of the save;
// every row still lands once, in order, on its sheet, whatever the options.
TEST(WorkbookMerge, LargeMergesKeepEveryRowInItsPlace) {
  test::TempDir dir;
  const int sRows = 1500, tRows = 1100;  // enough to be written out ahead
  std::vector<std::string> files;
  for (const char* tag : {"a", "b", "c"}) {
    files.push_back(dir.file(std::string(tag) + ".xlsx"));
    MakeBook(files.back(), {{"S", Table(sRows, 3, tag)}, {"T", Table(tRows, 2, tag)}},
             [&](xl::Workbook& book) {
               // A bordered blank row below the data: not data, so not merged.
               xl::Style boxed;
               boxed.border.top = {1, 0};
               book.sheets[0]->Put(sRows + 3, 1).style = book.AddStyle(boxed);
               // A merged range across where the rows are cut into slices.
               book.sheets[0]->merges.push_back({1020, 2, 1030, 2});
             });
  }
  // The expected sheet: a header, then each source's rows, named in column A when asked.
  auto expected = [&](const std::string& sheet, int rows, int cols, bool label) {
    Grid g = {Table(0, cols)[0]};
    if (label) g[0].insert(g[0].begin(), "来源");
    for (const char* tag : {"a", "b", "c"}) {
      const Grid t = Table(rows, cols, tag);
      for (std::size_t r = 1; r < t.size(); ++r) {
        g.push_back(t[r]);
        if (label) g.back().insert(g.back().begin(), std::string(tag) + ".xlsx / " + sheet);
      }
    }
    return g;
  };
  Grid kept = {{}};  // titles kept, every sheet into one, below a first row left free
  for (const char* tag : {"a", "b", "c"})
    for (const auto& [rows, cols] : {std::pair{sRows, 3}, std::pair{tRows, 2}}) {
      const Grid t = Table(rows, cols, tag);
      kept.insert(kept.end(), t.begin(), t.end());
    }
  using M = WorkbookMergeOptions;
  struct Case {
    const char* what;
    M::Match match;
    M::Headers headers;
    M::Columns columns;
    bool label;
  };
  const Case cases[] = {
      {"by name", M::Match::Name, M::Headers::Auto, M::Columns::Position, false},
      {"by header, source named", M::Match::Name, M::Headers::Auto, M::Columns::Header, true},
      {"titles kept, one sheet", M::Match::Any, M::Headers::Keep, M::Columns::Position, false},
  };
  auto compare = [](const Grid& got, const Grid& want) {
    for (std::size_t r = 0; r < std::min(got.size(), want.size()); ++r) {
      std::vector<std::string> row = got[r];
      while (!row.empty() && row.back().empty()) row.pop_back();
      std::vector<std::string> w = want[r];
      while (!w.empty() && w.back().empty()) w.pop_back();
      ASSERT_EQ(row, w) << "row " << r + 1;
    }
    EXPECT_EQ(got.size(), want.size());
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    M opt;
    opt.match = c.match;
    opt.headers = c.headers;
    opt.columns = c.columns;
    opt.sourceColumn = c.label;
    RunState run = MakeRun(files, dir.file("merged"));
    Recorder rec;
    MergeWorkbooks(run, opt, CommonOptions{}, rec);
    const std::string out = dir.file("merged.xlsx");
    const std::vector<std::string> names = SheetNames(out);
    auto index = [&](const std::string& name) {
      return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
    };
    const auto book = xl::ReadXlsx(out);
    const xl::Sheet& merged = *book->sheets[c.match == M::Match::Any ? 0 : index("S")];
    ASSERT_EQ(merged.merges.size(), 3u);
    for (const xl::Rect& m : merged.merges) EXPECT_EQ(m.r2 - m.r1, 10u) << "a merged range whole";
    if (c.match == M::Match::Any) {
      compare(ReadGrid(out, 0), kept);
    } else {
      compare(ReadGrid(out, index("S")), expected("S", sRows, 3, c.label));
      compare(ReadGrid(out, index("T")), expected("T", tRows, 2, c.label));
    }
    fs::remove(out);
  }
}

TEST(WorkbookMerge, TitlesKeptAndGivenHeaderRows) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", {{"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}}}});
  RunState run = MakeRun({dir.file("a.xlsx")}, dir.file("kept.xlsx"));
  Recorder rec;
  WorkbookMergeOptions keep;
  keep.match = WorkbookMergeOptions::Match::Any;
  keep.headers = WorkbookMergeOptions::Headers::Keep;
  MergeWorkbooks(run, keep, CommonOptions{}, rec);
  EXPECT_EQ(ReadGrid(dir.file("kept.xlsx")),
            (Grid{{"", "", ""}, {"1", "2", "3"}, {"4", "5", "6"}, {"7", "8", "9"}}));

  Grid six = Table(5, 6);
  six.insert(six.begin(), {"sub", "sub", "sub", "sub", "sub", "sub"});
  six.insert(six.begin(), {"title"});
  MakeBook(dir.file("b.xlsx"), {{"S", six}});
  RunState run2 = MakeRun({dir.file("b.xlsx")}, dir.file("given.xlsx"));
  WorkbookMergeOptions given = keep;
  given.headers = WorkbookMergeOptions::Headers::Row;
  given.headerRowText = " 3 ";
  MergeWorkbooks(run2, given, CommonOptions{}, rec);
  const Grid g = ReadGrid(dir.file("given.xlsx"));
  ASSERT_EQ(g.size(), 8u);
  EXPECT_EQ(g[2][5], "H6");
  EXPECT_EQ(g[3][0], "1.1");
}

TEST(WorkbookMerge, ByNameAndByPositionChooseTheTargetSheet) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"Sheet1", Table(1)}, {"东区", Table(2, 4, "a")}});
  MakeBook(dir.file("b.xlsx"),
           {{"东区", Table(1, 4, "b")}, {"西区", Table(1)}, {"Third", Table(1)}});
  Recorder rec;
  RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("byname"));
  MergeWorkbooks(run, WorkbookMergeOptions{}, CommonOptions{}, rec);
  EXPECT_EQ(SheetNames(dir.file("byname.xlsx")),
            (std::vector<std::string>{"Sheet1", "东区", "西区", "Third"}));
  const Grid east = ReadGrid(dir.file("byname.xlsx"), 1);
  ASSERT_EQ(east.size(), 4u);
  EXPECT_EQ(east[3][0], "b1.1");

  WorkbookMergeOptions pos;
  pos.match = WorkbookMergeOptions::Match::Position;
  RunState run2 = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("bypos.xlsx"));
  MergeWorkbooks(run2, pos, CommonOptions{}, rec);
  EXPECT_EQ(SheetNames(dir.file("bypos.xlsx")).size(), 3u);
  EXPECT_EQ(ReadGrid(dir.file("bypos.xlsx"), 1).size(), 4u) << "sheet 2 of both sources";
}

TEST(WorkbookMerge, NamesTheApplicationWouldRefuseStillFindASheet) {
  test::TempDir dir;
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::string sheet =
      "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>";
  test::WriteZip(
      dir.file("odd.xlsx"),
      {{"_rels/.rels", "<Relationships><Relationship Id=\"r\" Type=\"" + rel +
                           "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
       {"xl/workbook.xml",
        "<workbook><sheets><sheet name=\"sheet1 \" r:id=\"a\" "
        "xmlns:r=\"x\"/><sheet name=\"a:b\" r:id=\"b\" xmlns:r=\"x\"/></sheets></workbook>"},
       {"xl/_rels/workbook.xml.rels",
        "<Relationships><Relationship Id=\"a\" Type=\"" + rel +
            "worksheet\" Target=\"s1.xml\"/><Relationship Id=\"b\" Type=\"" + rel +
            "worksheet\" Target=\"s2.xml\"/></Relationships>"},
       {"xl/s1.xml", sheet},
       {"xl/s2.xml", sheet}});
  RunState run = MakeRun({dir.file("odd.xlsx")}, dir.file("m"));
  Recorder rec;
  MergeWorkbooks(run, WorkbookMergeOptions{}, CommonOptions{}, rec);
  EXPECT_EQ(SheetNames(dir.file("m.xlsx")), (std::vector<std::string>{"Sheet1", "Sheet2"}));
}

TEST(WorkbookOutputs, MergedRangesComeAlongWholeWhereverTheyReach) {
  test::TempDir dir;
  Grid sheet = Table(4, 3);
  sheet.insert(sheet.begin(), {"2024 年度汇总"});
  sheet.push_back({"备注"});
  const std::string src = dir.file("m.xlsx");
  MakeBook(src, {{"S", sheet}}, [](xl::Workbook& book) {
    book.sheets[0]->merges = {{1, 1, 1, 6}, {7, 1, 8, 3}};  // wider and lower than the cells
  });
  WorkbookMergeOptions keep;
  keep.headers = WorkbookMergeOptions::Headers::Keep;
  RunState run = MakeRun({src}, dir.file("out.xlsx"));
  Recorder rec;
  MergeWorkbooks(run, keep, CommonOptions{}, rec);
  EXPECT_EQ(test::MergeLines(*xl::ReadXlsx(dir.file("out.xlsx"))),
            (std::set<std::string>{"M\tS\tA2:F2", "M\tS\tA8:C9"}));

  WorkbookSplitOptions even;
  RunState split = MakeRun({src}, src);
  SplitWorkbooks(split, even, CommonOptions{}, rec);
  EXPECT_EQ(test::MergeLines(*xl::ReadXlsx(dir.file("m_1.xlsx"))),
            std::set<std::string>{"M\tS\tA1:F1"});
  EXPECT_EQ(test::MergeLines(*xl::ReadXlsx(dir.file("m_2.xlsx"))),
            (std::set<std::string>{"M\tS\tA1:F1", "M\tS\tA4:C5"}));
}

TEST(WorkbookMerge, ASourceColumnNamesTheFileAndSheetOfEveryDataRow) {
  test::TempDir dir;
  Grid a = Table(2, 3, "a");
  a[1][2] = "=B2*2|2";  // reads its own row: moves with it
  a.push_back({});      // a blank row is nobody's
  a.push_back({"a3.1"});
  MakeBook(dir.file("a.xlsx"), {{"S", a}});
  MakeBook(dir.file("b.xlsx"), {{"S", Table(1, 2, "b")}, {"T", Table(1, 2, "t")}});
  struct Case {
    WorkbookMergeOptions::Headers headers;
    Grid columns;  // columns A:B of the merged sheet
  };
  const Case cases[] = {
      {WorkbookMergeOptions::Headers::Auto,
       {{"来源", "H1"},
        {"a.xlsx / S", "a1.1"},
        {"a.xlsx / S", "a2.1"},
        {"", ""},
        {"a.xlsx / S", "a3.1"},
        {"b.xlsx / S", "b1.1"},
        {"b.xlsx / T", "t1.1"}}},
      {WorkbookMergeOptions::Headers::Keep,
       {{"", ""},
        {"a.xlsx / S", "H1"},
        {"a.xlsx / S", "a1.1"},
        {"a.xlsx / S", "a2.1"},
        {"", ""},
        {"a.xlsx / S", "a3.1"},
        {"b.xlsx / S", "H1"},
        {"b.xlsx / S", "b1.1"},
        {"b.xlsx / T", "H1"},
        {"b.xlsx / T", "t1.1"}}},
  };
  for (const Case& c : cases) {
    WorkbookMergeOptions opt;
    opt.match = WorkbookMergeOptions::Match::Any;
    opt.headers = c.headers;
    opt.sourceColumn = true;
    RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m.xlsx"));
    Recorder rec;
    MergeWorkbooks(run, opt, CommonOptions{}, rec);
    const Grid g = ReadGrid(dir.file("m.xlsx"));
    Grid columns;
    for (const auto& row : g) columns.push_back({row[0], row[1]});
    EXPECT_EQ(columns, c.columns);
    const std::size_t formulaRow = c.headers == WorkbookMergeOptions::Headers::Keep ? 2 : 1;
    EXPECT_EQ(g[formulaRow][3], "=C" + std::to_string(formulaRow + 1) + "*2");
  }
}

TEST(WorkbookMerge, ColumnsMatchedByHeaderLandUnderTheirHeaders) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", {{"Title"}, {"Name", "Qty", "Price"}, {"pen", "2", "1.5"}}}});
  MakeBook(dir.file("b.xlsx"), {{"S", {{" price ", "NAME", "Region"}, {"3", "ink", "东"}}}});
  for (const bool source : {false, true}) {
    SCOPED_TRACE(source);
    WorkbookMergeOptions opt;
    opt.match = WorkbookMergeOptions::Match::Any;
    opt.columns = WorkbookMergeOptions::Columns::Header;
    opt.sourceColumn = source;
    RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m.xlsx"));
    Recorder rec;
    MergeWorkbooks(run, opt, CommonOptions{}, rec);
    Grid g = ReadGrid(dir.file("m.xlsx"));
    if (source) {
      EXPECT_EQ(g[1][0], "来源");
      EXPECT_EQ(g[3][0], "b.xlsx / S");
      for (auto& row : g) row.erase(row.begin());
    }
    EXPECT_EQ(g, (Grid{{"Title", "", "", ""},
                       {"Name", "Qty", "Price", "Region"},
                       {"pen", "2", "1.5", ""},
                       {"ink", "", "3", "东"}}));
  }
}

TEST(WorkbookMerge, SheetNamesMatchWhateverTheirLetterCase) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"Data", Table(2, 3, "a")}});
  MakeBook(dir.file("b.xlsx"), {{"DATA", Table(2, 3, "b")}, {"sheet1", Table(1, 3, "c")}});
  RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m"));
  Recorder rec;
  MergeWorkbooks(run, WorkbookMergeOptions{}, CommonOptions{}, rec);
  EXPECT_EQ(SheetNames(dir.file("m.xlsx")), (std::vector<std::string>{"Sheet1", "Data"}));
  EXPECT_EQ(ReadGrid(dir.file("m.xlsx"), 1).size(), 5u) << "DATA joined Data";
  EXPECT_EQ(ReadGrid(dir.file("m.xlsx"), 0).size(), 2u) << "sheet1 went to Sheet1";
}

// openpyxl and many report generators write formulas without a computed
// value; the application computes them when it opens the file.
TEST(WorkbookMerge, FormulasNotYetComputedAreCarriedForTheApplicationToCompute) {
  test::TempDir dir;
  const std::string src = dir.file("report.xlsx");
  const std::string script =
      "import openpyxl\nwb = openpyxl.Workbook()\nws = wb.active\nws.title = 'Calc'\n"
      "ws.append(['a', 'b', 'sum'])\nws.append([1, 2, '=A2+B2'])\nws.append([3, 4, '=A3+B3'])\n"
      "ws['E1'] = '=SUM(C2:C3)'\nwb.save('" +
      src + "')\n";
  const std::string cmd = std::string(PW_DEBIAN_PYTHON) + " -c \"" + script + "\" 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "openpyxl is not installed";
  ASSERT_NE(test::ReadZipPart(src, "xl/worksheets/sheet1.xml").find("<f>A2+B2</f><v></v>"),
            std::string::npos);

  RunState run = MakeRun({src, src}, dir.file("m.xlsx"));  // the second time below the first
  Recorder rec;
  WorkbookMergeOptions opt;
  opt.match = WorkbookMergeOptions::Match::Any;
  MergeWorkbooks(run, opt, CommonOptions{}, rec);
  EXPECT_EQ(ReadGrid(dir.file("m.xlsx")), (Grid{{"a", "b", "sum", "", "=SUM(C2:C3)"},
                                                {"1", "2", "=A2+B2", "", ""},
                                                {"3", "4", "=A3+B3", "", ""},
                                                {"1", "2", "=A4+B4", "", ""},
                                                {"3", "4", "=A5+B5", "", ""}}));
  const std::string xml = test::ReadZipPart(dir.file("m.xlsx"), "xl/worksheets/sheet1.xml");
  const std::size_t at = xml.find("<f>A5+B5</f>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(xml.compare(at + 12, 4, "</c>"), 0) << "no value of 0 stands for it";
}

// Formulas that read what the output does not hold become the value they
// showed; those that read only what came along keep working.
TEST(WorkbookOutputs, FormulasThatWouldBreakBecomeTheirValuesInTheirOwnFormat) {
  test::TempDir dir;
  Grid data = {{"H1", "H2", "H3", "H4"}};
  const std::vector<std::string> special = {"=Rates!A1|0.5",  "=TaxRate|0.25", "=Sales[Amount]|7",
                                            "='[1]Q 1'!A1|3", "=$B$2+B6|80",   "=B7+B6|130"};
  for (int r = 2; r <= 7; ++r)
    data.push_back({"r" + std::to_string(r), std::to_string(r * 10),
                    "=B" + std::to_string(r) + "*2|" + std::to_string(r * 20),
                    special[static_cast<std::size_t>(r - 2)]});
  data.push_back({"合计", "=SUM(B2:B7)|270", "=SROUND(B8)|270"});  // a macro's function
  const std::string src = dir.file("f.xlsx");
  MakeBook(src, {{"Data", data}, {"Rates", {{"0.5"}}}}, [](xl::Workbook& book) {
    xl::Style percent;
    percent.numFmtId = 10;
    percent.numFmt = "0.00%";
    book.sheets[0]->Put(2, 4).style = book.AddStyle(percent);
  });

  WorkbookSplitOptions even;
  even.singleSheet = true;
  even.sheetName = "Data";
  RunState run = MakeRun({src}, src);
  Recorder rec;
  SplitWorkbooks(run, even, CommonOptions{}, rec);
  const std::string one = dir.file("f_1.xlsx"), two = dir.file("f_2.xlsx");
  struct Expect {
    const std::string* file;
    const char* ref;
    std::string shown;
  };
  const Expect expects[] = {
      {&one, "C3", "=B3*2"}, {&one, "D2", "0.5"}, {&one, "D3", "0.25"}, {&one, "D4", "7"},
      {&two, "C2", "=B2*2"}, {&two, "D2", "3"},   {&two, "D3", "80"},   {&two, "D4", "=B4+B3"},
      {&two, "B5", "270"},   {&two, "C5", "270"},
  };
  for (const Expect& e : expects)
    EXPECT_EQ(CellOf(*e.file, "Data", e.ref).shown, e.shown) << *e.file << " " << e.ref;
  EXPECT_EQ(CellOf(one, "Data", "D2").format, "0.00%");

  // Merged with its title, the whole sheet comes along: its own formulas work.
  WorkbookMergeOptions keep;
  keep.headers = WorkbookMergeOptions::Headers::Keep;
  RunState merge = MakeRun({src}, dir.file("m.xlsx"));
  MergeWorkbooks(merge, keep, CommonOptions{}, rec);
  EXPECT_EQ(CellOf(dir.file("m.xlsx"), "Data", "B9").shown, "=SUM(B3:B8)");
  EXPECT_EQ(CellOf(dir.file("m.xlsx"), "Data", "D8").shown, "=B8+B7");
  EXPECT_EQ(CellOf(dir.file("m.xlsx"), "Data", "D7").shown, "80") << "$B$2 is another cell there";
  EXPECT_EQ(CellOf(dir.file("m.xlsx"), "Data", "D3").shown, "0.5");
}

TEST(WorkbookMerge, SourcesGoOnlyOnceTheMergedWorkbookIsSaved) {
  test::TempDir dir;
  ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
  MakeBook(dir.file("a.xlsx"), {{"S", Table(3)}});
  MakeBook(dir.file("b.xlsx"), {{"S", Table(3)}});
  CommonOptions del;
  del.deleteSources = true;

  std::atomic<bool> stop{true};
  RunState stopped = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m"));
  stopped.StopFlag = &stop;
  Recorder rec;
  MergeWorkbooks(stopped, WorkbookMergeOptions{}, del, rec);
  EXPECT_EQ(rec.status, "用户强行退出，转换操作未完成！没有生成合并后的工作簿。");
  EXPECT_FALSE(fs::exists(dir.file("m.xlsx")));
  EXPECT_TRUE(fs::exists(dir.file("a.xlsx")));
  EXPECT_TRUE(rec.removed.empty());

  // A merged workbook that cannot be saved leaves every source in place.
  RunState blocked =
      MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("no/such/folder/m"));
  EXPECT_THROW(MergeWorkbooks(blocked, WorkbookMergeOptions{}, del, rec), RunError);
  EXPECT_TRUE(fs::exists(dir.file("a.xlsx")));

  RunState ok = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m"));
  MergeWorkbooks(ok, WorkbookMergeOptions{}, del, rec);
  EXPECT_TRUE(fs::exists(dir.file("a.xlsx"))) << "sources go only once the whole run is over";
  RemoveFinishedSources(ok, rec);  // as the runner does then
  EXPECT_TRUE(fs::exists(dir.file("m.xlsx")));
  EXPECT_FALSE(fs::exists(dir.file("a.xlsx")));
  EXPECT_EQ(rec.deleted, (std::vector<int>{0, 1}));
  ::unsetenv("XDG_DATA_HOME");
}

TEST(WorkbookMerge, BadHeaderRowIsRefusedBeforeAnythingIsWritten) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", Table(3)}});
  for (const char* text : {"", "  ", "abc", "0", "-2", "3.5"}) {
    RunState run = MakeRun({dir.file("a.xlsx")}, dir.file("m"));
    WorkbookMergeOptions opt;
    opt.headers = WorkbookMergeOptions::Headers::Row;
    opt.headerRowText = text;
    Recorder rec;
    try {
      MergeWorkbooks(run, opt, CommonOptions{}, rec);
      ADD_FAILURE() << "accepted '" << text << "'";
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Validation) << text;
    }
    EXPECT_FALSE(fs::exists(dir.file("m.xlsx")));
  }
}

// ---------------------------------------------------------------- split

TEST(WorkbookSplit, EvenSplitAndSplitByRowsRepeatTheTitle) {
  test::TempDir dir;
  const std::string src = dir.file("sales.xlsx");
  MakeBook(src, {{"Data", Table(100)}});
  struct Case {
    WorkbookSplitOptions::Way way;
    const char* count;
    bool repeat;
    std::vector<std::size_t> rows;  // sheet rows of each output, header included
  };
  const Case cases[] = {
      {WorkbookSplitOptions::Way::Parts, "3", true, {34, 34, 35}},
      {WorkbookSplitOptions::Way::Parts, "3", false, {34, 34, 35}},  // row 1 left empty
      {WorkbookSplitOptions::Way::Rows, "40", true, {41, 41, 21}},
      {WorkbookSplitOptions::Way::Rows, "50", true, {51, 51, 1}},  // the last holds the title only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.count) + (c.repeat ? " repeat" : ""));
    WorkbookSplitOptions opt;
    opt.way = c.way;
    opt.partsText = opt.rowsText = c.count;
    opt.repeatTitle = c.repeat;
    RunState run = MakeRun({src}, src);
    Recorder rec;
    SplitWorkbooks(run, opt, CommonOptions{}, rec);
    for (std::size_t k = 1; k <= c.rows.size(); ++k) {
      const std::string out = dir.file("sales_" + std::to_string(k) + ".xlsx");
      const Grid g = ReadGrid(out);
      EXPECT_EQ(g.size(), c.rows[k - 1]) << out;
      EXPECT_EQ(g[0][0], c.repeat ? "H1" : "") << out;
      EXPECT_EQ(SheetNames(out), std::vector<std::string>{"Data"});
      fs::remove(out);
    }
    EXPECT_FALSE(fs::exists(dir.file("sales_" + std::to_string(c.rows.size() + 1) + ".xlsx")));
    EXPECT_EQ(rec.status, "分割操作完毕！共分割了 1 个文件。");
  }
}

TEST(WorkbookSplit, EverySourceSheetGetsASheetOfItsOwnInEachPart) {
  test::TempDir dir;
  const std::string src = dir.file("two.xlsx");
  Grid first = Table(10, 3, "j");
  first.insert(first.begin(), {"甲表"});
  MakeBook(src, {{"甲", first}, {"乙", Table(6, 2, "y")}});
  struct Sheet {
    std::string name;
    std::string firstData;  // column A of its first data row, "" for none
    std::size_t rows;       // sheet rows, titles included
  };
  struct Case {
    WorkbookSplitOptions::Way way;
    const char* count;
    std::vector<std::vector<Sheet>> parts;
  };
  const Case cases[] = {
      {WorkbookSplitOptions::Way::Parts,
       "2",
       {{{"甲", "j1.1", 7}, {"乙", "y1.1", 4}}, {{"甲", "j6.1", 7}, {"乙", "y4.1", 4}}}},
      // The title-only third part: 10 rows after a two-row title, by 5.
      {WorkbookSplitOptions::Way::Rows,
       "5",
       {{{"甲", "j1.1", 7}, {"乙", "y1.1", 6}},
        {{"甲", "j6.1", 7}, {"乙", "y6.1", 2}},
        {{"甲", "", 2}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    WorkbookSplitOptions opt;
    opt.way = c.way;
    opt.partsText = opt.rowsText = c.count;
    RunState run = MakeRun({src}, src);
    Recorder rec;
    SplitWorkbooks(run, opt, CommonOptions{}, rec);
    for (std::size_t k = 0; k < c.parts.size(); ++k) {
      const std::string out = dir.file("two_" + std::to_string(k + 1) + ".xlsx");
      std::vector<std::string> names;
      for (const Sheet& sheet : c.parts[k]) names.push_back(sheet.name);
      ASSERT_EQ(SheetNames(out), names) << out;
      for (std::size_t i = 0; i < names.size(); ++i) {
        const Sheet& want = c.parts[k][i];
        const Grid g = ReadGrid(out, i);
        ASSERT_EQ(g.size(), want.rows) << out << " " << want.name;
        const std::size_t title = want.name == "甲" ? 2 : 1;
        EXPECT_EQ(g[0][0], want.name == "甲" ? "甲表" : "H1") << "its own title";
        EXPECT_EQ(g[title - 1][0], "H1");
        if (!want.firstData.empty()) {
          EXPECT_EQ(g[title][0], want.firstData) << out;
        }
      }
      fs::remove(out);
    }
    EXPECT_FALSE(fs::exists(dir.file("two_" + std::to_string(c.parts.size() + 1) + ".xlsx")));
  }
}

TEST(WorkbookSplit, ASourceWithoutTheChosenSheetIsSkippedAndTheRunGoesOn) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", Table(4)}});
  MakeBook(dir.file("b.xlsx"), {{"Other", Table(4)}});
  MakeBook(dir.file("c.xlsx"), {{"Other", Table(2)}, {"S", Table(4)}});
  WorkbookSplitOptions opt;
  opt.singleSheet = true;
  opt.sheetName = "S";
  RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx"), dir.file("c.xlsx")}, "");
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec);
  for (const char* out : {"a_1.xlsx", "a_2.xlsx", "c_1.xlsx", "c_2.xlsx"})
    EXPECT_TRUE(fs::exists(dir.file(out))) << out;
  EXPECT_FALSE(fs::exists(dir.file("b_1.xlsx")));
  EXPECT_EQ(SheetNames(dir.file("c_1.xlsx")), std::vector<std::string>{"S"});
  EXPECT_EQ(rec.removed, (std::vector<int>{0, 2})) << "the skipped file stays in the list";
  EXPECT_EQ(rec.status, "分割操作完毕！共分割了 2 个文件。没有工作表“S”，已跳过的有：b.xlsx。");
}

TEST(WorkbookSplit, OneWorkbookPerValueOfAColumn) {
  test::TempDir dir;
  const std::string src = dir.file("sales.xlsx");
  MakeBook(src, {{"Sales",
                  {{"2024 销售"},
                   {"Region", "Amount"},
                   {"东", "1"},
                   {"西", "2"},
                   {"东", "3"},
                   {"", "4"},
                   {},
                   {"a/b", "5"},
                   {"东", "6"}}},
                 {"Notes", {{"Text", "More"}, {"x", "y"}}}});
  for (const char* column : {" region ", "A"}) {
    SCOPED_TRACE(column);
    WorkbookSplitOptions opt;
    opt.way = WorkbookSplitOptions::Way::PerValue;
    opt.column = column;
    RunState run = MakeRun({src}, src);
    Recorder rec;
    SplitWorkbooks(run, opt, CommonOptions{}, rec);
    const std::pair<const char*, Grid> expected[] = {
        {"东", {{"2024 销售", ""}, {"Region", "Amount"}, {"东", "1"}, {"东", "3"}, {"东", "6"}}},
        {"西", {{"2024 销售", ""}, {"Region", "Amount"}, {"西", "2"}}},
        {"空白", {{"2024 销售", ""}, {"Region", "Amount"}, {"", "4"}}},
        {"a_b", {{"2024 销售", ""}, {"Region", "Amount"}, {"a/b", "5"}}},
    };
    for (const auto& [tag, grid] : expected) {
      const std::string out = dir.file(std::string("sales_") + tag + ".xlsx");
      EXPECT_EQ(ReadGrid(out), grid) << out;
      EXPECT_EQ(SheetNames(out), std::vector<std::string>{"Sales"});
      fs::remove(out);
    }
    if (std::string(column) == "A") {  // Notes has a column A, but no "Region"
      EXPECT_EQ(ReadGrid(dir.file("sales_x.xlsx")), (Grid{{"Text", "More"}, {"x", "y"}}));
      fs::remove(dir.file("sales_x.xlsx"));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator{}), 1);
  }

  // Refused before anything is written: no column, no such column, too many values.
  Grid many = {{"Id", "V"}};
  for (int i = 0; i < 1500; ++i) many.push_back({"k" + std::to_string(i % 1001), "1"});
  MakeBook(dir.file("many.xlsx"), {{"S", many}});
  struct Refusal {
    const char* file;
    const char* column;
    RunError::Kind kind;
  };
  for (const Refusal& r : {Refusal{"sales.xlsx", " ", RunError::Kind::Validation},
                           Refusal{"sales.xlsx", "Nowhere", RunError::Kind::Failure},
                           Refusal{"many.xlsx", "Id", RunError::Kind::Failure}}) {
    WorkbookSplitOptions opt;
    opt.way = WorkbookSplitOptions::Way::PerValue;
    opt.column = r.column;
    RunState run = MakeRun({dir.file(r.file)}, "");
    Recorder rec;
    try {
      SplitWorkbooks(run, opt, CommonOptions{}, rec);
      ADD_FAILURE() << r.column;
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), r.kind) << r.column;
      if (std::string(r.file) == "many.xlsx") {  // values counted once, however often they come
        EXPECT_NE(std::string(e.what()).find("有 1001 个不同的值"), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.str()), fs::directory_iterator{}), 2);
  }
}

// Values that take turns row by row, over several pages of a sheet kept on
// disk and more values than are written at once: every workbook gets
// exactly its rows, in their order, with the formulas that read their own
// row moved along, those reading another value's row as their values, and
// the merged ranges of its rows.
// A key cell merged down over several rows names the value of every row it
// covers: those rows go with it, not to the blank value, and their merged
// ranges stay whole.
TEST(WorkbookSplit, RowsUnderAMergedKeyCellGoWithItsValue) {
  test::TempDir dir;
  const std::string src = dir.file("packs.xlsx");
  MakeBook(src, {{"Packs", {{"Id", "Pack"}, {"1", "a"}, {"", "b"}, {"", "c"}, {"2", "d"}}}},
           [](xl::Workbook& book) {
             book.sheets[0]->merges.push_back({2, 1, 4, 1});
           });
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::PerValue;
  opt.column = "A";
  RunState run = MakeRun({src}, src);
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec);
  EXPECT_EQ(ReadGrid(dir.file("packs_1.xlsx")),
            (Grid{{"Id", "Pack"}, {"1", "a"}, {"", "b"}, {"", "c"}}));
  EXPECT_EQ(ReadGrid(dir.file("packs_2.xlsx")), (Grid{{"Id", "Pack"}, {"2", "d"}}));
  EXPECT_FALSE(fs::exists(dir.file("packs_空白.xlsx")));
  const auto part = xl::ReadXlsx(dir.file("packs_1.xlsx"));
  ASSERT_EQ(part->sheets[0]->merges.size(), 1u);
  EXPECT_EQ(part->sheets[0]->merges[0].r2 - part->sheets[0]->merges[0].r1, 2u);
}

TEST(WorkbookSplit, ValuesTakingTurnsEachGetTheirRowsInOrder) {
  test::TempDir dir;
  const std::string src = dir.file("t.xlsx");
  constexpr int kRows = 5000, kValues = 40;
  auto key = [](int i) { return "k" + std::to_string(i * 7 % kValues); };
  Grid data = {{"Title"}, {"Key", "N", "F", "M1", "M2"}};
  for (int i = 0; i < kRows; ++i) {
    const std::string row = std::to_string(i + 3), n = std::to_string(i + 1);
    data.push_back({key(i), n,
                    i % 100 == 1 ? "=B" + std::to_string(i + 2) + "|" + std::to_string(i)
                                 : "=B" + row + "*2|" + std::to_string(2 * (i + 1)),
                    i % 500 == 0 ? "m" : ""});
  }
  MakeBook(src, {{"Data", data}, {"More", {{"Key", "X"}, {"k0", "a"}, {"k39", "b"}, {"k0", "c"}}}},
           [&](xl::Workbook& book) {
             for (int i = 0; i < kRows; i += 500)
               book.sheets[0]->merges.push_back(
                   {static_cast<std::uint32_t>(i + 3), 4, static_cast<std::uint32_t>(i + 3), 5});
           });
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::PerValue;
  opt.column = "Key";
  RunState run = MakeRun({src}, src);
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec);
  for (int v = 0; v < kValues; ++v) {
    const std::string name = "k" + std::to_string(v), out = dir.file("t_" + name + ".xlsx");
    SCOPED_TRACE(name);
    Grid want = {{"Title", "", "", "", ""}, {"Key", "N", "F", "M1", "M2"}};
    std::vector<xl::Rect> merges;
    for (int i = 0; i < kRows; ++i) {
      if (key(i) != name) continue;
      const std::string row = std::to_string(want.size() + 1);
      if (i % 500 == 0)
        merges.push_back({static_cast<std::uint32_t>(want.size() + 1), 4,
                          static_cast<std::uint32_t>(want.size() + 1), 5});
      want.push_back({name, std::to_string(i + 1),
                      i % 100 == 1 ? std::to_string(i) : "=B" + row + "*2", i % 500 == 0 ? "m" : "",
                      ""});
    }
    Grid got = ReadGrid(out);
    for (auto& row : got) row.resize(5);
    ASSERT_EQ(got, want);
    const auto book = xl::ReadXlsx(out);
    EXPECT_EQ(book->sheets[0]->merges, merges);
    const std::vector<std::string> sheets = v == 0 || v == 39
                                                ? std::vector<std::string>{"Data", "More"}
                                                : std::vector<std::string>{"Data"};
    EXPECT_EQ(SheetNames(out), sheets);
    if (v == 0) {
      EXPECT_EQ(ReadGrid(out, 1), (Grid{{"Key", "X"}, {"k0", "a"}, {"k0", "c"}}));
    }
  }
}

TEST(WorkbookSplit, AStopLeavesTheSourceAndItsRowAlone) {
  test::TempDir dir;
  ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
  const std::string src = dir.file("s.xlsx");
  MakeBook(src, {{"S", Table(10)}});
  std::atomic<bool> stop{true};
  RunState run = MakeRun({src}, src);
  run.StopFlag = &stop;
  CommonOptions del;
  del.deleteSources = true;
  Recorder rec;
  SplitWorkbooks(run, WorkbookSplitOptions{}, del, rec);
  EXPECT_EQ(rec.status, "用户强行退出，转换操作未完成！");
  EXPECT_TRUE(fs::exists(src));
  EXPECT_TRUE(rec.removed.empty());
  EXPECT_TRUE(rec.deleted.empty());
  EXPECT_FALSE(fs::exists(dir.file("s_2.xlsx")));
  ::unsetenv("XDG_DATA_HOME");
}

TEST(WorkbookSplit, OneFilePerSheetWithSafeDistinctNames) {
  test::TempDir dir;
  const std::string src = dir.file("book.xlsx");
  MakeBook(src, {{"A<B", Table(2)}, {"空", {}}, {"A>B", Table(3)}, {"D\x7F", Table(1)}});
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::PerSheet;
  RunState run = MakeRun({src}, src);
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec);
  EXPECT_EQ(ReadGrid(dir.file("book_A_B.xlsx")).size(), 3u);
  EXPECT_EQ(ReadGrid(dir.file("book_A_B(2).xlsx")).size(), 4u) << "no output overwrites another";
  EXPECT_FALSE(fs::exists(dir.file("book_空.xlsx")));
  EXPECT_EQ(ReadGrid(dir.file("book_D_.xlsx")).size(), 2u) << "no control character in a name";
}

TEST(WorkbookSplit, CountsThatAreNotPositiveWriteNothingAndKeepTheSource) {
  test::TempDir dir;
  ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
  const std::string src = dir.file("s.xlsx");
  MakeBook(src, {{"S", Table(5)}});
  CommonOptions del;
  del.deleteSources = true;
  for (const char* count : {"0", "-1", "x", ""}) {
    for (auto way : {WorkbookSplitOptions::Way::Parts, WorkbookSplitOptions::Way::Rows}) {
      WorkbookSplitOptions opt;
      opt.way = way;
      opt.partsText = opt.rowsText = count;
      RunState run = MakeRun({src}, src);
      Recorder rec;
      EXPECT_THROW(SplitWorkbooks(run, opt, del, rec), RunError) << count;
      EXPECT_TRUE(fs::exists(src));
      EXPECT_FALSE(fs::exists(dir.file("s_1.xlsx")));
    }
  }
  ::unsetenv("XDG_DATA_HOME");
}

TEST(WorkbookSplit, XlsOutputTooLargeIsWrittenAsXlsxBeside) {
  test::TempDir dir;
  struct Copier : XlsConverter {
    void ToXlsx(const std::string& from, const std::string& to) override {
      fs::copy_file(from, to);
    }
    void FromXlsx(const std::string& from, const std::string& to, const std::string&) override {
      fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    }
  } converter;
  const std::string src = dir.file("big.xls");
  {
    SheetServer server;
    ServerWorkbook& book = server.Add();
    Fill(server, book.Worksheets(1), Table(3, 300));  // 300 columns: too wide for .xls
    book.SaveAs(dir.file("big.xlsx"));
    fs::rename(dir.file("big.xlsx"), src);
  }
  WorkbookSplitOptions opt;
  opt.partsText = "1";
  RunState run = MakeRun({src}, src);
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec, &converter);
  EXPECT_FALSE(fs::exists(dir.file("big_1.xls")));
  ASSERT_TRUE(fs::exists(dir.file("big_1.xlsx")));
  EXPECT_EQ(ReadGrid(dir.file("big_1.xlsx"))[3][299], "3.3");
  EXPECT_NE(rec.status.find("big_1.xlsx"), std::string::npos) << rec.status;
}

// ------------------------------------------- whole outputs or none

// The names in `folder`, sorted; hidden temporary files included.
std::vector<std::string> Listing(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// .xls written as the .xlsx bytes they hold (the tests' stand-in for the
// office server); `onSave` runs after each .xls is written.
struct CopyingConverter : XlsConverter {
  void ToXlsx(const std::string& from, const std::string& to) override { fs::copy_file(from, to); }
  void FromXlsx(const std::string& from, const std::string& to, const std::string&) override {
    saved.push_back(to);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    if (onSave) onSave();
  }
  std::vector<std::string> saved;
  std::function<void()> onSave;
};

// A stop while a source is being split undoes that source's parts, and
// only those: earlier sources keep theirs, the status says what went.
TEST(WorkbookSplit, AStopMidSourceUndoesOnlyThatSourcesParts) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", Table(10)}});
  MakeBook(dir.file("b.xlsx"), {{"S", Table(10)}});
  fs::rename(dir.file("b.xlsx"), dir.file("b.xls"));
  MakeBook(dir.file("c.xlsx"), {{"S", Table(10)}});
  std::atomic<bool> stop{false};
  CopyingConverter converter;
  converter.onSave = [&] {
    if (converter.saved.size() == 3) stop = true;  // during b.xls, after its third part
  };
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::Rows;
  opt.rowsText = "2";
  RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xls"), dir.file("c.xlsx")}, "");
  run.StopFlag = &stop;
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec, &converter);
  EXPECT_EQ(rec.status, "用户强行退出，转换操作未完成！已撤销“b.xls”已生成的 3 个工作簿。");
  EXPECT_EQ(converter.saved.size(), 3u) << "the stop is seen between parts";
  EXPECT_EQ(Listing(dir.str()),
            (std::vector<std::string>{"a.xlsx", "a_1.xlsx", "a_2.xlsx", "a_3.xlsx", "a_4.xlsx",
                                      "a_5.xlsx", "a_6.xlsx", "b.xls", "c.xlsx"}));
  // The parts were written under hidden names that keep the .xls extension.
  for (const std::string& temp : converter.saved) {
    const std::string name = fs::path(temp).filename().string();
    EXPECT_EQ(name[0], '.') << name;
    EXPECT_EQ(fs::path(name).extension(), ".xls") << name;
  }
}

// A stop during a split by value, while many workbooks are open at once, is
// seen between two saves, and every workbook of that source goes.
TEST(WorkbookSplit, AStopDuringASplitByValueIsSeenBetweenTwoSaves) {
  test::TempDir dir;
  Grid rows = {{"Key", "N"}};
  for (int i = 0; i < 80; ++i) rows.push_back({"k" + std::to_string(i % 40), "1"});
  MakeBook(dir.file("b.xlsx"), {{"S", rows}});
  fs::rename(dir.file("b.xlsx"), dir.file("b.xls"));
  std::atomic<bool> stop{false};
  CopyingConverter converter;
  converter.onSave = [&] {
    if (converter.saved.size() == 3) stop = true;
  };
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::PerValue;
  opt.column = "Key";
  RunState run = MakeRun({dir.file("b.xls")}, "");
  run.StopFlag = &stop;
  Recorder rec;
  SplitWorkbooks(run, opt, CommonOptions{}, rec, &converter);
  EXPECT_EQ(rec.status, "用户强行退出，转换操作未完成！已撤销“b.xls”已生成的 3 个工作簿。");
  EXPECT_EQ(converter.saved.size(), 3u);
  EXPECT_EQ(Listing(dir.str()), std::vector<std::string>{"b.xls"});
}

// A merge that fails while its result is written, or is stopped then,
// leaves no merged workbook, under its name or a temporary one, and says so.
TEST(WorkbookMerge, AFailureOrStopWhileSavingLeavesNoMergedWorkbook) {
  test::TempDir dir;
  MakeBook(dir.file("a.xlsx"), {{"S", Table(3)}});
  MakeBook(dir.file("b.xlsx"), {{"S", Table(3)}});
  const std::vector<std::string> before = Listing(dir.str());
  std::atomic<bool> stop{false};
  CopyingConverter converter;
  for (const bool failing : {true, false}) {
    SCOPED_TRACE(failing ? "failure" : "stop");
    converter.onSave = [&] {
      if (failing)
        throw RunError(RunError::Kind::Failure, dir.file("m.xls"), "无法保存：读写错误。");
      stop = true;
    };
    RunState run = MakeRun({dir.file("a.xlsx"), dir.file("b.xlsx")}, dir.file("m.xls"));
    run.StopFlag = &stop;
    Recorder rec;
    try {
      MergeWorkbooks(run, WorkbookMergeOptions{}, CommonOptions{}, rec, &converter);
      EXPECT_FALSE(failing);
      EXPECT_EQ(rec.status, "用户强行退出，转换操作未完成！没有生成合并后的工作簿。");
    } catch (const RunError& e) {
      EXPECT_TRUE(failing);
      EXPECT_EQ(std::string(e.what()), "无法保存：读写错误。没有生成合并后的工作簿。");
    }
    EXPECT_EQ(fs::path(converter.saved.back()).filename().string()[0], '.')
        << "written under a temporary name";
    EXPECT_EQ(Listing(dir.str()), before);
    stop = false;
  }
}

// A split killed while it writes leaves no part under a final name; what it
// left under temporary names goes with the next run's first look at the folder.
TEST(WorkbookSplit, AKilledSplitLeavesNoPartUnderItsNameAndTheNextRunSweepsItsRemains) {
  test::TempDir made, dir;  // `dir` is not looked at by this process before the sweep below
  MakeBook(made.file("big.xlsx"), {{"S", Table(4000)}});
  const std::string src = dir.file("big.xlsx");
  fs::rename(made.file("big.xlsx"), src);
  const pid_t child = ::fork();
  if (child == 0) {
    WorkbookSplitOptions opt;
    opt.way = WorkbookSplitOptions::Way::Rows;
    opt.rowsText = "10";
    RunState run = MakeRun({src}, src);
    Recorder rec;
    try {
      SplitWorkbooks(run, opt, CommonOptions{}, rec);
    } catch (...) {
    }
    ::_exit(0);
  }
  // Killed once a few parts are written, under whatever names.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (Listing(dir.str()).size() < 6 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the split ended before it could be killed";
  std::vector<std::string> named;
  for (const std::string& name : Listing(dir.str()))
    if (!IsPendingOutputName(name)) named.push_back(name);
  EXPECT_EQ(named, std::vector<std::string>{"big.xlsx"});
  SweepStalePendingOutputs(dir.str());
  EXPECT_EQ(Listing(dir.str()), std::vector<std::string>{"big.xlsx"});
}

// A file that is not a workbook whatever its name says, or a named pipe, is
// refused at once with its name; nothing is written for it.
TEST(WorkbookSplit, ADocumentNamedXlsxOrAPipeIsRefusedAndNothingWritten) {
  test::TempDir dir;
  test::WriteZip(
      dir.file("report.xlsx"),
      {{"[Content_Types].xml",
        R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
       {"_rels/.rels",
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)"},
       {"word/document.xml",
        R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body><w:p/></w:body></w:document>)"}});
  ASSERT_EQ(::mkfifo(dir.file("pipe.xlsx").c_str(), 0600), 0);
  const std::vector<std::string> before = Listing(dir.str());
  for (const char* name : {"report.xlsx", "pipe.xlsx"}) {
    SCOPED_TRACE(name);
    const std::string src = dir.file(name);
    RunState run = MakeRun({src}, src);
    Recorder rec;
    const auto start = std::chrono::steady_clock::now();
    try {
      SplitWorkbooks(run, WorkbookSplitOptions{}, CommonOptions{}, rec);
      ADD_FAILURE() << "split without complaint";
    } catch (const RunError& e) {
      EXPECT_EQ(e.file(), src);
      EXPECT_NE(std::string(e.what()).find("“" + src + "”"), std::string::npos) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(Listing(dir.str()), before);
  }
}

// What a run reports when its output disk is full, and what it leaves there.
struct FullDiskOutcome {
  std::string skipped;  // why the case could not be set up, or ""
  std::string error;    // what the run threw
  std::vector<std::string> left;
};

// Runs `work` in a child process writing into `folder`, made full: either a
// file-size limit of `limit` bytes (SIGXFSZ ignored, so writes past it fail)
// or, when `tmpfs`, a file system of `limit` bytes mounted there for the
// child alone.
FullDiskOutcome RunOnFullDisk(const std::string& folder, bool tmpfs, std::size_t limit,
                              const std::function<void()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return {"no pipe", {}, {}};
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    std::string report;
    auto say = [&](const std::string& text) {
      ::write(fds[1], text.data(), text.size());
      ::_exit(0);
    };
    if (tmpfs) {
      if (::unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) != 0)
        say("S cannot make a mount namespace");
      if (uid != 0) {
        test::WriteFile("/proc/self/setgroups", "deny");
        test::WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        test::WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
      }
      const std::string size = "size=" + std::to_string(limit);
      if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("tmpfs", folder.c_str(), "tmpfs", 0, size.c_str()) != 0)
        say("S cannot mount a small file system");
    } else {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit small{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &small);
    }
    try {
      work();
      report = "E";
    } catch (const RunError& e) {
      report = std::string("E") + e.what();
    }
    for (const std::string& name : Listing(folder)) report += "\n" + name;
    say(report);
  }
  ::close(fds[1]);
  std::string text;
  char buf[4096];
  ssize_t n = 0;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  FullDiskOutcome out;
  if (text.empty()) return {"the child died", {}, {}};
  if (text[0] == 'S') return {text.substr(2), {}, {}};
  std::istringstream lines(text.substr(1));
  std::getline(lines, out.error);
  for (std::string line; std::getline(lines, line);) out.left.push_back(line);
  return out;
}

// A full disk reads as plain words naming the output, and nothing is left
// under the output's name or a temporary one.
TEST(WorkbookOutputs, AFullDiskFailsNamingTheOutputAndLeavesNothing) {
  test::TempDir dir;
  const std::string src = dir.file("big.xlsx");
  MakeBook(src, {{"S", Table(20000)}});
  fs::create_directories(dir.file("out"));
  struct Case {
    const char* what;
    bool tmpfs, split;
    const char* cause;
    std::size_t limit;  // below the size of what the run writes
  };
  const Case cases[] = {
      {"merge, file-size limit", false, false, "文件太大", 256 * 1024},
      {"split, file-size limit", false, true, "文件太大", 32 * 1024},
      {"merge, small disk", true, false, "磁盘空间不足", 256 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = c.split ? dir.str() : dir.file("out");
    const std::string output = c.split ? dir.file("big_1.xlsx") : dir.file("out/m.xlsx");
    const FullDiskOutcome outcome = RunOnFullDisk(folder, c.tmpfs, c.limit, [&] {
      RunState run = MakeRun({src}, c.split ? src : dir.file("out/m"));
      Recorder rec;
      if (c.split)
        SplitWorkbooks(run, WorkbookSplitOptions{}, CommonOptions{}, rec);
      else
        MergeWorkbooks(run, WorkbookMergeOptions{}, CommonOptions{}, rec);
    });
    if (!outcome.skipped.empty()) {
      std::cout << "skipped (" << c.what << "): " << outcome.skipped << "\n";
      continue;
    }
    EXPECT_NE(outcome.error.find("“" + output + "”"), std::string::npos) << outcome.error;
    EXPECT_NE(outcome.error.find(c.cause), std::string::npos) << outcome.error;
    const std::vector<std::string> left =
        c.split ? std::vector<std::string>{"big.xlsx", "out"} : std::vector<std::string>{};
    EXPECT_EQ(outcome.left, left);
  }
}

// ------------------------------------------------------- real workbooks

// Non-blank cells of every sheet as "sheet|row|col" -> text, rows moved by `rowShift`.
std::map<std::string, std::string> NonBlank(const xl::Workbook& book, long rowShift = 0) {
  std::map<std::string, std::string> out;
  for (const auto& sheet : book.sheets)
    sheet->ForEachRow(1, xl::kMaxRows, [&](const xl::Row& row) {
      for (const xl::Cell& c : row.cells) {
        if (IsCellBlank(book, c)) continue;
        CellValue v;
        v.kind = c.kind;
        v.number = c.number;
        const xl::Style& st = book.styles[c.style];
        if (book.date1904 && c.kind == xl::CellKind::Number &&
            xl::IsDateFormat(st.numFmtId, st.numFmt))
          v.number += xl::kDate1904Offset;  // compared as days of the 1900 system
        if (c.kind == xl::CellKind::Text || c.kind == xl::CellKind::Error)
          v.text = book.Text(c.text);
        out[TrimText(sheet->name) + "|" + std::to_string(row.index + rowShift) + "|" +
            std::to_string(c.col)] = v.Text();
      }
    });
  return out;
}

std::size_t CountNonBlank(const std::string& path) {
  return NonBlank(*xl::ReadXlsx(path)).size();
}

TEST(WorkbookFixtures, EveryNonBlankCellOfEveryRealWorkbookReachesMergeAndSplit) {
  const std::string folder = std::string(PW_FIXTURES_DIR) + "/xlsx";
  if (!fs::is_directory(folder)) GTEST_SKIP() << "no fixtures at " << folder;
  test::TempDir dir;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".xlsx") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::string src = dir.file(entry.path().filename().string());
    fs::copy_file(entry.path(), src);
    const auto book = xl::ReadXlsx(src);
    Recorder rec;

    // Merge with titles kept, by sheet name: each sheet lands one row down in its namesake.
    WorkbookMergeOptions keep;
    keep.headers = WorkbookMergeOptions::Headers::Keep;
    RunState run = MakeRun({src}, dir.file("merged"));
    MergeWorkbooks(run, keep, CommonOptions{}, rec);
    const auto merged = NonBlank(*xl::ReadXlsx(dir.file("merged.xlsx")));
    for (const auto& [key, value] : NonBlank(*book, 1)) {
      auto it = merged.find(key);
      ASSERT_NE(it, merged.end()) << "lost " << key << " = " << value;
      EXPECT_EQ(it->second, value) << key;
    }

    // One file per sheet: every cell where it was.
    WorkbookSplitOptions perSheet;
    perSheet.way = WorkbookSplitOptions::Way::PerSheet;
    RunState run2 = MakeRun({src}, src);
    SplitWorkbooks(run2, perSheet, CommonOptions{}, rec);
    std::size_t perSheetCells = 0;
    for (const auto& out : fs::directory_iterator(dir.str()))
      if (out.path().filename().string().rfind(entry.path().stem().string() + "_", 0) == 0) {
        perSheetCells += CountNonBlank(out.path().string());
        fs::remove(out.path());
      }
    EXPECT_EQ(perSheetCells, NonBlank(*book).size());

    // Even split without titles: the slices together hold every cell below each header.
    WorkbookSplitOptions even;
    even.partsText = "3";
    even.repeatTitle = false;
    RunState run3 = MakeRun({src}, src);
    SplitWorkbooks(run3, even, CommonOptions{}, rec);
    std::size_t sliced = 0;
    for (int k = 1; k <= 3; ++k) {
      const std::string out = ChangeExtension(src, "_" + std::to_string(k) + ".xlsx");
      sliced += CountNonBlank(out);
      fs::remove(out);
    }
    std::size_t below = 0;
    SheetServer server;
    ServerWorkbook& opened = server.Open(src);
    for (int i = 1; i <= opened.Count(); ++i) {
      ServerSheet& sheet = opened.Worksheets(i);
      if (IsSheetBlank(sheet)) continue;
      ScanState scan;
      DetectHeaderRow(sheet, 5, scan);
      for (const auto& [key, value] : NonBlank(opened.Model()))
        if (key.rfind(TrimText(sheet.Name()) + "|", 0) == 0 &&
            std::stoul(key.substr(TrimText(sheet.Name()).size() + 1)) > scan.ScanRow)
          ++below;
    }
    EXPECT_EQ(sliced, below);
    fs::remove(src);
    fs::remove(dir.file("merged.xlsx"));
  }
}

}  // namespace
}  // namespace pw
