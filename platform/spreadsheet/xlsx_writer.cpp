#include "platform/spreadsheet/xlsx_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <locale.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/output_file.h"
#include "platform/run_errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::xl {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& cause) {
  throw RunError(RunError::Kind::Failure, path,
                 Arg(Translate("workbook", "无法保存工作簿“%1”：%2"), {DisplayText(path), cause}));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The cause of a failed write whose library kept no error number of its own
// that says more: the disk's state tells a full disk from other faults.
int WriteFailureCause(int err, const std::string& folder) {
  if (err == ENOSPC || err == EDQUOT || err == EFBIG || err == EIO || err == EROFS ||
      err == EACCES || err == EPERM || err == ENOMEM || err == EMFILE || err == ENFILE)
    return err;
  struct statvfs fs {};
  if (::statvfs(folder.c_str(), &fs) == 0 && fs.f_bavail == 0) return ENOSPC;
  return err != 0 ? err : EIO;
}

lxw_color_t LxwColor(Color c) {
  if (c == 0) return LXW_COLOR_UNSET;
  const std::uint32_t rgb = RgbOf(c);
  return rgb == 0 ? static_cast<lxw_color_t>(LXW_COLOR_BLACK)
                  : rgb;  // 0 means "unset" to the library
}

void ApplyFont(lxw_format* f, const Font& font) {
  if (!font.name.empty()) format_set_font_name(f, font.name.c_str());
  if (font.size > 0) format_set_font_size(f, font.size);
  if (font.bold) format_set_bold(f);
  if (font.italic) format_set_italic(f);
  if (font.strike) format_set_font_strikeout(f);
  if (font.underline != 0) format_set_underline(f, font.underline);
  if (font.vertAlign != 0) format_set_font_script(f, font.vertAlign);
  if (font.family != 0) format_set_font_family(f, font.family);
  if (font.color != 0) format_set_font_color(f, LxwColor(font.color));
}

// What the file's stored width becomes once the library adds its padding back.
double WidthForLibrary(double stored) {
  constexpr double kDigit = 7, kPadding = 5;
  if (stored <= 0) return 0;
  if (stored >= (kDigit + kPadding) / kDigit) return (stored * kDigit - kPadding) / kDigit;
  return stored * kDigit / (kDigit + kPadding);
}

// A cell the library cannot write as it is: mended in the sheet's XML afterwards.
struct Mend {
  std::uint32_t row, col;
  char type;         // 'e' error, 'b' boolean, 0 unchanged
  bool dropFormula;  // a constant error written as a formula placeholder
  bool exact;        // `number` in full, where the library's 16 digits lose it
  double number;
  bool noValue = false;  // a formula not computed yet: no result, the application computes it
};

// The library prints numbers with 16 significant digits; some need 17.
bool NeedsExactNumber(double v) {
  char buf[40];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);  // the shortest exact form
  if (ec != std::errc()) return true;
  int digits = 0, zeros = 0;
  bool leading = true;
  for (const char* p = buf; p != end && *p != 'e'; ++p) {
    if (*p < '0' || *p > '9') continue;
    if (leading && *p == '0') continue;
    leading = false;
    if (*p == '0') {
      ++zeros;
    } else {
      digits += zeros + 1;
      zeros = 0;
    }
  }
  return digits > 16;
}

// Numbers are written with a "." whatever the process's locale says.
class CNumericLocale {
 public:
  CNumericLocale() : c_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))) {
    if (c_ != static_cast<locale_t>(nullptr)) old_ = uselocale(c_);
  }
  ~CNumericLocale() {
    if (c_ != static_cast<locale_t>(nullptr)) {
      uselocale(old_);
      freelocale(c_);
    }
  }
  CNumericLocale(const CNumericLocale&) = delete;
  CNumericLocale& operator=(const CNumericLocale&) = delete;

 private:
  locale_t c_;
  locale_t old_ = static_cast<locale_t>(nullptr);
};

