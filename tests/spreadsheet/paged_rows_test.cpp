// Sheets too long to hold: rows and texts read onto disk in blocks, and the
// split and merge that go through them a slice at a time.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "ops/spreadsheet/workbook_ops.h"
#include "platform/spreadsheet/server.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "tests/spreadsheet/run_support.h"
#include "tests/support/tempdir.h"
#include "tests/support/zip_parts.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 5000;  // data rows: several blocks of rows and of texts
// A merged range across the edge of the first block of rows and of the
// first slice a split copies.
const xl::Rect kMerge{1020, 3, 1030, 3};

// A workbook of one sheet "长表": a header row, then kRows rows of a shared
// text, an inline text, a number and a formula reading the row below, with
// a row height and a hidden row far down. Its <dimension> claims two rows.
// `lateCell`: after the last row, a cell naming row 7 (out of order).
void MakeLongBook(const std::string& path, bool lateCell) {
  std::string strings, sheet;
  strings = R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)";
  sheet =
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><dimension ref="A1:B2"/><sheetData>)";
  sheet += R"(<row r="1"><c r="A1" t="inlineStr"><is><t>名称</t></is></c>)"
           R"(<c r="B1" t="inlineStr"><is><t>代码</t></is></c>)"
           R"(<c r="C1" t="inlineStr"><is><t>数</t></is></c>)"
           R"(<c r="D1" t="inlineStr"><is><t>公式</t></is></c></row>)";
  for (int i = 1; i <= kRows; ++i) {
    const std::string r = std::to_string(i + 1);
    std::string attrs;
    if (i + 1 == 1500) attrs = R"( ht="30" customHeight="1")";
    if (i + 1 == 3000) attrs = R"( hidden="1")";
    strings += "<si><t>共享 " + std::to_string(i) + "</t></si>";
    sheet += "<row r=\"" + r + "\"" + attrs + "><c r=\"A" + r + "\" t=\"s\"><v>" +
             std::to_string(i - 1) + "</v></c><c r=\"B" + r + "\" t=\"inlineStr\"><is><t>行 " + r +
             "</t></is></c><c r=\"C" + r + "\"><v>" + std::to_string(i * 3) + "</v></c><c r=\"D" +
             r + "\"><f>C" + std::to_string(i + 2) + "*2</f><v>" + std::to_string((i + 1) * 6) +
             "</v></c></row>";
  }
  if (lateCell)
    sheet += "<row r=\"" + std::to_string(kRows + 2) + "\"><c r=\"E7\"><v>42</v></c></row>";
  sheet += "</sheetData><mergeCells count=\"1\"><mergeCell ref=\"C1020:C1030\"/></mergeCells>";
  sheet += "</worksheet>";
  strings += "</sst>";
  test::WriteZip(
      path,
      {{"[Content_Types].xml", "<Types/>"},
       {"_rels/.rels",
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
       {"xl/workbook.xml",
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
        R"(<sheets><sheet name="长表" sheetId="1" r:id="rId2"/></sheets></workbook>)"},
       {"xl/_rels/workbook.xml.rels",
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/s.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="strings.xml"/></Relationships>)"},
       {"xl/worksheets/s.xml", sheet},
       {"xl/strings.xml", strings}});
}

// Each row of a sheet as text: "height|hidden|col:kind:value:formula;...";
// without `layout`, only its cells.
std::map<std::uint32_t, std::string> RowLines(const xl::Workbook& book, const xl::Sheet& sheet,
                                              bool layout = true) {
  std::map<std::uint32_t, std::string> lines;
  sheet.ForEachRow(1, xl::kMaxRows, [&](const xl::Row& row) {
    std::string line =
        layout ? std::to_string(row.height) + "|" + (row.hidden ? "h" : "") + "|" : "";
    for (const xl::Cell& c : row.cells) {
      line += std::to_string(c.col) + ":" + std::to_string(static_cast<int>(c.kind)) + ":";
      line += c.kind == xl::CellKind::Text ? book.Text(c.text) : std::to_string(c.number);
      line += ":" + (c.formula != 0 ? book.Formula(c) : std::string()) + ";";
    }
    lines[row.index] = line;
  });
  return lines;
}

// Read onto disk, a sheet answers every question as when read into memory:
// its rows, heights, cells, extent, and single lookups, whether its cells
// come in order or a late one names a row already written out.
TEST(PagedRows, ALongSheetReadOntoDiskReadsBackAsInMemory) {
  test::TempDir dir;
  for (const bool late : {false, true}) {
    SCOPED_TRACE(late ? "a late cell" : "in order");
    const std::string path = dir.file(late ? "late.xlsx" : "long.xlsx");
    MakeLongBook(path, late);
    const auto whole = xl::ReadXlsx(path);
    const auto paged = xl::ReadXlsxPaged(path);
    const xl::Sheet& w = *whole->sheets.at(0);
    const xl::Sheet& p = *paged->sheets.at(0);
    EXPECT_EQ(p.pages != nullptr, !late) << "rows kept on disk";
    EXPECT_EQ(RowLines(*paged, p), RowLines(*whole, w));
    EXPECT_EQ(p.LastRow(), w.LastRow());
    EXPECT_EQ(p.LastColumn(), w.LastColumn());
    EXPECT_EQ(p.CellCount(), w.CellCount());
    EXPECT_EQ(p.merges, std::vector<xl::Rect>{kMerge});
    for (const std::uint32_t r : {1u, 1025u, 1500u, 3000u, 5001u}) {
      const xl::Row* row = p.FindRow(r);
      ASSERT_NE(row, nullptr) << r;
      EXPECT_EQ(row->height, w.FindRow(r)->height) << r;
      EXPECT_EQ(row->hidden, w.FindRow(r)->hidden) << r;
      const xl::Cell* a = p.Find(r, 1);
      ASSERT_NE(a, nullptr) << r;
      EXPECT_EQ(paged->Text(a->text), whole->Text(w.Find(r, 1)->text)) << r;
    }
    EXPECT_EQ(p.FindRow(kRows + 9), nullptr);
    if (late) {
      ASSERT_NE(p.Find(7, 5), nullptr);
      EXPECT_EQ(p.Find(7, 5)->number, 42);
    }
  }
}

