#pragma once
// The spreadsheet server the operations drive: workbooks, sheets, ranges,
// copy and paste, in-process over the in-memory model. Indexes count from 1.
// Member names follow the application's object model.

#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "platform/run_errors.h"
#include "platform/spreadsheet/workbook.h"

namespace pw {

// Turns legacy .xls workbooks into .xlsx and back; the office server provides it.
class XlsConverter {
 public:
  virtual ~XlsConverter() = default;
  // The .xls workbooks a run will open, in the order it opens them, and
  // whether it will save an .xls: the converter may start its work on them
  // before they are asked for. A stop set on `stop` ends that work early.
  virtual void Ahead(const std::vector<std::string>& /*xlsPaths*/, bool /*willSaveXls*/,
                     StopFlagRef /*stop*/) {}
  // Writes the workbook `xlsPath` as .xlsx at `xlsxPath`. Throws RunError naming `xlsPath`.
  virtual void ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) = 0;
  // Writes the workbook `xlsxPath` as an Excel 97 .xls at `xlsPath` (a temporary name that
  // ends in .xls). Throws RunError naming `shownAs`, the file the user will see.
  virtual void FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                        const std::string& shownAs) = 0;
};

// A sheet name the application would refuse: empty, over 31 characters,
// holding one of [ ] : * ? / \, starting or ending with ', or taken (ignoring case).
class SheetNameRefused : public RunError {
 public:
  explicit SheetNameRefused(const std::string& message)
      : RunError(RunError::Kind::Failure, {}, message) {}
};

// The .xls format's limits.
constexpr std::uint32_t kXlsMaxRows = 65536;
constexpr std::uint32_t kXlsMaxCols = 256;

// A block of one source sheet placed in a target sheet `rows` rows and
// `cols` columns away from where it was.
struct CarriedBlock {
  xl::Rect area;
  long rows = 0, cols = 0;
};

struct CellValue {
  xl::CellKind kind = xl::CellKind::Blank;
  double number = 0;
  std::string text;  // text, or the error's code
  // The value as text: numbers in up to 15 significant digits, TRUE/FALSE, "#N/A".
  std::string Text() const;
  // Blank: the text, trimmed of every character of code 32 or less at both ends, is empty.
  bool IsBlank() const;
};

class SheetServer;
class ServerWorkbook;
class ServerSheet;

class CellRange {
 public:
  void select();
  CellValue Value() const;  // of the top-left cell
  const xl::Rect& Area() const { return area_; }

 private:
  friend class ServerSheet;
  CellRange(ServerSheet& sheet, xl::Rect area, bool wholeSheet)
      : sheet_(&sheet), area_(area), whole_(wholeSheet) {}
  ServerSheet* sheet_;
  xl::Rect area_;
  bool whole_;
};

class ServerSheet {
 public:
  void Activate();
  std::string Name() const { return model_->name; }
  void Name(const std::string& name);           // throws SheetNameRefused
  void Delete();                                // throws RunError for the workbook's last sheet
  CellRange Range(const std::string& address);  // "A1", "A1:C9"; throws RunError when invalid
  CellRange Cells(std::uint32_t row, std::uint32_t col);
  CellRange Cells();  // every cell of the sheet
  // Pastes the copied block with its top-left corner at this sheet's selected cell.
  void paste();
  // The same in slices of about `sliceRows` rows of the block, calling
  // `afterSlice` after each, so that what a slice placed can be written out
  // before the next comes. A slice never cuts a merged range, and formulas
  // keep or lose their references as in one paste of the whole block.
  void paste(std::uint32_t sliceRows, const std::function<void()>& afterSlice);

  xl::Sheet& Model() { return *model_; }
  ServerWorkbook& Workbook() { return *book_; }

 private:
  friend class ServerWorkbook;
  friend class CellRange;
  ServerSheet(ServerWorkbook& book, xl::Sheet& model) : book_(&book), model_(&model) {}
  ServerWorkbook* book_;
  xl::Sheet* model_;
  xl::Rect selected_;  // A1 until something is selected
};

class ServerWorkbook {
 public:
  void Activate();
  int Count() const { return static_cast<int>(sheets_.size()); }  // Worksheets.Count
  ServerSheet& Worksheets(int index);  // throws RunError when out of range
  ServerSheet& add();                  // Worksheets.add: a new last sheet, active
  ServerSheet& ActiveSheet();
  // Writes the workbook at `FileName`, which is replaced only by a whole
  // workbook; .xls through the converter.
  void SaveAs(const std::string& FileName);
  // Writes the workbook to `out`'s temporary file, in the format its final
  // name asks for; the caller commits it.
  void SaveAs(PendingOutput& out);
  void Close();

