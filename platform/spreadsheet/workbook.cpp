#include "platform/spreadsheet/workbook.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/run_errors.h"

namespace pw::xl {

// ---------------------------------------------------------------- paged rows

namespace {

void PutVarint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7F) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

template <class T>
void PutRaw(std::string& out, T v) {
  char bytes[sizeof v];
  std::memcpy(bytes, &v, sizeof v);
  out.append(bytes, sizeof v);
}

class Decoder {
 public:
  Decoder(const char* p, const char* end) : p_(p), end_(end) {}
  bool ok() const { return ok_; }
  std::uint64_t Varint() {
    if (p_ < end_ && static_cast<unsigned char>(*p_) < 0x80)  // most numbers take one byte
      return static_cast<unsigned char>(*p_++);
    std::uint64_t v = 0;
    for (int shift = 0; p_ < end_ && shift < 64; shift += 7) {
      const auto b = static_cast<unsigned char>(*p_++);
      v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return v;
    }
    ok_ = false;
    return 0;
  }
  template <class T>
  T Raw() {
    T v{};
    if (end_ - p_ < static_cast<long>(sizeof v)) {
      ok_ = false;
      return v;
    }
    std::memcpy(&v, p_, sizeof v);
    p_ += sizeof v;
    return v;
  }
  bool AtEnd() const { return p_ == end_; }
  std::string Bytes(std::uint64_t n) {
    if (static_cast<std::uint64_t>(end_ - p_) < n) {
      ok_ = false;
      return {};
    }
    std::string out(p_, static_cast<std::size_t>(n));
    p_ += n;
    return out;
  }

 private:
  const char* p_;
  const char* end_;
  bool ok_ = true;
};

// Writes `data` at `offset`; false with errno set when it could not.
bool WriteAt(int fd, const std::string& data, std::uint64_t offset) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads `size` bytes at `offset` into `bytes`; throws RunError naming `shownAs`.
void ReadAt(int fd, std::uint64_t offset, std::uint64_t size, const std::string& shownAs,
            std::string& bytes) {
  bytes.resize(size);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n =
        ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      throw RunError(RunError::Kind::Failure, shownAs,
                     FileErrorText("读取", shownAs, n == 0 ? EIO : errno));
    done += static_cast<std::size_t>(n);
  }
}

// Row: index, flags (1 hidden, 2 height), [height], cell count, cells.
// Cell: column step, kind, style, formula, then the number or the text id.
void EncodeRow(std::string& out, const Row& row, std::uint32_t previous) {
  PutVarint(out, row.index - previous);
  const unsigned flags = (row.hidden ? 1u : 0u) | (row.height != 0 ? 2u : 0u);
  out += static_cast<char>(flags);
  if (row.height != 0) PutRaw(out, row.height);
  PutVarint(out, row.cells.size());
  std::uint32_t col = 0;
  for (const Cell& c : row.cells) {
    PutVarint(out, c.col - col);
    col = c.col;
    out += static_cast<char>(c.kind);
    PutVarint(out, c.style);
    PutVarint(out, c.formula);
    if (c.kind == CellKind::Text || c.kind == CellKind::Error)
      PutVarint(out, c.text);
    else if (c.kind != CellKind::Blank)
      PutRaw(out, c.number);
  }
}

}  // namespace

RowPages::RowPages(int fd, std::string shownAs) : fd_(fd), shownAs_(std::move(shownAs)) {}

RowPages::~RowPages() {
  if (fd_ >= 0) ::close(fd_);
}

bool RowPages::Add(Row&& row) {
  if (!row.cells.empty()) {
    lastCellRow = row.index;
    lastColumn = std::max(lastColumn, row.cells.back().col);
    cells += row.cells.size();
  }
  filling_.push_back(std::move(row));
  return filling_.size() < kBlockRows || Flush();
}

bool RowPages::Finish() {
  return filling_.empty() || Flush();
}

