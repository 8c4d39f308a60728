#include "ops/spreadsheet/geometry.h"

#include <algorithm>

#include "ops/spreadsheet/workbook_ops.h"
#include "platform/spreadsheet/xlsx_writer.h"

namespace pw {

std::string ColumnLetters(long column) {
  if (column < 1 || column > static_cast<long>(xl::kMaxCols)) return {};
  return xl::ColumnName(static_cast<std::uint32_t>(column));
}

bool IsCellBlank(const xl::Workbook& book, const xl::Cell& cell) {
  return xl::IsBlank(book, cell);
}

bool IsSheetBlank(ServerSheet& sheet) {
  if (sheet.Model().spilled.usedRow != 0) return false;
  const xl::Workbook& book = sheet.Workbook().Model();
  bool blank = true;
  sheet.Model().ForEachRow(1, xl::kMaxRows, [&](const xl::Row& row) {
    blank = std::all_of(row.cells.begin(), row.cells.end(),
                        [&](const xl::Cell& c) { return IsCellBlank(book, c); });
    return blank;
  });
  return blank;
}

void DetectHeaderRow(ServerSheet& sheet, std::uint32_t rows, ScanState& scan) {
  const xl::Workbook& book = sheet.Workbook().Model();
  for (std::uint32_t r = 1; r <= rows; ++r) {
    const xl::Row* row = sheet.Model().FindRow(r);
    if (row == nullptr) continue;
    std::uint32_t run = 0;
    for (const xl::Cell& c : row->cells) {
      if (c.col != run + 1 || IsCellBlank(book, c) || run == kHeaderScanColumns) break;
      ++run;
    }
    // A row filled across every column scanned is data, never the header.
    if (run < kHeaderScanColumns && run > scan.ScanWidth) {
      scan.ScanRow = r;
      scan.ScanWidth = run;
    }
  }
}

// A merged cell shows its content across its whole range: the ranges whose
// first cell holds something count as filled to their far corner.
template <class F>
void ForEachFilledMerge(ServerSheet& sheet, F&& f) {
  const xl::Workbook& book = sheet.Workbook().Model();
  for (const xl::Rect& m : sheet.Model().merges) {
    const xl::Cell* first = sheet.Model().Find(m.r1, m.c1);
    if (first != nullptr && !IsCellBlank(book, *first)) f(m);
  }
}

void FindUsedRows(ServerSheet& sheet, ScanState& scan) {
  const xl::Workbook& book = sheet.Workbook().Model();
  scan.ScanRow = 1;
  // From the bottom up: the last rows of a sheet are what decides.
  auto lastFilled = [&](const std::vector<xl::Row>& rows) {
    for (auto it = rows.rbegin(); it != rows.rend(); ++it)
      for (const xl::Cell& c : it->cells)
        if (!IsCellBlank(book, c)) return it->index;
    return 0u;
  };
  if (const auto& pages = sheet.Model().pages) {
    std::vector<xl::Row> block;
    for (std::size_t b = pages->Blocks(); b-- > 0 && scan.ScanRow == 1;) {
      pages->Read(b, block);
      scan.ScanRow = std::max(1u, lastFilled(block));
    }
  } else {
    scan.ScanRow = std::max(1u, lastFilled(sheet.Model().rows));
  }
  ForEachFilledMerge(sheet,
                     [&](const xl::Rect& m) { scan.ScanRow = std::max(scan.ScanRow, m.r2); });
  scan.ScanRow = std::max(scan.ScanRow, sheet.Model().spilled.usedRow);
}

std::uint32_t UsedColumns(ServerSheet& sheet) {
  const xl::Workbook& book = sheet.Workbook().Model();
  std::uint32_t last = 0;
  sheet.Model().ForEachRow(1, xl::kMaxRows, [&](const xl::Row& row) {
    for (auto it = row.cells.rbegin(); it != row.cells.rend() && it->col > last; ++it)
      if (!IsCellBlank(book, *it)) {
        last = it->col;
        break;
      }
  });
  ForEachFilledMerge(sheet, [&](const xl::Rect& m) { last = std::max(last, m.c2); });
  return std::max(last, sheet.Model().spilled.usedColumn);
}

void SpillFinishedRows(ServerSheet& sheet, std::uint32_t keep, const std::string& output) {
  constexpr std::uint32_t kFewRows = 1024;  // not worth a temporary file
  xl::Sheet& model = sheet.Model();
  ScanState used;
  FindUsedRows(sheet, used);
  const std::uint32_t from = model.spill ? model.spilled.last + 1 : keep + 1;
  if (used.ScanRow < from || used.ScanRow - from + 1 < kFewRows) return;
  // What the geometry needs of the rows is taken before they go.
  const std::uint32_t columns = UsedColumns(sheet);
  xl::SpillRows(sheet.Workbook().Model(), model, from, used.ScanRow, output);
  model.spilled.usedRow = std::max(model.spilled.usedRow, used.ScanRow);
  model.spilled.usedColumn = std::max(model.spilled.usedColumn, columns);
}

}  // namespace pw
