#include "platform/spreadsheet/xlsx_writer.h"

#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <locale.h>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "batch/run.h"
#include "platform/errors.h"
#include "platform/textcodec.h"

namespace pw::xl {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& cause) {
  throw RunError(RunError::Kind::Failure, path,
                 "无法保存工作簿“" + DisplayText(path) + "”：" + cause);
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
  char type;          // 'e' error, 'b' boolean, 0 unchanged
  bool dropFormula;   // a constant error written as a formula placeholder
  std::string value;  // the exact number, where the library's 16 digits lose it
};

// The library prints numbers with 16 significant digits; some need 17.
bool NeedsExactNumber(double v, std::string& exact) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.16G", v);
  if (std::strtod(buf, nullptr) == v) return false;
  std::snprintf(buf, sizeof buf, "%.17G", v);
  exact = buf;
  return true;
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

class Writer {
 public:
  Writer(const Workbook& book, const std::string& path, const std::string& tmp)
      : book_(book), path_(path) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    wb_ = workbook_new_opt(tmp.c_str(), &options);
    if (wb_ == nullptr) Fail(path_, "内存不足。");
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
    if (wb_ != nullptr) {
      workbook_close(wb_);  // frees it; the half-written file is removed by the caller
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  void Write() {
    CNumericLocale numbers;
    std::size_t firstVisible = book_.sheets.size();
    for (std::size_t i = 0; i < book_.sheets.size(); ++i) {
      const Sheet& sheet = *book_.sheets[i];
      lxw_worksheet* ws = workbook_add_worksheet(wb_, sheet.name.c_str());
      if (ws == nullptr) Fail(path_, "工作表名“" + sheet.name + "”无效或重复。");
      if (sheet.state == SheetState::Visible && firstVisible == book_.sheets.size()) {
        firstVisible = i;
        worksheet_activate(ws);
      }
      WriteSheet(sheet, ws);
      sheets_.push_back(ws);
    }
    for (std::size_t i = 0; i < book_.sheets.size(); ++i)
      if (book_.sheets[i]->state != SheetState::Visible && i != firstVisible)
        worksheet_hide(sheets_[i]);
    if (book_.sheets.empty()) workbook_add_worksheet(wb_, nullptr);
    lxw_workbook* wb = wb_;
    wb_ = nullptr;
    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) {
      if (err == LXW_ERROR_CREATING_XLSX_FILE || err == LXW_ERROR_CREATING_TMPFILE)
        Fail(path_, DescribeErrno(errno) + "。");
      Fail(path_, lxw_strerror(err));
    }
  }

  const std::vector<std::vector<Mend>>& Mends() const { return mends_; }

