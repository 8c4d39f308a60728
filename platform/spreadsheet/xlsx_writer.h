#pragma once
// Writes workbooks as .xlsx, in one pass: each sheet's rows are turned into
// XML and compressed into the package as they come, so a sheet never has to
// be held whole on its way out.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/spreadsheet/workbook.h"

namespace pw::xl {

// Writes `book` to `path` (replaced only once the new file is complete).
// Dates of a 1904 workbook are written in the 1900 system with the same
// meaning. Throws pw::RunError (Failure) naming `path`.
void WriteXlsx(const Workbook& book, const std::string& path);

// Writes `book` to `file` as it is: the caller's own temporary file, which
// it renames into place once whole and removes after a failure. Messages
// name `path`, the file the user will see.
void WriteXlsxInto(const Workbook& book, const std::string& file, const std::string& path);

// A workbook written sheet by sheet and row by row. Cells name their styles,
// texts and formulas in `book`, which may keep growing while rows are
// written; its styles are written last. Sheets come one at a time:
//   BeginSheet, Row..., EndSheet, ... Finish.
// Every call throws pw::RunError (Failure) naming `path`; `file` is then
// left for the caller to remove.
class XlsxStreamWriter {
 public:
  XlsxStreamWriter(const Workbook& book, const std::string& file, const std::string& path);
  ~XlsxStreamWriter();
  XlsxStreamWriter(const XlsxStreamWriter&) = delete;
  XlsxStreamWriter& operator=(const XlsxStreamWriter&) = delete;

  // `layout` gives the name, state, columns, frozen panes and default row
  // height; its rows and merges are not looked at. `used`, when known, is
  // the area that holds cells.
  void BeginSheet(const Sheet& layout, const Rect* used = nullptr);
  // Rows come in ascending order.
  void WriteRow(const Row& row);
  // The rows `sheet` wrote out ahead (see SpillRows), in their place: after
  // the rows before them and before those after them.
  void WriteSpilled(const Sheet& sheet);
  void EndSheet(const std::vector<Rect>& merges);
  // Writes the styles and the package's index and closes the file.
  void Finish();

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Writes rows `from` to `to` of `sheet` out ahead of its save, deflated into
// a nameless temporary file beside `path`, and drops them from the sheet;
// the save puts them in their place. Memory then holds only the rows not
// written yet. Rows come after those written out before: any the sheet
// still holds between are written out too. Throws pw::RunError (Failure)
// naming `path`.
void SpillRows(const Workbook& book, Sheet& sheet, std::uint32_t from, std::uint32_t to,
               const std::string& path);

}  // namespace pw::xl