bool RowPages::Flush() {
  buffer_.clear();
  std::uint32_t previous = 0;
  for (const Row& row : filling_) {
    EncodeRow(buffer_, row, previous);
    previous = row.index;
  }
  if (!WriteAt(fd_, buffer_, end_)) return false;
  index_.push_back({filling_.front().index, filling_.back().index, end_, buffer_.size()});
  end_ += buffer_.size();
  filling_.clear();
  if (buffer_.capacity() > (1u << 22)) std::string().swap(buffer_);
  return true;
}

std::size_t RowPages::BlockOf(std::uint32_t r) const {
  return static_cast<std::size_t>(
      std::lower_bound(index_.begin(), index_.end(), r,
                       [](const Entry& e, std::uint32_t v) { return e.last < v; }) -
      index_.begin());
}

void RowPages::Read(std::size_t block, std::vector<Row>& out) const {
  const Entry& e = index_[block];
  std::string& bytes = readBuffer_;
  ReadAt(fd_, e.offset, e.size, shownAs_, bytes);
  // The rows already in `out` are filled again: their cells keep their memory.
  std::size_t n = 0;
  Decoder in(bytes.data(), bytes.data() + bytes.size());
  std::uint32_t index = 0;
  while (in.ok() && !in.AtEnd()) {
    if (n == out.size()) out.emplace_back();
    Row& row = out[n++];
    index += static_cast<std::uint32_t>(in.Varint());
    row.index = index;
    const auto flags = in.Raw<std::uint8_t>();
    row.hidden = (flags & 1) != 0;
    row.height = (flags & 2) != 0 ? in.Raw<float>() : 0;
    const std::uint64_t count = in.Varint();
    row.cells.resize(std::min<std::uint64_t>(count, kMaxCols));
    std::uint32_t col = 0;
    for (Cell& c : row.cells) {
      col += static_cast<std::uint32_t>(in.Varint());
      c.col = col;
      c.kind = static_cast<CellKind>(in.Raw<std::uint8_t>());
      c.style = static_cast<std::uint32_t>(in.Varint());
      c.formula = static_cast<std::uint32_t>(in.Varint());
      c.number = 0;  // as in a new cell, whatever the old one held
      if (c.kind == CellKind::Text || c.kind == CellKind::Error)
        c.text = static_cast<std::uint32_t>(in.Varint());
      else if (c.kind != CellKind::Blank)
        c.number = in.Raw<double>();
    }
  }
  out.resize(n);
  if (!in.ok())
    throw RunError(RunError::Kind::Failure, shownAs_, FileErrorText("读取", shownAs_, EIO));
}

std::shared_ptr<const std::vector<Row>> RowPages::Shared(std::size_t block) const {
  for (std::size_t i = 0; i < cache_.size(); ++i)
    if (cache_[i].first == block) {
      if (i + 1 != cache_.size()) std::swap(cache_[i], cache_.back());
      return cache_.back().second;
    }
  constexpr std::size_t kCachedBlocks = 2;
  std::shared_ptr<std::vector<Row>> rows;
  if (cache_.size() == kCachedBlocks) {
    // The oldest block's memory serves again, unless a reader still holds it.
    if (cache_.front().second.use_count() == 1) rows = std::move(cache_.front().second);
    cache_.erase(cache_.begin());
  }
  if (!rows) rows = std::make_shared<std::vector<Row>>();
  Read(block, *rows);
  cache_.emplace_back(block, rows);
  return rows;
}

// ---------------------------------------------------------------- paged texts

TextPages::File::~File() {
  if (fd >= 0) ::close(fd);
}

bool TextPages::Add(std::string_view text, std::uint32_t& number) {
  if (filling_.size() == kBlockTexts) {
    std::string kept(text);  // `text` may be one of the block's own
    std::string bytes;
    for (const std::string& t : filling_) {
      PutVarint(bytes, t.size());
      bytes += t;
    }
    if (!WriteAt(file_->fd, bytes, file_->end)) return false;
    index_.emplace_back(file_->end, bytes.size());
    file_->end += bytes.size();
    filling_.clear();
    number = static_cast<std::uint32_t>(index_.size() * kBlockTexts);
    filling_.push_back(std::move(kept));
    return true;
  }
  number = static_cast<std::uint32_t>(index_.size() * kBlockTexts + filling_.size());
  filling_.emplace_back(text);
  return true;
}

