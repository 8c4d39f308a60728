#include "platform/database/jet_check.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>

#include "platform/database/jet_layout.h"

namespace pw::db {

namespace {

struct Checker {
  std::string file;
  bool exact = true;
  CheckReport report;
  std::set<std::uint32_t> freePages;  // free by the global map
  std::uint32_t pages = 0;

  void Fault(const std::string& s) { report.faults.push_back(s); }
  void Note(const std::string& s) { report.notes.push_back(s); }

  bool IsFree(std::uint32_t page) const { return freePages.count(page) != 0; }

  // Row `row` of the data page `page` (a usage-map row).
  bool MapRow(std::uint32_t page, std::uint8_t row, std::string& out) {
    if (page >= pages) return false;
    DataPage dp;
    if (!ParseDataPage(PageAt(file, page), dp).empty() || row >= dp.rows.size()) return false;
    out = dp.rows[row];
    return true;
  }

  bool Map(const std::string& what, std::uint32_t page, std::uint8_t row,
           std::set<std::uint32_t>& out) {
    std::string map;
    if (!MapRow(page, row, map)) {
      Fault(what + "：使用映射行不存在（页 " + std::to_string(page) + " 行 " + std::to_string(row) +
            "）");
      return false;
    }
    const std::string why = ParseUsageMap(file, map, out);
    if (!why.empty()) {
      Fault(what + "：" + why);
      return false;
    }
    if (!map.empty() && map[0] == 1)
      for (std::size_t k = 0; 1 + 4 * k + 4 <= map.size(); ++k)
        if (const std::uint32_t bitmap =
                Get32(reinterpret_cast<const unsigned char*>(map.data()) + 1 + 4 * k);
            bitmap != 0 && IsFree(bitmap))
          Fault(what + "：位图页 " + std::to_string(bitmap) + " 被标为空闲");
    return true;
  }

  // A row, or for an overflow pointer (flag 0x4000) the row it points at.
  std::string RealRow(const DataPage& dp, std::size_t i) {
    if (!(dp.flags[i] & 0x4000)) return dp.rows[i];
    if (dp.rows[i].size() < 4) return {};
    const auto* b = reinterpret_cast<const unsigned char*>(dp.rows[i].data());
    const std::uint32_t page = Get24(b + 1);
    DataPage target;
    if (page >= pages || !ParseDataPage(PageAt(file, page), target).empty() ||
        b[0] >= target.rows.size())
      return {};
    return target.rows[b[0]];
  }

