#include "platform/spreadsheet/server.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/run_errors.h"
#include "platform/spreadsheet/formula.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/spreadsheet/xlsx_writer.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

[[noreturn]] void Refuse(const std::string& file, const std::string& message) {
  throw RunError(RunError::Kind::Failure, file, message);
}

std::string LowerExtension(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

std::size_t Utf8Length(const std::string& s) {
  std::size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) n += c >= 0xF0 ? 2 : 1;  // as the application counts: UTF-16 units
  return n;
}

std::string AsciiLower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A private folder for a conversion, removed with its content. Its name
// carries the process id, so that the folders of a program killed before it
// could remove them are found and removed by the next one.
class TempFolder {
 public:
  TempFolder() {
    SweepStaleConversionFolders();
    std::string tmpl = (std::filesystem::temp_directory_path() /
                        ("pw-xls-" + std::to_string(::getpid()) + "-XXXXXX"))
                           .string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Whether every cell `formula` reads, once moved by (dr, dc), holds what it
// held in the source: it lies in a carried block that moved the same way.
bool StaysWhole(std::string_view formula, long dr, long dc,
                const std::vector<CarriedBlock>& carried) {
  return xl::ForEachLocalReference(formula, [&](const xl::LocalReference& ref) {
    if ((ref.mixedRow && dr != 0) || (ref.mixedCol && dc != 0)) return false;
    const long rows = ref.absRow || ref.mixedRow ? 0 : dr;
    const long cols = ref.absCol || ref.mixedCol ? 0 : dc;
    std::uint32_t next = ref.area.r1;  // the first row not yet found carried
    // The latest block first: most formulas read cells pasted with them.
    for (bool advanced = true; advanced && next <= ref.area.r2;) {
      advanced = false;
      for (auto b = carried.rbegin(); b != carried.rend() && !advanced; ++b)
        if (b->rows == rows && b->cols == cols && b->area.r1 <= next && next <= b->area.r2 &&
            b->area.c1 <= ref.area.c1 && ref.area.c2 <= b->area.c2) {
          next = b->area.r2 + 1;
          advanced = true;
        }
    }
    return next > ref.area.r2;
  });
}

}  // namespace

void SweepStaleConversionFolders() {
  std::error_code ec;
  const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
  if (ec) return;
  for (std::filesystem::directory_iterator it(temp, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.starts_with("pw-xls-")) continue;
    char* after = nullptr;
    const long pid = std::strtol(name.c_str() + 7, &after, 10);
    if (pid <= 0 || after == nullptr || *after != '-') continue;
    // Gone for good only when no such process exists (not merely another
    // user's, which answers EPERM).
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    std::filesystem::remove_all(it->path(), ignored);
  }
}

std::string CellValue::Text() const {
  switch (kind) {
    case xl::CellKind::Blank:
      return {};
    case xl::CellKind::Number: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", number);
      return buf;
    }
    case xl::CellKind::Bool:
      return number != 0 ? "TRUE" : "FALSE";
    case xl::CellKind::Text:
    case xl::CellKind::Error:
      return text;
  }
  return {};
}

