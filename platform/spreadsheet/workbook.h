#pragma once
// The in-memory workbook: sheets of cells with their styles, private to one
// run. Rows and columns count from 1, as the user sees them.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace pw::xl {

constexpr std::uint32_t kMaxRows = 1048576;
constexpr std::uint32_t kMaxCols = 16384;

// 0 is "automatic / not set"; an RGB colour is stored as kRgb | 0xRRGGBB.
using Color = std::uint32_t;
constexpr Color kRgb = 0x1000000;
constexpr Color Rgb(std::uint32_t rgb) {
  return kRgb | (rgb & 0xFFFFFF);
}
constexpr std::uint32_t RgbOf(Color c) {
  return c & 0xFFFFFF;
}

struct Font {
  std::string name = "Calibri";
  double size = 11;
  bool bold = false, italic = false, strike = false;
  std::uint8_t underline = 0;  // 0 none, 1 single, 2 double, 3 singleAccounting, 4 doubleAccounting
  std::uint8_t vertAlign = 0;  // 0 baseline, 1 superscript, 2 subscript
  std::uint8_t family = 0;
  Color color = 0;
  bool operator==(const Font&) const = default;
};

// Pattern numbers in file order: 0 none, 1 solid, 2 mediumGray ... 17 gray125, 18 gray0625.
struct Fill {
  std::uint8_t pattern = 0;
  Color fg = 0, bg = 0;
  bool operator==(const Fill&) const = default;
};

// Line styles in file order: 0 none, 1 thin, 2 medium ... 13 slantDashDot.
struct BorderLine {
  std::uint8_t style = 0;
  Color color = 0;
  bool operator==(const BorderLine&) const = default;
};

struct Border {
  BorderLine left, right, top, bottom, diagonal;
  bool diagonalUp = false, diagonalDown = false;
  bool operator==(const Border&) const = default;
};

struct Alignment {
  // 0 general, 1 left, 2 center, 3 right, 4 fill, 5 justify, 6 centerContinuous, 7 distributed
  std::uint8_t horizontal = 0;
  // 0 bottom (default), 1 top, 2 center, 3 justify, 4 distributed
  std::uint8_t vertical = 0;
  bool wrap = false, shrink = false;
  std::uint8_t indent = 0;
  std::int16_t rotation = 0;  // 0..180, or 255 for stacked text
  bool operator==(const Alignment&) const = default;
};

struct Style {
  // Built-in format number below 164; otherwise kCustomFormat and `numFmt` holds the code.
  std::uint16_t numFmtId = 0;
  std::string numFmt = "General";
  Font font;
  Fill fill;
  Border border;
  Alignment align;
  bool locked = true, hidden = false;
  bool operator==(const Style&) const = default;
};
constexpr std::uint16_t kCustomFormat = 0xFFFF;

struct RichRun {
  bool hasFont = false;  // a run without its own font takes the cell's
  Font font;
  std::string text;
  bool operator==(const RichRun&) const = default;
};

enum class CellKind : std::uint8_t { Blank, Number, Text, Bool, Error };

// One cell, kept small: millions of them fit. A formula cell keeps its cached
// result in the same fields as a constant.
struct Cell {
  std::uint32_t col = 0;
  std::uint32_t style = 0;  // index into Workbook::styles
  union {
    double number;
    std::uint32_t text;  // string id for Text and Error
  };
  std::uint32_t formula = 0;  // 1 + index into Workbook::formulas, 0 when none
  CellKind kind = CellKind::Blank;
  Cell() : number(0) {}
};

struct Row {
  std::uint32_t index = 0;
  float height = 0;  // points; 0 means the sheet's default
  bool hidden = false;
  std::vector<Cell> cells;  // ascending by column
};

struct Rect {
  std::uint32_t r1 = 1, c1 = 1, r2 = 1, c2 = 1;
  bool Contains(std::uint32_t r, std::uint32_t c) const {
    return r >= r1 && r <= r2 && c >= c1 && c <= c2;
  }
  bool Intersects(const Rect& o) const {
    return r1 <= o.r2 && o.r1 <= r2 && c1 <= o.c2 && o.c1 <= c2;
  }
  bool operator==(const Rect&) const = default;
};

struct ColumnInfo {
  double width = 0;  // in characters, as stored in the file; 0 means default
  bool hidden = false;
  bool operator==(const ColumnInfo&) const = default;
};

enum class SheetState : std::uint8_t { Visible, Hidden, VeryHidden };

class SheetSpill;  // rows written out ahead of the save (xlsx_writer.h)

// A sheet's rows kept in a nameless scratch file instead of memory, in
// blocks of consecutive rows, each read back whole when asked for. Memory
// holds one block being filled, the index, and the last blocks read.
class RowPages {
 public:
  // Takes `fd`, a nameless file open for reading and writing; failures
  // name `shownAs`, the workbook the rows come from.
  RowPages(int fd, std::string shownAs);
  ~RowPages();
  RowPages(const RowPages&) = delete;
  RowPages& operator=(const RowPages&) = delete;

