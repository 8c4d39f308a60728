#include "platform/spreadsheet/workbook.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace pw::xl {

const Row* Sheet::FindRow(std::uint32_t r) const {
  auto it = std::lower_bound(rows.begin(), rows.end(), r,
                             [](const Row& row, std::uint32_t v) { return row.index < v; });
  return it != rows.end() && it->index == r ? &*it : nullptr;
}

Row& Sheet::GetRow(std::uint32_t r) {
  if (rows.empty() || rows.back().index < r) {
    rows.emplace_back().index = r;
    return rows.back();
  }
  auto it = std::lower_bound(rows.begin(), rows.end(), r,
                             [](const Row& row, std::uint32_t v) { return row.index < v; });
  if (it != rows.end() && it->index == r) return *it;
  Row row;
  row.index = r;
  return *rows.insert(it, std::move(row));
}

const Cell* Sheet::Find(std::uint32_t r, std::uint32_t c) const {
  const Row* row = FindRow(r);
  if (row == nullptr) return nullptr;
  auto it = std::lower_bound(row->cells.begin(), row->cells.end(), c,
                             [](const Cell& cell, std::uint32_t v) { return cell.col < v; });
  return it != row->cells.end() && it->col == c ? &*it : nullptr;
}

Cell& Sheet::Put(std::uint32_t r, std::uint32_t c) {
  Row& row = GetRow(r);
  auto& cells = row.cells;
  if (cells.empty() || cells.back().col < c) {
    cells.emplace_back().col = c;
    return cells.back();
  }
  auto it = std::lower_bound(cells.begin(), cells.end(), c,
                             [](const Cell& cell, std::uint32_t v) { return cell.col < v; });
  if (it != cells.end() && it->col == c) return *it;
  Cell cell;
  cell.col = c;
  return *cells.insert(it, cell);
}

void Sheet::Erase(const Rect& area) {
  auto it = std::lower_bound(rows.begin(), rows.end(), area.r1,
                             [](const Row& row, std::uint32_t v) { return row.index < v; });
  for (; it != rows.end() && it->index <= area.r2; ++it)
    std::erase_if(it->cells,
                  [&](const Cell& cell) { return cell.col >= area.c1 && cell.col <= area.c2; });
  std::erase_if(merges, [&](const Rect& m) { return m.Intersects(area); });
}

std::uint32_t Sheet::LastRow() const {
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    if (!it->cells.empty()) return std::max(it->index, spilled.lastCellRow);
  return spilled.lastCellRow;
}

std::uint32_t Sheet::LastColumn() const {
  std::uint32_t last = spilled.lastColumn;
  for (const Row& row : rows)
    if (!row.cells.empty()) last = std::max(last, row.cells.back().col);
  return last;
}

std::size_t Sheet::CellCount() const {
  std::size_t n = spilled.cells;
  for (const Row& row : rows) n += row.cells.size();
  return n;
}

namespace {

void AppendFont(std::string& key, const Font& f) {
  char buf[96];
  std::snprintf(buf, sizeof buf, "|%.17g|%d%d%d|%u|%u|%u|%x|", f.size, f.bold, f.italic, f.strike,
                f.underline, f.vertAlign, f.family, f.color);
  key += f.name;
  key += buf;
}

void AppendLine(std::string& key, const BorderLine& l) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u:%x,", l.style, l.color);
  key += buf;
}

std::string StyleKey(const Style& s) {
  std::string key;
  key.reserve(128);
  key += std::to_string(s.numFmtId);
  key += '|';
  key += s.numFmt;
  key += '|';
  AppendFont(key, s.font);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%u:%x:%x|", s.fill.pattern, s.fill.fg, s.fill.bg);
  key += buf;
  for (const BorderLine* l :
       {&s.border.left, &s.border.right, &s.border.top, &s.border.bottom, &s.border.diagonal})
    AppendLine(key, *l);
  std::snprintf(buf, sizeof buf, "%d%d|%u,%u,%d,%d,%u,%d|%d%d", s.border.diagonalUp,
                s.border.diagonalDown, s.align.horizontal, s.align.vertical, s.align.wrap,
                s.align.shrink, s.align.indent, s.align.rotation, s.locked, s.hidden);
  key += buf;
  return key;
}

}  // namespace

