#include "platform/database/jet_layout.h"

#include <algorithm>

#include "platform/translate.h"

namespace pw::db {

namespace {

void Append16(std::string& s, std::uint32_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Append24(std::string& s, std::uint32_t v) {
  Append16(s, v);
  s.push_back(static_cast<char>((v >> 16) & 0xFF));
}
void Append32(std::string& s, std::uint32_t v) {
  Append16(s, v);
  Append16(s, v >> 16);
}
void AppendName(std::string& s, const std::u16string& name) {
  Append16(s, static_cast<std::uint32_t>(name.size() * 2));
  for (char16_t c : name) Append16(s, c);
}
const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

constexpr std::uint32_t kMagic = 0x659;

}  // namespace

const ColumnDef* TableDef::Find(std::uint16_t number) const {
  for (const ColumnDef& c : columns)
    if (c.number == number) return &c;
  return nullptr;
}

std::size_t TableDef::FixedAreaSize() const {
  std::size_t size = 0;
  for (const ColumnDef& c : columns)
    if (c.fixed() && c.type != kTypeBool)
      size = std::max<std::size_t>(size, std::size_t{c.fixedOffset} + c.length);
  return size;
}

std::string SerializeTableDef(const TableDef& def) {
  std::string s(63, '\0');
  unsigned char* h = reinterpret_cast<unsigned char*>(s.data());
  h[0] = 0x02;
  h[1] = 0x01;
  Put32(h + 12, kMagic);
  Put32(h + 16, def.rowCount);
  Put32(h + 20, def.autoNumber);
  h[24] = 0x01;
  h[40] = def.tableType;
  Put16(h + 41, def.maxColumns);
  Put16(h + 43, def.varColumns);
  Put16(h + 45, static_cast<std::uint32_t>(def.columns.size()));
  Put32(h + 47, static_cast<std::uint32_t>(def.logical.size()));
  Put32(h + 51, static_cast<std::uint32_t>(def.physical.size()));
  h[55] = def.ownedRow;
  Put24(h + 56, def.ownedPage);
  h[59] = def.freeRow;
  Put24(h + 60, def.freePage);
  for (const PhysicalIndex& p : def.physical) {
    Append32(s, 0);
    Append32(s, p.uniqueKeys);
    Append32(s, 0);
  }
  for (const ColumnDef& c : def.columns) {
    std::string b(25, '\0');
    unsigned char* p = reinterpret_cast<unsigned char*>(b.data());
    p[0] = c.type;
    Put32(p + 1, kMagic);
    Put16(p + 5, c.number);
    Put16(p + 7, c.varIndex);
    Put16(p + 9, c.ordinal);
    Put16(p + 11, c.sortOrder);
    p[15] = c.flags;
    p[16] = c.extraFlags;
    Put16(p + 21, c.fixedOffset);
    Put16(p + 23, c.length);
    s += b;
  }
  for (const ColumnDef& c : def.columns) AppendName(s, c.name);
  for (const PhysicalIndex& p : def.physical) {
    Append32(s, 0x783);
    for (std::size_t i = 0; i < 10; ++i) {
      const IndexColumn c = i < p.columns.size() ? p.columns[i] : IndexColumn{};
      Append16(s, c.column);
      s.push_back(static_cast<char>(c.order));
    }
    s.push_back(static_cast<char>(p.mapRow));
    Append24(s, p.mapPage);
    Append32(s, p.rootPage);
    Append32(s, 0);
    s.push_back(static_cast<char>(p.flags));
    s.append(5, '\0');
  }
  for (const LogicalIndex& l : def.logical) {
    Append32(s, kMagic);
    Append32(s, l.number);
    Append32(s, l.physical);
    s.push_back('\0');
    Append32(s, 0xFFFFFFFF);
    Append32(s, 0);
    s.push_back('\x04');
    s.push_back('\x04');
    s.push_back(static_cast<char>(l.type));
    Append32(s, 0);
  }
  for (const LogicalIndex& l : def.logical) AppendName(s, l.name);
  for (const LongValueMap& m : def.longValueMaps) {
    Append16(s, m.column);
    s.push_back(static_cast<char>(m.ownedRow));
    Append24(s, m.ownedPage);
    s.push_back(static_cast<char>(m.freeRow));
    Append24(s, m.freePage);
  }
  s += "\xFF\xFF";
  Put32(reinterpret_cast<unsigned char*>(s.data()) + 8, static_cast<std::uint32_t>(s.size()));
  return s;
}

std::size_t TdefPagesNeeded(std::size_t length) {
  if (length <= kPageSize) return 1;
  return 1 + (length - kPageSize + (kPageSize - 8) - 1) / (kPageSize - 8);
}

std::string ParseTableDef(const std::string& file, std::uint32_t first, TableDef& def) {
  return ParseTableDef([&](std::uint32_t n) { return PageAt(file, n); }, PageCount(file), first,
                       def);
}

std::string ParseTableDef(const PageReader& read, std::uint32_t count, std::uint32_t first,
                          TableDef& def) {
  def = TableDef{};
  if (first == 0 || first >= count) return Translate("database", "表定义页号超出文件");
  std::string logical;
  std::uint32_t page = first;
  for (int hops = 0; page != 0; ++hops) {
    if (page >= count || hops > 64) return Translate("database", "表定义页链无效");
    const unsigned char* p = read(page);
    if (p[0] != 0x02 || p[1] != 0x01) return Translate("database", "表定义页类型错误");
    def.pages.push_back(page);
    if (logical.empty())
      logical.assign(reinterpret_cast<const char*>(p), kPageSize);
    else
      logical.append(reinterpret_cast<const char*>(p) + 8, kPageSize - 8);
    page = Get32(p + 4);
  }
  const unsigned char* t = U(logical);
  const std::uint32_t length = Get32(t + 8);
  if (length < 65 || length > logical.size()) return Translate("database", "表定义长度无效");
  if (TdefPagesNeeded(length) != def.pages.size())
    return Translate("database", "表定义页数与长度不符");
  def.rowCount = Get32(t + 16);
  def.autoNumber = Get32(t + 20);
  def.tableType = t[40];
  def.maxColumns = Get16(t + 41);
  def.varColumns = Get16(t + 43);
  const std::uint16_t columns = Get16(t + 45);
  const std::uint32_t logicalCount = Get32(t + 47);
  const std::uint32_t physicalCount = Get32(t + 51);
  if (physicalCount > 256 || logicalCount > 256) return Translate("database", "索引数量无效");
  def.ownedRow = t[55];
  def.ownedPage = Get24(t + 56);
  def.freeRow = t[59];
  def.freePage = Get24(t + 60);
  std::size_t o = 63;
  auto need = [&](std::size_t n) { return o + n <= length; };
  def.physical.resize(physicalCount);
  for (PhysicalIndex& p : def.physical) {
    if (!need(12)) return Translate("database", "表定义被截断");
    p.uniqueKeys = Get32(t + o + 4);
    o += 12;
  }
  def.columns.resize(columns);
  for (ColumnDef& c : def.columns) {
    if (!need(25)) return Translate("database", "表定义被截断");
    const unsigned char* b = t + o;
    c.type = b[0];
    c.number = Get16(b + 5);
    c.varIndex = Get16(b + 7);
    c.ordinal = Get16(b + 9);
    c.sortOrder = Get16(b + 11);
    c.flags = b[15];
    c.extraFlags = b[16];
    c.fixedOffset = Get16(b + 21);
    c.length = Get16(b + 23);
    o += 25;
  }
  auto readName = [&](std::u16string& name) {
    if (!need(2)) return false;
    const std::uint16_t n = Get16(t + o);
    o += 2;
    if (!need(n) || n % 2 != 0) return false;
    for (std::size_t i = 0; i < n; i += 2) name.push_back(static_cast<char16_t>(Get16(t + o + i)));
    o += n;
    return true;
  };
  for (ColumnDef& c : def.columns)
    if (!readName(c.name)) return Translate("database", "列名被截断");
  for (PhysicalIndex& p : def.physical) {
    if (!need(52)) return Translate("database", "表定义被截断");
    const unsigned char* b = t + o;
    for (int i = 0; i < 10; ++i) {
      const std::uint16_t col = Get16(b + 4 + 3 * i);
      if (col != 0xFFFF) p.columns.push_back({col, b[6 + 3 * i]});
    }
    p.mapRow = b[34];
    p.mapPage = Get24(b + 35);
    p.rootPage = Get32(b + 38);
    p.flags = b[46];
    o += 52;
  }
  def.logical.resize(logicalCount);
  for (LogicalIndex& l : def.logical) {
    if (!need(28)) return Translate("database", "表定义被截断");
    l.number = Get32(t + o + 4);
    l.physical = Get32(t + o + 8);
    l.type = t[o + 23];
    o += 28;
  }
  for (LogicalIndex& l : def.logical)
    if (!readName(l.name)) return Translate("database", "索引名被截断");
  while (need(2) && Get16(t + o) != 0xFFFF) {
    if (!need(10)) return Translate("database", "长值映射被截断");
    LongValueMap m;
    m.column = Get16(t + o);
    m.ownedRow = t[o + 2];
    m.ownedPage = Get24(t + o + 3);
    m.freeRow = t[o + 6];
    m.freePage = Get24(t + o + 7);
    def.longValueMaps.push_back(m);
    o += 10;
  }
  if (!need(2) || o + 2 != length) return Translate("database", "表定义结尾不是 FF FF 或长度不符");
  return {};
}

std::string BuildRow(const TableDef& def, const RowValues& byNumber) {
  const std::size_t fixedSize = def.FixedAreaSize();
  std::string row(2 + fixedSize, '\0');
  unsigned char* r = reinterpret_cast<unsigned char*>(row.data());
  Put16(r, def.maxColumns);
  std::string mask((def.maxColumns + 7) / 8, '\0');
  auto value = [&](std::uint16_t n) -> const std::optional<std::string>& {
    static const std::optional<std::string> none;
    return n < byNumber.size() ? byNumber[n] : none;
  };
  std::vector<const ColumnDef*> vars(def.varColumns, nullptr);
  for (const ColumnDef& c : def.columns) {
    const auto& v = value(c.number);
    if (c.type == kTypeBool) {
      if (v && !v->empty() && (*v)[0] != 0)
        mask[c.number / 8] |= static_cast<char>(1 << (c.number % 8));
      continue;
    }
    if (!v) continue;
    mask[c.number / 8] |= static_cast<char>(1 << (c.number % 8));
    if (c.fixed()) {
      std::memcpy(row.data() + 2 + c.fixedOffset, v->data(),
                  std::min<std::size_t>(v->size(), c.length));
    } else if (c.varIndex < vars.size()) {
      vars[c.varIndex] = &c;
    }
  }
  std::vector<std::uint16_t> offsets;
  for (std::size_t i = 0; i < vars.size(); ++i) {
    offsets.push_back(static_cast<std::uint16_t>(row.size()));
    if (vars[i] != nullptr) row += *value(vars[i]->number);
  }
  // The end of variable data, the offsets and their count, also in a table
  // of fixed columns only (count 0): a variable column added later then
  // reads as no value in these rows.
  Append16(row, static_cast<std::uint32_t>(row.size()));
  for (std::size_t i = offsets.size(); i-- > 0;) Append16(row, offsets[i]);
  Append16(row, static_cast<std::uint32_t>(vars.size()));
  row += mask;
  return row;
}

std::string CrackRow(const TableDef& def, const unsigned char* r, std::size_t size,
                     RowValues& out) {
  out.assign(def.maxColumns, std::nullopt);
  if (size < 3) return Translate("database", "行太短");
  const std::uint16_t rowColumns = Get16(r);
  const std::size_t maskBytes = (rowColumns + 7u) / 8u;
  if (rowColumns > def.maxColumns) return Translate("database", "行的列数超过表定义");
  if (maskBytes + 2 > size) return Translate("database", "行太短");
  const unsigned char* mask = r + size - maskBytes;
  auto present = [&](std::uint16_t n) {
    return n < rowColumns && (mask[n / 8] >> (n % 8) & 1) != 0;
  };
  bool hasVar = false;
  for (const ColumnDef& c : def.columns) hasVar |= !c.fixed();
  std::size_t varCount = 0, eod = size - maskBytes;
  std::vector<std::uint16_t> offsets;
  if (hasVar) {
    const std::size_t countAt = size - maskBytes - 2;
    if (countAt < 4) return Translate("database", "行太短");
    varCount = Get16(r + countAt);
    if (countAt < 2 + 2 * varCount + 2) return Translate("database", "变长列偏移表越界");
    const std::size_t table = countAt - 2 * varCount;
    eod = Get16(r + table - 2);
    if (eod > table - 2) return Translate("database", "变长数据结尾越界");
    offsets.resize(varCount);
    for (std::size_t i = 0; i < varCount; ++i) offsets[i] = Get16(r + countAt - 2 * (i + 1));
    for (std::size_t i = 0; i < varCount; ++i) {
      const std::size_t end = i + 1 < varCount ? offsets[i + 1] : eod;
      if (offsets[i] < 2 || offsets[i] > end || end > eod)
        return Translate("database", "变长列偏移无序或越界");
    }
  }
  for (const ColumnDef& c : def.columns) {
    if (c.number >= out.size()) return Translate("database", "列号超出表定义");
    if (c.type == kTypeBool) {
      out[c.number] = std::string(1, present(c.number) ? '\1' : '\0');
      continue;
    }
    if (!present(c.number)) continue;
    if (c.fixed()) {
      if (2u + c.fixedOffset + c.length > eod) return Translate("database", "定长列越界");
      out[c.number] = std::string(reinterpret_cast<const char*>(r) + 2 + c.fixedOffset, c.length);
    } else if (c.varIndex < varCount) {
      const std::size_t end =
          std::size_t{c.varIndex} + 1 < varCount ? offsets[c.varIndex + 1] : eod;
      out[c.number] = std::string(reinterpret_cast<const char*>(r) + offsets[c.varIndex],
                                  end - offsets[c.varIndex]);
    }
  }
  return {};
}

std::size_t DataPageFree(const DataPage& page) {
  std::size_t used = 14;
  for (const std::string& r : page.rows) used += r.size() + 2;
  return used > kPageSize ? 0 : kPageSize - used;
}

std::string BuildDataPage(const DataPage& page) {
  std::string out(kPageSize, '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(out.data());
  p[0] = 0x01;
  p[1] = 0x01;
  Put16(p + 2, static_cast<std::uint32_t>(DataPageFree(page)));
  Put32(p + 4, page.owner);
  Put16(p + 12, static_cast<std::uint32_t>(page.rows.size()));
  std::size_t end = kPageSize;
  for (std::size_t i = 0; i < page.rows.size(); ++i) {
    end -= page.rows[i].size();
    std::memcpy(p + end, page.rows[i].data(), page.rows[i].size());
    const std::uint16_t flags = i < page.flags.size() ? page.flags[i] : 0;
    Put16(p + 14 + 2 * i, static_cast<std::uint32_t>(end) | flags);
  }
  return out;
}

std::string ParseDataPage(const unsigned char* p, DataPage& out) {
  out = DataPage{};
  if (p[0] != 0x01 || p[1] != 0x01) return Translate("database", "不是数据页");
  out.owner = Get32(p + 4);
  const std::uint16_t n = Get16(p + 12);
  if (14u + 2u * n > kPageSize) return Translate("database", "行数超出页面");
  std::size_t prev = kPageSize;
  for (std::uint16_t i = 0; i < n; ++i) {
    const std::uint16_t entry = Get16(p + 14 + 2 * i);
    const std::size_t start = entry & 0x1FFF;
    if (start < 14u + 2u * n || start > prev) return Translate("database", "行偏移无序或越界");
    out.rows.emplace_back(reinterpret_cast<const char*>(p) + start, prev - start);
    out.flags.push_back(static_cast<std::uint16_t>(entry & 0xC000));
    prev = start;
  }
  return {};
}

std::string BuildUsageMap(const std::set<std::uint32_t>& pages, std::uint32_t start,
                          std::size_t minBytes) {
  std::size_t bytes = minBytes;
  if (!pages.empty() && *pages.rbegin() >= start)
    bytes = std::max<std::size_t>(bytes, (*pages.rbegin() - start) / 8 + 1);
  std::string map(5 + bytes, '\0');
  Put32(reinterpret_cast<unsigned char*>(map.data()) + 1, start);
  for (std::uint32_t page : pages)
    if (page >= start) map[5 + (page - start) / 8] |= static_cast<char>(1 << ((page - start) % 8));
  return map;
}

std::string ParseUsageMap(const std::string& file, const std::string& map,
                          std::set<std::uint32_t>& pages) {
  return ParseUsageMap([&](std::uint32_t n) { return PageAt(file, n); }, PageCount(file), map,
                       pages);
}

std::string ParseUsageMap(const PageReader& read, std::uint32_t pageCount, const std::string& map,
                          std::set<std::uint32_t>& pages) {
  pages.clear();
  if (map.size() < 5) return Translate("database", "使用映射太短");
  const unsigned char* m = U(map);
  if (m[0] == 0) {
    const std::uint32_t start = Get32(m + 1);
    for (std::size_t i = 0; i < (map.size() - 5) * 8; ++i)
      if (m[5 + i / 8] >> (i % 8) & 1) pages.insert(start + static_cast<std::uint32_t>(i));
    return {};
  }
  if (m[0] != 1) return Translate("database", "使用映射类型未知");
  const std::size_t span = (kPageSize - 4) * 8;
  for (std::size_t k = 0; 1 + 4 * k + 4 <= map.size(); ++k) {
    const std::uint32_t page = Get32(m + 1 + 4 * k);
    if (page == 0) continue;
    if (page >= pageCount) return Translate("database", "使用映射页超出文件");
    const unsigned char* b = read(page);
    if (b[0] != 0x05) return Translate("database", "使用映射页类型错误");
    for (std::size_t i = 0; i < span; ++i)
      if (b[4 + i / 8] >> (i % 8) & 1) pages.insert(static_cast<std::uint32_t>(k * span + i));
  }
  return {};
}

namespace {

std::string BuildIndexPage(unsigned char type, std::uint32_t owner,
                           const std::vector<std::string>& entries, std::uint32_t prev,
                           std::uint32_t next, std::uint32_t tail) {
  std::string out(kPageSize, '\0');
  unsigned char* p = reinterpret_cast<unsigned char*>(out.data());
  p[0] = type;
  p[1] = 0x01;
  Put32(p + 4, owner);
  Put32(p + 12, prev);
  Put32(p + 16, next);
  Put32(p + 20, tail);
  p[26] = type == 0x03 ? 1 : 0;
  std::size_t at = 0;
  for (const std::string& e : entries) {
    std::memcpy(p + 480 + at, e.data(), e.size());
    at += e.size();
    p[27 + at / 8] |= static_cast<unsigned char>(1 << (at % 8));
  }
  Put16(p + 2, static_cast<std::uint32_t>(kIndexEntryBytes - at));
  return out;
}

}  // namespace

std::string BuildIndexLeaf(std::uint32_t owner, const std::vector<std::string>& entries,
                           std::uint32_t prev, std::uint32_t next) {
  return BuildIndexPage(0x04, owner, entries, prev, next, 0);
}

std::string BuildIndexNode(std::uint32_t owner, const std::vector<std::string>& entries,
                           std::uint32_t tail) {
  return BuildIndexPage(0x03, owner, entries, 0, 0, tail);
}

std::string ParseIndexPage(const unsigned char* p, std::vector<std::string>& entries) {
  entries.clear();
  if ((p[0] != 0x03 && p[0] != 0x04) || p[1] != 0x01) return Translate("database", "不是索引页");
  const std::size_t prefix = Get16(p + 24);
  std::size_t start = 0;
  std::string first;
  for (std::size_t bit = 1; bit <= kIndexEntryBytes; ++bit) {
    if ((p[27 + bit / 8] >> (bit % 8) & 1) == 0) continue;
    std::string e(reinterpret_cast<const char*>(p) + 480 + start, bit - start);
    if (entries.empty()) {
      first = e;
    } else {
      if (prefix > first.size()) return Translate("database", "索引前缀长度无效");
      e = first.substr(0, prefix) + e;
    }
    entries.push_back(e);
    start = bit;
  }
  if (Get16(p + 2) != kIndexEntryBytes - start)
    return Translate("database", "索引页空闲字节与条目不符");
  return {};
}

std::string LongKey(std::uint32_t value) {
  value ^= 0x80000000u;
  std::string k(4, '\0');
  for (int i = 0; i < 4; ++i) k[i] = static_cast<char>(value >> (24 - 8 * i));
  return k;
}

// Index keys of names. Letters, digits, blank ( ) . _ ~ take the codes
// Access gives them, the same in the General order (0x0409) and in the
// Chinese PRC order (0x0804) our databases declare; letters ignore case.
// For every other character (Chinese, accented letters, other signs) the
// codes Access uses are not known here, so it gets FC followed by its code
// point in three 7-bit groups with the high bit set. Our catalog indexes
// therefore stay complete, unique and sorted, and every reader that scans
// the catalog (libmdb, mdb-reader, Access listing its tables) finds such a
// table; only a lookup through the name index by Access itself may miss it
// until Compact and Repair rebuilds the index.
std::string TextKey(std::u16string_view text) {
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  if (text.size() > 255) text = text.substr(0, 255);
  std::string k;
  for (char16_t c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c >= u'0' && c <= u'9') {
      k.push_back(static_cast<char>(0x36 + 2 * (c - u'0')));
    } else if (c >= u'A' && c <= u'Z') {
      static const unsigned char letters[26] = {
          0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59, 0x5B, 0x5C, 0x5E, 0x60,
          0x62, 0x64, 0x66, 0x68, 0x69, 0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};
      k.push_back(static_cast<char>(letters[c - u'A']));
    } else if (c == u' ') {
      k.push_back('\x07');
    } else if (c == u'(') {
      k.push_back('\x14');
    } else if (c == u')') {
      k.push_back('\x16');
    } else if (c == u'.') {
      k.push_back('\x1C');
    } else if (c == u'_') {
      k += "\x2B\x03";
    } else if (c == u'~') {
      k += "\x2B\x0F";
    } else {
      k.push_back(static_cast<char>(0xFC));
      k.push_back(static_cast<char>(0x80 | (c >> 14)));
      k.push_back(static_cast<char>(0x80 | ((c >> 7) & 0x7F)));
      k.push_back(static_cast<char>(0x80 | (c & 0x7F)));
    }
  }
  k += '\x01';
  k += '\x00';
  return k;
}

std::string EntryPointer(std::uint32_t page, std::uint8_t row) {
  std::string p(4, '\0');
  p[0] = static_cast<char>(page >> 16);
  p[1] = static_cast<char>(page >> 8);
  p[2] = static_cast<char>(page);
  p[3] = static_cast<char>(row);
  return p;
}

std::string EncodeText(std::u16string_view text, bool allowCompression) {
  std::string out;
  const bool narrow =
      std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 1 && c <= 0xFF; });
  if (allowCompression && narrow && text.size() > 2) {
    out = "\xFF\xFE";
    for (char16_t c : text) out.push_back(static_cast<char>(c));
    return out;
  }
  // A plain value starting with FF FE would read as compressed: mark it as
  // compressed and switch straight to two-byte characters.
  if (!text.empty() && text[0] == 0xFEFF) out = std::string("\xFF\xFE\x00", 3);
  for (char16_t c : text) Append16(out, c);
  return out;
}

}  // namespace pw::db