  const std::string& Path() const { return path_; }
  xl::Workbook& Model() { return *model_; }
  SheetServer& Server() { return *server_; }

 private:
  friend class SheetServer;
  friend class ServerSheet;
  ServerWorkbook(SheetServer& server, std::unique_ptr<xl::Workbook> model, std::string path);
  void SheetDeleted(ServerSheet& sheet);
  void MakeActive(ServerSheet& sheet);

  SheetServer* server_;
  std::unique_ptr<xl::Workbook> model_;
  std::string path_;
  std::vector<std::unique_ptr<ServerSheet>> sheets_;
  int active_ = 0;
};

class SheetServer {
 public:
  explicit SheetServer(XlsConverter* xls = nullptr) : xls_(xls) {}
  SheetServer(const SheetServer&) = delete;
  SheetServer& operator=(const SheetServer&) = delete;

  // Workbooks
  ServerWorkbook& Add();  // a new workbook of one sheet, "Sheet1"; it becomes active
  ServerWorkbook& Open(const std::string& path);  // .xlsx, or .xls through the converter
  // `path` as `model`, what xl::ReadXlsx read of it (on another thread, say).
  ServerWorkbook& Open(const std::string& path, std::unique_ptr<xl::Workbook> model);
  void close();  // closes every workbook
  int Count() const { return static_cast<int>(books_.size()); }
  ServerWorkbook& Workbooks(int index);  // throws RunError when out of range

  ServerWorkbook& ActiveWorkbook();
  // The active sheet of the active workbook.
  CellValue Cells(std::uint32_t row, std::uint32_t col);
  // Selection.Copy: the range selected last becomes the block that paste places.
  void Copy();
  void quit() { close(); }

 private:
  friend class ServerWorkbook;
  friend class ServerSheet;
  friend class CellRange;
  void Closed(ServerWorkbook& book);
  void Forget(const xl::Sheet& sheet);
  void PasteInto(ServerSheet& target, std::uint32_t row, std::uint32_t col,
                 std::uint32_t sliceRows = 0, const std::function<void()>& afterSlice = {});

  XlsConverter* xls_;
  std::vector<std::unique_ptr<ServerWorkbook>> books_;
  ServerWorkbook* active_ = nullptr;
  struct Block {
    ServerSheet* sheet = nullptr;
    xl::Rect area;
    bool whole = false;
  };
  Block selection_, clipboard_;
  // What each paste carried, by (source sheet, target sheet).
  std::map<std::pair<const xl::Sheet*, const xl::Sheet*>, std::vector<CarriedBlock>> carried_;
};

// The last row of the slice of `sheet` that starts at `first`: `rows` rows
// on, or further down to the end of a merged range it would cut; never past
// `last`.
std::uint32_t SliceEnd(const xl::Sheet& sheet, std::uint32_t first, std::uint32_t rows,
                       std::uint32_t last);

// Removes the conversion folders of programs that ended without removing
// them (killed during a run); each new conversion does it first.
void SweepStaleConversionFolders();

// The names of the sheets of `path` that hold a non-blank cell, in order:
// what the sheet picker offers. Throws RunError naming `path`.
std::vector<std::string> SheetsHoldingData(const std::string& path, XlsConverter* xls = nullptr);

// Copies `area` of `from` to `to` with its top-left corner at (row, col), as
// the application's paste does: values, styles, merges inside the area, and
// formulas with their relative references moved. `wholeSheet` also copies
// column widths, row heights and frozen panes. Dates keep their meaning
// between the 1900 and 1904 systems.
// With `carried` (every block of `from` placed in `to` so far, this one
// included), a formula stays a formula only when every cell it reads came
// along to where it points; any other formula (reading another sheet, a
// defined name, a table, another workbook, or cells left behind) becomes its
// last computed value, in its own number format.
void PasteBlock(const xl::Workbook& fromBook, const xl::Sheet& from, const xl::Rect& area,
                bool wholeSheet, xl::Workbook& toBook, xl::Sheet& to, std::uint32_t row,
                std::uint32_t col, const std::vector<CarriedBlock>* carried = nullptr);

}  // namespace pw