Workbook::Workbook() {
  styles.emplace_back();
  styleIds_.emplace(StyleKey(styles[0]), 0);
  strings_.emplace_back();  // id 0: the empty text
  textIds_.emplace("", 0);
}

void Workbook::SetDefaultFont(const Font& font) {
  styleIds_.erase(StyleKey(styles[0]));
  styles[0].font = font;
  styleIds_[StyleKey(styles[0])] = 0;
}

std::uint32_t Workbook::AddStyle(const Style& style) {
  auto [it, added] = styleIds_.emplace(StyleKey(style), static_cast<std::uint32_t>(styles.size()));
  if (added) styles.push_back(style);
  return it->second;
}

std::uint32_t Workbook::AddText(std::string_view text) {
  if (auto it = textIds_.find(text); it != textIds_.end()) return it->second;
  const auto id = static_cast<std::uint32_t>(strings_.size());
  textIds_.emplace(strings_.emplace_back(text), id);
  return id;
}

std::uint32_t Workbook::AddRichText(std::vector<RichRun> runs) {
  std::string plain;
  for (const RichRun& r : runs) plain += r.text;
  const auto id = static_cast<std::uint32_t>(strings_.size());
  strings_.push_back(std::move(plain));
  runs_.emplace(id, std::move(runs));
  return id;
}

const std::vector<RichRun>* Workbook::Runs(std::uint32_t id) const {
  auto it = runs_.find(id);
  return it == runs_.end() ? nullptr : &it->second;
}

std::uint32_t Workbook::AddFormula(std::string formula) {
  formulas.push_back(std::move(formula));
  return static_cast<std::uint32_t>(formulas.size());
}

Sheet& Workbook::AddSheet(std::string name) {
  sheets.push_back(std::make_unique<Sheet>());
  sheets.back()->name = std::move(name);
  return *sheets.back();
}

Sheet* Workbook::FindSheet(std::string_view name) {
  for (auto& s : sheets)
    if (s->name == name) return s.get();
  return nullptr;
}

bool IsBlank(const Workbook& book, const Cell& cell) {
  if (cell.kind == CellKind::Blank) return cell.formula == 0;
  if (cell.kind != CellKind::Text) return false;
  const std::string& t = book.Text(cell.text);
  return std::all_of(t.begin(), t.end(),
                     [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string ColumnName(std::uint32_t col) {
  if (col < 1 || col > kMaxCols) return {};
  std::string name;
  while (col > 0) {
    const std::uint32_t rem = (col - 1) % 26;
    name.insert(name.begin(), static_cast<char>('A' + rem));
    col = (col - 1) / 26;
  }
  return name;
}

std::string CellRef(std::uint32_t row, std::uint32_t col) {
  return ColumnName(col) + std::to_string(row);
}

bool ParseCellRef(std::string_view ref, std::uint32_t& row, std::uint32_t& col) {
  std::size_t i = 0;
  std::uint32_t c = 0, r = 0;
  if (i < ref.size() && ref[i] == '$') ++i;
  const std::size_t letters = i;
  while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i]))) {
    c = c * 26 +
        static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
    if (c > kMaxCols) return false;
    ++i;
  }
  if (i == letters) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  const std::size_t digits = i;
  while (i < ref.size() && std::isdigit(static_cast<unsigned char>(ref[i]))) {
    r = r * 10 + static_cast<std::uint32_t>(ref[i] - '0');
    if (r > kMaxRows) return false;
    ++i;
  }
  if (i == digits || i != ref.size() || r == 0) return false;
  row = r;
  col = c;
  return true;
}