const std::string& TextPages::Get(std::uint32_t number) const {
  const std::size_t block = number / kBlockTexts, at = number % kBlockTexts;
  if (block == index_.size()) return filling_.at(at);
  for (std::size_t i = 0; i < cache_.size(); ++i)
    if (cache_[i].first == block) return cache_[i].second.at(at);
  constexpr std::size_t kCachedBlocks = 2;
  if (cache_.size() == kCachedBlocks) cache_.erase(cache_.begin());
  const auto& [offset, size] = index_.at(block);
  std::string bytes;
  ReadAt(file_->fd, offset, size, file_->shownAs, bytes);
  Decoder in(bytes.data(), bytes.data() + bytes.size());
  std::vector<std::string> texts;
  texts.reserve(kBlockTexts);
  while (in.ok() && !in.AtEnd()) texts.push_back(in.Bytes(in.Varint()));
  if (!in.ok() || texts.size() != kBlockTexts)
    throw RunError(RunError::Kind::Failure, file_->shownAs,
                   FileErrorText("读取", file_->shownAs, EIO));
  cache_.emplace_back(block, std::move(texts));
  return cache_.back().second[at];
}

// ---------------------------------------------------------------- sheets

const Row* Sheet::FindRow(std::uint32_t r) const {
  if (pages) {
    const std::size_t b = pages->BlockOf(r);
    if (b == pages->Blocks() || pages->FirstIndex(b) > r) return nullptr;
    const std::vector<Row>& block = pages->Cached(b);
    auto it = std::lower_bound(block.begin(), block.end(), r,
                               [](const Row& row, std::uint32_t v) { return row.index < v; });
    return it != block.end() && it->index == r ? &*it : nullptr;
  }
  auto it = std::lower_bound(rows.begin(), rows.end(), r,
                             [](const Row& row, std::uint32_t v) { return row.index < v; });
  return it != rows.end() && it->index == r ? &*it : nullptr;
}

void Sheet::Unpage() {
  if (!pages) return;
  std::vector<Row> all;
  std::vector<Row> block;
  for (std::size_t b = 0; b < pages->Blocks(); ++b) {
    pages->Read(b, block);
    std::move(block.begin(), block.end(), std::back_inserter(all));
  }
  rows = std::move(all);
  pages.reset();
}

Row& Sheet::GetRow(std::uint32_t r) {
  Unpage();
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
  Unpage();
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
  Unpage();
  auto it = std::lower_bound(rows.begin(), rows.end(), area.r1,
                             [](const Row& row, std::uint32_t v) { return row.index < v; });
  for (; it != rows.end() && it->index <= area.r2; ++it)
    std::erase_if(it->cells,
                  [&](const Cell& cell) { return cell.col >= area.c1 && cell.col <= area.c2; });
  std::erase_if(merges, [&](const Rect& m) { return m.Intersects(area); });
}

std::uint32_t Sheet::LastRow() const {
  if (pages) return std::max(pages->lastCellRow, spilled.lastCellRow);
  for (auto it = rows.rbegin(); it != rows.rend(); ++it)
    if (!it->cells.empty()) return std::max(it->index, spilled.lastCellRow);
  return spilled.lastCellRow;
}

std::uint32_t Sheet::LastColumn() const {
  std::uint32_t last = spilled.lastColumn;
  if (pages) return std::max(last, pages->lastColumn);
  for (const Row& row : rows)
    if (!row.cells.empty()) last = std::max(last, row.cells.back().col);
  return last;
}

std::size_t Sheet::CellCount() const {
  std::size_t n = spilled.cells;
  if (pages) return n + pages->cells;
  for (const Row& row : rows) n += row.cells.size();
  return n;
}