  void CheckTable(const std::string& name, std::uint32_t tdefPage, bool isUserTable,
                  std::map<std::uint32_t, std::string>& tdefOwners) {
    const std::string what = "表“" + name + "”";
    TableDef def;
    std::string why = ParseTableDef(file, tdefPage, def);
    if (!why.empty()) return Fault(what + "：" + why);
    for (std::uint32_t p : def.pages) {
      if (IsFree(p)) Fault(what + "：表定义页 " + std::to_string(p) + " 在全局映射中标为空闲");
      tdefOwners[p] = name;
    }
    const std::string logical = SerializeTableDef(def);
    const unsigned char* first = PageAt(file, def.pages[0]);
    const std::uint32_t length = Get32(first + 8);
    const std::size_t expectFree =
        def.pages.size() == 1 ? (length + 8 <= kPageSize ? kPageSize - length - 8 : 0) : 0;
    if (Get16(first + 2) != expectFree)
      Fault(what + "：表定义页的空闲字节为 " + std::to_string(Get16(first + 2)) + "，应为 " +
            std::to_string(expectFree));
    std::set<std::uint16_t> numbers;
    std::set<std::uint16_t> varIndexes;
    for (const ColumnDef& c : def.columns) {
      if (!numbers.insert(c.number).second) Fault(what + "：列号重复");
      if (c.number >= def.maxColumns) Fault(what + "：列号超过最大列数");
      if (!c.fixed() && c.varIndex >= def.varColumns) Fault(what + "：变长列序号超过变长列数");
    }
    if (def.columns.size() > def.maxColumns) Fault(what + "：列数超过最大列数");

    std::set<std::uint32_t> owned, freeMap;
    if (!Map(what + "的已用页映射", def.ownedPage, def.ownedRow, owned)) return;
    if (!Map(what + "的空闲页映射", def.freePage, def.freeRow, freeMap)) return;
    for (std::uint32_t p : freeMap)
      if (!owned.count(p)) Fault(what + "：空闲页映射中的页 " + std::to_string(p) + " 不属于该表");
    // Every used data page that names this table must be in its map.
    for (std::uint32_t p = 1; p < pages; ++p) {
      const unsigned char* pg = PageAt(file, p);
      if (pg[0] == 0x01 && Get32(pg + 4) == tdefPage && !IsFree(p) && !owned.count(p))
        Fault(what + "：数据页 " + std::to_string(p) + " 不在已用页映射中");
    }
    std::map<std::uint32_t, DataPage> data;
    std::set<std::pair<std::uint32_t, std::uint8_t>> liveRows;
    std::map<std::pair<std::uint32_t, std::uint8_t>, RowValues> rowValues;
    std::uint32_t live = 0;
    for (std::uint32_t p : owned) {
      if (p >= pages) {
        Fault(what + "：已用页 " + std::to_string(p) + " 超出文件");
        continue;
      }
      if (IsFree(p)) Fault(what + "：已用页 " + std::to_string(p) + " 在全局映射中标为空闲");
      DataPage dp;
      why = ParseDataPage(PageAt(file, p), dp);
      if (!why.empty()) {
        Fault(what + "：页 " + std::to_string(p) + "：" + why);
        continue;
      }
      if (dp.owner != tdefPage) Fault(what + "：页 " + std::to_string(p) + " 属于别的表");
      if (Get16(PageAt(file, p) + 2) != DataPageFree(dp))
        Fault(what + "：页 " + std::to_string(p) + " 的空闲字节不对");
      if (dp.rows.size() > 255) Fault(what + "：页 " + std::to_string(p) + " 行数超过 255");
      for (std::size_t i = 0; i < dp.rows.size(); ++i) {
        if (dp.flags[i] & 0x8000) continue;  // deleted, or the target of an overflow pointer
        ++live;
        const auto key = std::make_pair(p, static_cast<std::uint8_t>(i));
        liveRows.insert(key);
        RowValues values;
        const std::string r = RealRow(dp, i);
        why = CrackRow(def, reinterpret_cast<const unsigned char*>(r.data()), r.size(), values);
        if (!why.empty())
          Fault(what + "：页 " + std::to_string(p) + " 行 " + std::to_string(i) + "：" + why);
        else
          rowValues[key] = values;
      }
      data[p] = std::move(dp);
    }
    CheckLongValues(what, def, rowValues);
    if (def.rowCount != live) {
      const std::string text =
          what + "：记录数存为 " + std::to_string(def.rowCount) + "，实有 " + std::to_string(live);
      exact ? Fault(text) : Note(text);
    }
    for (std::size_t i = 0; i < def.physical.size(); ++i)
      CheckIndex(what + "的索引 " + std::to_string(i), def, def.physical[i], tdefPage, liveRows,
                 rowValues);
    (void)isUserTable;
  }