bool ParseRange(std::string_view ref, Rect& rect) {
  const std::size_t colon = ref.find(':');
  if (colon == std::string_view::npos) {
    if (!ParseCellRef(ref, rect.r1, rect.c1)) return false;
    rect.r2 = rect.r1;
    rect.c2 = rect.c1;
    return true;
  }
  Rect r;
  if (!ParseCellRef(ref.substr(0, colon), r.r1, r.c1) ||
      !ParseCellRef(ref.substr(colon + 1), r.r2, r.c2))
    return false;
  rect = {std::min(r.r1, r.r2), std::min(r.c1, r.c2), std::max(r.r1, r.r2), std::max(r.c1, r.c2)};
  return true;
}

std::string_view BuiltinFormat(std::uint16_t id) {
  switch (id) {
    case 0:
      return "General";
    case 1:
      return "0";
    case 2:
      return "0.00";
    case 3:
      return "#,##0";
    case 4:
      return "#,##0.00";
    case 9:
      return "0%";
    case 10:
      return "0.00%";
    case 11:
      return "0.00E+00";
    case 12:
      return "# ?/?";
    case 13:
      return "# ?\?/??";
    case 14:
      return "mm-dd-yy";
    case 15:
      return "d-mmm-yy";
    case 16:
      return "d-mmm";
    case 17:
      return "mmm-yy";
    case 18:
      return "h:mm AM/PM";
    case 19:
      return "h:mm:ss AM/PM";
    case 20:
      return "h:mm";
    case 21:
      return "h:mm:ss";
    case 22:
      return "m/d/yy h:mm";
    case 37:
      return "#,##0 ;(#,##0)";
    case 38:
      return "#,##0 ;[Red](#,##0)";
    case 39:
      return "#,##0.00;(#,##0.00)";
    case 40:
      return "#,##0.00;[Red](#,##0.00)";
    case 45:
      return "mm:ss";
    case 46:
      return "[h]:mm:ss";
    case 47:
      return "mmss.0";
    case 48:
      return "##0.0E+0";
    case 49:
      return "@";
    default:
      return {};
  }
}

std::uint16_t BuiltinFormatId(std::string_view code) {
  for (std::uint16_t id = 0; id < 50; ++id)
    if (!BuiltinFormat(id).empty() && BuiltinFormat(id) == code) return id;
  return kCustomFormat;
}

bool IsDateFormat(std::uint16_t id, std::string_view code) {
  if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
      (id >= 50 && id <= 58))
    return true;
  if (id != kCustomFormat) return false;
  // Only the first section decides; quoted text, escapes and [..] tags are not codes.
  for (std::size_t i = 0; i < code.size(); ++i) {
    const char ch = code[i];
    if (ch == ';') return false;
    if (ch == '"') {
      const std::size_t end = code.find('"', i + 1);
      if (end == std::string_view::npos) return false;
      i = end;
    } else if (ch == '\\' || ch == '_' || ch == '*') {
      ++i;
    } else if (ch == '[') {
      const std::size_t end = code.find(']', i + 1);
      if (end == std::string_view::npos) return false;
      const std::string_view tag = code.substr(i + 1, end - i - 1);
      if (!tag.empty() && (tag[0] == 'h' || tag[0] == 'H' || tag[0] == 'm' || tag[0] == 'M' ||
                           tag[0] == 's' || tag[0] == 'S'))
        return true;
      i = end;
    } else {
      const char lc = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (lc == 'g' && code.substr(i).size() >= 7) {
        std::string word(code.substr(i, 7));
        for (char& w : word) w = static_cast<char>(std::tolower(static_cast<unsigned char>(w)));
        if (word == "general") {
          i += 6;
          continue;
        }
      }
      if (lc == 'd' || lc == 'm' || lc == 'y' || lc == 'h' || lc == 's') return true;
    }
  }
  return false;
}

}  // namespace pw::xl