// The library keeps every part in temporary files until it packs them, and
// does not check its writes to them: on a full disk a sheet would be packed
// cut short and the save would look fine. It leaves making those files to
// `lxw_tmpfile`, which a program may provide itself; ours (below) hands out
// files that note the first failed write for the save in progress on their
// thread, which then fails with that cause.
struct TempFileErrors {
  int err = 0;
  void Note(int e) {
    if (err == 0) err = e;
  }
};
thread_local TempFileErrors* tempFileErrors = nullptr;

class TrackTempFileErrors {
 public:
  TrackTempFileErrors() : old_(tempFileErrors) { tempFileErrors = &errors_; }
  ~TrackTempFileErrors() { tempFileErrors = old_; }
  TrackTempFileErrors(const TrackTempFileErrors&) = delete;
  TrackTempFileErrors& operator=(const TrackTempFileErrors&) = delete;
  int err() const { return errors_.err; }

 private:
  TempFileErrors errors_;
  TempFileErrors* old_;
};

struct TempFile {
  int fd;
  TempFileErrors* errors;
};

ssize_t TempRead(void* cookie, char* buf, size_t size) {
  auto* f = static_cast<TempFile*>(cookie);
  for (;;) {
    const ssize_t n = ::read(f->fd, buf, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

ssize_t TempWrite(void* cookie, const char* buf, size_t size) {
  auto* f = static_cast<TempFile*>(cookie);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(f->fd, buf + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : ENOSPC;
      if (f->errors != nullptr) f->errors->Note(err);
      errno = err;
      break;
    }
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

int TempSeek(void* cookie, off64_t* offset, int whence) {
  auto* f = static_cast<TempFile*>(cookie);
  const off64_t at = ::lseek64(f->fd, *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int TempClose(void* cookie) {
  auto* f = static_cast<TempFile*>(cookie);
  const int rc = ::close(f->fd);
  delete f;
  return rc;
}

// A nameless file in `folder`; where the file system cannot make one, a
// named one removed at once (its name is one a later run sweeps away).
int OpenNamelessFile(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  std::string name = folder + "/.~pw" + std::to_string(::getpid()) + "-tmp-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

class Writer {
 public:
  // Writes `book` to `file`; messages name `path`.
  Writer(const Workbook& book, const std::string& path, const std::string& file,
         const TrackTempFileErrors& tempErrors)
      : book_(book), path_(path), tempErrors_(tempErrors), folder_(FolderOf(file)) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    // Temporary files go on the disk the workbook goes to: when it is full,
    // that is what the save reports.
    options.tmpdir = folder_.data();
    wb_ = workbook_new_opt(file.c_str(), &options);
    if (wb_ == nullptr) FailWith(ENOMEM);
    // The library's first format is the workbook's default style.
    lxw_format* normal = STAILQ_FIRST(wb_->formats);
    const Font& font = book_.DefaultFont();
    if (!font.name.empty()) format_set_font_name(normal, font.name.c_str());
    if (font.size > 0) format_set_font_size(normal, font.size);
    if (font.family != 0) format_set_font_family(normal, font.family);
    formats_.assign(book_.styles.size(), nullptr);
    dateStyle_.assign(book_.styles.size(), -1);
  }
  ~Writer() {
    if (wb_ == nullptr) return;
    // A save given up: the workbook is freed without writing anything (the
    // library's close would write, and crashes when no sheet could be
    // added). Freeing leaves the sheets' temporary files open; they go here.
    for (lxw_worksheet* ws : sheets_) {
      if (ws->optimize_tmpfile != nullptr) std::fclose(ws->optimize_tmpfile);
      ws->optimize_tmpfile = nullptr;
      ws->file = nullptr;
    }
    lxw_workbook_free(wb_);
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Write() {
    CNumericLocale numbers;
    std::size_t firstVisible = book_.sheets.size();
    for (std::size_t i = 0; i < book_.sheets.size(); ++i) {
      const Sheet& sheet = *book_.sheets[i];
      lxw_worksheet* ws = workbook_add_worksheet(wb_, sheet.name.c_str());
      if (ws == nullptr && tempErrors_.err() != 0) FailWith(tempErrors_.err());
      if (ws == nullptr)
        Fail(path_, Arg(Translate("workbook", "工作表名“%1”无效或重复。"), {sheet.name}));
      if (sheet.state == SheetState::Visible && firstVisible == book_.sheets.size()) {
        firstVisible = i;
        worksheet_activate(ws);
      }
      sheets_.push_back(ws);
      WriteSheet(sheet, ws);
    }
    for (std::size_t i = 0; i < book_.sheets.size(); ++i)
      if (book_.sheets[i]->state != SheetState::Visible && i != firstVisible)
        worksheet_hide(sheets_[i]);
    if (book_.sheets.empty()) {
      lxw_worksheet* ws = workbook_add_worksheet(wb_, nullptr);
      if (ws == nullptr) FailWith(tempErrors_.err() != 0 ? tempErrors_.err() : ENOMEM);
      sheets_.push_back(ws);
    }
    // The library never closes the temporary file of a sheet without rows:
    // one open file lost per empty sheet saved. Such a sheet writes nothing
    // more to it, so it is closed here.
    for (lxw_worksheet* ws : sheets_) {
      if (ws->dim_rowmin != LXW_ROW_MAX || ws->optimize_tmpfile == nullptr) continue;
      std::fclose(ws->optimize_tmpfile);
      ws->optimize_tmpfile = nullptr;
      ws->file = nullptr;
    }
    lxw_workbook* wb = wb_;
    wb_ = nullptr;
    errno = 0;
    const lxw_error err = workbook_close(wb);
    const int sysErr = errno;
    if (tempErrors_.err() != 0) FailWith(tempErrors_.err());
    if (err == LXW_NO_ERROR) return;
    switch (err) {
      case LXW_ERROR_MEMORY_MALLOC_FAILED:
        FailWith(ENOMEM);
      case LXW_ERROR_CREATING_XLSX_FILE:
      case LXW_ERROR_CREATING_TMPFILE:
      case LXW_ERROR_READING_TMPFILE:
      case LXW_ERROR_ZIP_FILE_OPERATION:
      case LXW_ERROR_ZIP_PARAMETER_ERROR:
      case LXW_ERROR_ZIP_BAD_ZIP_FILE:
      case LXW_ERROR_ZIP_INTERNAL_ERROR:
      case LXW_ERROR_ZIP_FILE_ADD:
      case LXW_ERROR_ZIP_CLOSE:
        FailWith(WriteFailureCause(sysErr, folder_));
      default:
        Fail(path_, lxw_strerror(err));
    }
  }

  const std::vector<std::vector<Mend>>& Mends() const { return mends_; }

 private:
  [[noreturn]] void FailWith(int err) { Fail(path_, DescribeErrno(err, true) + "。"); }

  void Check(lxw_error err, std::uint32_t row, std::uint32_t col, const Sheet& sheet) {
    if (err == LXW_NO_ERROR) return;
    if (tempErrors_.err() != 0) FailWith(tempErrors_.err());
    Fail(path_, Arg(Translate("workbook", "工作表“%1”单元格 %2：%3"),
                    {sheet.name, CellRef(row, col), lxw_strerror(err)}));
  }

  bool IsDate(std::uint32_t style) {
    if (dateStyle_[style] < 0) {
      const Style& s = book_.styles[style];
      dateStyle_[style] = IsDateFormat(s.numFmtId, s.numFmt) ? 1 : 0;
    }
    return dateStyle_[style] == 1;
  }

  lxw_format* Format(std::uint32_t style) {
    if (style == 0) return nullptr;
    if (formats_[style] != nullptr) return formats_[style];
    const Style& s = book_.styles[style];
    lxw_format* f = workbook_add_format(wb_);
    if (f == nullptr) Fail(path_, Translate("workbook", "内存不足。"));
    if (s.numFmtId == kCustomFormat)
      format_set_num_format(f, s.numFmt.c_str());
    else if (s.numFmtId != 0)
      format_set_num_format_index(f, static_cast<std::uint8_t>(s.numFmtId));
    ApplyFont(f, s.font);
    if (s.fill.pattern == 1) {
      format_set_pattern(f, LXW_PATTERN_SOLID);
      if (s.fill.fg != 0) format_set_bg_color(f, LxwColor(s.fill.fg));  // the library swaps them
    } else if (s.fill.pattern != 0) {
      format_set_pattern(f, s.fill.pattern);
      if (s.fill.fg != 0) format_set_fg_color(f, LxwColor(s.fill.fg));
      if (s.fill.bg != 0) format_set_bg_color(f, LxwColor(s.fill.bg));
    }
    const auto& b = s.border;
    if (b.left.style)
      format_set_left(f, b.left.style), format_set_left_color(f, LxwColor(b.left.color));
    if (b.right.style)
      format_set_right(f, b.right.style), format_set_right_color(f, LxwColor(b.right.color));
    if (b.top.style) format_set_top(f, b.top.style), format_set_top_color(f, LxwColor(b.top.color));
    if (b.bottom.style)
      format_set_bottom(f, b.bottom.style), format_set_bottom_color(f, LxwColor(b.bottom.color));
    if (b.diagonal.style && (b.diagonalUp || b.diagonalDown)) {
      format_set_diag_type(f, b.diagonalUp && b.diagonalDown ? LXW_DIAGONAL_BORDER_UP_DOWN
                              : b.diagonalUp                 ? LXW_DIAGONAL_BORDER_UP
                                                             : LXW_DIAGONAL_BORDER_DOWN);
      format_set_diag_border(f, b.diagonal.style);
      format_set_diag_color(f, LxwColor(b.diagonal.color));
    }
    const Alignment& a = s.align;
    if (a.horizontal != 0) format_set_align(f, a.horizontal);
    static constexpr std::uint8_t kVertical[] = {
        0, LXW_ALIGN_VERTICAL_TOP, LXW_ALIGN_VERTICAL_CENTER, LXW_ALIGN_VERTICAL_JUSTIFY,
        LXW_ALIGN_VERTICAL_DISTRIBUTED};
    if (a.vertical != 0 && a.vertical < 5) format_set_align(f, kVertical[a.vertical]);
    if (a.wrap) format_set_text_wrap(f);
    if (a.shrink) format_set_shrink(f);
    if (a.indent != 0) format_set_indent(f, a.indent);
    if (a.rotation == 255)
      format_set_rotation(f, 270);
    else if (a.rotation > 90 && a.rotation <= 180)
      format_set_rotation(f, static_cast<std::int16_t>(90 - a.rotation));
    else if (a.rotation > 0 && a.rotation <= 90)
      format_set_rotation(f, a.rotation);
    if (!s.locked) format_set_unlocked(f);
    if (s.hidden) format_set_hidden(f);
    formats_[style] = f;
    return f;
  }

  lxw_format* RunFormat(const Font& font) {
    std::string key =
        font.name + '|' + std::to_string(font.size) + '|' + std::to_string(font.color) + '|' +
        char('0' + font.bold) + char('0' + font.italic) + char('0' + font.strike) +
        char('0' + font.underline) + char('0' + font.vertAlign) + std::to_string(font.family);
    auto [it, added] = runFormats_.emplace(std::move(key), nullptr);
    if (added) {
      it->second = workbook_add_format(wb_);
      if (it->second == nullptr) Fail(path_, Translate("workbook", "内存不足。"));
      ApplyFont(it->second, font);
    }
    return it->second;
  }

  void WriteText(lxw_worksheet* ws, const Sheet& sheet, std::uint32_t r, const Cell& c,
                 lxw_format* fmt) {
    const std::string& text = book_.Text(c.text);
    if (const std::vector<RichRun>* runs = book_.Runs(c.text)) {
      std::vector<lxw_rich_string_tuple> tuples;
      for (const RichRun& run : *runs) {
        if (run.text.empty()) continue;
        tuples.push_back(
            {run.hasFont ? RunFormat(run.font) : nullptr, const_cast<char*>(run.text.c_str())});
      }
      if (tuples.size() >= 2) {
        std::vector<lxw_rich_string_tuple*> list;
        for (auto& t : tuples) list.push_back(&t);
        list.push_back(nullptr);
        Check(worksheet_write_rich_string(ws, r - 1, static_cast<lxw_col_t>(c.col - 1), list.data(),
                                          fmt),
              r, c.col, sheet);
        return;
      }
    }
    if (text.empty()) {
      if (fmt != nullptr)
        Check(worksheet_write_blank(ws, r - 1, static_cast<lxw_col_t>(c.col - 1), fmt), r, c.col,
              sheet);
      return;
    }
    Check(worksheet_write_string(ws, r - 1, static_cast<lxw_col_t>(c.col - 1), text.c_str(), fmt),
          r, c.col, sheet);
  }

  void WriteCell(lxw_worksheet* ws, const Sheet& sheet, std::uint32_t r, const Cell& c,
                 std::vector<Mend>& mends) {
    lxw_format* fmt = Format(c.style);
    const auto row = static_cast<lxw_row_t>(r - 1);
    const auto col = static_cast<lxw_col_t>(c.col - 1);
    double number = c.number;
    if (c.kind == CellKind::Number && book_.date1904 && IsDate(c.style)) number += kDate1904Offset;
    if (c.kind == CellKind::Number) {
      if (NeedsExactNumber(number)) mends.push_back({r, c.col, 0, false, true, number});
    }
    if (c.formula != 0) {
      const std::string& f = book_.Formula(c);
      lxw_error err = LXW_NO_ERROR;
      switch (c.kind) {
        case CellKind::Number:
          err = worksheet_write_formula_num(ws, row, col, f.c_str(), fmt, number);
          break;
        case CellKind::Text:
          err =
              worksheet_write_formula_str(ws, row, col, f.c_str(), fmt, book_.Text(c.text).c_str());
          break;
        case CellKind::Bool:
          err =
              worksheet_write_formula_str(ws, row, col, f.c_str(), fmt, c.number != 0 ? "1" : "0");
          mends.push_back({r, c.col, 'b', false, false, 0});
          break;
        case CellKind::Error:
          err =
              worksheet_write_formula_str(ws, row, col, f.c_str(), fmt, book_.Text(c.text).c_str());
          mends.push_back({r, c.col, 'e', false, false, 0});
          break;
        case CellKind::Blank:
          err = worksheet_write_formula_num(ws, row, col, f.c_str(), fmt, 0);
          mends.push_back({r, c.col, 0, false, false, 0, true});
          break;
      }
      Check(err, r, c.col, sheet);
      return;
    }
    switch (c.kind) {
      case CellKind::Number:
        Check(worksheet_write_number(ws, row, col, number, fmt), r, c.col, sheet);
        break;
      case CellKind::Text:
        WriteText(ws, sheet, r, c, fmt);
        break;
      case CellKind::Bool:
        Check(worksheet_write_boolean(ws, row, col, c.number != 0, fmt), r, c.col, sheet);
        break;
      case CellKind::Error:
        Check(worksheet_write_formula_str(ws, row, col, "0", fmt, book_.Text(c.text).c_str()), r,
              c.col, sheet);
        mends.push_back({r, c.col, 'e', true, false, 0});
        break;
      case CellKind::Blank:
        if (fmt != nullptr) Check(worksheet_write_blank(ws, row, col, fmt), r, c.col, sheet);
        break;
    }
  }

  void WriteSheet(const Sheet& sheet, lxw_worksheet* ws) {
    // Columns, in runs of equal settings.
    for (auto it = sheet.columns.begin(); it != sheet.columns.end();) {
      auto end = std::next(it);
      std::uint32_t last = it->first;
      while (end != sheet.columns.end() && end->first == last + 1 && end->second == it->second) {
        last = end->first;
        ++end;
      }
      lxw_row_col_options opt{};
      opt.hidden = it->second.hidden;
      const double width = it->second.width > 0 ? WidthForLibrary(it->second.width)
                           : it->second.hidden  ? 0
                                                : LXW_DEF_COL_WIDTH;
      Check(worksheet_set_column_opt(ws, static_cast<lxw_col_t>(it->first - 1),
                                     static_cast<lxw_col_t>(last - 1), width, nullptr, &opt),
            1, it->first, sheet);
      it = end;
    }
    if (sheet.defaultRowHeight > 0 && sheet.defaultRowHeight != LXW_DEF_ROW_HEIGHT)
      worksheet_set_default_row(ws, sheet.defaultRowHeight, LXW_FALSE);
    if (sheet.freezeRows > 0 || sheet.freezeCols > 0)
      worksheet_freeze_panes(ws, sheet.freezeRows, static_cast<lxw_col_t>(sheet.freezeCols));
    for (const Rect& m : sheet.merges) {
      // Listed directly: the library's own merge call writes cells, which
      // rows already written in constant-memory mode would silently lose.
      auto* range = static_cast<lxw_merged_range*>(std::calloc(1, sizeof(lxw_merged_range)));
      if (range == nullptr) Fail(path_, Translate("workbook", "内存不足。"));
      range->first_row = m.r1 - 1;
      range->last_row = m.r2 - 1;
      range->first_col = static_cast<lxw_col_t>(m.c1 - 1);
      range->last_col = static_cast<lxw_col_t>(m.c2 - 1);
      STAILQ_INSERT_TAIL(ws->merged_ranges, range, list_pointers);
      ws->merged_range_count++;
    }
    std::vector<Mend> mends;
    for (const Row& row : sheet.rows) {
      if (row.height > 0 || row.hidden) {
        lxw_row_col_options opt{};
        opt.hidden = row.hidden;
        Check(
            worksheet_set_row_opt(ws, row.index - 1,
                                  row.height > 0 ? row.height : LXW_DEF_ROW_HEIGHT, nullptr, &opt),
            row.index, 1, sheet);
      }
      for (const Cell& c : row.cells) WriteCell(ws, sheet, row.index, c, mends);
    }
    mends_.push_back(std::move(mends));
  }

  const Workbook& book_;
  const std::string& path_;
  const TrackTempFileErrors& tempErrors_;
  std::string folder_;
  lxw_workbook* wb_ = nullptr;
  std::vector<lxw_worksheet*> sheets_;
  std::vector<lxw_format*> formats_;
  std::vector<int> dateStyle_;
  std::unordered_map<std::string, lxw_format*> runFormats_;
  std::vector<std::vector<Mend>> mends_;
};

// Rewrites one cell element (from "<c " to "</c>") as the mend says.
void MendCell(std::string_view cell, const Mend& m, std::string& out) {
  const std::size_t tagEnd = cell.find('>');
  std::string tag(cell.substr(0, tagEnd + 1));
  std::string body(cell.substr(tagEnd + 1, cell.size() - tagEnd - 1 - 4));
  if (const std::size_t t = tag.find(" t=\"str\""); t != std::string::npos && m.type != 0)
    tag.replace(t, 8, std::string(" t=\"") + m.type + "\"");
  if (m.dropFormula) {
    const std::size_t f = body.find("<f>"), fe = body.find("</f>");
    if (f != std::string::npos && fe != std::string::npos) body.erase(f, fe + 4 - f);
  }
  if (m.noValue) {
    const std::size_t v = body.find("<v>"), ve = body.find("</v>");
    if (v != std::string::npos && ve != std::string::npos && ve > v) body.erase(v, ve + 4 - v);
  }
  if (m.exact) {
    const std::size_t v = body.find("<v>"), ve = body.find("</v>");
    if (v != std::string::npos && ve != std::string::npos && ve > v) {
      char buf[40];  // the shortest form that reads back as the same number
      const auto written = std::to_chars(buf, buf + sizeof buf, m.number);
      body.replace(v + 3, ve - v - 3, buf, static_cast<std::size_t>(written.ptr - buf));
    }
  }
  out += tag;
  out += body;
  out += "</c>";
}

// The mended sheet as a stream: read from the library's output, the cells
// the library could not write as they are rewritten on the way. Memory stays
// a few buffers, whatever the sheet's size.
class MendedSheet {
 public:
  MendedSheet(zip_t* from, zip_uint64_t index, const std::vector<Mend>& mends)
      : from_(from), index_(index), mends_(mends) {}

  static zip_int64_t Callback(void* user, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
    auto* self = static_cast<MendedSheet*>(user);
    switch (cmd) {
      case ZIP_SOURCE_OPEN:
        self->in_ = zip_fopen_index(self->from_, self->index_, 0);
        self->next_ = 0;
        self->eof_ = false;
        self->carry_.clear();
        self->ready_.clear();
        self->sent_ = 0;
        return self->in_ != nullptr ? 0 : -1;
      case ZIP_SOURCE_READ:
        return self->Read(static_cast<char*>(data), len);
      case ZIP_SOURCE_CLOSE:
        if (self->in_ != nullptr) zip_fclose(self->in_);
        self->in_ = nullptr;
        return 0;
      case ZIP_SOURCE_STAT: {
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        return 0;
      }
      case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&self->error_, data, len);
      case ZIP_SOURCE_FREE:
        return 0;
      case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
      default:
        zip_error_set(&self->error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
  }

 private:
  zip_int64_t Read(char* data, zip_uint64_t len) {
    while (sent_ == ready_.size()) {
      ready_.clear();
      sent_ = 0;
      if (eof_) return 0;
      if (!Produce()) return -1;
    }
    const std::size_t n = std::min<std::size_t>(len, ready_.size() - sent_);
    std::memcpy(data, ready_.data() + sent_, n);
    sent_ += n;
    return static_cast<zip_int64_t>(n);
  }

  bool Produce() {
    char buffer[1 << 16];
    const zip_int64_t n = zip_fread(in_, buffer, sizeof buffer);
    if (n < 0) {
      zip_error_set(&error_, ZIP_ER_READ, 0);
      return false;
    }
    if (n == 0) eof_ = true;
    carry_.append(buffer, static_cast<std::size_t>(n));
    std::size_t pos = 0;
    while (next_ < mends_.size()) {
      const Mend& m = mends_[next_];
      const std::string open = "<c r=\"" + CellRef(m.row, m.col) + "\"";
      const std::size_t at = carry_.find(open, pos);
      if (at == std::string::npos) {
        // Keep a tail that may hold the start of the tag.
        const std::size_t keep = eof_ ? 0 : std::min(carry_.size() - pos, open.size());
        ready_.append(carry_, pos, carry_.size() - pos - keep);
        pos = carry_.size() - keep;
        if (eof_)
          ++next_;  // not there: nothing to mend
        else
          break;
        continue;
      }
      const std::size_t end = carry_.find("</c>", at);
      if (end == std::string::npos) {
        ready_.append(carry_, pos, at - pos);
        pos = at;
        if (eof_)
          ++next_;
        else
          break;
        continue;
      }
      ready_.append(carry_, pos, at - pos);
      MendCell(std::string_view(carry_).substr(at, end + 4 - at), m, ready_);
      pos = end + 4;
      ++next_;
    }
    if (next_ == mends_.size() || eof_) {
      ready_.append(carry_, pos, std::string::npos);
      pos = carry_.size();
    }
    carry_.erase(0, pos);
    return true;
  }

  zip_t* from_;
  zip_uint64_t index_;
  const std::vector<Mend>& mends_;
  zip_file_t* in_ = nullptr;
  zip_error_t error_{};
  std::size_t next_ = 0, sent_ = 0;
  bool eof_ = false;
  std::string carry_, ready_;
};

// Copies the library's output `file` to `out`, mending the sheets that need it.
void ApplyMends(const std::string& file, const std::string& out, const std::string& path,
                const std::vector<std::vector<Mend>>& mends) {
  int code = 0;
  zip_t* from = zip_open(file.c_str(), ZIP_RDONLY, &code);
  if (from == nullptr) Fail(path, Translate("workbook", "无法重新打开刚写好的文件。"));
  zip_t* to = zip_open(out.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (to == nullptr) {
    zip_discard(from);
    Fail(path, Translate("workbook", "无法建立临时文件。"));
  }
  std::vector<std::unique_ptr<MendedSheet>> streams;
  const zip_int64_t count = zip_get_num_entries(from, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    const std::string name = zip_get_name(from, index, ZIP_FL_ENC_RAW);
    std::size_t sheet = 0;
    const bool mended = std::sscanf(name.c_str(), "xl/worksheets/sheet%zu.xml", &sheet) == 1 &&
                        name == "xl/worksheets/sheet" + std::to_string(sheet) + ".xml" &&
                        sheet >= 1 && sheet <= mends.size() && !mends[sheet - 1].empty();
    zip_source_t* src = nullptr;
    if (mended) {
      streams.push_back(std::make_unique<MendedSheet>(from, index, mends[sheet - 1]));
      src = zip_source_function(to, &MendedSheet::Callback, streams.back().get());
    } else {
      src = zip_source_zip(to, from, index, ZIP_FL_COMPRESSED, 0, -1);  // copied as it is
    }
    const zip_int64_t added =
        src == nullptr ? -1 : zip_file_add(to, name.c_str(), src, ZIP_FL_ENC_UTF_8);
    if (added < 0) {
      if (src != nullptr) zip_source_free(src);
      zip_discard(to);
      zip_discard(from);
      Fail(path, Arg(Translate("workbook", "无法改写 %1。"), {name}));
    }
    // A mended sheet is compressed once more here: the fast level keeps that cheap.
    if (mended) zip_set_file_compression(to, static_cast<zip_uint64_t>(added), ZIP_CM_DEFLATE, 1);
  }
  if (zip_close(to) != 0) {
    zip_error_t* error = zip_get_error(to);
    const int err = zip_error_system_type(error) == ZIP_ET_SYS ? zip_error_code_system(error) : 0;
    const std::string cause = zip_strerror(to);
    zip_discard(to);
    zip_discard(from);
    if (err != 0) Fail(path, DescribeErrno(WriteFailureCause(err, FolderOf(out)), true) + "。");
    Fail(path, cause);
  }
  zip_discard(from);
}

}  // namespace

void WriteXlsxInto(const Workbook& book, const std::string& file, const std::string& path) {
  TrackTempFileErrors tempErrors;
  std::vector<std::vector<Mend>> mends;
  // The library writes a scratch copy beside `file`: cells it cannot write
  // as they are are mended on the way from there to `file`. A scratch copy
  // that needs no mending simply takes the name.
  PendingOutput scratch(file);
  // Made here first, so that a folder that is missing or cannot be written
  // is reported before the library sets out.
  const int fd = ::open(scratch.tempPath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    Fail(path, DescribeErrno(err, true) + "。");
  }
  ::close(fd);
  {
    Writer writer(book, path, scratch.tempPath(), tempErrors);
    writer.Write();
    mends = writer.Mends();
  }
  const bool mend =
      std::any_of(mends.begin(), mends.end(), [](const auto& m) { return !m.empty(); });
  if (mend) {
    ApplyMends(scratch.tempPath(), file, path, mends);
  } else if (::rename(scratch.tempPath().c_str(), file.c_str()) != 0) {
    const int err = errno;
    Fail(path, DescribeErrno(err, true) + "。");
  }
}

void WriteXlsx(const Workbook& book, const std::string& path) {
  PendingOutput out(path);
  WriteXlsxInto(book, out.tempPath(), path);
  out.Commit();
}

}  // namespace pw::xl

// The library's temporary files (see TempFileErrors above). `tmpdir` is the
// folder the workbook's options name, or none.
extern "C" __attribute__((visibility("default"))) FILE* lxw_tmpfile(char* tmpdir) {
  using namespace pw::xl;
  std::string folder;
  if (tmpdir != nullptr && *tmpdir != '\0') {
    folder = tmpdir;
  } else {
    const char* env = std::getenv("TMPDIR");
    folder = env != nullptr && *env != '\0' ? env : "/tmp";
  }
  TempFileErrors* errors = tempFileErrors;
  const int fd = OpenNamelessFile(folder);
  if (fd < 0) {
    if (errors != nullptr) errors->Note(errno);
    return nullptr;
  }
  auto* file = new (std::nothrow) TempFile{fd, errors};
  FILE* stream = file == nullptr
                     ? nullptr
                     : fopencookie(file, "w+", {TempRead, TempWrite, TempSeek, TempClose});
  if (stream == nullptr) {
    if (errors != nullptr) errors->Note(ENOMEM);
    ::close(fd);
    delete file;
  }
  return stream;
}