  // A long-value page's row at `where` (page << 8 | row), or nullopt.
  std::optional<std::string> LongRow(std::uint32_t where, const std::set<std::uint32_t>& owned,
                                     const std::string& what) {
    const std::uint32_t page = where >> 8;
    if (page == 0 || page >= pages || Get32(PageAt(file, page) + 4) != 0x4C41564C) {
      Fault(what + "：长值指向的页 " + std::to_string(page) + " 不是长值页");
      return std::nullopt;
    }
    if (IsFree(page)) Fault(what + "：长值页 " + std::to_string(page) + " 在全局映射中标为空闲");
    if (exact && !owned.count(page))
      Fault(what + "：长值页 " + std::to_string(page) + " 不在该列的使用映射中");
    DataPage dp;
    const std::string why = ParseDataPage(PageAt(file, page), dp);
    if (!why.empty() || (where & 0xFF) >= dp.rows.size() || (dp.flags[where & 0xFF] & 0x8000)) {
      Fault(what + "：长值页 " + std::to_string(page) + " 没有行 " + std::to_string(where & 0xFF));
      return std::nullopt;
    }
    if (Get16(PageAt(file, page) + 2) != DataPageFree(dp))
      Fault(what + "：长值页 " + std::to_string(page) + " 的空闲字节不对");
    return dp.rows[where & 0xFF];
  }

  // Each long value (memo, OLE object) of the table's rows: inline with the
  // length it states, or on long-value pages of its column adding up to it.
  void CheckLongValues(const std::string& table, const TableDef& def,
                       const std::map<std::pair<std::uint32_t, std::uint8_t>, RowValues>& rows) {
    for (const ColumnDef& c : def.columns) {
      if (!c.longValue()) continue;
      const std::string what = table + "的列“" + Utf16ToUtf8(c.name) + "”";
      std::set<std::uint32_t> owned, withRoom;
      for (const LongValueMap& m : def.longValueMaps)
        if (m.column == c.number) {
          // Access leaves page 0 where a column has no such map.
          if (m.ownedPage != 0 && Map(what + "的长值页映射", m.ownedPage, m.ownedRow, owned))
            for (std::uint32_t p : owned)
              if (p >= pages || IsFree(p) || Get32(PageAt(file, p) + 4) != 0x4C41564C)
                Fault(what + "：长值页映射中的页 " + std::to_string(p) + " 不是在用的长值页");
          if (m.freePage != 0 && Map(what + "的长值空闲页映射", m.freePage, m.freeRow, withRoom))
            for (std::uint32_t p : withRoom)
              if (!owned.count(p))
                Fault(what + "：长值空闲页映射中的页 " + std::to_string(p) + " 不属于该列");
        }
      for (const auto& [at, values] : rows) {
        const auto& v = c.number < values.size() ? values[c.number] : std::optional<std::string>{};
        if (!v || v->empty()) continue;
        const std::string where =
            what + "（页 " + std::to_string(at.first) + " 行 " + std::to_string(at.second) + "）";
        if (v->size() < 12) {
          Fault(where + "：长值字段不足 12 字节");
          continue;
        }
        const auto* h = reinterpret_cast<const unsigned char*>(v->data());
        const std::uint32_t flags = Get32(h) & 0xC0000000u, length = Get32(h) & 0x3FFFFFFFu;
        if (flags == 0x80000000u) {
          if (v->size() - 12 != length) Fault(where + "：内联长值的长度不符");
          continue;
        }
        if (v->size() != 12) Fault(where + "：页外长值的字段应为 12 字节");
        if (flags == 0x40000000u) {
          const auto row = LongRow(Get32(h + 4), owned, where);
          if (row && row->size() != length) Fault(where + "：长值页上的长度不符");
          continue;
        }
        if (flags != 0) {
          Fault(where + "：长值标志无效");
          continue;
        }
        std::size_t total = 0;
        std::set<std::uint32_t> seen;
        for (std::uint32_t next = Get32(h + 4); next != 0;) {
          if (!seen.insert(next).second) {
            Fault(where + "：长值链成环");
            break;
          }
          const auto row = LongRow(next, owned, where);
          if (!row || row->size() < 4) break;
          total += row->size() - 4;
          next = Get32(reinterpret_cast<const unsigned char*>(row->data()));
        }
        if (total != length) Fault(where + "：长值链的长度不符");
      }
    }
  }