 private:
  void Check(lxw_error err, std::uint32_t row, std::uint32_t col, const Sheet& sheet) {
    if (err == LXW_NO_ERROR) return;
    Fail(path_, "工作表“" + sheet.name + "”单元格 " + CellRef(row, col) + "：" + lxw_strerror(err));
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
    if (f == nullptr) Fail(path_, "内存不足。");
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
      if (it->second == nullptr) Fail(path_, "内存不足。");
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
      std::string exact;
      if (NeedsExactNumber(number, exact)) mends.push_back({r, c.col, 0, false, std::move(exact)});
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
          mends.push_back({r, c.col, 'b', false, {}});
          break;
        case CellKind::Error:
          err =
              worksheet_write_formula_str(ws, row, col, f.c_str(), fmt, book_.Text(c.text).c_str());
          mends.push_back({r, c.col, 'e', false, {}});
          break;
        case CellKind::Blank:
          err = worksheet_write_formula_num(ws, row, col, f.c_str(), fmt, 0);
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
        mends.push_back({r, c.col, 'e', true, {}});
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
      if (range == nullptr) Fail(path_, "内存不足。");
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
  lxw_workbook* wb_ = nullptr;
  std::vector<lxw_worksheet*> sheets_;
  std::vector<lxw_format*> formats_;
  std::vector<int> dateStyle_;
  std::unordered_map<std::string, lxw_format*> runFormats_;
  std::vector<std::vector<Mend>> mends_;
};

// Rewrites the cells the library could only write as text results: the
// cached type becomes error or boolean, and a constant error loses its
// placeholder formula.
std::string MendSheet(const std::string& xml, const std::vector<Mend>& mends) {
  std::string out;
  out.reserve(xml.size() + mends.size() * 8);
  std::size_t pos = 0;
  for (const Mend& m : mends) {
    const std::string open = "<c r=\"" + CellRef(m.row, m.col) + "\"";
    const std::size_t at = xml.find(open, pos);
    if (at == std::string::npos) continue;
    const std::size_t tagEnd = xml.find('>', at);
    const std::size_t cellEnd = xml.find("</c>", at);
    if (tagEnd == std::string::npos || cellEnd == std::string::npos) continue;
    out.append(xml, pos, at - pos);
    std::string tag = xml.substr(at, tagEnd - at + 1);
    if (const std::size_t t = tag.find(" t=\"str\""); t != std::string::npos && m.type != 0)
      tag.replace(t, 8, std::string(" t=\"") + m.type + "\"");
    std::string body = xml.substr(tagEnd + 1, cellEnd - tagEnd - 1);
    if (m.dropFormula) {
      const std::size_t f = body.find("<f>"), fe = body.find("</f>");
      if (f != std::string::npos && fe != std::string::npos) body.erase(f, fe + 4 - f);
    }
    if (!m.value.empty()) {
      const std::size_t v = body.find("<v>"), ve = body.find("</v>");
      if (v != std::string::npos && ve != std::string::npos && ve > v)
        body.replace(v + 3, ve - v - 3, m.value);
    }
    out += tag;
    out += body;
    out += "</c>";
    pos = cellEnd + 4;
  }
  out.append(xml, pos, std::string::npos);
  return out;
}

void ApplyMends(const std::string& file, const std::string& path,
                const std::vector<std::vector<Mend>>& mends) {
  if (std::all_of(mends.begin(), mends.end(), [](const auto& m) { return m.empty(); })) return;
  int code = 0;
  zip_t* zip = zip_open(file.c_str(), 0, &code);
  if (zip == nullptr) Fail(path, "无法重新打开刚写好的文件。");
  std::vector<std::string> keep;  // buffers live until zip_close
  keep.reserve(mends.size());
  for (std::size_t i = 0; i < mends.size(); ++i) {
    if (mends[i].empty()) continue;
    const std::string part = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml";
    zip_stat_t st;
    zip_file_t* f = zip_fopen(zip, part.c_str(), 0);
    if (f == nullptr || zip_stat(zip, part.c_str(), 0, &st) != 0) {
      if (f != nullptr) zip_fclose(f);
      zip_discard(zip);
      Fail(path, "找不到刚写好的 " + part + "。");
    }
    std::string xml(static_cast<std::size_t>(st.size), '\0');
    const zip_int64_t n = zip_fread(f, xml.data(), st.size);
    zip_fclose(f);
    if (n != static_cast<zip_int64_t>(st.size)) {
      zip_discard(zip);
      Fail(path, "无法读回刚写好的 " + part + "。");
    }
    keep.push_back(MendSheet(xml, mends[i]));
    zip_source_t* src = zip_source_buffer(zip, keep.back().data(), keep.back().size(), 0);
    if (src == nullptr ||
        zip_file_add(zip, part.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
      if (src != nullptr) zip_source_free(src);
      zip_discard(zip);
      Fail(path, "无法改写 " + part + "。");
    }
  }
  if (zip_close(zip) != 0) {
    const std::string cause = zip_strerror(zip);
    zip_discard(zip);
    Fail(path, cause);
  }
}

}  // namespace

void WriteXlsx(const Workbook& book, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  std::string tmp = folder + "/.pw-save-XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    const int err = errno;
    Fail(path, DescribeErrno(err) + "。");
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  ::close(fd);
  try {
    std::vector<std::vector<Mend>> mends;
    {
      Writer writer(book, path, tmp);
      writer.Write();
      mends = writer.Mends();
    }
    ApplyMends(tmp, path, mends);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
      const int err = errno;
      Fail(path, DescribeErrno(err) + "。");
    }
  } catch (...) {
    std::remove(tmp.c_str());
    throw;
  }
}

}  // namespace pw::xl