  static constexpr std::size_t kBlockRows = 1024;

  // Rows come in ascending order. Answers false when the file could not be
  // written (errno tells why).
  bool Add(Row&& row);
  bool Finish();  // writes the block being filled
  // The rows added but not written (after a failure), taken away.
  std::vector<Row> TakeUnwritten() { return std::move(filling_); }

  std::size_t Blocks() const { return index_.size(); }
  std::uint32_t FirstIndex(std::size_t block) const { return index_[block].first; }
  std::uint32_t LastIndex(std::size_t block) const { return index_[block].last; }
  // The first block whose last row is `r` or after it; Blocks() when none.
  std::size_t BlockOf(std::uint32_t r) const;
  // Reads a block into `out`. Throws pw::RunError when the file fails.
  void Read(std::size_t block, std::vector<Row>& out) const;
  // The same through a small cache: valid until the next call.
  const std::vector<Row>& Cached(std::size_t block) const { return *Shared(block); }
  // The same, kept for as long as the caller holds it.
  std::shared_ptr<const std::vector<Row>> Shared(std::size_t block) const;

  std::uint32_t lastCellRow = 0, lastColumn = 0;
  std::size_t cells = 0;

 private:
  struct Entry {
    std::uint32_t first, last;
    std::uint64_t offset, size;
  };
  bool Flush();
  int fd_;
  std::string shownAs_;
  std::vector<Entry> index_;
  std::vector<Row> filling_;
  std::string buffer_;
  mutable std::string readBuffer_;  // the block read last, as stored
  std::uint64_t end_ = 0;
  // Most recent last.
  mutable std::vector<std::pair<std::size_t, std::shared_ptr<std::vector<Row>>>> cache_;
};

// What a sheet still knows of the rows it has written out ahead.
struct SpilledRows {
  std::uint32_t first = 0, last = 0;  // the span written out; 0 when none
  std::uint32_t lastCellRow = 0;      // the last of them holding a cell
  std::uint32_t lastColumn = 0;       // the last column holding a cell in them
  std::uint32_t usedRow = 0;          // the last row showing something, merges counted
  std::uint32_t usedColumn = 0;       // the same for columns
  std::size_t cells = 0;
};

class Sheet {
 public:
  std::string name;
  SheetState state = SheetState::Visible;
  std::vector<Row> rows;                        // ascending by index; empty while paged
  std::map<std::uint32_t, ColumnInfo> columns;  // by column number
  std::vector<Rect> merges;
  std::uint32_t freezeRows = 0, freezeCols = 0;  // rows above and columns left of the frozen panes
  double defaultRowHeight = 0;                   // 0: the application's default
  // Rows already written out (see SpillRows): gone from `rows`, in the
  // saved file between the rows before and after them.
  std::shared_ptr<SheetSpill> spill;
  SpilledRows spilled;
  // The rows of a large sheet read from a file, when kept on disk (see
  // RowPages): `rows` is empty then, and every reading below pages them in.
  // Anything that changes the sheet brings them all back first.
  std::shared_ptr<RowPages> pages;

  // Calls f(const Row&) for the rows first..last in order; a row passed
  // stays valid until f returns. When f answers bool, false stops early.
  template <class F>
  void ForEachRow(std::uint32_t first, std::uint32_t last, F&& f) const;
  // The row, or null; a paged row stays valid until the next lookup.
  const Row* FindRow(std::uint32_t r) const;
  Row& GetRow(std::uint32_t r);  // created when missing
  const Cell* Find(std::uint32_t r, std::uint32_t c) const;
  Cell& Put(std::uint32_t r, std::uint32_t c);  // created (blank) when missing
  void Erase(const Rect& area);                 // removes cells and merges inside
  void Unpage();                                // brings paged rows back into `rows`
  std::uint32_t LastRow() const;     // last row holding a cell, 0 when none (spilled rows count)
  std::uint32_t LastColumn() const;  // last column holding a cell, 0 when none (the same)
  std::size_t CellCount() const;
};

template <class F>
void Sheet::ForEachRow(std::uint32_t first, std::uint32_t last, F&& f) const {
  auto visit = [&](const Row& row) {
    if constexpr (std::is_same_v<decltype(f(row)), bool>)
      return f(row);
    else
      return f(row), true;
  };
  if (!pages) {
    auto it = std::lower_bound(rows.begin(), rows.end(), first,
                               [](const Row& row, std::uint32_t v) { return row.index < v; });
    for (; it != rows.end() && it->index <= last; ++it)
      if (!visit(*it)) return;
    return;
  }
  // Through the cache: a run of small reads in one block decodes it once.
  for (std::size_t b = pages->BlockOf(first); b < pages->Blocks(); ++b) {
    if (pages->FirstIndex(b) > last) return;
    const std::shared_ptr<const std::vector<Row>> block = pages->Shared(b);
    auto it = std::lower_bound(block->begin(), block->end(), first,
                               [](const Row& row, std::uint32_t v) { return row.index < v; });
    for (; it != block->end(); ++it) {
      if (it->index > last) return;
      if (!visit(*it)) return;
    }
  }
}

