#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "batch/contract.h"
#include "ops/spreadsheet/geometry.h"
#include "ops/spreadsheet/save.h"
#include "ops/spreadsheet/workbook_ops.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

constexpr std::uint32_t kHeaderScanRows = 5;
constexpr std::uint32_t kSliceRows = 1024;  // rows copied between two write-outs

bool IsXlsPath(const std::string& path) {
  std::string ext = path.substr(path.size() >= 4 ? path.size() - 4 : 0);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".xls";
}

// The value in column `col` of `row` as a split by value tells values apart:
// as CellRange::Value gives it, as text, trimmed. Valid until the next text
// is looked up, or `number` changes.
std::string_view ValueText(const xl::Workbook& book, const xl::Row& row, std::uint32_t col,
                           std::string& number) {
  auto it = std::lower_bound(row.cells.begin(), row.cells.end(), col,
                             [](const xl::Cell& c, std::uint32_t n) { return c.col < n; });
  std::string_view text;
  if (it == row.cells.end() || it->col != col || it->kind == xl::CellKind::Blank) return text;
  if (it->kind == xl::CellKind::Text || it->kind == xl::CellKind::Error) {
    text = book.Text(it->text);
  } else {
    CellValue v;
    v.kind = it->kind;
    v.number = it->number;
    number = v.Text();
    text = number;
  }
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string StopText() {
  return Translate("ops", "用户强行退出，转换操作未完成！");
}

std::string Extension(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return path.substr(dot);
}

// A sheet name as part of a file name: characters file systems refuse become "_".
std::string SafeFilePart(const std::string& name) {
  std::string out;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    out += u < 32 || u == 0x7F || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos
               ? '_'
               : c;
  }
  if (out.empty() || out == "." || out == "..") out = "_" + out;
  return out;
}

constexpr std::size_t kMaxValues = 1000;
// Workbooks of a split by value written at once: each holds a slice of rows
// and a compressor in memory.
constexpr std::size_t kOpenOutputs = 32;