  // Key of a row for an index, or "" when it cannot be computed here.
  static std::string ComputeKey(const TableDef& def, const PhysicalIndex& index,
                                const RowValues& values) {
    std::string key;
    for (const IndexColumn& ic : index.columns) {
      const ColumnDef* c = def.Find(ic.column);
      if (c == nullptr) return {};
      const auto& v = ic.column < values.size() ? values[ic.column] : std::optional<std::string>{};
      std::string part;
      if (!v) return {};
      if (c->type == kTypeLong && v->size() == 4) {
        part = LongKey(Get32(reinterpret_cast<const unsigned char*>(v->data())));
      } else if (c->type == kTypeText) {
        const std::u16string text =
            DecodeJetText(reinterpret_cast<const unsigned char*>(v->data()), v->size());
        for (char16_t ch : text) {
          const bool known = (ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') ||
                             (ch >= u'0' && ch <= u'9') || ch == u' ' || ch == u'(' || ch == u')' ||
                             ch == u'.' || ch == u'_' || ch == u'~';
          if (!known) return {};
        }
        part = TextKey(text);
      } else {
        return {};
      }
      if (ic.order != 0x01) return {};
      key += '\x7F';
      key += part;
    }
    return key;
  }

  void CollectEntries(const std::string& what, std::uint32_t page, std::uint32_t owner, int depth,
                      std::vector<std::string>& leafEntries, std::set<std::uint32_t>& seen) {
    if (depth > 8 || page == 0 || page >= pages || !seen.insert(page).second)
      return Fault(what + "：索引页链无效");
    const unsigned char* p = PageAt(file, page);
    std::vector<std::string> entries;
    const std::string why = ParseIndexPage(p, entries);
    if (!why.empty()) return Fault(what + "：页 " + std::to_string(page) + "：" + why);
    if (Get32(p + 4) != owner) Fault(what + "：索引页 " + std::to_string(page) + " 属于别的表");
    if (IsFree(page)) Fault(what + "：索引页 " + std::to_string(page) + " 在全局映射中标为空闲");
    if (p[0] == 0x04) {
      for (auto& e : entries) leafEntries.push_back(e);
      return;
    }
    for (const std::string& e : entries) {
      if (e.size() < 8) return Fault(what + "：索引节点条目太短");
      const auto* b = reinterpret_cast<const unsigned char*>(e.data()) + e.size() - 4;
      const std::uint32_t child = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                                  (std::uint32_t{b[2]} << 8) | b[3];
      CollectEntries(what, child, owner, depth + 1, leafEntries, seen);
    }
    const std::uint32_t tail = Get32(p + 20);
    if (tail != 0) CollectEntries(what, tail, owner, depth + 1, leafEntries, seen);
  }

  void CheckIndex(const std::string& what, const TableDef& def, const PhysicalIndex& index,
                  std::uint32_t owner,
                  const std::set<std::pair<std::uint32_t, std::uint8_t>>& liveRows,
                  const std::map<std::pair<std::uint32_t, std::uint8_t>, RowValues>& values) {
    std::vector<std::string> entries;
    std::set<std::uint32_t> seen;
    CollectEntries(what, index.rootPage, owner, 0, entries, seen);
    std::set<std::uint32_t> mapped;
    if (Map(what + "的页映射", index.mapPage, index.mapRow, mapped)) {
      for (std::uint32_t p : seen)
        if (!mapped.count(p)) Fault(what + "：索引页 " + std::to_string(p) + " 不在其映射中");
      for (std::uint32_t p : mapped)
        if (p >= pages || (PageAt(file, p)[0] != 0x03 && PageAt(file, p)[0] != 0x04))
          Fault(what + "：映射中的页 " + std::to_string(p) + " 不是索引页");
    }
    std::set<std::string> keys;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::string& e = entries[i];
      if (i > 0 && !(entries[i - 1] < e)) Fault(what + "：条目没有严格递增");
      if (e.size() < 5) {
        Fault(what + "：条目太短");
        continue;
      }
      const auto* b = reinterpret_cast<const unsigned char*>(e.data()) + e.size() - 4;
      const auto ptr =
          std::make_pair((std::uint32_t{b[0]} << 16) | (std::uint32_t{b[1]} << 8) | b[2],
                         static_cast<std::uint8_t>(b[3]));
      const std::string key = e.substr(0, e.size() - 4);
      keys.insert(key);
      if (!liveRows.count(ptr)) {
        Fault(what + "：条目指向不存在的行（页 " + std::to_string(ptr.first) + " 行 " +
              std::to_string(ptr.second) + "）");
        continue;
      }
      const auto it = values.find(ptr);
      if (it != values.end()) {
        const std::string computed = ComputeKey(def, index, it->second);
        if (!computed.empty() && computed != key) Fault(what + "：条目的键与行的值不符");
      }
    }
    if (entries.size() != liveRows.size())
      Fault(what + "：有 " + std::to_string(entries.size()) + " 个条目，表中有 " +
            std::to_string(liveRows.size()) + " 行");
    if (index.uniqueKeys != keys.size()) {
      const std::string text = what + "：唯一键数存为 " + std::to_string(index.uniqueKeys) +
                               "，实有 " + std::to_string(keys.size());
      exact ? Fault(text) : Note(text);
    }
  }

