// Error values in .xls outputs, written through the office server and read
// back by it: every cell shows the error its source showed.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "batch/contract.h"
#include "ops/spreadsheet/workbook_ops.h"
#include "platform/spreadsheet/xls_office.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "tests/spreadsheet/run_support.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::OneFileRun;
using test::Quiet;

// The errors an .xls cell can hold whose meaning LibreOffice keeps when it
// reads the file back.
const std::vector<std::string> kErrors = {"#NUM!", "#REF!", "#DIV/0!", "#VALUE!", "#N/A"};

// Every error cell of every sheet of `path` (an .xls, read through the
// office server), by its first-column label and column: "label/B" -> "#NUM!".
std::map<std::string, std::string> ErrorsOf(OfficeXlsConverter& office, const std::string& path) {
  office.ToXlsx(path, path + "x");
  const auto book = xl::ReadXlsx(path + "x");
  std::map<std::string, std::string> found;
  for (const auto& sheet : book->sheets)
    for (const xl::Row& row : sheet->rows) {
      const xl::Cell* label = sheet->Find(row.index, 1);
      if (label == nullptr || label->kind != xl::CellKind::Text) continue;
      for (const xl::Cell& c : row.cells) {
        const std::string at = book->Text(label->text) + "/" + static_cast<char>('A' + c.col - 1);
        found[at] = c.kind == xl::CellKind::Error ? book->Text(c.text) : "not an error";
      }
      found.erase(book->Text(label->text) + "/A");
    }
  return found;
}

// Column B: what a formula reading another sheet left (its value), column C:
// an error typed in as a value.
TEST(XlsOutputs, EveryErrorValueShowsTheSameErrorAfterMergeAndSplit) {
  test::TempDir dir;
  OfficeXlsConverter office;
  std::map<std::string, std::string> expected;
  {
    SheetServer server(&office);
    ServerWorkbook& book = server.Add();
    xl::Workbook& model = book.Model();
    xl::Sheet& s = book.Worksheets(1).Model();
    xl::Sheet& other = book.add().Model();
    other.name = "Other";
    const auto put = [&](xl::Sheet& sheet, std::uint32_t r, std::uint32_t c, xl::CellKind kind,
                         const std::string& text) -> xl::Cell& {
      xl::Cell& cell = sheet.Put(r, c);
      cell.kind = kind;
      cell.text = model.AddText(text);
      return cell;
    };
    put(s, 1, 1, xl::CellKind::Text, "错误");
    for (std::uint32_t i = 0; i < kErrors.size(); ++i) {
      const std::string label = "e" + std::to_string(i);
      const std::uint32_t r = i + 2;
      put(s, r, 1, xl::CellKind::Text, label);
      put(other, r, 1, xl::CellKind::Error, kErrors[i]);
      put(s, r, 2, xl::CellKind::Error, kErrors[i]).formula =
          model.AddFormula("Other!A" + std::to_string(r));
      put(s, r, 3, xl::CellKind::Error, kErrors[i]);
      expected[label + "/B"] = expected[label + "/C"] = kErrors[i];
    }
    book.SaveAs(dir.file("src.xls"));
  }
  ASSERT_EQ(ErrorsOf(office, dir.file("src.xls")), expected) << "the source as it was saved";

  Quiet quiet;
  RunState merge = OneFileRun(dir.file("src.xls"), dir.file("m.xls"));
  WorkbookMergeOptions keep;
  keep.headers = WorkbookMergeOptions::Headers::Keep;
  MergeWorkbooks(merge, keep, CommonOptions{}, quiet, &office);
  EXPECT_EQ(ErrorsOf(office, dir.file("m.xls")), expected) << "merged";

  RunState split = OneFileRun(dir.file("src.xls"), dir.file("src.xls"));
  WorkbookSplitOptions byRows;
  byRows.way = WorkbookSplitOptions::Way::Rows;
  byRows.rowsText = "2";
  byRows.singleSheet = true;
  byRows.sheetName = "Sheet1";
  SplitWorkbooks(split, byRows, CommonOptions{}, quiet, &office);
  std::map<std::string, std::string> parts;
  for (int k = 1; k <= 3; ++k) {
    const auto part = ErrorsOf(office, dir.file("src_" + std::to_string(k) + ".xls"));
    parts.insert(part.begin(), part.end());
  }
  EXPECT_EQ(parts, expected) << "split by two rows";
}

}  // namespace
}  // namespace pw
