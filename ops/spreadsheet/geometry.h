#pragma once
// The shape of a sheet's data: title-and-header block, width, used rows.
// Every non-blank cell counts, wherever it lies.

#include <cstdint>
#include <string>

#include "platform/spreadsheet/server.h"

namespace pw {

// What the last scan found (see DetectHeaderRow and FindUsedRows).
struct ScanState {
  std::uint32_t ScanRow = 1;
  std::uint32_t ScanWidth = 1;
  std::uint32_t MaxUsedRows = 1;
};

// "A" for 1 ... "XFD" for 16384; empty outside that span.
std::string ColumnLetters(long column);

// Whether a cell is blank: its text, trimmed of characters of code 32 or less,
// is empty. A formula not computed yet is not blank.
bool IsCellBlank(const xl::Workbook& book, const xl::Cell& cell);

// True when the sheet holds no non-blank cell at all.
bool IsSheetBlank(ServerSheet& sheet);

// How many columns the header scan looks at.
constexpr std::uint32_t kHeaderScanColumns = 100;

// The header row: among the first `rows` rows, the one with the longest
// unbroken run of filled cells from column 1 (strictly longer wins; a run must
// be at least 2). Sets ScanRow to it and ScanWidth to its run; the caller
// presets both to 1. A row whose first kHeaderScanColumns cells are all
// filled never wins.
void DetectHeaderRow(ServerSheet& sheet, std::uint32_t rows, ScanState& scan);

// ScanRow := the last row holding a non-blank cell (at least 1). A merged
// range whose first cell is non-blank counts down to its last row.
void FindUsedRows(ServerSheet& sheet, ScanState& scan);

// The last column holding a non-blank cell (0 on a blank sheet); a merged
// range whose first cell is non-blank counts to its last column.
std::uint32_t UsedColumns(ServerSheet& sheet);

// Writes the rows of a sheet being built that nothing changes any more out
// ahead of its save (see xl::SpillRows): those below its first `keep` rows
// down to its last used row; later rows only ever go below that. Does
// nothing while they are few. The geometry above still counts them.
// Throws RunError naming `output`.
void SpillFinishedRows(ServerSheet& sheet, std::uint32_t keep, const std::string& output);

}  // namespace pw