  void Run() {
    if (file.size() < 2 * kPageSize || file.size() % kPageSize != 0)
      return Fault("文件长度不是 4096 的整数倍");
    pages = PageCount(file);
    HeaderInfo header;
    const std::string why = ParseHeader(PageAt(file, 0), kPageSize, header);
    if (!why.empty()) return Fault(why);
    if (header.version == JetVersion::Jet3) return Fault("Jet 3 文件不在检查范围内");
    const unsigned char* h = PageAt(file, 0);
    const bool ace = std::memcmp(h + 4, "Standard ACE DB", 15) == 0;
    if (ace != (header.version == JetVersion::Ace)) Fault("引擎名与版本字节不符");
    if (header.databaseKey != 0) Fault("数据库已加密");
    if (header.codePage == 0 || header.sortOrder == 0) Fault("代码页或排序规则为空");

    DataPage global;
    if (!ParseDataPage(PageAt(file, 1), global).empty() || global.rows.empty())
      return Fault("第 1 页不是全局使用映射");
    std::set<std::uint32_t> freeBits;
    if (!ParseUsageMap(file, global.rows[0], freeBits).empty()) return Fault("全局使用映射无效");
    const auto* g = reinterpret_cast<const unsigned char*>(global.rows[0].data());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> covered;  // [from, to)
    std::vector<std::uint32_t> bitmapPages;
    if (g[0] == 0) {
      const std::uint32_t start = Get32(g + 1);
      covered.emplace_back(start,
                           start + static_cast<std::uint32_t>((global.rows[0].size() - 5) * 8));
    } else {
      const std::uint32_t span = (kPageSize - 4) * 8;
      for (std::uint32_t k = 0; 1 + 4 * k + 4 <= global.rows[0].size(); ++k)
        if (const std::uint32_t page = Get32(g + 1 + 4 * k); page != 0) {
          covered.emplace_back(k * span, (k + 1) * span);
          bitmapPages.push_back(page);
        }
    }
    for (std::uint32_t p = 0; p < pages; ++p) {
      bool in = false;
      for (const auto& [from, to] : covered) in |= p >= from && p < to;
      if (!in || freeBits.count(p)) freePages.insert(p);
    }
    for (std::uint32_t p : bitmapPages)
      if (IsFree(p)) Fault("全局使用映射的位图页 " + std::to_string(p) + " 被标为空闲");
    if (freePages.count(0) || freePages.count(1) || freePages.count(2))
      Fault("全局使用映射把头页或系统表页标为空闲");

    // The catalog: MSysObjects rows of type 1 are tables.
    TableDef objects;
    const std::string w = ParseTableDef(file, 2, objects);
    if (!w.empty()) return Fault("MSysObjects：" + w);
    std::set<std::uint32_t> owned;
    if (!Map("MSysObjects 的已用页映射", objects.ownedPage, objects.ownedRow, owned)) return;
    auto column = [&](const char16_t* name) -> const ColumnDef* {
      for (const ColumnDef& c : objects.columns)
        if (c.name == name) return &c;
      return nullptr;
    };
    const ColumnDef* idCol = column(u"Id");
    const ColumnDef* parentCol = column(u"ParentId");
    const ColumnDef* nameCol = column(u"Name");
    const ColumnDef* typeCol = column(u"Type");
    if (!idCol || !parentCol || !nameCol || !typeCol) return Fault("MSysObjects 缺少列");
    std::map<std::uint32_t, std::string> tdefOwners;
    std::set<std::pair<std::uint32_t, std::u16string>> names;
    std::vector<std::pair<std::string, std::uint32_t>> tables;
    for (std::uint32_t p : owned) {
      DataPage dp;
      if (p >= pages || !ParseDataPage(PageAt(file, p), dp).empty()) continue;
      for (std::size_t i = 0; i < dp.rows.size(); ++i) {
        if (dp.flags[i] & 0x8000) continue;
        RowValues v;
        const std::string r = RealRow(dp, i);
        if (!CrackRow(objects, reinterpret_cast<const unsigned char*>(r.data()), r.size(), v)
                 .empty())
          continue;
        if (!v[idCol->number] || !v[typeCol->number] || !v[nameCol->number] ||
            !v[parentCol->number])
          continue;
        const auto* nb = reinterpret_cast<const unsigned char*>(v[nameCol->number]->data());
        const std::u16string name = DecodeJetText(nb, v[nameCol->number]->size());
        const std::uint32_t parent =
            Get32(reinterpret_cast<const unsigned char*>(v[parentCol->number]->data()));
        std::u16string folded = name;
        for (auto& ch : folded)
          if (ch >= u'a' && ch <= u'z') ch = static_cast<char16_t>(ch - 32);
        if (!names.insert({parent, folded}).second)
          Fault("MSysObjects：名称“" + Utf16ToUtf8(name) + "”重复");
        const std::uint16_t type =
            Get16(reinterpret_cast<const unsigned char*>(v[typeCol->number]->data()));
        if (type != 1) continue;
        const std::uint32_t id =
            Get32(reinterpret_cast<const unsigned char*>(v[idCol->number]->data())) & 0x00FFFFFF;
        tables.emplace_back(Utf16ToUtf8(name), id);
      }
    }
    for (const auto& [name, page] : tables) {
      if (page >= pages || PageAt(file, page)[0] != 0x02) {
        Fault("表“" + name + "”的 Id 不是表定义页");
        continue;
      }
      CheckTable(name, page, true, tdefOwners);
    }
    // Data pages must belong to a table definition.
    for (std::uint32_t p = 2; p < pages; ++p) {
      const unsigned char* pg = PageAt(file, p);
      if (IsFree(p) || pg[0] != 0x01) continue;
      const std::uint32_t owner = Get32(pg + 4);
      if (owner != 0 && std::memcmp(pg + 4, "LVAL", 4) != 0 && !tdefOwners.count(owner))
        Fault("数据页 " + std::to_string(p) + " 指向不存在的表定义 " + std::to_string(owner));
    }
  }
};

}  // namespace

CheckReport CheckDatabase(const std::string& path, bool exactCounts) {
  Checker c;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    c.Fault("无法打开文件");
    return c.report;
  }
  c.file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  c.exact = exactCounts;
  c.Run();
  return c.report;
}

}  // namespace pw::db