std::string LowerText(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A value as part of a file name: at most 80 bytes, cut between characters.
std::string ShortText(const std::string& s) {
  if (s.size() <= 80) return s;
  std::size_t end = 80;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

// Output path: the source with "_" + tag before its extension.
std::string OutputPath(const std::string& source, const std::string& tag) {
  return ChangeExtension(source, "_" + tag + Extension(source));
}

void RefuseOverSource(const std::string& output, const RunState& run) {
  for (const std::string& s : run.WorkList)
    if (s == output)
      throw RunError(
          RunError::Kind::Failure, output,
          Arg(Translate("ops",
                        "分割结果“%1”正是待分割的源文件之一，分割会毁掉它。请先移走或改名。"),
              {DisplayText(output)}));
}

struct SheetShape {
  std::uint32_t header = 1, width = 1, used = 1;
};

SheetShape Measure(ServerSheet& sheet) {
  ScanState scan;
  DetectHeaderRow(sheet, kHeaderScanRows, scan);
  SheetShape shape;
  shape.header = scan.ScanRow;
  shape.width = std::max(scan.ScanWidth, UsedColumns(sheet));
  FindUsedRows(sheet, scan);
  shape.used = scan.ScanRow;
  return shape;
}

class Splitter {
 public:
  Splitter(RunState& run, const WorkbookSplitOptions& options, XlsConverter* xls)
      : run_(run), options_(options), server_(xls) {}

  enum class Outcome { Done, Stopped, Skipped };

  // Splits one source. Its parts are written under temporary names and all
  // take their names only once the source is done: a stop or a failure on
  // the way leaves none of them. Stopped: a stop cut it short, and undone()
  // says how many parts were thrown away. Skipped: the source lacks the one
  // sheet asked for, and nothing was written.
  Outcome Split(const std::string& path, std::uint32_t parts, std::uint32_t rows) {
    pending_.clear();
    pendingNotes_.clear();
    undone_ = 0;
    const Outcome outcome = SplitInto(path, parts, rows);
    if (outcome == Outcome::Skipped) return outcome;
    if (outcome == Outcome::Stopped || run_.StopRequested()) {
      undone_ = pending_.size();
      pending_.clear();  // removes the parts written so far
      return Outcome::Stopped;
    }
    CommitParts();
    notes_.insert(notes_.end(), pendingNotes_.begin(), pendingNotes_.end());
    return Outcome::Done;
  }

  const std::vector<std::string>& Notes() const { return notes_; }
  std::size_t undone() const { return undone_; }

 private:
  // Gives every part of the source its name; when one cannot take it, the
  // parts named before it go again, so the source has all its parts or none.
  void CommitParts() {
    std::size_t committed = 0;
    try {
      for (PendingOutput& part : pending_) {
        part.Commit();
        ++committed;
      }
    } catch (...) {
      for (std::size_t i = 0; i < committed; ++i) ::unlink(pending_[i].finalPath().c_str());
      pending_.clear();
      throw;
    }
    pending_.clear();
  }

  Outcome SplitInto(const std::string& path, std::uint32_t parts, std::uint32_t rows) {
    ServerWorkbook& source = server_.Open(path);
    if (options_.singleSheet && options_.way != WorkbookSplitOptions::Way::PerSheet) {
      bool found = false;
      for (int i = 1; i <= source.Count(); ++i)
        found = found || source.Worksheets(i).Name() == SheetFilter();
      if (!found) {
        server_.close();
        return Outcome::Skipped;
      }
    }
    bool done = true;
    switch (options_.way) {
      case WorkbookSplitOptions::Way::PerSheet:
        done = PerSheet(source, path);
        break;
      case WorkbookSplitOptions::Way::Parts:
        done = Even(source, path, parts);
        break;
      case WorkbookSplitOptions::Way::Rows:
        done = ByRows(source, path, rows);
        break;
      case WorkbookSplitOptions::Way::PerValue:
        done = PerValue(source, path);
        break;
    }
    server_.close();
    shapes_.clear();
    return done ? Outcome::Done : Outcome::Stopped;
  }

  std::string SheetFilter() const { return TrimText(options_.sheetName); }

  void Save(ServerWorkbook& book, const std::string& output) {
    RefuseOverSource(output, run_);
    pending_.push_back(SaveWorkbook(book, output));
    const std::string& saved = pending_.back().finalPath();
    if (saved != output) pendingNotes_.push_back(DisplayText(FileNamePart(saved)));
    book.Close();
  }

  bool PerSheet(ServerWorkbook& source, const std::string& path) {
    std::set<std::string> used;
    for (int i = 1; i <= source.Count(); ++i) {
      if (run_.StopRequested()) return false;
      ServerSheet& sheet = source.Worksheets(i);
      sheet.Activate();
      if (IsSheetBlank(sheet)) continue;
      sheet.Cells().select();
      server_.Copy();
      // Two names that clean up alike must not overwrite each other.
      std::string tag = SafeFilePart(sheet.Name());
      for (int n = 2; used.count(tag) != 0; ++n)
        tag = SafeFilePart(sheet.Name()) + "(" + std::to_string(n) + ")";
      used.insert(tag);
      const std::string output = OutputPath(path, tag);
      ServerWorkbook& out = server_.Add();
      KeepTextsOnDisk(out, output);
      out.Activate();
      out.ActiveSheet().Range("A1").select();
      PasteRows(out.ActiveSheet(), output);
      out.ActiveSheet().Range("A1").select();
      Save(out, output);
    }
    return true;
  }

  ServerWorkbook& NewOutput(const std::string& output) {
    ServerWorkbook& out = server_.Add();
    KeepTextsOnDisk(out, output);
    out.Activate();
    out.ActiveSheet().Name("未命名");
    return out;
  }

  // The output's sheet for the next source sheet: its one sheet at first,
  // then one more for each further source sheet.
  ServerSheet& NextSheet(ServerWorkbook& out, bool first) {
    return first ? out.ActiveSheet() : out.add();
  }

  // Copies rows first..last of `sheet` into `target`, a sheet of its own in
  // the output, after its title block when asked, and names it after `sheet`.
  // Pastes the copied block at `target`'s selected cell; in a workbook
  // bound for .xlsx, the rows it placed go to disk as they come.
  void PasteRows(ServerSheet& target, const std::string& output) {
    if (IsXlsPath(output)) {
      target.paste();  // converted whole
      return;
    }
    target.paste(kSliceRows, [&] { SpillFinishedRows(target, 0, output); });
  }

  void CopySlice(ServerSheet& sheet, const SheetShape& shape, ServerSheet& target,
                 std::uint32_t first, std::uint32_t last, const std::string& output) {
    const std::string columns = ColumnLetters(shape.width);
    std::uint32_t below = 0;  // the row the slice goes under; 0: below what the sheet holds
    if (options_.repeatTitle) {
      sheet.Range("A1:" + columns + std::to_string(shape.header)).select();
      server_.Copy();
      target.Range("A1").select();
      target.paste();
      below = shape.header;
    }
    if (first <= last) {
      sheet.Range("A" + std::to_string(first) + ":" + columns + std::to_string(last)).select();
      server_.Copy();
      if (below == 0) {
        ScanState held;
        FindUsedRows(target, held);
        below = held.ScanRow;
      }
      target.Range("A" + std::to_string(below + 1)).select();
      PasteRows(target, output);
    }
    try {
      target.Name(sheet.Name());
    } catch (const SheetNameRefused&) {
      target.Name(sheet.Name() + "(2)");
    }
  }

  // Calls `slice` for every sheet to slice, in order, with its shape (measured
  // once per source). Answers false when a stop came first.
  template <class F>
  bool ForEachSheet(ServerWorkbook& source, F&& slice) {
    if (shapes_.size() != static_cast<std::size_t>(source.Count()))
      shapes_.assign(source.Count(), {});
    for (int i = 1; i <= source.Count(); ++i) {
      ServerSheet& sheet = source.Worksheets(i);
      if (options_.singleSheet && sheet.Name() != SheetFilter()) continue;
      if (run_.StopRequested()) return false;
      sheet.Activate();
      auto& shape = shapes_[static_cast<std::size_t>(i - 1)];
      if (!shape) shape = IsSheetBlank(sheet) ? SheetShape{0, 0, 0} : Measure(sheet);
      if (shape->used == 0) continue;  // blank
      slice(sheet, *shape);
    }
    return true;
  }

  bool Even(ServerWorkbook& source, const std::string& path, std::uint32_t parts) {
    for (std::uint32_t k = 1; k <= parts; ++k) {
      if (run_.StopRequested()) return false;
      const std::string output = OutputPath(path, std::to_string(k));
      ServerWorkbook& out = NewOutput(output);
      bool first = true;
      const bool done = ForEachSheet(source, [&](ServerSheet& sheet, const SheetShape& shape) {
        const std::uint32_t data = shape.used > shape.header ? shape.used - shape.header : 0;
        const std::uint32_t per = data / parts;
        const std::uint32_t from = (k - 1) * per + shape.header + 1;
        const std::uint32_t last = k == parts ? shape.used : k * per + shape.header;
        CopySlice(sheet, shape, NextSheet(out, first), from, last, output);
        first = false;
      });
      if (!done) return false;
      Save(out, output);
    }
    return true;
  }

  bool ByRows(ServerWorkbook& source, const std::string& path, std::uint32_t rows) {
    std::uint64_t maxUsed = 1;
    for (std::uint64_t k = 1;; ++k) {
      if (run_.StopRequested()) return false;
      const std::string output = OutputPath(path, std::to_string(k));
      ServerWorkbook& out = NewOutput(output);
      const std::uint64_t skip = (k - 1) * rows;
      bool first = true;
      const bool done = ForEachSheet(source, [&](ServerSheet& sheet, const SheetShape& shape) {
        maxUsed = std::max<std::uint64_t>(maxUsed, shape.used);
        if (skip > shape.used) return;
        const std::uint64_t from = skip + shape.header + 1;
        const std::uint64_t last = std::min<std::uint64_t>(k * rows + shape.header, shape.used);
        CopySlice(sheet, shape, NextSheet(out, first),
                  static_cast<std::uint32_t>(std::min<std::uint64_t>(from, xl::kMaxRows + 1)),
                  static_cast<std::uint32_t>(last), output);
        first = false;
      });
      if (!done) return false;
      if (skip > maxUsed) {
        out.Close();
        return true;
      }
      Save(out, output);
    }
  }

  // The column `options_.column` names in `sheet`: a header of its header
  // row (trimmed, letter case aside), else column letters; 0 when neither.
  static std::uint32_t FindColumn(ServerSheet& sheet, const SheetShape& shape,
                                  const std::string& wanted) {
    const std::string key = LowerText(TrimText(wanted));
    for (std::uint32_t c = 1; c <= shape.width; ++c)
      if (LowerText(TrimText(sheet.Cells(shape.header, c).Value().Text())) == key) return c;
    std::uint32_t row = 0, col = 0;
    std::string ref = TrimText(wanted);
    if (ref.size() <= 3 &&
        std::all_of(ref.begin(), ref.end(),
                    [](char ch) { return std::isalpha(static_cast<unsigned char>(ch)) != 0; }) &&
        xl::ParseCellRef(ref + "1", row, col))
      return col;
    return 0;
  }

  // One workbook per distinct value of the chosen column, in the order the
  // values first appear; each holds, for every sheet with that column, its
  // title block and the rows of that value, in their order. One scan finds
  // every value's runs of rows; then the outputs are written a few at a time,
  // each group in one walk down the source, so the rows on disk are read a
  // bounded number of times however many values there are.
  bool PerValue(ServerWorkbook& source, const std::string& path) {
    std::deque<std::string> values;  // a deque: `numbers` holds views of them
    std::unordered_map<std::string_view, std::size_t> numbers;  // value -> its place in `values`
    std::vector<std::vector<ValueRuns>> runs;                   // by value, by sheet
    std::string number;                                         // a value that is no text, as text
    // Past the most values a split makes, only how many there are is wanted:
    // a hash per row counts them in little memory.
    std::vector<std::uint64_t> hashes;
    for (int i = 1; i <= source.Count(); ++i) {
      ServerSheet& sheet = source.Worksheets(i);
      if (options_.singleSheet && sheet.Name() != SheetFilter()) continue;
      if (run_.StopRequested()) return false;
      if (IsSheetBlank(sheet)) continue;
      const SheetShape shape = Measure(sheet);
      const std::uint32_t col = FindColumn(sheet, shape, options_.column);
      if (col == 0) continue;
      const xl::Workbook& book = source.Model();
      // A key cell merged down over several rows holds the value of each of
      // them: those rows go with the value, not to the blank ones.
      std::vector<xl::Rect> spans;
      for (const xl::Rect& m : sheet.Model().merges)
        if (m.r2 > m.r1 && m.c1 <= col && col <= m.c2) spans.push_back(m);
      std::string spanned;             // the value of the merged key cell above
      std::uint32_t spannedUntil = 0;  // the last row it covers
      sheet.Model().ForEachRow(shape.header + 1, shape.used, [&](const xl::Row& row) {
        if (std::all_of(row.cells.begin(), row.cells.end(),
                        [&](const xl::Cell& c) { return IsCellBlank(book, c); }))
          return;
        std::string_view value = ValueText(book, row, col, number);
        if (row.index <= spannedUntil) {
          value = spanned;
        } else {
          for (const xl::Rect& m : spans)
            if (m.r1 == row.index) {
              spanned.assign(value);
              spannedUntil = m.r2;
              break;
            }
        }
        if (values.size() > kMaxValues) {
          hashes.push_back(std::hash<std::string_view>()(value));
          return;
        }
        auto at = numbers.find(value);
        if (at == numbers.end() && values.size() == kMaxValues) {  // one too many: now counted
          for (const auto& [seen, n] : numbers)
            hashes.push_back(std::hash<std::string_view>()(seen));
          hashes.push_back(std::hash<std::string_view>()(value));
          values.emplace_back(value);
          numbers.clear();
          runs.clear();
          return;
        }
        if (at == numbers.end()) {
          const std::size_t n = values.size();
          at = numbers.emplace(values.emplace_back(value), n).first;
          runs.emplace_back();
        }
        auto& sheets = runs[at->second];
        if (sheets.empty() || sheets.back().sheet != i) sheets.push_back({i, shape, {}});
        auto& list = sheets.back().rows;
        if (!list.empty() && list.back().second + 1 == row.index)
          list.back().second = row.index;
        else
          list.emplace_back(row.index, row.index);
      });
    }
    if (values.empty())
      throw RunError(RunError::Kind::Failure, path,
                     Arg(Translate("ops", "工作簿“%1”中没有列“%2”，无法按列值拆分。"),
                         {DisplayText(path), TrimText(options_.column)}));
    if (values.size() > kMaxValues) {
      std::sort(hashes.begin(), hashes.end());
      const auto count =
          static_cast<std::size_t>(std::unique(hashes.begin(), hashes.end()) - hashes.begin());
      throw RunError(RunError::Kind::Failure, path,
                     Arg(Translate("ops", "“%1”的列“%2”有 %3 个不同的值，超过 %4 个，没有拆分。"),
                         {DisplayText(path), TrimText(options_.column), count, kMaxValues}));
    }
    std::vector<std::string> outputs;
    std::set<std::string> used;
    for (const std::string& value : values) {
      std::string tag = SafeFilePart(value.empty() ? "空白" : ShortText(value));
      const std::string base = tag;
      for (int n = 2; used.count(LowerText(tag)) != 0; ++n)
        tag = base + "(" + std::to_string(n) + ")";
      used.insert(LowerText(tag));
      outputs.push_back(OutputPath(path, tag));
    }
    for (std::size_t from = 0; from < values.size(); from += kOpenOutputs) {
      if (run_.StopRequested()) return false;
      const std::size_t to = std::min(values.size(), from + kOpenOutputs);
      if (!WriteValues(source, runs, outputs, from, to)) return false;
    }
    return true;
  }

  // The rows of one value in one sheet.
  struct ValueRuns {
    int sheet;
    SheetShape shape;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> rows;  // first, last
  };

  // Writes the workbooks of values from..to-1, open together: sheet by
  // sheet, their runs are pasted in the order of the source's rows.
  bool WriteValues(ServerWorkbook& source, const std::vector<std::vector<ValueRuns>>& runs,
                   const std::vector<std::string>& outputs, std::size_t from, std::size_t to) {
    struct Output {
      std::size_t value;
      ServerWorkbook* book;
      std::size_t next = 0;  // its next entry of runs[value]
      bool first = true;
    };
    std::vector<Output> open;
    for (std::size_t v = from; v < to; ++v) open.push_back({v, &NewOutput(outputs[v])});
    struct Target {
      Output* output;
      ServerSheet* sheet;
      const ValueRuns* runs;
      std::size_t run = 0;    // the next of its runs
      std::uint32_t below;    // the rows it holds
      std::uint32_t spilled;  // rows placed since its last write-out
    };
    for (int i = 1; i <= source.Count(); ++i) {
      ServerSheet& sheet = source.Worksheets(i);
      std::vector<Target> targets;
      for (Output& o : open) {
        const auto& mine = runs[o.value];
        if (o.next == mine.size() || mine[o.next].sheet != i) continue;
        const ValueRuns& r = mine[o.next++];
        ServerSheet& target = NextSheet(*o.book, o.first);
        o.first = false;
        sheet.Range("A1:" + ColumnLetters(r.shape.width) + std::to_string(r.shape.header)).select();
        server_.Copy();
        target.Range("A1").select();
        target.paste();
        targets.push_back({&o, &target, &r, 0, r.shape.header, 0});
      }
      if (targets.empty()) continue;
      // Runs go in the source's order: a block of rows read from disk serves
      // every target with rows in it before the walk moves on.
      for (std::size_t pasted = 0;; ++pasted) {
        Target* next = nullptr;
        for (Target& t : targets)
          if (t.run < t.runs->rows.size() &&
              (next == nullptr || t.runs->rows[t.run].first < next->runs->rows[next->run].first))
            next = &t;
        if (next == nullptr) break;
        if (pasted % kSliceRows == 0 && run_.StopRequested()) return false;
        const auto [first, last] = next->runs->rows[next->run++];
        const std::string& output = outputs[next->output->value];
        sheet
            .Range("A" + std::to_string(first) + ":" + ColumnLetters(next->runs->shape.width) +
                   std::to_string(last))
            .select();
        server_.Copy();
        next->sheet->Range("A" + std::to_string(next->below + 1)).select();
        next->below += last - first + 1;
        next->spilled += last - first + 1;
        if (last - first + 1 >= kSliceRows) {
          PasteRows(*next->sheet, output);  // written out slice by slice
          next->spilled = 0;
        } else {
          next->sheet->paste();
          if (next->spilled >= kSliceRows && !IsXlsPath(output)) {
            SpillFinishedRows(*next->sheet, 0, output);
            next->spilled = 0;
          }
        }
      }
      for (Target& t : targets) {
        try {
          t.sheet->Name(sheet.Name());
        } catch (const SheetNameRefused&) {
          t.sheet->Name(sheet.Name() + "(2)");
        }
      }
    }
    for (Output& o : open) {
      if (run_.StopRequested()) return false;
      Save(*o.book, outputs[o.value]);
    }
    return true;
  }

  RunState& run_;
  const WorkbookSplitOptions& options_;
  SheetServer server_;
  std::vector<std::string> notes_;
  std::vector<std::optional<SheetShape>> shapes_;  // of the open source, by sheet
  std::vector<PendingOutput> pending_;             // the open source's parts, written
  std::vector<std::string> pendingNotes_;
  std::size_t undone_ = 0;
};

}  // namespace

void SplitWorkbooks(RunState& run, const WorkbookSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter, XlsConverter* xls) {
  std::uint32_t parts = 0, rows = 0;
  if (options.way == WorkbookSplitOptions::Way::Parts) {
    if (TrimText(options.partsText).empty())
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "文件数不能为空且必须为阿拉伯数字，请检查！"));
    const int n = ParseCount(options.partsText, {});
    if (n < 1)
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "文件数必须大于 0，请检查！"));
    parts = static_cast<std::uint32_t>(n);
  }
  if (options.way == WorkbookSplitOptions::Way::Rows) {
    if (TrimText(options.rowsText).empty())
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "行号不能为空且必须为阿拉伯数字，请检查！"));
    const int n = ParseCount(options.rowsText, {});
    if (n < 1)
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "每文件行数必须大于 0，请检查！"));
    rows = static_cast<std::uint32_t>(n);
  }
  if (options.way == WorkbookSplitOptions::Way::PerValue && TrimText(options.column).empty())
    throw RunError(RunError::Kind::Validation, {},
                   Translate("ops", "请填写按哪一列拆分（表头文字或列字母）！"));
  if (options.singleSheet && options.way != WorkbookSplitOptions::Way::PerSheet &&
      TrimText(options.sheetName).empty())
    throw RunError(RunError::Kind::Validation, {}, Translate("ops", "请选择需要操作的非空Sheet！"));

  Splitter splitter(run, options, xls);
  std::vector<std::string> skipped;  // sources without the sheet asked for
  const std::string missing =
      Arg(Translate("ops", "没有工作表“%1”，已跳过"), {TrimText(options.sheetName)});
  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  for (std::size_t f = 0; f < run.WorkList.size(); ++f) {
    const std::string path = run.WorkList[f];
    reporter.Status(Translate("ops", "正在分割") + DisplayText(FileNamePart(path)));
    const Splitter::Outcome outcome = splitter.Split(path, parts, rows);
    if (outcome == Splitter::Outcome::Skipped) {
      // It stays in the list, and is never removed: nothing of it was split.
      skipped.push_back(DisplayText(FileNamePart(path)));
      reporter.Status(Arg(Translate("ops", "“%1”%2。"), {skipped.back(), missing}));
      reporter.StepProgress();
      if (run.StopRequested()) {
        reporter.Status(StopText());
        reporter.EndProgress();
        return;
      }
      continue;
    }
    if (outcome == Splitter::Outcome::Stopped) {
      // A source cut short keeps its row and is never removed.
      std::string text = StopText();
      if (splitter.undone() > 0)
        text += Arg(Translate("ops", "已撤销“%1”已生成的 %2 个工作簿。"),
                    {DisplayText(FileNamePart(path)), splitter.undone()});
      reporter.Status(text);
      reporter.EndProgress();
      return;
    }
    if (FinishEntry(run, common, reporter, static_cast<int>(f))) {
      reporter.Status(StopText());
      reporter.EndProgress();
      return;
    }
  }
  std::string done = Arg(Translate("ops", "分割操作完毕！共分割了 %1 个文件。"),
                         {run.WorkList.size() - skipped.size()});
  if (!skipped.empty()) {
    std::string names;
    for (std::size_t i = 0; i < skipped.size(); ++i)
      names += (i ? Translate("ops", "、") : std::string()) + skipped[i];
    done += Arg(Translate("ops", "%1的有：%2。"), {missing, names});
  }
  if (!splitter.Notes().empty()) {
    done += Translate("ops", "超出 .xls 格式上限、改存为 .xlsx 的有：");
    for (std::size_t i = 0; i < splitter.Notes().size(); ++i)
      done += (i ? Translate("ops", "、") : std::string()) + splitter.Notes()[i];
  }
  reporter.Status(done);
  reporter.EndProgress();
}

}  // namespace pw