bool CellValue::IsBlank() const {
  if (kind == xl::CellKind::Blank) return true;
  if (kind != xl::CellKind::Text) return false;
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::vector<std::string> SheetsHoldingData(const std::string& path, XlsConverter* xls) {
  SheetServer server(xls);
  ServerWorkbook& book = server.Open(path);
  std::vector<std::string> names;
  for (const auto& sheet : book.Model().sheets) {
    bool holds = false;
    sheet->ForEachRow(1, xl::kMaxRows, [&](const xl::Row& r) {
      holds = std::any_of(r.cells.begin(), r.cells.end(),
                          [&](const xl::Cell& c) { return !xl::IsBlank(book.Model(), c); });
      return !holds;
    });
    if (holds) names.push_back(sheet->name);
  }
  return names;
}

// ------------------------------------------------------------------ paste

void PasteBlock(const xl::Workbook& fromBook, const xl::Sheet& from, const xl::Rect& area,
                bool wholeSheet, xl::Workbook& toBook, xl::Sheet& to, std::uint32_t row,
                std::uint32_t col, const std::vector<CarriedBlock>* carried) {
  const long dr = static_cast<long>(row) - static_cast<long>(area.r1);
  const long dc = static_cast<long>(col) - static_cast<long>(area.c1);
  if (row < 1 || col < 1 || area.r2 + dr > xl::kMaxRows || area.c2 + dc > xl::kMaxCols)
    Refuse({}, Arg(Translate("workbook", "粘贴区域超出了工作表的范围（%1）。"),
                   {xl::CellRef(row, col)}));
  const bool sameBook = &fromBook == &toBook;
  const double dateShift = fromBook.date1904 == toBook.date1904 ? 0
                           : fromBook.date1904                  ? xl::kDate1904Offset
                                                                : -xl::kDate1904Offset;
  std::unordered_map<std::uint32_t, std::uint32_t> styles;
  std::vector<int> isDate(fromBook.styles.size(), -1);
  auto dateStyle = [&](std::uint32_t s) {
    if (isDate[s] < 0)
      isDate[s] = xl::IsDateFormat(fromBook.styles[s].numFmtId, fromBook.styles[s].numFmt);
    return isDate[s] == 1;
  };

  // Within one sheet, the rows must stay put while they are read.
  if (&from == &to) to.Unpage();
  const xl::Rect target{
      static_cast<std::uint32_t>(area.r1 + dr), static_cast<std::uint32_t>(area.c1 + dc),
      static_cast<std::uint32_t>(area.r2 + dr), static_cast<std::uint32_t>(area.c2 + dc)};
  std::vector<xl::Rect> merges;
  for (const xl::Rect& m : from.merges) {
    if (!m.Intersects(area)) continue;
    xl::Rect clipped{std::max(m.r1, area.r1), std::max(m.c1, area.c1), std::min(m.r2, area.r2),
                     std::min(m.c2, area.c2)};
    if (clipped.r1 == clipped.r2 && clipped.c1 == clipped.c2) continue;
    merges.push_back(
        {static_cast<std::uint32_t>(clipped.r1 + dr), static_cast<std::uint32_t>(clipped.c1 + dc),
         static_cast<std::uint32_t>(clipped.r2 + dr), static_cast<std::uint32_t>(clipped.c2 + dc)});
  }
  std::vector<std::tuple<std::uint32_t, float, bool>> heights;
  std::map<std::uint32_t, xl::ColumnInfo> columns;
  if (wholeSheet) {
    from.ForEachRow(area.r1, area.r2, [&](const xl::Row& r) {
      if (r.height > 0 || r.hidden)
        heights.emplace_back(static_cast<std::uint32_t>(static_cast<long>(r.index) + dr), r.height,
                             r.hidden);
    });
    for (const auto& [c, info] : from.columns)
      columns[static_cast<std::uint32_t>(static_cast<long>(c) + dc)] = info;
  }
  const std::uint32_t freezeRows = from.freezeRows, freezeCols = from.freezeCols;
  const double defaultHeight = from.defaultRowHeight;

  // Cells go straight into another sheet; within one sheet they are gathered first.
  const bool sameSheet = &from == &to;
  if (!sameSheet) to.Erase(target);
  std::vector<std::pair<std::uint32_t, xl::Cell>> gathered;
  auto place = [](xl::Row& into, const xl::Cell& c) {
    if (into.cells.empty() || into.cells.back().col < c.col) {
      into.cells.push_back(c);
      return;
    }
    auto at = std::lower_bound(into.cells.begin(), into.cells.end(), c.col,
                               [](const xl::Cell& x, std::uint32_t v) { return x.col < v; });
    if (at != into.cells.end() && at->col == c.col)
      *at = c;
    else
      into.cells.insert(at, c);
  };
  from.ForEachRow(area.r1, area.r2, [&](const xl::Row& fromRow) {
    auto it = std::lower_bound(fromRow.cells.begin(), fromRow.cells.end(), area.c1,
                               [](const xl::Cell& c, std::uint32_t v) { return c.col < v; });
    auto last = std::upper_bound(it, fromRow.cells.end(), area.c2,
                                 [](std::uint32_t v, const xl::Cell& c) { return v < c.col; });
    if (it == last) return;
    const auto r = static_cast<std::uint32_t>(static_cast<long>(fromRow.index) + dr);
    xl::Row* targetRow = nullptr;
    if (!sameSheet) {
      targetRow = &to.GetRow(r);
      targetRow->cells.reserve(targetRow->cells.size() + static_cast<std::size_t>(last - it));
    }
    for (; it != last; ++it) {
      xl::Cell c = *it;
      c.col = static_cast<std::uint32_t>(static_cast<long>(c.col) + dc);
      if (!sameBook) {
        auto [s, added] = styles.emplace(it->style, 0);
        if (added) s->second = toBook.AddStyle(fromBook.styles[it->style]);
        c.style = s->second;
        if (c.kind == xl::CellKind::Text || c.kind == xl::CellKind::Error) {
          if (const auto* runs = fromBook.Runs(it->text))
            c.text = toBook.AddRichText(*runs);
          else
            c.text = toBook.AddText(fromBook.Text(it->text));
        }
      }
      if (it->formula != 0) {
        const std::string& source = fromBook.Formula(*it);
        // A formula never computed has no value to stand for it: it goes as it is.
        if (carried == nullptr || it->kind == xl::CellKind::Blank ||
            StaysWhole(source, dr, dc, *carried))
          c.formula =
              toBook.AddFormula(dr != 0 || dc != 0 ? xl::ShiftFormula(source, dr, dc) : source);
        else
          c.formula = 0;
      }
      if (dateShift != 0 && c.kind == xl::CellKind::Number && dateStyle(it->style))
        c.number += dateShift;
      if (targetRow != nullptr)
        place(*targetRow, c);
      else
        gathered.emplace_back(r, c);
    }
  });
  if (sameSheet) {
    to.Erase(target);
    for (std::size_t i = 0; i < gathered.size();) {
      std::size_t j = i;
      while (j < gathered.size() && gathered[j].first == gathered[i].first) ++j;
      xl::Row& into = to.GetRow(gathered[i].first);
      into.cells.reserve(into.cells.size() + (j - i));
      for (; i < j; ++i) place(into, gathered[i].second);
    }
  }
  to.merges.insert(to.merges.end(), merges.begin(), merges.end());
  if (wholeSheet) {
    for (const auto& [r, h, hidden] : heights) {
      xl::Row& into = to.GetRow(r);
      into.height = h;
      into.hidden = hidden;
    }
    to.columns = std::move(columns);
    to.freezeRows = freezeRows;
    to.freezeCols = freezeCols;
    to.defaultRowHeight = defaultHeight;
  }
}

// ------------------------------------------------------------------ ranges

void CellRange::select() {
  sheet_->selected_ = area_;
  sheet_->Workbook().Server().selection_ = {sheet_, area_, whole_};
}

CellValue CellRange::Value() const {
  CellValue v;
  const xl::Cell* c = sheet_->model_->Find(area_.r1, area_.c1);
  if (c == nullptr) return v;
  v.kind = c->kind;
  v.number = c->number;
  if (c->kind == xl::CellKind::Text || c->kind == xl::CellKind::Error)
    v.text = sheet_->book_->Model().Text(c->text);
  return v;
}

// ------------------------------------------------------------------ sheets

void ServerSheet::Activate() {
  book_->MakeActive(*this);
}

void ServerSheet::Name(const std::string& name) {
  static constexpr std::string_view kForbidden = "[]:*?/\\";
  if (name.empty() || Utf8Length(name) > 31)
    throw SheetNameRefused(
        Arg(Translate("workbook", "工作表名“%1”为空或超过 31 个字符。"), {name}));
  if (name.find_first_of(kForbidden) != std::string::npos || name.front() == '\'' ||
      name.back() == '\'' || AsciiLower(name) == "history")
    throw SheetNameRefused(Arg(Translate("workbook", "工作表名“%1”含有不允许的字符。"), {name}));
  const std::string lower = AsciiLower(name);
  for (const auto& other : book_->sheets_)
    if (other.get() != this && AsciiLower(other->Name()) == lower)
      throw SheetNameRefused(Arg(Translate("workbook", "工作表名“%1”已被占用。"), {name}));
  model_->name = name;
}

void ServerSheet::Delete() {
  if (book_->Count() <= 1)
    Refuse(book_->Path(), Translate("workbook", "工作簿至少要保留一个工作表。"));
  book_->SheetDeleted(*this);
}

CellRange ServerSheet::Range(const std::string& address) {
  xl::Rect r;
  if (!xl::ParseRange(address, r))
    Refuse({}, Arg(Translate("workbook", "无效的单元格地址“%1”。"), {address}));
  return CellRange(*this, r, false);
}

CellRange ServerSheet::Cells(std::uint32_t row, std::uint32_t col) {
  if (row < 1 || row > xl::kMaxRows || col < 1 || col > xl::kMaxCols)
    Refuse({}, Arg(Translate("workbook", "单元格（%1，%2）超出了工作表的范围。"), {row, col}));
  return CellRange(*this, {row, col, row, col}, false);
}

CellRange ServerSheet::Cells() {
  return CellRange(*this, {1, 1, xl::kMaxRows, xl::kMaxCols}, true);
}

void ServerSheet::paste() {
  book_->Server().PasteInto(*this, selected_.r1, selected_.c1);
}

void ServerSheet::paste(std::uint32_t sliceRows, const std::function<void()>& afterSlice) {
  book_->Server().PasteInto(*this, selected_.r1, selected_.c1, std::max(sliceRows, 1u), afterSlice);
}

// ---------------------------------------------------------------- workbooks

ServerWorkbook::ServerWorkbook(SheetServer& server, std::unique_ptr<xl::Workbook> model,
                               std::string path)
    : server_(&server), model_(std::move(model)), path_(std::move(path)) {
  for (auto& s : model_->sheets)
    sheets_.push_back(std::unique_ptr<ServerSheet>(new ServerSheet(*this, *s)));
}

void ServerWorkbook::Activate() {
  server_->active_ = this;
}

ServerSheet& ServerWorkbook::Worksheets(int index) {
  if (index < 1 || index > Count())
    Refuse(path_, Arg(Translate("workbook", "工作簿中没有第 %1 个工作表。"), {index}));
  return *sheets_[static_cast<std::size_t>(index - 1)];
}

ServerSheet& ServerWorkbook::ActiveSheet() {
  if (sheets_.empty())
    Refuse(path_, Arg(Translate("workbook", "工作簿“%1”中没有工作表。"), {DisplayText(path_)}));
  return *sheets_[static_cast<std::size_t>(active_)];
}

ServerSheet& ServerWorkbook::add() {
  int n = Count() + 1;
  auto taken = [&](const std::string& name) {
    for (const auto& s : sheets_)
      if (AsciiLower(s->Name()) == AsciiLower(name)) return true;
    return false;
  };
  while (taken("Sheet" + std::to_string(n))) ++n;
  xl::Sheet& model = model_->AddSheet("Sheet" + std::to_string(n));
  sheets_.push_back(std::unique_ptr<ServerSheet>(new ServerSheet(*this, model)));
  MakeActive(*sheets_.back());
  return *sheets_.back();
}

void ServerWorkbook::MakeActive(ServerSheet& sheet) {
  for (std::size_t i = 0; i < sheets_.size(); ++i)
    if (sheets_[i].get() == &sheet) active_ = static_cast<int>(i);
  server_->active_ = this;
}

void ServerWorkbook::SheetDeleted(ServerSheet& sheet) {
  auto& sel = server_->selection_;
  auto& clip = server_->clipboard_;
  if (sel.sheet == &sheet) sel = {};
  if (clip.sheet == &sheet) clip = {};
  for (std::size_t i = 0; i < sheets_.size(); ++i) {
    if (sheets_[i].get() != &sheet) continue;
    server_->Forget(*model_->sheets[i]);
    model_->sheets.erase(model_->sheets.begin() + static_cast<long>(i));
    sheets_.erase(sheets_.begin() + static_cast<long>(i));
    break;
  }
  active_ = std::min(active_, Count() - 1);
}

void ServerWorkbook::SaveAs(const std::string& FileName) {
  PendingOutput out(FileName);
  SaveAs(out);
  out.Commit();
}

void ServerWorkbook::SaveAs(PendingOutput& out) {
  const std::string& FileName = out.finalPath();
  for (auto& s : model_->sheets) s->Unpage();  // a workbook opened whole is saved whole
  if (LowerExtension(FileName) != ".xls") {
    xl::WriteXlsxInto(*model_, out.tempPath(), FileName);
    path_ = FileName;
    return;
  }
  for (const auto& s : model_->sheets)
    if (s->LastRow() > kXlsMaxRows || s->LastColumn() > kXlsMaxCols)
      Refuse(FileName, Arg(Translate("workbook",
                                     "工作表“%1”有 %2 行、%3 列，超出了 .xls 格式的上限（65536 "
                                     "行、256 列），“%4”未保存。"),
                           {s->name, s->LastRow(), s->LastColumn(), DisplayText(FileName)}));
  if (server_->xls_ == nullptr)
    Refuse(FileName, Arg(Translate("workbook", "无法保存 .xls 工作簿“%1”：缺少格式转换服务。"),
                         {DisplayText(FileName)}));
  TempFolder tmp;
  if (tmp.path().empty())
    Refuse(FileName, Arg(Translate("workbook", "无法保存“%1”：无法建立临时文件夹。"),
                         {DisplayText(FileName)}));
  const std::string xlsx = tmp.path() + "/book.xlsx";
  // The office server writes an error value of its own as =NA() in .xls; a
  // formula that gives the same error in every application keeps what the
  // cell showed.
  static constexpr std::pair<std::string_view, std::string_view> kErrorFormulas[] = {
      {"#DIV/0!", "1/0"},
      {"#VALUE!", "\"a\"+0"},
      {"#NUM!", "1E+308*10"},
      {"#REF!", "INDIRECT(\"\")"},
  };
  for (auto& sheet : model_->sheets)
    for (xl::Row& row : sheet->rows)
      for (xl::Cell& c : row.cells) {
        if (c.kind != xl::CellKind::Error || c.formula != 0) continue;
        const std::string& error = model_->Text(c.text);
        for (const auto& [shown, formula] : kErrorFormulas)
          if (error == shown) c.formula = model_->AddFormula(std::string(formula));
      }
  xl::WriteXlsxInto(*model_, xlsx, FileName);
  // The temporary name keeps the .xls extension the conversion goes by.
  server_->xls_->FromXlsx(xlsx, out.tempPath(), FileName);
  path_ = FileName;
}

void ServerWorkbook::Close() {
  server_->Closed(*this);
}

// ------------------------------------------------------------------ server

ServerWorkbook& SheetServer::Add() {
  auto model = std::make_unique<xl::Workbook>();
  model->AddSheet("Sheet1");
  books_.push_back(
      std::unique_ptr<ServerWorkbook>(new ServerWorkbook(*this, std::move(model), {})));
  active_ = books_.back().get();
  return *active_;
}

ServerWorkbook& SheetServer::Open(const std::string& path) {
  std::unique_ptr<xl::Workbook> model;
  if (LowerExtension(path) == ".xls") {
    // The office server would wait on a pipe as long as nothing writes to it.
    ::close(xl::OpenRegularFile(path));
    if (xls_ == nullptr)
      Refuse(path, Arg(Translate("workbook", "无法打开 .xls 工作簿“%1”：缺少格式转换服务。"),
                       {DisplayText(path)}));
    TempFolder tmp;
    if (tmp.path().empty())
      Refuse(path,
             Arg(Translate("workbook", "无法打开“%1”：无法建立临时文件夹。"), {DisplayText(path)}));
    const std::string xlsx = tmp.path() + "/book.xlsx";
    xls_->ToXlsx(path, xlsx);
    try {
      model = xl::ReadXlsxPaged(xlsx);
    } catch (const RunError&) {
      Refuse(path, Arg(Translate("workbook", "无法读取工作簿“%1”：转换后的内容无法读取。"),
                       {DisplayText(path)}));
    }
  } else {
    model = xl::ReadXlsxPaged(path);
  }
  return Open(path, std::move(model));
}

ServerWorkbook& SheetServer::Open(const std::string& path, std::unique_ptr<xl::Workbook> model) {
  books_.push_back(
      std::unique_ptr<ServerWorkbook>(new ServerWorkbook(*this, std::move(model), path)));
  active_ = books_.back().get();
  return *active_;
}

void SheetServer::close() {
  selection_ = {};
  clipboard_ = {};
  carried_.clear();
  active_ = nullptr;
  books_.clear();
}

ServerWorkbook& SheetServer::Workbooks(int index) {
  if (index < 1 || index > Count())
    Refuse({}, Arg(Translate("workbook", "没有第 %1 个打开的工作簿。"), {index}));
  return *books_[static_cast<std::size_t>(index - 1)];
}

ServerWorkbook& SheetServer::ActiveWorkbook() {
  if (active_ == nullptr) Refuse({}, Translate("workbook", "没有打开的工作簿。"));
  return *active_;
}

CellValue SheetServer::Cells(std::uint32_t row, std::uint32_t col) {
  ServerWorkbook& book = ActiveWorkbook();
  if (book.Count() == 0) return {};
  return book.ActiveSheet().Cells(row, col).Value();
}

void SheetServer::Copy() {
  if (selection_.sheet == nullptr) Refuse({}, Translate("workbook", "没有选定要复制的区域。"));
  clipboard_ = selection_;
}

void SheetServer::Forget(const xl::Sheet& sheet) {
  std::erase_if(carried_, [&](const auto& entry) {
    return entry.first.first == &sheet || entry.first.second == &sheet;
  });
}

void SheetServer::Closed(ServerWorkbook& book) {
  for (const auto& s : book.Model().sheets) Forget(*s);
  if (selection_.sheet != nullptr && &selection_.sheet->Workbook() == &book) selection_ = {};
  if (clipboard_.sheet != nullptr && &clipboard_.sheet->Workbook() == &book) clipboard_ = {};
  std::erase_if(books_, [&](const auto& b) { return b.get() == &book; });
  if (active_ == &book) active_ = books_.empty() ? nullptr : books_.back().get();
}

void SheetServer::PasteInto(ServerSheet& target, std::uint32_t row, std::uint32_t col,
                            std::uint32_t sliceRows, const std::function<void()>& afterSlice) {
  if (clipboard_.sheet == nullptr) Refuse({}, Translate("workbook", "没有可粘贴的内容。"));
  ServerSheet& source = *clipboard_.sheet;
  auto& carried = carried_[{&source.Model(), &target.Model()}];
  carried.push_back({clipboard_.area,
                     static_cast<long>(row) - static_cast<long>(clipboard_.area.r1),
                     static_cast<long>(col) - static_cast<long>(clipboard_.area.c1)});
  const xl::Rect& area = clipboard_.area;
  if (sliceRows == 0) {
    PasteBlock(source.Workbook().Model(), source.Model(), area, clipboard_.whole,
               target.Workbook().Model(), target.Model(), row, col, &carried);
    return;
  }
  // Past the source's last row and merged range, one slice takes the rest.
  const xl::Sheet& from = source.Model();
  std::uint32_t held = from.LastRow();
  if (from.pages && from.pages->Blocks() > 0)
    held = std::max(held, from.pages->LastIndex(from.pages->Blocks() - 1));
  else if (!from.rows.empty())
    held = std::max(held, from.rows.back().index);
  for (const xl::Rect& m : from.merges) held = std::max(held, m.r2);
  const std::uint32_t end = std::min(area.r2, std::max(held, area.r1));
  for (std::uint32_t first = area.r1; first <= area.r2;) {
    std::uint32_t last = SliceEnd(from, first, sliceRows, end);
    if (last >= end) last = area.r2;
    PasteBlock(source.Workbook().Model(), from, {first, area.c1, last, area.c2}, clipboard_.whole,
               target.Workbook().Model(), target.Model(), row + (first - area.r1), col, &carried);
    if (afterSlice) afterSlice();
    if (last == area.r2) break;
    first = last + 1;
  }
}

std::uint32_t SliceEnd(const xl::Sheet& sheet, std::uint32_t first, std::uint32_t rows,
                       std::uint32_t last) {
  std::uint32_t end = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(last, static_cast<std::uint64_t>(first) + rows - 1));
  for (bool moved = true; moved && end < last;) {
    moved = false;
    for (const xl::Rect& m : sheet.merges)
      if (m.r1 <= end && end < m.r2) {
        end = std::min(last, m.r2);
        moved = true;
      }
  }
  return end;
}

}  // namespace pw