namespace {

// Styles are found again by a hash of every field; two styles are the same
// when every field is, a font size to the bit.
class StyleHash {
 public:
  explicit StyleHash(const Style& s) {
    Add(s.numFmtId);
    Add(std::hash<std::string>()(s.numFmt));
    const Font& f = s.font;
    Add(std::hash<std::string>()(f.name));
    Add(std::bit_cast<std::uint64_t>(f.size));
    Add(f.bold | f.italic << 1 | f.strike << 2 | f.underline << 3 | f.vertAlign << 6);
    Add(f.family);
    Add(f.color);
    Add(s.fill.pattern);
    Add(s.fill.fg);
    Add(s.fill.bg);
    for (const BorderLine* l :
         {&s.border.left, &s.border.right, &s.border.top, &s.border.bottom, &s.border.diagonal})
      Add(std::uint64_t{l->style} << 32 | l->color);
    const Alignment& a = s.align;
    Add(s.border.diagonalUp | s.border.diagonalDown << 1 | a.wrap << 2 | a.shrink << 3 |
        s.locked << 4 | s.hidden << 5);
    Add(std::uint64_t{a.horizontal} | std::uint64_t{a.vertical} << 8 |
        std::uint64_t{a.indent} << 16 | static_cast<std::uint64_t>(a.rotation) << 24);
  }
  std::uint64_t value() const { return h_; }

 private:
  void Add(std::uint64_t v) { h_ ^= v + 0x9E3779B97F4A7C15ull + (h_ << 6) + (h_ >> 2); }
  std::uint64_t h_ = 0;
};

bool SameStyle(const Style& a, const Style& b) {
  return std::bit_cast<std::uint64_t>(a.font.size) == std::bit_cast<std::uint64_t>(b.font.size) &&
         a == b;
}

}  // namespace

Workbook::Workbook() {
  styles.emplace_back();
  styleIds_.emplace(StyleHash(styles[0]).value(), 0);
  strings_.emplace_back();  // id 0: the empty text
  textIds_.emplace("", 0);
}

void Workbook::SetDefaultFont(const Font& font) {
  auto [from, to] = styleIds_.equal_range(StyleHash(styles[0]).value());
  for (auto it = from; it != to; ++it)
    if (it->second == 0) {
      styleIds_.erase(it);
      break;
    }
  styles[0].font = font;
  styleIds_.emplace(StyleHash(styles[0]).value(), 0);
}

std::uint32_t Workbook::AddStyle(const Style& style) {
  const std::uint64_t hash = StyleHash(style).value();
  // The first style added wins over a later one made alike (the default
  // style after a change of its font).
  std::uint32_t found = UINT32_MAX;
  auto [from, to] = styleIds_.equal_range(hash);
  for (auto it = from; it != to; ++it)
    if (it->second < found && SameStyle(styles[it->second], style)) found = it->second;
  if (found != UINT32_MAX) return found;
  const auto id = static_cast<std::uint32_t>(styles.size());
  styles.push_back(style);
  styleIds_.emplace(hash, id);
  return id;
}

void Workbook::KeepTextsOnDisk(int fd, std::string shownAs) {
  const auto file = std::make_shared<TextPages::File>(fd, std::move(shownAs));
  textPages_ = std::make_shared<TextPages>(file);
  formulaPages_ = std::make_shared<TextPages>(file);
}

std::uint32_t Workbook::AddText(std::string_view text) {
  std::uint32_t number = 0;
  if (textPages_ && !text.empty() && textPages_->Add(text, number)) return kPagedText | number;
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
  std::uint32_t number = 0;
  if (formulaPages_ && formulaPages_->Add(formula, number)) return kPagedText | number;
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
  // ASCII letters only, whatever the locale.
  for (; i < ref.size() && ((ref[i] | 0x20) >= 'a' && (ref[i] | 0x20) <= 'z'); ++i) {
    c = c * 26 + static_cast<std::uint32_t>((ref[i] | 0x20) - 'a' + 1);
    if (c > kMaxCols) return false;
  }
  if (i == letters) return false;
  if (i < ref.size() && ref[i] == '$') ++i;
  const std::size_t digits = i;
  while (i < ref.size() && ref[i] >= '0' && ref[i] <= '9') {
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