// Texts kept in a nameless scratch file instead of memory, in blocks, each
// read back whole when asked for; the same for texts as RowPages for rows.
class TextPages {
 public:
  // The scratch file, which several TextPages may share.
  struct File {
    File(int file, std::string name) : fd(file), shownAs(std::move(name)) {}
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int fd;
    std::string shownAs;    // the workbook failures name
    std::uint64_t end = 0;  // where the next block goes
  };
  explicit TextPages(std::shared_ptr<File> file) : file_(std::move(file)) {}
  TextPages(const TextPages&) = delete;
  TextPages& operator=(const TextPages&) = delete;

  // Answers the text's number, or false when the file could not be written.
  bool Add(std::string_view text, std::uint32_t& number);
  // Valid until the next call. Throws pw::RunError when the file fails.
  const std::string& Get(std::uint32_t number) const;

 private:
  static constexpr std::size_t kBlockTexts = 1024;
  std::shared_ptr<File> file_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> index_;  // offset, size
  std::vector<std::string> filling_;
  mutable std::vector<std::pair<std::size_t, std::vector<std::string>>> cache_;
};

class Workbook {
 public:
  Workbook();
  Workbook(const Workbook&) = delete;  // texts are looked up by views into their own store
  Workbook& operator=(const Workbook&) = delete;
  Workbook(Workbook&&) = default;
  Workbook& operator=(Workbook&&) = default;

  std::vector<std::unique_ptr<Sheet>> sheets;
  std::vector<Style> styles;  // styles[0] is the default style
  std::vector<std::string> formulas;
  bool date1904 = false;

  const Font& DefaultFont() const { return styles[0].font; }
  void SetDefaultFont(const Font& font);

  std::uint32_t AddStyle(const Style& style);
  std::uint32_t AddText(std::string_view text);
  std::uint32_t AddRichText(std::vector<RichRun> runs);
  std::uint32_t AddFormula(std::string formula);

  // A text kept on disk stays valid until the next text is looked up.
  const std::string& Text(std::uint32_t id) const {
    return id >= kPagedText ? textPages_->Get(id - kPagedText) : strings_[id];
  }
  // From now on, plain texts and formulas go to `fd`, a nameless scratch
  // file (see TextPages), each under a number of its own: memory holds a
  // few blocks of them, however many there are. Where the file takes no
  // more, they go to memory again. Failures name `shownAs`. A formula kept
  // on disk, like a text, stays valid until the next one is looked up.
  void KeepTextsOnDisk(int fd, std::string shownAs);
  const std::vector<RichRun>* Runs(std::uint32_t id) const;
  const std::string& Formula(const Cell& c) const {
    return c.formula >= kPagedText ? formulaPages_->Get(c.formula - kPagedText)
                                   : formulas[c.formula - 1];
  }

  Sheet& AddSheet(std::string name);
  Sheet* FindSheet(std::string_view name);

 private:
  std::deque<std::string> strings_;  // a deque: the views below stay valid
  std::unordered_map<std::string_view, std::uint32_t> textIds_;
  std::unordered_map<std::uint32_t, std::vector<RichRun>> runs_;
  std::unordered_multimap<std::uint64_t, std::uint32_t> styleIds_;  // by StyleHash
  static constexpr std::uint32_t kPagedText = 0x80000000;
  std::shared_ptr<TextPages> textPages_, formulaPages_;
};

// Whether a cell shows nothing: no value, or a text of only characters of
// code 32 or less. A formula not computed yet is not blank.
bool IsBlank(const Workbook& book, const Cell& cell);

// "A" for 1 ... "XFD" for 16384; empty outside that span.
std::string ColumnName(std::uint32_t col);
// "B7" -> row 7, column 2. Answers false for anything that is not one cell reference.
bool ParseCellRef(std::string_view ref, std::uint32_t& row, std::uint32_t& col);
// "A1:C3" or "B2" -> a rectangle.
bool ParseRange(std::string_view ref, Rect& rect);
std::string CellRef(std::uint32_t row, std::uint32_t col);

// Whether a number in this format shows a date or time.
bool IsDateFormat(std::uint16_t numFmtId, std::string_view code);
// The format code of a built-in format number, empty when it has none.
std::string_view BuiltinFormat(std::uint16_t numFmtId);
// The built-in number of a format code, or kCustomFormat.
std::uint16_t BuiltinFormatId(std::string_view code);

// Date serials of the 1904 system are this many days behind those of the 1900 system.
constexpr double kDate1904Offset = 1462;

}  // namespace pw::xl