// Split by rows through slices of the sheet: every part holds the header
// and exactly its rows of the source, a merged range across a slice's edge
// arrives whole, a formula reading the next row stays a formula while that
// row came along and becomes its value at a part's last row; the sheet's
// <dimension>, which claims two rows, is not believed.
TEST(PagedRows, SplitByRowsCopiesEveryRowOfALongSheet) {
  test::TempDir dir;
  const std::string src = dir.file("long.xlsx");
  MakeLongBook(src, false);
  const auto source = xl::ReadXlsx(src);
  const auto want = RowLines(*source, *source->sheets[0], false);
  RunState run = test::OneFileRun(src, src);
  WorkbookSplitOptions opt;
  opt.way = WorkbookSplitOptions::Way::Rows;
  opt.rowsText = "2000";
  test::Quiet quiet;
  SplitWorkbooks(run, opt, CommonOptions{}, quiet);
  constexpr int kParts = (kRows + 1999) / 2000;
  for (int k = 1; k <= kParts; ++k) {
    SCOPED_TRACE(k);
    const std::string out = dir.file("long_" + std::to_string(k) + ".xlsx");
    ASSERT_TRUE(fs::exists(out));
    const auto part = xl::ReadXlsx(out);
    const xl::Sheet& s = *part->sheets.at(0);
    EXPECT_EQ(s.name, "长表");
    const auto got = RowLines(*part, s, false);
    const std::uint32_t first = 2 + static_cast<std::uint32_t>(k - 1) * 2000;
    const std::uint32_t last = std::min<std::uint32_t>(first + 1999, kRows + 1);
    ASSERT_EQ(got.size(), last - first + 2);
    EXPECT_EQ(got.at(1), want.at(1));
    for (std::uint32_t r = first; r <= last; ++r) {
      const std::uint32_t at = r - first + 2;
      const xl::Cell* f = s.Find(at, 4);
      ASSERT_NE(f, nullptr) << r;
      if (r == last) {
        EXPECT_EQ(f->formula, 0u) << "the row it reads stayed behind, at " << r;
        EXPECT_EQ(f->number, r * 6.0) << r;
      } else {
        ASSERT_NE(f->formula, 0u) << r;
        EXPECT_EQ(part->Formula(*f), "C" + std::to_string(at + 1) + "*2") << r;
        // Apart from the formula's moved reference, the row is the source's.
        auto line = want.at(r);
        line.replace(line.rfind(":C"), std::string::npos, ":C" + std::to_string(at + 1) + "*2;");
        EXPECT_EQ(got.at(at), line) << r;
      }
    }
    if (k == 1)
      EXPECT_EQ(s.merges, std::vector<xl::Rect>{kMerge});
    else
      EXPECT_TRUE(s.merges.empty());
  }
  EXPECT_TRUE(fs::exists(dir.file("long_" + std::to_string(kParts) + ".xlsx")));
}

// Merging two long sheets read onto disk: the second's rows follow the
// first's, each the same as in its source, texts included.
TEST(PagedRows, MergeOfLongSheetsKeepsEveryRow) {
  test::TempDir dir;
  const std::string a = dir.file("a.xlsx"), b = dir.file("b.xlsx");
  MakeLongBook(a, false);
  fs::copy_file(a, b);
  const auto source = xl::ReadXlsx(a);
  const auto want = RowLines(*source, *source->sheets[0]);
  RunState run;
  run.WorkList = {a, b};
  run.WorkRowIndexes = {0, 1};
  run.OutputBase = dir.file("merged");
  CommonOptions common;
  common.removeFinished = false;
  test::Quiet quiet;
  MergeWorkbooks(run, WorkbookMergeOptions{}, common, quiet);
  const auto merged = xl::ReadXlsx(dir.file("merged.xlsx"));
  const xl::Sheet* found = merged->FindSheet("长表");
  ASSERT_NE(found, nullptr);
  const xl::Sheet& s = *found;
  EXPECT_EQ(s.LastRow(), 1u + 2 * kRows);
  for (const std::uint32_t r : {2u, 1024u, 1025u, 1026u, 4000u, 5001u}) {
    SCOPED_TRACE(r);
    for (const std::uint32_t at : {r, r + kRows}) {
      const xl::Cell* text = s.Find(at, 1);
      const xl::Cell* inl = s.Find(at, 2);
      ASSERT_TRUE(text != nullptr && inl != nullptr) << at;
      EXPECT_EQ(merged->Text(text->text), "共享 " + std::to_string(r - 1)) << at;
      EXPECT_EQ(merged->Text(inl->text), "行 " + std::to_string(r)) << at;
      EXPECT_EQ(s.Find(at, 3)->number, (r - 1) * 3.0) << at;
    }
  }
  EXPECT_NE(want.at(2).find("共享 1:"), std::string::npos);
}

}  // namespace
}  // namespace pw
