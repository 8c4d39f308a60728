#include "platform/database/jet_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <deque>
#include <filesystem>
#include <map>
#include <set>

#include "platform/database/jet_layout.h"
#include "platform/errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::db {

namespace {

constexpr std::uint32_t kTablesFolder = 0x0F000001;
constexpr std::uint32_t kUserTableAcm = 0x000FFEFF;
constexpr std::size_t kMapBytes = 64;
constexpr std::size_t kRefSpan = (kPageSize - 4) * 8;  // pages one bitmap page covers
constexpr std::size_t kRefSlots = 17;                  // bitmap pages a reference map names
constexpr std::uint32_t kMaxPages = 524288;            // 2 GB

// Long values (long text, binary): a 12-byte field in the record (length
// with the flags below, then where the value lies as page << 8 | row, then
// zero), followed in the record by the value itself when it is inline.
// Out of the record, one row of a long-value page holds the value whole,
// or a chain of rows holds it piece by piece, each row starting with the
// next row's place (0 on the last).
constexpr std::uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" where a data page names its table
constexpr std::uint32_t kLongInline = 0x80000000u;
constexpr std::uint32_t kLongSinglePage = 0x40000000u;
constexpr std::size_t kLongHeader = 12;
constexpr std::size_t kLongRowMax = 4076;  // the most one long-value row holds
std::size_t longValueLimit = 0x3FFFFFFF;
// Rows written again when a column becomes long text may use the whole
// page; new records keep to kMaxRowBytes.
constexpr std::size_t kMaxRewrittenRow = kPageSize - 14 - 2;

std::string LongField(std::uint32_t lengthAndFlags, std::uint32_t where) {
  std::string s(kLongHeader, '\0');
  Put32(reinterpret_cast<unsigned char*>(s.data()), lengthAndFlags);
  Put32(reinterpret_cast<unsigned char*>(s.data()) + 4, where);
  return s;
}

std::uint32_t inlineLimit = 16384;  // pages an inline usage map covers (64 MB)
std::uint32_t InlineLimit() {
  return inlineLimit;
}

// The bitmap pages of a reference map row, by slot; empty for an inline map.
std::vector<std::uint32_t> ReferenceSlots(const std::string& row) {
  std::vector<std::uint32_t> out;
  if (row.empty() || row[0] != 0x01) return out;
  for (std::size_t k = 0; 1 + 4 * k + 4 <= row.size() && k < kRefSlots; ++k)
    out.push_back(Get32(reinterpret_cast<const unsigned char*>(row.data()) + 1 + 4 * k));
  while (!out.empty() && out.back() == 0) out.pop_back();
  return out;
}

// The four system tables of a new database, as the Jet engine lays them out:
// definitions on pages 2 to 5, their usage maps on 6, 9, 11 and 13, index
// leaves on 7, 8, 10, 12 and 14 to 16, the rows of MSysObjects on 17 and of
// MSysACEs on 18.
struct SysColumn {
  const char16_t* name;
  std::uint8_t type;
  std::uint16_t number;
  std::uint16_t varIndex;
  std::uint8_t flags;
  std::uint16_t fixedOffset;
  std::uint16_t length;
};

std::vector<ColumnDef> SysColumns(std::initializer_list<SysColumn> list) {
  std::vector<ColumnDef> out;
  for (const SysColumn& s : list) {
    ColumnDef c;
    c.name = s.name;
    c.type = s.type;
    c.number = s.number;
    c.varIndex = s.varIndex;
    c.flags = s.flags;
    c.fixedOffset = s.fixedOffset;
    c.length = s.length;
    c.sortOrder = kSortChinese;
    out.push_back(c);
  }
  return out;
}

PhysicalIndex SysIndex(std::vector<std::uint16_t> columns, std::uint8_t mapRow,
                       std::uint32_t mapPage, std::uint32_t root, std::uint8_t flags) {
  PhysicalIndex p;
  for (std::uint16_t c : columns) p.columns.push_back({c, 0x01});
  p.mapRow = mapRow;
  p.mapPage = mapPage;
  p.rootPage = root;
  p.flags = flags;
  return p;
}

TableDef ObjectsDef() {
  TableDef d;
  d.tableType = 0x53;
  d.maxColumns = 17;
  d.varColumns = 11;
  d.columns = SysColumns({
      {u"Connect", kTypeMemo, 9, 3, 0x12, 0, 0},
      {u"Database", kTypeMemo, 8, 2, 0x12, 0, 0},
      {u"DateCreate", kTypeDate, 4, 1, 0x13, 10, 8},
      {u"DateUpdate", kTypeDate, 5, 1, 0x13, 18, 8},
      {u"Flags", kTypeLong, 7, 2, 0x13, 26, 4},
      {u"ForeignName", kTypeText, 10, 4, 0x12, 0, 510},
      {u"Id", kTypeLong, 0, 0, 0x13, 0, 4},
      {u"Lv", kTypeOle, 13, 7, 0x12, 0, 0},
      {u"LvExtra", kTypeOle, 16, 10, 0x12, 0, 0},
      {u"LvModule", kTypeOle, 15, 9, 0x12, 0, 0},
      {u"LvProp", kTypeOle, 14, 8, 0x12, 0, 0},
      {u"Name", kTypeText, 2, 0, 0x12, 0, 510},
      {u"Owner", kTypeBinary, 6, 1, 0x32, 0, 510},
      {u"ParentId", kTypeLong, 1, 0, 0x13, 4, 4},
      {u"RmtInfoLong", kTypeOle, 12, 6, 0x12, 0, 0},
      {u"RmtInfoShort", kTypeBinary, 11, 5, 0x12, 0, 510},
      {u"Type", kTypeInt, 3, 1, 0x13, 8, 2},
  });
  d.physical = {SysIndex({1, 2}, 16, 6, 7, 0x81), SysIndex({0}, 17, 6, 8, 0x81)};
  d.logical = {{1, 1, 1, u"Id"}, {0, 0, 0, u"ParentIdName"}};
  d.ownedRow = 0;
  d.ownedPage = 6;
  d.freeRow = 1;
  d.freePage = 6;
  // Long-value columns in stored order, with their two map rows on page 6.
  d.longValueMaps = {{9, 4, 6, 5, 6},    {8, 2, 6, 3, 6},    {13, 8, 6, 9, 6}, {16, 14, 6, 15, 6},
                     {15, 12, 6, 13, 6}, {14, 10, 6, 11, 6}, {12, 6, 6, 7, 6}};
  return d;
}

TableDef AcesDef() {
  TableDef d;
  d.tableType = 0x53;
  d.maxColumns = 4;
  d.varColumns = 1;
  d.columns = SysColumns({
      {u"ACM", kTypeLong, 2, 1, 0x13, 4, 4},
      {u"FInheritable", kTypeBool, 3, 1, 0x13, 0, 1},
      {u"ObjectId", kTypeLong, 0, 0, 0x13, 0, 4},
      {u"SID", kTypeBinary, 1, 0, 0x32, 0, 510},
  });
  d.physical = {SysIndex({0}, 2, 9, 10, 0x88)};
  d.logical = {{0, 0, 0, u"ObjectId"}};
  d.ownedPage = d.freePage = 9;
  return d;
}

TableDef QueriesDef() {
  TableDef d;
  d.tableType = 0x53;
  d.maxColumns = 8;
  d.varColumns = 4;
  d.columns = SysColumns({
      {u"Attribute", kTypeByte, 1, 0, 0x13, 4, 1},
      {u"Expression", kTypeMemo, 5, 3, 0x12, 0, 0},
      {u"Flag", kTypeInt, 6, 4, 0x13, 5, 2},
      {u"LvExtra", kTypeLong, 7, 4, 0x13, 7, 4},
      {u"Name1", kTypeText, 3, 1, 0x12, 0, 510},
      {u"Name2", kTypeText, 4, 2, 0x12, 0, 510},
      {u"ObjectId", kTypeLong, 0, 0, 0x13, 0, 4},
      {u"Order", kTypeBinary, 2, 0, 0x12, 0, 510},
  });
  d.physical = {SysIndex({0, 1, 2}, 4, 11, 12, 0x81)};
  d.logical = {{0, 0, 1, u"ObjectIdAttribute"}};
  d.ownedPage = d.freePage = 11;
  d.longValueMaps = {{5, 2, 11, 3, 11}};
  return d;
}

TableDef RelationshipsDef() {
  TableDef d;
  d.tableType = 0x53;
  d.maxColumns = 8;
  d.varColumns = 5;
  d.columns = SysColumns({
      {u"ccolumn", kTypeLong, 2, 1, 0x13, 4, 4},
      {u"grbit", kTypeLong, 1, 1, 0x13, 0, 4},
      {u"icolumn", kTypeLong, 3, 1, 0x13, 8, 4},
      {u"szColumn", kTypeText, 5, 2, 0x12, 0, 510},
      {u"szObject", kTypeText, 4, 1, 0x12, 0, 510},
      {u"szReferencedColumn", kTypeText, 7, 4, 0x12, 0, 510},
      {u"szReferencedObject", kTypeText, 6, 3, 0x12, 0, 510},
      {u"szRelationship", kTypeText, 0, 0, 0x12, 0, 510},
  });
  d.physical = {SysIndex({0}, 2, 13, 14, 0x82), SysIndex({4}, 3, 13, 15, 0x82),
                SysIndex({6}, 4, 13, 16, 0x82)};
  d.logical = {
      {1, 1, 0, u"szObject"}, {2, 2, 0, u"szReferencedObject"}, {0, 0, 0, u"szRelationship"}};
  d.ownedPage = d.freePage = 13;
  return d;
}

std::string Bytes32(std::uint32_t v) {
  std::string s(4, '\0');
  Put32(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}
std::string Bytes16(std::uint32_t v) {
  std::string s(2, '\0');
  Put16(reinterpret_cast<unsigned char*>(s.data()), v);
  return s;
}
std::string BytesDouble(double v) {
  std::string s(8, '\0');
  std::memcpy(s.data(), &v, 8);
  return s;
}
std::string Plain16(std::u16string_view text) {
  std::string s;
  for (char16_t c : text) s += Bytes16(c);
  return s;
}

double NowAsOleDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<double>(now + local.tm_gmtoff) / 86400.0 + 25569.0;
}

std::u16string Folded(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return s;
}

// Rows of MSysObjects as (Id, ParentId, Name, Type, Owner).
struct ObjectRow {
  std::uint32_t id;
  std::uint32_t parent;
  const char16_t* name;
  std::uint16_t type;
  std::string owner;
};

RowValues ObjectValues(const ObjectRow& o, double date, std::uint32_t flags) {
  RowValues v(17);
  v[0] = Bytes32(o.id);
  v[1] = Bytes32(o.parent);
  v[2] = Plain16(o.name);
  v[3] = Bytes16(o.type);
  v[4] = BytesDouble(date);
  v[5] = BytesDouble(date);
  v[6] = o.owner;
  v[7] = Bytes32(flags);
  return v;
}

RowValues AceValues(std::uint32_t object, std::uint32_t acm, const std::string& sid,
                    bool inheritable) {
  RowValues v(4);
  v[0] = Bytes32(object);
  v[1] = sid;
  v[2] = Bytes32(acm);
  v[3] = std::string(1, inheritable ? '\1' : '\0');
  return v;
}

std::string ParentNameEntry(std::uint32_t parent, std::u16string_view name, std::uint32_t page,
                            std::uint8_t row) {
  return "\x7F" + LongKey(parent) + "\x7F" + TextKey(name) + EntryPointer(page, row);
}
std::string LongEntry(std::uint32_t value, std::uint32_t page, std::uint8_t row) {
  return "\x7F" + LongKey(value) + EntryPointer(page, row);
}

std::uint32_t DistinctKeys(const std::vector<std::string>& entries) {
  std::set<std::string> keys;
  for (const std::string& e : entries) keys.insert(e.substr(0, e.size() - 4));
  return static_cast<std::uint32_t>(keys.size());
}

const std::string kOwnerDb("\x07\xE8", 2);
const std::string kOwnerSys("\x06\xEA", 2);
const std::string kSidAdmins("\x06\xE8", 2);
const std::string kSidUsers("\x07\xE8", 2);
const std::string kSidCreator("\x06\xED", 2);

std::string HeaderPage(NewFormat format, double created) {
  std::string page(kPageSize, '\0');
  auto* p = reinterpret_cast<unsigned char*>(page.data());
  p[1] = 0x01;
  std::memcpy(p + 4, format == NewFormat::Ace12 ? "Standard ACE DB" : "Standard Jet DB", 15);
  p[0x14] = format == NewFormat::Ace12 ? 2 : 1;
  static const unsigned char fixed[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                          3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p + 0x18, fixed, sizeof fixed);
  Put16(p + 0x3C, 936);
  unsigned char key[4];
  Put32(key, static_cast<std::uint32_t>(static_cast<std::int32_t>(created)));
  for (int i = 0; i < 40; ++i) p[0x42 + i] = key[i % 4];  // the empty password
  Put32(p + 0x6A, 0x11A6);
  Put16(p + 0x6E, kSortChinese);
  std::memcpy(p + 0x72, &created, 8);
  for (std::size_t i = 0; i < 128; ++i) p[0x18 + i] ^= HeaderMask()[i];
  Put32(p + 0x98, 0x654);
  std::memcpy(p + 0x9C, "4.0", 4);
  for (std::size_t o = 0xE00; o < kPageSize; o += 2) p[o + 1] = 0x01;
  p[0xE00] = 0x01;
  return page;
}

void WriteAll(int fd, const std::string& bytes, off_t offset, const std::string& path) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n =
        pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      throw DatabaseError(FileErrorText("写入数据库", path, err));
    }
    done += static_cast<std::size_t>(n);
  }
}

void CheckName(const std::u16string& name, const std::string& what) {
  if (name.empty()) throw DatabaseError(Arg(Translate("database", "%1为空"), {what}));
  const std::string shown = Utf16ToUtf8(name);
  if (name.size() > 64)
    throw DatabaseError(Arg(Translate("database", "%1“%2”超过 64 个字符"), {what, shown}));
  if (name[0] == u' ')
    throw DatabaseError(Arg(Translate("database", "%1“%2”以空格开头"), {what, shown}));
  for (char16_t c : name)
    if (c < 0x20 || c == u'.' || c == u'!' || c == u'`' || c == u'[' || c == u']')
      throw DatabaseError(Arg(
          Translate("database", "%1“%2”含有不允许的字符（. ! ` [ ] 或控制字符）"), {what, shown}));
}

// The columns and indexes of a system table are those we write.
bool SameLayout(const TableDef& found, const TableDef& expected) {
  if (found.maxColumns != expected.maxColumns || found.varColumns != expected.varColumns ||
      found.columns.size() != expected.columns.size() ||
      found.physical.size() != expected.physical.size())
    return false;
  for (const ColumnDef& e : expected.columns) {
    const ColumnDef* f = found.Find(e.number);
    if (f == nullptr || f->type != e.type || f->fixed() != e.fixed() ||
        (!e.fixed() && f->varIndex != e.varIndex) || (e.fixed() && f->fixedOffset != e.fixedOffset))
      return false;
  }
  for (std::size_t i = 0; i < expected.physical.size(); ++i)
    if (found.physical[i].columns.size() != expected.physical[i].columns.size()) return false;
  return true;
}

FieldType TypeOfKind(ColumnKind kind) {
  return kind == ColumnKind::Memo     ? FieldType::Of(FieldType::Kind::Memo)
         : kind == ColumnKind::Binary ? FieldType::Of(FieldType::Kind::Ole)
                                      : FieldType::Text();
}

// A user column of `type`; a fixed one goes at the end of the record's
// fixed part as `def` has it.
ColumnDef UserColumn(const std::u16string& name, const FieldType& type, const TableDef& def) {
  ColumnDef c;
  c.name = name;
  c.type = TypeCode(type);
  if (IsFixed(type)) {
    c.flags = 0x03;
    c.sortOrder = 0;
    c.length = static_cast<std::uint16_t>(FixedBytes(type));
    if (type.kind != FieldType::Kind::YesNo)
      c.fixedOffset = static_cast<std::uint16_t>(def.FixedAreaSize());
    // A decimal's precision and scale take the place of a text's sort order.
    if (type.kind == FieldType::Kind::Decimal)
      c.sortOrder = static_cast<std::uint16_t>(type.precision | type.scale << 8);
    return c;
  }
  c.flags = 0x02;
  c.extraFlags = type.kind == FieldType::Kind::Ole ? 0x00 : 0x01;  // text may be compressed
  c.length = type.kind == FieldType::Kind::Text ? static_cast<std::uint16_t>(2 * type.chars) : 0;
  return c;
}

ColumnKind KindOf(const ColumnDef& c) {
  return c.type == kTypeMemo  ? ColumnKind::Memo
         : c.type == kTypeOle ? ColumnKind::Binary
                              : ColumnKind::Text;
}

FieldType TypeOf(const ColumnDef& c) {
  return TypeFromCode(c.type, c.length, c.sortOrder & 0xFF, c.sortOrder >> 8, false);
}

}  // namespace

struct JetWriter::Impl {
  struct Table {
    std::u16string name;
    std::uint32_t tdefPage = 0;
    TableDef def;
    std::set<std::uint32_t> owned;
    std::vector<std::uint32_t> ownedRef;  // bitmap pages of a reference map (0: none yet)
    std::vector<std::uint32_t> added;     // owned pages since the map was last written
    // A long-value column's pages: those it owns, and the one short values go to.
    struct LongColumn {
      std::uint16_t column = 0;
      std::set<std::uint32_t> owned;
      std::vector<std::uint32_t> ownedRef;
      std::vector<std::uint32_t> added;
      std::uint32_t current = 0;
      DataPage page;
      bool dirty = false;
    };
    std::vector<LongColumn> longs;
    std::uint32_t lastPage = 0;
    DataPage last;  // the page rows go to
    bool lastDirty = false;
    bool defDirty = false;
    bool mapDirty = false;
  };

  std::string path;
  std::string shown;  // the name messages give the file
  int fd = -1;
  // Only the pages read or changed since the last flush are held; the file
  // grows as pages fill and is never held whole.
  std::uint32_t pageCount = 0;
  std::uint32_t diskPages = 0;
  std::map<std::uint32_t, std::string> cache;
  std::set<std::uint32_t> modified;
  std::set<std::uint32_t> freePages;  // free by the global map, below the page count
  std::vector<std::uint32_t> globalRef;
  std::uint32_t globalEnd = 0;  // the end of the file the global reference map last saw
  Table objects, aces;
  std::vector<Table> tables;
  // A catalog index: its entries in order, on one leaf at the root page, or
  // on leaves under a node at the root page once they outgrow one page.
  struct CatalogIndex {
    std::uint32_t owner = 0;
    std::uint32_t root = 0;
    std::uint8_t mapRow = 0;
    std::uint32_t mapPage = 0;
    std::vector<std::uint32_t> leaves;
    std::vector<std::string> entries;
  };
  CatalogIndex byParentName, byId, acesById;
  bool indexesDirty = false;
  std::string dbOwner;
  std::vector<std::string> userTableSids;

  ~Impl() {
    if (fd >= 0) close(fd);
  }

  std::uint32_t Pages() const { return pageCount; }

  const unsigned char* Read(std::uint32_t page) {
    auto it = cache.find(page);
    if (it == cache.end()) {
      std::string bytes(kPageSize, '\0');
      for (std::size_t done = 0; page < diskPages && done < kPageSize;) {
        const ssize_t n = pread(fd, bytes.data() + done, kPageSize - done,
                                static_cast<off_t>(std::size_t{page} * kPageSize + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          const int err = n < 0 ? errno : EIO;
          throw DatabaseError(FileErrorText("读取数据库", shown, err));
        }
        done += static_cast<std::size_t>(n);
      }
      it = cache.emplace(page, std::move(bytes)).first;
    }
    return reinterpret_cast<const unsigned char*>(it->second.data());
  }
  PageReader Reader() {
    return [this](std::uint32_t page) { return Read(page); };
  }

  unsigned char* Page(std::uint32_t page) {
    Read(page);
    modified.insert(page);
    return reinterpret_cast<unsigned char*>(cache[page].data());
  }

  void Store(std::uint32_t page, const std::string& bytes) {
    cache[page] = bytes;
    modified.insert(page);
  }

  std::uint32_t Allocate() {
    const std::uint32_t page = Pages();
    if (page >= kMaxPages)
      throw DatabaseError(
          Arg(Translate("database", "数据库“%1”已达 2 GB 的上限"), {DisplayText(shown)}));
    ++pageCount;
    Store(page, std::string(kPageSize, '\0'));
    return page;
  }

  [[noreturn]] void Refuse(const std::string& why) const {
    throw DatabaseError(
        Arg(Translate("database", "无法写入数据库“%1”：%2"), {DisplayText(shown), why}));
  }

  void LoadTable(Table& t, std::uint32_t tdefPage) {
    t.tdefPage = tdefPage;
    const std::string why = ParseTableDef(Reader(), Pages(), tdefPage, t.def);
    if (!why.empty()) Refuse(why);
    DataPage map;
    if (t.def.ownedPage >= Pages() || !ParseDataPage(Read(t.def.ownedPage), map).empty() ||
        t.def.ownedRow >= map.rows.size() ||
        !ParseUsageMap(Reader(), Pages(), map.rows[t.def.ownedRow], t.owned).empty())
      Refuse(Translate("database", "表的使用映射无效"));
    t.ownedRef = ReferenceSlots(map.rows[t.def.ownedRow]);
    for (std::uint32_t p : t.owned)
      if (p >= Pages() || Read(p)[0] != 0x01 || Get32(Read(p) + 4) != tdefPage)
        Refuse(Translate("database", "表的使用映射指向无效的页"));
    if (!t.owned.empty()) {
      t.lastPage = *t.owned.rbegin();
      if (!ParseDataPage(Read(t.lastPage), t.last).empty())
        Refuse(Translate("database", "数据页无效"));
    }
    if (t.def.tableType != 0x4E) return;  // system tables' long values are not written here
    for (const LongValueMap& m : t.def.longValueMaps) {
      Table::LongColumn lc;
      lc.column = m.column;
      DataPage mp;
      if (m.ownedPage >= Pages() || !ParseDataPage(Read(m.ownedPage), mp).empty() ||
          m.ownedRow >= mp.rows.size() ||
          !ParseUsageMap(Reader(), Pages(), mp.rows[m.ownedRow], lc.owned).empty())
        Refuse(Translate("database", "长值列的使用映射无效"));
      lc.ownedRef = ReferenceSlots(mp.rows[m.ownedRow]);
      for (std::uint32_t p : lc.owned)
        if (p >= Pages() || Read(p)[0] != 0x01 || Get32(Read(p) + 4) != kLvalOwner)
          Refuse(Translate("database", "长值列的使用映射指向无效的页"));
      if (!lc.owned.empty()) {
        lc.current = *lc.owned.rbegin();
        if (!ParseDataPage(Read(lc.current), lc.page).empty())
          Refuse(Translate("database", "长值页无效"));
      }
      t.longs.push_back(std::move(lc));
    }
  }

  void LoadIndex(const Table& t, std::size_t i, CatalogIndex& x) {
    const PhysicalIndex& p = t.def.physical[i];
    x.owner = t.tdefPage;
    x.root = p.rootPage;
    x.mapRow = p.mapRow;
    x.mapPage = p.mapPage;
    auto page = [&](std::uint32_t n, unsigned char type, std::vector<std::string>& entries) {
      if (n < 2 || n >= Pages() || Read(n)[0] != type || Get32(Read(n) + 4) != t.tdefPage ||
          !ParseIndexPage(Read(n), entries).empty())
        Refuse(Translate("database", "系统索引无效（不是本程序创建的数据库）"));
    };
    if (x.root < Pages() && Read(x.root)[0] == 0x04) {
      page(x.root, 0x04, x.entries);
      return;
    }
    std::vector<std::string> children;
    page(x.root, 0x03, children);
    for (const std::string& c : children) {
      if (c.size() < 8) Refuse(Translate("database", "系统索引无效"));
      const auto* b = reinterpret_cast<const unsigned char*>(c.data()) + c.size() - 4;
      x.leaves.push_back((std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                         (std::uint32_t{b[2]} << 8) | b[3]);
    }
    x.leaves.push_back(Get32(Read(x.root) + 20));
    for (std::uint32_t leaf : x.leaves) {
      std::vector<std::string> entries;
      page(leaf, 0x04, entries);
      x.entries.insert(x.entries.end(), entries.begin(), entries.end());
    }
    if (!std::is_sorted(x.entries.begin(), x.entries.end()))
      Refuse(Translate("database", "系统索引无序"));
  }

  // Entries cut into leaves of at most one page each.
  static std::vector<std::vector<std::string>> Leaves(const std::vector<std::string>& entries) {
    std::vector<std::vector<std::string>> out(1);
    std::size_t used = 0;
    for (const std::string& e : entries) {
      if (used + e.size() > kIndexEntryBytes) {
        out.emplace_back();
        used = 0;
      }
      out.back().push_back(e);
      used += e.size();
    }
    return out;
  }

  // Whether the index still fits its one node page with `more` entries.
  static bool Fits(std::vector<std::string> entries, const std::vector<std::string>& more) {
    for (const std::string& e : more) Insert(entries, e);
    const auto leaves = Leaves(entries);
    std::size_t node = 0;
    for (std::size_t j = 0; j + 1 < leaves.size(); ++j) node += leaves[j].back().size() + 4;
    return node <= kIndexEntryBytes;
  }

  void WriteIndex(CatalogIndex& x, std::set<std::uint32_t>& dirty) {
    const auto leaves = Leaves(x.entries);
    std::set<std::uint32_t> pages = {x.root};
    if (leaves.size() == 1) {
      Store(x.root, BuildIndexLeaf(x.owner, x.entries));
    } else {
      while (x.leaves.size() < leaves.size()) x.leaves.push_back(Allocate());
      std::vector<std::string> node;
      const std::size_t k = leaves.size();
      for (std::size_t j = 0; j < k; ++j) {
        Store(x.leaves[j], BuildIndexLeaf(x.owner, leaves[j], j > 0 ? x.leaves[j - 1] : 0,
                                          j + 1 < k ? x.leaves[j + 1] : 0));
        dirty.insert(x.leaves[j]);
        if (j + 1 < k) {
          std::string child(4, '\0');
          for (int b = 0; b < 4; ++b) child[b] = static_cast<char>(x.leaves[j] >> (24 - 8 * b));
          node.push_back(leaves[j].back() + child);
        }
      }
      Store(x.root, BuildIndexNode(x.owner, node, x.leaves[k - 1]));
      pages.insert(x.leaves.begin(), x.leaves.end());
    }
    dirty.insert(x.root);
    DataPage map;
    if (!ParseDataPage(Read(x.mapPage), map).empty() || x.mapRow >= map.rows.size())
      Refuse(Translate("database", "索引的使用映射无效"));
    const std::string row = BuildUsageMap(pages, 0, kMapBytes);
    if (map.rows[x.mapRow] != row) {
      map.rows[x.mapRow] = row;
      Store(x.mapPage, BuildDataPage(map));
      dirty.insert(x.mapPage);
    }
  }

  void Open() {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      throw DatabaseError(FileErrorText("打开数据库", shown, err));
    }
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < static_cast<off_t>(19 * kPageSize) || size % static_cast<off_t>(kPageSize) != 0 ||
        size > static_cast<off_t>(std::size_t{kMaxPages} * kPageSize))
      Refuse(Translate("database", "文件长度不对"));
    pageCount = diskPages = static_cast<std::uint32_t>(size / static_cast<off_t>(kPageSize));
    HeaderInfo header;
    if (!ParseHeader(Read(0), kPageSize, header).empty() || header.version == JetVersion::Jet3 ||
        header.databaseKey != 0 || header.hasPassword)
      Refuse(Translate("database",
                       "只能写入 Access 2000 或 Access 2007 格式、未加密、无密码的数据库"));
    DataPage global;
    std::set<std::uint32_t> bits;
    if (!ParseDataPage(Read(1), global).empty() || global.rows.size() != 2 ||
        !ParseUsageMap(Reader(), Pages(), global.rows[0], bits).empty())
      Refuse(Translate("database", "全局使用映射无效"));
    globalRef = ReferenceSlots(global.rows[0]);
    if (!globalRef.empty()) globalEnd = Pages();
    for (std::uint32_t p : bits)
      if (p < Pages()) freePages.insert(p);

    LoadTable(objects, 2);
    LoadTable(aces, 3);
    if (!SameLayout(objects.def, ObjectsDef()) || !SameLayout(aces.def, AcesDef()))
      Refuse(Translate("database", "系统表的结构与预期不同（不是本程序创建的数据库）"));
    LoadIndex(objects, 0, byParentName);
    LoadIndex(objects, 1, byId);
    LoadIndex(aces, 0, acesById);

    for (std::uint32_t p : objects.owned) {
      DataPage dp;
      ParseDataPage(Read(p), dp);
      for (std::size_t i = 0; i < dp.rows.size(); ++i) {
        if (dp.flags[i] != 0) continue;
        RowValues v;
        const std::string& r = dp.rows[i];
        if (!CrackRow(objects.def, reinterpret_cast<const unsigned char*>(r.data()), r.size(), v)
                 .empty())
          Refuse(Translate("database", "MSysObjects 的行无效"));
        if (!v[0] || !v[1] || !v[2] || !v[3] || v[0]->size() != 4 || v[1]->size() != 4 ||
            v[3]->size() != 2)
          continue;
        const auto u = [](const std::optional<std::string>& s) {
          return reinterpret_cast<const unsigned char*>(s->data());
        };
        const std::u16string name = DecodeJetText(u(v[2]), v[2]->size());
        const std::uint16_t type = Get16(u(v[3]));
        if (name == u"MSysDb" && v[6]) dbOwner = *v[6];
        if (type != 1 || Get32(u(v[1])) != kTablesFolder) continue;
        const std::uint32_t flags = v[7] && v[7]->size() == 4 ? Get32(u(v[7])) : 0;
        if ((flags & 0x80000002u) != 0 || Folded(name).rfind(u"MSYS", 0) == 0) continue;
        Table t;
        t.name = name;
        LoadTable(t, Get32(u(v[0])));
        tables.push_back(std::move(t));
      }
    }
    for (std::uint32_t p : aces.owned) {
      DataPage dp;
      ParseDataPage(Read(p), dp);
      for (std::size_t i = 0; i < dp.rows.size(); ++i) {
        RowValues v;
        const std::string& r = dp.rows[i];
        if (dp.flags[i] != 0 ||
            !CrackRow(aces.def, reinterpret_cast<const unsigned char*>(r.data()), r.size(), v)
                 .empty() ||
            !v[0] || !v[1] || !v[2] || v[0]->size() != 4 || v[2]->size() != 4)
          continue;
        const auto* id = reinterpret_cast<const unsigned char*>(v[0]->data());
        const auto* acm = reinterpret_cast<const unsigned char*>(v[2]->data());
        if (Get32(id) == kTablesFolder && Get32(acm) == kUserTableAcm && v[3] && (*v[3])[0] != 0)
          userTableSids.push_back(*v[1]);
      }
    }
    if (dbOwner.empty()) Refuse(Translate("database", "缺少 MSysDb"));
  }

  Table* Find(const std::u16string& name) {
    const std::u16string folded = Folded(name);
    for (Table& t : tables)
      if (Folded(t.name) == folded) return &t;
    return nullptr;
  }

  // The table a name means; the last one asked for is remembered, as
  // records mostly come to one table after another (tables only grow in
  // number, never move in the list).
  Table& Need(const std::string& name) {
    if (needIndex < tables.size() && name == needName) return tables[needIndex];
    Table* t = Find(Utf8ToUtf16(name));
    if (t == nullptr) Refuse(Arg(Translate("database", "没有表“%1”"), {name}));
    needName = name;
    needIndex = static_cast<std::size_t>(t - tables.data());
    return *t;
  }
  std::string needName;
  std::size_t needIndex = static_cast<std::size_t>(-1);

  // Appends a built row to a table's pages; answers where it went.
  std::pair<std::uint32_t, std::uint8_t> Append(Table& t, const std::string& row) {
    if (t.lastPage == 0 || DataPageFree(t.last) < row.size() + 2 || t.last.rows.size() >= 255) {
      if (t.lastDirty) {
        Store(t.lastPage, BuildDataPage(t.last));
      }
      const std::uint32_t page = Allocate();
      t.owned.insert(page);
      t.added.push_back(page);
      t.lastPage = page;
      t.last = DataPage{};
      t.last.owner = t.tdefPage;
      t.mapDirty = true;
    }
    t.last.rows.push_back(row);
    t.last.flags.push_back(0);
    t.lastDirty = true;
    ++t.def.rowCount;
    t.defDirty = true;
    return {t.lastPage, static_cast<std::uint8_t>(t.last.rows.size() - 1)};
  }

  Table::LongColumn& LongOf(Table& t, std::uint16_t column) {
    for (Table::LongColumn& lc : t.longs)
      if (lc.column == column) return lc;
    Refuse(Translate("database", "长值列缺少使用映射"));
  }

  // Puts one row on a long-value page of the column; answers page << 8 | row.
  std::uint32_t PlaceLong(Table& t, Table::LongColumn& lc, const std::string& row) {
    if (lc.current == 0 || DataPageFree(lc.page) < row.size() + 2 || lc.page.rows.size() >= 255) {
      if (lc.dirty) {
        Store(lc.current, BuildDataPage(lc.page));
      }
      lc.current = Allocate();
      lc.owned.insert(lc.current);
      lc.added.push_back(lc.current);
      lc.page = DataPage{};
      lc.page.owner = kLvalOwner;
      t.mapDirty = true;
    }
    lc.page.rows.push_back(row);
    lc.page.flags.push_back(0);
    lc.dirty = true;
    return lc.current << 8 | static_cast<std::uint32_t>(lc.page.rows.size() - 1);
  }

  // Stores a long value out of its record; answers the record's field.
  std::string StoreLong(Table& t, std::uint16_t column, const std::string& data) {
    Table::LongColumn& lc = LongOf(t, column);
    const auto length = static_cast<std::uint32_t>(data.size());
    if (data.size() <= kLongRowMax)
      return LongField(length | kLongSinglePage, PlaceLong(t, lc, data));
    // A chain, written from its end so that each row knows the next.
    const std::size_t piece = kLongRowMax - 4;
    std::uint32_t next = 0;
    for (std::size_t end = data.size(); end > 0;) {
      const std::size_t from = (end - 1) / piece * piece;
      std::string row(4, '\0');
      Put32(reinterpret_cast<unsigned char*>(row.data()), next);
      row.append(data, from, end - from);
      next = PlaceLong(t, lc, row);
      end = from;
    }
    return LongField(length, next);
  }

  // The record for `v` (fields by column number): long values inline while
  // the record fits in `limit` bytes, the longest moved out first.
  std::string FitRow(Table& t, RowValues& v, std::size_t limit) {
    std::string row = BuildRow(t.def, v);
    while (row.size() > limit) {
      const ColumnDef* longest = nullptr;
      for (const ColumnDef& c : t.def.columns) {
        const auto& f = c.number < v.size() ? v[c.number] : std::optional<std::string>{};
        if (!c.longValue() || !f || f->size() <= kLongHeader ||
            (Get32(reinterpret_cast<const unsigned char*>(f->data())) & kLongInline) == 0)
          continue;
        if (longest == nullptr || f->size() > v[longest->number]->size()) longest = &c;
      }
      if (longest == nullptr) break;
      v[longest->number] = StoreLong(t, longest->number, v[longest->number]->substr(kLongHeader));
      row = BuildRow(t.def, v);
    }
    return row;
  }

  // Gives a long-value column its two usage-map rows, on a page of their own.
  void AddLongColumn(Table& t, std::uint16_t column) {
    const std::uint32_t mapPage = Allocate();
    const std::string none = BuildUsageMap({}, 0, kMapBytes);
    Store(mapPage, BuildDataPage({0, {none, none}, {}}));
    t.def.longValueMaps.push_back({column, 0, mapPage, 1, mapPage});
    Table::LongColumn lc;
    lc.column = column;
    t.longs.push_back(std::move(lc));
    t.defDirty = t.mapDirty = true;
  }

  // Text columns become long text; the records written before are written
  // again with those values as inline long values (moved out of the record
  // where it no longer fits), packed anew on the table's pages.
  void WidenToMemo(Table& t, const std::vector<std::uint16_t>& columns) {
    for (std::uint16_t n : columns) {
      for (ColumnDef& c : t.def.columns)
        if (c.number == n) {
          c.type = kTypeMemo;
          c.length = 0;
        }
      AddLongColumn(t, n);
    }
    if (t.owned.empty()) return;
    if (t.lastDirty) Store(t.lastPage, BuildDataPage(t.last));
    // The records are repacked onto the table's pages in order, then onto
    // new ones. A page is written as soon as its old records have been
    // read, straight to the file when it is there already, so that only the
    // pages the packing runs ahead by are held: memory stays small
    // whatever the size of the table.
    const std::vector<std::uint32_t> pages(t.owned.begin(), t.owned.end());
    std::size_t read = 0, written = 0;  // pages of `pages` read, written
    std::deque<std::string> ready;      // packed pages waiting for their target
    auto put = [&](std::uint32_t target, const std::string& bytes) {
      if (target < diskPages) {
        WriteAll(fd, bytes, static_cast<off_t>(std::size_t{target} * kPageSize), shown);
        cache.erase(target);
        modified.erase(target);
      } else {
        Store(target, bytes);
      }
    };
    auto drain = [&] {
      for (; !ready.empty() && written < read; ++written) {
        put(pages[written], ready.front());
        ready.pop_front();
      }
    };
    DataPage packing;
    packing.owner = t.tdefPage;
    std::size_t packed = 0;
    auto finish = [&] {
      ready.push_back(BuildDataPage(packing));
      ++packed;
      packing = DataPage{};
      packing.owner = t.tdefPage;
      drain();
    };
    for (std::uint32_t p : pages) {
      DataPage dp;
      if (!ParseDataPage(Read(p), dp).empty()) Refuse(Translate("database", "数据页无效"));
      if (p < diskPages && modified.count(p) == 0) cache.erase(p);  // read: its bytes are in `dp`
      ++read;
      for (const std::string& r : dp.rows) {
        RowValues v;
        if (!CrackRow(t.def, reinterpret_cast<const unsigned char*>(r.data()), r.size(), v).empty())
          Refuse(Translate("database", "数据行无效"));
        for (std::uint16_t n : columns)
          if (n < v.size() && v[n])
            v[n] = LongField(static_cast<std::uint32_t>(v[n]->size()) | kLongInline, 0) + *v[n];
        std::string row = FitRow(t, v, kMaxRewrittenRow);
        if (DataPageFree(packing) < row.size() + 2 || packing.rows.size() >= 255) finish();
        packing.rows.push_back(std::move(row));
        packing.flags.push_back(0);
      }
      drain();
    }
    const DataPage lastPacked = packing;
    finish();
    // Pages left over stay the table's, empty; packed pages beyond the old
    // ones go to new pages. Records go on after the last page of the table.
    DataPage empty;
    empty.owner = t.tdefPage;
    for (; written < pages.size(); ++written) {
      put(pages[written], ready.empty() ? BuildDataPage(empty) : ready.front());
      if (!ready.empty()) ready.pop_front();
    }
    t.lastPage = pages.back();
    for (; !ready.empty(); ready.pop_front()) {
      t.lastPage = Allocate();
      t.owned.insert(t.lastPage);
      t.added.push_back(t.lastPage);
      t.mapDirty = true;
      Store(t.lastPage, ready.front());
    }
    t.last = packed >= pages.size() ? lastPacked : empty;
    t.lastDirty = false;
    Flush();  // the rewritten records and the new column definitions together
  }

  static void Insert(std::vector<std::string>& entries, const std::string& entry) {
    entries.insert(std::lower_bound(entries.begin(), entries.end(), entry), entry);
  }

  static std::size_t Bytes(const std::vector<std::string>& entries) {
    std::size_t n = 0;
    for (const std::string& e : entries) n += e.size();
    return n;
  }

  void WriteDef(Table& t) {
    std::string logical = SerializeTableDef(t.def);
    const std::size_t needed = TdefPagesNeeded(logical.size());
    while (t.def.pages.size() < needed) t.def.pages.push_back(Allocate());
    if (t.def.pages.size() > needed) Refuse(Translate("database", "表定义页数异常"));
    logical.resize(std::max(logical.size(), kPageSize + (needed - 1) * (kPageSize - 8)), '\0');
    const std::size_t length = Get32(reinterpret_cast<const unsigned char*>(logical.data()) + 8);
    for (std::size_t i = 0; i < needed; ++i) {
      std::string page(kPageSize, '\0');
      std::size_t used;
      if (i == 0) {
        std::memcpy(page.data(), logical.data(), kPageSize);
        used = std::min(length, kPageSize);
      } else {
        const std::size_t from = kPageSize + (i - 1) * (kPageSize - 8);
        std::memcpy(page.data() + 8, logical.data() + from, kPageSize - 8);
        page[0] = 0x02;
        page[1] = 0x01;
        used = 8 + std::min(length - from, kPageSize - 8);
      }
      auto* p = reinterpret_cast<unsigned char*>(page.data());
      Put16(p + 2, used + 8 <= kPageSize ? static_cast<std::uint32_t>(kPageSize - used - 8) : 0);
      Put32(p + 4, i + 1 < needed ? t.def.pages[i + 1] : 0);
      Store(t.def.pages[i], page);
    }
  }

  // The usage map of a table's data pages: inline while the pages lie within
  // the first InlineLimit() pages, else a reference map whose bitmap pages
  // each cover 32736 pages.
  // A reference map is kept up to date bit by bit on its bitmap pages; it
  // is built whole only when it is new or needs another bitmap page.
  std::string OwnedMap(const std::set<std::uint32_t>& owned, std::vector<std::uint32_t>& ref,
                       std::vector<std::uint32_t>& added, std::set<std::uint32_t>& dirty) {
    const std::uint32_t highest = owned.empty() ? 0 : *owned.rbegin();
    std::string row;
    if (ref.empty() && highest < InlineLimit()) {
      row = BuildUsageMap(owned, 0, kMapBytes);
    } else if (Covers(ref, highest)) {
      for (std::uint32_t p : added) SetReferenceBit(ref, p, true);
      row = ReferenceRow(ref);
    } else {
      row = ReferenceMap(
          ref, highest, [&](std::uint32_t p) { return owned.count(p) != 0; }, dirty);
    }
    added.clear();
    return row;
  }

  static bool Covers(const std::vector<std::uint32_t>& ref, std::uint32_t page) {
    return !ref.empty() && page / kRefSpan < ref.size() &&
           std::find(ref.begin(), ref.end(), 0u) == ref.end();
  }

  void SetReferenceBit(const std::vector<std::uint32_t>& ref, std::uint32_t page, bool on) {
    unsigned char* b = Page(ref[page / kRefSpan]);
    const std::size_t i = page % kRefSpan;
    const auto bit = static_cast<unsigned char>(1 << (i % 8));
    b[4 + i / 8] = static_cast<unsigned char>(on ? b[4 + i / 8] | bit : b[4 + i / 8] & ~bit);
  }

  static std::string ReferenceRow(const std::vector<std::uint32_t>& ref) {
    std::string row(1 + 4 * kRefSlots, '\0');
    row[0] = 0x01;
    for (std::size_t k = 0; k < ref.size(); ++k)
      Put32(reinterpret_cast<unsigned char*>(row.data()) + 1 + 4 * k, ref[k]);
    return row;
  }

  template <typename Has>
  std::string ReferenceMap(std::vector<std::uint32_t>& ref, std::uint32_t highest, Has has,
                           std::set<std::uint32_t>& dirty) {
    const std::size_t needed = highest / kRefSpan + 1;
    if (needed > kRefSlots) Refuse(Translate("database", "数据库已达 2 GB 的上限"));
    if (ref.size() < needed) ref.resize(needed, 0);
    for (std::uint32_t& page : ref)
      if (page == 0) page = Allocate();
    std::string row(1 + 4 * kRefSlots, '\0');
    row[0] = 0x01;
    for (std::size_t k = 0; k < ref.size(); ++k) {
      std::string bitmap(kPageSize, '\0');
      auto* b = reinterpret_cast<unsigned char*>(bitmap.data());
      b[0] = 0x05;
      b[1] = 0x01;
      for (std::size_t i = 0; i < kRefSpan; ++i)
        if (has(static_cast<std::uint32_t>(k * kRefSpan + i)))
          b[4 + i / 8] |= static_cast<unsigned char>(1 << (i % 8));
      Store(ref[k], bitmap);
      dirty.insert(ref[k]);
      Put32(reinterpret_cast<unsigned char*>(row.data()) + 1 + 4 * k, ref[k]);
    }
    return row;
  }

  static std::string WithRoomMap(std::uint32_t page) {
    std::set<std::uint32_t> withRoom;
    if (page != 0) withRoom.insert(page);
    return BuildUsageMap(withRoom, page < 8 * kMapBytes ? 0 : page & ~7u, kMapBytes);
  }

  // The table's usage maps: its data pages, and each long-value column's pages.
  void WriteMap(Table& t, std::set<std::uint32_t>& dirty) {
    std::map<std::uint32_t, std::map<std::uint8_t, std::string>> rows;  // by page, by row
    rows[t.def.ownedPage][t.def.ownedRow] = OwnedMap(t.owned, t.ownedRef, t.added, dirty);
    rows[t.def.freePage][t.def.freeRow] = WithRoomMap(t.lastPage);
    for (Table::LongColumn& lc : t.longs)
      for (const LongValueMap& m : t.def.longValueMaps)
        if (m.column == lc.column) {
          rows[m.ownedPage][m.ownedRow] = OwnedMap(lc.owned, lc.ownedRef, lc.added, dirty);
          rows[m.freePage][m.freeRow] = WithRoomMap(lc.current);
        }
    for (const auto& [page, changes] : rows) {
      DataPage map;
      if (!ParseDataPage(Read(page), map).empty()) Refuse(Translate("database", "使用映射页无效"));
      for (const auto& [row, bytes] : changes) {
        if (row >= map.rows.size()) Refuse(Translate("database", "使用映射页无效"));
        map.rows[row] = bytes;
      }
      std::size_t used = 14;
      for (const std::string& r : map.rows) used += r.size() + 2;
      if (used > kPageSize) Refuse(Translate("database", "数据库已达本程序可写的上限"));
      Store(page, BuildDataPage(map));
      dirty.insert(page);
    }
  }

  // Pages whose content the model holds, rebuilt into the file image.
  std::set<std::uint32_t> Materialize() {
    std::set<std::uint32_t> dirty;
    std::vector<Table*> all = {&objects, &aces};
    for (Table& t : tables) all.push_back(&t);
    for (Table* t : all) {
      if (t->lastDirty) {
        Store(t->lastPage, BuildDataPage(t->last));
        dirty.insert(t->lastPage);
      }
      for (Table::LongColumn& lc : t->longs)
        if (lc.dirty) {
          Store(lc.current, BuildDataPage(lc.page));
          dirty.insert(lc.current);
          lc.dirty = false;
        }
      if (t->mapDirty) {
        WriteMap(*t, dirty);
        dirty.insert(t->def.ownedPage);
      }
      if (t->defDirty) {
        WriteDef(*t);
        dirty.insert(t->def.pages.begin(), t->def.pages.end());
      }
    }
    if (indexesDirty) {
      for (CatalogIndex* x : {&byParentName, &byId, &acesById}) WriteIndex(*x, dirty);
      dirty.insert({objects.def.physical[0].rootPage, objects.def.physical[1].rootPage,
                    aces.def.physical[0].rootPage});
    }
    if (Pages() != diskPages) {
      // Set bits are free pages: the pages past the end of the file.
      DataPage global;
      ParseDataPage(Read(1), global);
      if (globalRef.empty() && Pages() < InlineLimit()) {
        std::set<std::uint32_t> bits = freePages;
        const std::size_t bytes = std::max<std::size_t>(kMapBytes, (Pages() + 7) / 8);
        for (std::uint32_t p = Pages(); p < bytes * 8; ++p) bits.insert(p);
        global.rows[0] = BuildUsageMap(bits, 0, bytes);
      } else if (globalEnd != 0 && Covers(globalRef, Pages())) {
        for (std::uint32_t p = globalEnd; p < Pages(); ++p)
          SetReferenceBit(globalRef, p, freePages.count(p) != 0);
        global.rows[0] = ReferenceRow(globalRef);
      } else {
        // Its own bitmap pages are allocated first, so that they count as used.
        while (globalRef.size() * kRefSpan <= Pages()) globalRef.push_back(Allocate());
        const std::uint32_t end = Pages();
        global.rows[0] = ReferenceMap(
            globalRef, end, [&](std::uint32_t p) { return p >= end || freePages.count(p) != 0; },
            dirty);
      }
      Store(1, BuildDataPage(global));
      dirty.insert(1);
      if (!globalRef.empty()) globalEnd = Pages();
    }
    for (Table* t : all) t->lastDirty = t->mapDirty = t->defDirty = false;
    indexesDirty = false;
    dirty.insert(modified.begin(), modified.end());
    return dirty;
  }

  void Flush() {
    const std::set<std::uint32_t> dirty = Materialize();
    // New pages first (nothing points at them yet), then rows and indexes,
    // then the maps that list new pages, the global map, and last the
    // definitions with their row counts.
    auto write = [&](std::uint32_t page) {
      WriteAll(fd, cache.at(page), static_cast<off_t>(std::size_t{page} * kPageSize), shown);
    };
    for (std::uint32_t p = diskPages; p < Pages(); ++p) write(p);
    std::vector<std::uint32_t> defs, maps, longs, rest;
    for (std::uint32_t p : dirty) {
      if (p >= diskPages || p == 1) continue;
      const unsigned char type = Read(p)[0];
      if (type == 0x02)
        defs.push_back(p);
      else if (type == 0x01 && Get32(Read(p) + 4) == 0)
        maps.push_back(p);
      else if (type == 0x01 && Get32(Read(p) + 4) == kLvalOwner)
        longs.push_back(p);
      else
        rest.push_back(p);
    }
    for (std::uint32_t p : longs) write(p);
    for (std::uint32_t p : rest) write(p);
    for (std::uint32_t p : maps) write(p);
    if (dirty.count(1)) write(1);
    for (std::uint32_t p : defs) write(p);
    diskPages = Pages();
    modified.clear();
    cache.clear();
  }
};

void JetWriter::Create(const std::string& path, NewFormat format, const std::string& shownAs) {
  const std::string& shown = shownAs.empty() ? path : shownAs;
  const double created = NowAsOleDate();
  std::string file(19 * kPageSize, '\0');
  auto store = [&](std::uint32_t page, const std::string& bytes) {
    std::memcpy(file.data() + std::size_t{page} * kPageSize, bytes.data(), kPageSize);
  };
  store(0, HeaderPage(format, created));

  std::set<std::uint32_t> free;
  for (std::uint32_t p = 19; p < 8 * kMapBytes; ++p) free.insert(p);
  const std::string none = BuildUsageMap({}, 0, kMapBytes);
  store(1, BuildDataPage({1, {BuildUsageMap(free, 0, kMapBytes), none}, {}}));

  const std::vector<ObjectRow> objectRows = {
      {0x0F000001, 0x0F000000, u"Tables", 3, kOwnerSys},
      {0x0F000002, 0x0F000000, u"Databases", 3, kOwnerSys},
      {0x0F000003, 0x0F000000, u"Relationships", 3, kOwnerSys},
      {0x10000000, 0x0F000002, u"MSysDb", 2, kOwnerDb},
      {2, kTablesFolder, u"MSysObjects", 1, kOwnerSys},
      {3, kTablesFolder, u"MSysACEs", 1, kOwnerSys},
      {4, kTablesFolder, u"MSysQueries", 1, kOwnerSys},
      {5, kTablesFolder, u"MSysRelationships", 1, kOwnerSys},
  };
  struct Ace {
    std::uint32_t object, acm;
    const std::string& sid;
    bool inheritable;
  };
  const std::vector<Ace> aceRows = {
      {2, 0x00060000, kSidUsers, false},
      {3, 0x00060000, kSidUsers, false},
      {4, 0x00060000, kSidUsers, false},
      {5, 0x000E0000, kSidUsers, false},
      {0x0F000001, 0x000F00FE, kSidCreator, true},
      {0x0F000001, 0x00060001, kSidUsers, false},
      {0x0F000003, 0x000F00FE, kSidCreator, true},
      {0x0F000003, 0x00060001, kSidUsers, false},
      {0x0F000002, 0x00060000, kSidUsers, false},
      {0x10000000, 0x0006000E, kSidUsers, false},
      {0x10000000, 0x0000000E, kSidAdmins, false},
      {4, 0x00000014, kSidAdmins, false},
      {5, 0x00000014, kSidAdmins, false},
      {2, 0x00000014, kSidAdmins, false},
      {0x0F000001, kUserTableAcm, kSidAdmins, true},
      {0x0F000003, 0x000FFFFF, kSidAdmins, true},
  };
  TableDef objects = ObjectsDef(), aces = AcesDef(), queries = QueriesDef(),
           relationships = RelationshipsDef();
  DataPage objectPage{2, {}, {}}, acePage{3, {}, {}};
  std::vector<std::string> byParentName, byId, acesById;
  for (const ObjectRow& o : objectRows) {
    const auto row = static_cast<std::uint8_t>(objectPage.rows.size());
    objectPage.rows.push_back(BuildRow(objects, ObjectValues(o, created, 0x80000000u)));
    byParentName.push_back(ParentNameEntry(o.parent, o.name, 17, row));
    byId.push_back(LongEntry(o.id, 17, row));
  }
  for (const Ace& a : aceRows) {
    const auto row = static_cast<std::uint8_t>(acePage.rows.size());
    acePage.rows.push_back(BuildRow(aces, AceValues(a.object, a.acm, a.sid, a.inheritable)));
    acesById.push_back(LongEntry(a.object, 18, row));
  }
  for (auto* v : {&byParentName, &byId, &acesById}) std::sort(v->begin(), v->end());
  objects.rowCount = static_cast<std::uint32_t>(objectRows.size());
  objects.physical[0].uniqueKeys = DistinctKeys(byParentName);
  objects.physical[1].uniqueKeys = DistinctKeys(byId);
  aces.rowCount = static_cast<std::uint32_t>(aceRows.size());
  aces.physical[0].uniqueKeys = DistinctKeys(acesById);

  const std::pair<std::uint32_t, TableDef*> defs[] = {
      {2, &objects}, {3, &aces}, {4, &queries}, {5, &relationships}};
  for (const auto& [page, def] : defs) {
    std::string bytes = SerializeTableDef(*def);
    const std::uint32_t length = static_cast<std::uint32_t>(bytes.size());
    bytes.resize(kPageSize, '\0');
    Put16(reinterpret_cast<unsigned char*>(bytes.data()) + 2, kPageSize - length - 8);
    store(page, bytes);
  }
  std::vector<std::string> objectMaps(18, none);
  objectMaps[0] = objectMaps[1] = BuildUsageMap({17}, 0, kMapBytes);
  objectMaps[16] = BuildUsageMap({7}, 0, kMapBytes);
  objectMaps[17] = BuildUsageMap({8}, 0, kMapBytes);
  store(6, BuildDataPage({0, objectMaps, {}}));
  store(7, BuildIndexLeaf(2, byParentName));
  store(8, BuildIndexLeaf(2, byId));
  const std::string aceData = BuildUsageMap({18}, 0, kMapBytes);
  store(9, BuildDataPage({0, {aceData, aceData, BuildUsageMap({10}, 0, kMapBytes)}, {}}));
  store(10, BuildIndexLeaf(3, acesById));
  store(11, BuildDataPage({0, {none, none, none, none, BuildUsageMap({12}, 0, kMapBytes)}, {}}));
  store(12, BuildIndexLeaf(4, {}));
  store(13, BuildDataPage({0,
                           {none, none, BuildUsageMap({14}, 0, kMapBytes),
                            BuildUsageMap({15}, 0, kMapBytes), BuildUsageMap({16}, 0, kMapBytes)},
                           {}}));
  for (std::uint32_t p = 14; p <= 16; ++p) store(p, BuildIndexLeaf(5, {}));
  store(17, BuildDataPage(objectPage));
  store(18, BuildDataPage(acePage));

  // Whole or not at all: written beside the target, then renamed onto it.
  const std::string temp = path + ".pw-new";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    throw DatabaseError(FileErrorText("创建数据库", shown, err));
  }
  try {
    WriteAll(fd, file, 0, shown);
    if (fsync(fd) != 0) {
      const int err = errno;
      throw DatabaseError(FileErrorText("创建数据库", shown, err));
    }
  } catch (...) {
    close(fd);
    unlink(temp.c_str());
    throw;
  }
  close(fd);
  // link() never replaces a file; where the file system has no links
  // (FAT drives, some shares) rename() does, after a look that none is there.
  if (link(temp.c_str(), path.c_str()) == 0) {
    unlink(temp.c_str());
    return;
  }
  int err = errno;
  if (err != EEXIST && access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
    if (rename(temp.c_str(), path.c_str()) == 0) return;
    err = errno;
  }
  unlink(temp.c_str());
  throw DatabaseError(FileErrorText("创建数据库", shown, err));
}

JetWriter::JetWriter(const std::string& path, const std::string& shownAs)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->shown = shownAs.empty() ? path : shownAs;
  impl_->Open();
}

JetWriter::~JetWriter() {
  try {
    impl_->Flush();
    if (impl_->fd >= 0) fsync(impl_->fd);
  } catch (const std::exception&) {
    // Closing cannot report; Flush() reports for callers who ask.
  }
}

void JetWriter::Flush() {
  impl_->Flush();
}

void JetWriter::SetInlineMapLimit(std::uint32_t pages) {
  inlineLimit = pages;
}

void JetWriter::SetLongValueLimit(std::size_t bytes) {
  longValueLimit = std::min<std::size_t>(bytes, 0x3FFFFFFF);
}

std::vector<std::string> JetWriter::TableNames() const {
  std::vector<std::string> out;
  for (const auto& t : impl_->tables) out.push_back(Utf16ToUtf8(t.name));
  return out;
}

std::vector<ColumnKind> JetWriter::ColumnKinds(const std::string& table) const {
  std::vector<ColumnKind> out;
  for (const ColumnDef& c : impl_->Need(table).def.columns) out.push_back(KindOf(c));
  return out;
}

std::vector<FieldType> JetWriter::ColumnTypes(const std::string& table) const {
  std::vector<FieldType> out;
  for (const ColumnDef& c : impl_->Need(table).def.columns) out.push_back(TypeOf(c));
  return out;
}

std::vector<std::string> JetWriter::ColumnNames(const std::string& table) const {
  const auto& t = impl_->Need(table);
  std::vector<std::string> out;
  for (const ColumnDef& c : t.def.columns) out.push_back(Utf16ToUtf8(c.name));
  return out;
}

void JetWriter::CreateTable(const std::string& table, const std::string& firstColumn,
                            ColumnKind kind) {
  CreateTable(table, firstColumn, TypeOfKind(kind));
}

void JetWriter::CreateTable(const std::string& table, const std::string& firstColumn,
                            const FieldType& type) {
  Impl& m = *impl_;
  const std::u16string name = Utf8ToUtf16(table);
  const std::u16string column = Utf8ToUtf16(firstColumn);
  CheckName(name, Translate("database", "表名"));
  CheckName(column, Translate("database", "列名"));
  if (m.Find(name) != nullptr || Folded(name).rfind(u"MSYS", 0) == 0)
    throw DatabaseError(Arg(Translate("database", "表“%1”已存在"), {table}));
  // Room in the catalog indexes (one node page over their leaves).
  std::vector<std::string> aceEntries;
  for (std::size_t i = 0; i < std::max<std::size_t>(1, m.userTableSids.size()); ++i)
    aceEntries.push_back(LongEntry(0x00FFFFFF, 0xFFFFFF, 0xFF));
  if (!Impl::Fits(m.byParentName.entries, {ParentNameEntry(kTablesFolder, name, 0xFFFFFF, 0xFF)}) ||
      !Impl::Fits(m.byId.entries, {LongEntry(0x00FFFFFF, 0xFFFFFF, 0xFF)}) ||
      !Impl::Fits(m.acesById.entries, aceEntries))
    throw DatabaseError(Arg(Translate("database", "数据库“%1”中的表太多，无法再建表“%2”"),
                            {DisplayText(m.shown), table}));

  Impl::Table t;
  t.name = name;
  t.tdefPage = m.Allocate();
  t.def.pages = {t.tdefPage};
  const std::uint32_t mapPage = m.Allocate();
  const std::string none = BuildUsageMap({}, 0, kMapBytes);
  m.Store(mapPage, BuildDataPage({0, {none, none}, {}}));
  t.def.tableType = 0x4E;
  t.def.ownedRow = 0;
  t.def.ownedPage = mapPage;
  t.def.freeRow = 1;
  t.def.freePage = mapPage;
  t.def.columns.push_back(UserColumn(column, type, t.def));
  t.def.maxColumns = 1;
  t.def.varColumns = IsFixed(type) ? 0 : 1;
  if (t.def.columns.back().longValue()) m.AddLongColumn(t, 0);
  t.defDirty = true;
  m.WriteDef(t);

  const double now = NowAsOleDate();
  const auto [page, row] = m.Append(
      m.objects,
      BuildRow(m.objects.def,
               ObjectValues({t.tdefPage, kTablesFolder, name.c_str(), 1, m.dbOwner}, now, 0)));
  m.tables.push_back(std::move(t));
  Impl::Table& added = m.tables.back();
  Impl::Insert(m.byParentName.entries, ParentNameEntry(kTablesFolder, name, page, row));
  Impl::Insert(m.byId.entries, LongEntry(added.tdefPage, page, row));
  for (const std::string& sid : m.userTableSids) {
    const auto [acePage, aceRow] = m.Append(
        m.aces, BuildRow(m.aces.def, AceValues(added.tdefPage, kUserTableAcm, sid, false)));
    Impl::Insert(m.acesById.entries, LongEntry(added.tdefPage, acePage, aceRow));
  }
  m.objects.def.physical[0].uniqueKeys = DistinctKeys(m.byParentName.entries);
  m.objects.def.physical[1].uniqueKeys = DistinctKeys(m.byId.entries);
  m.aces.def.physical[0].uniqueKeys = DistinctKeys(m.acesById.entries);
  m.indexesDirty = true;
  m.Flush();
}

void JetWriter::AddColumn(const std::string& table, const std::string& column, ColumnKind kind) {
  AddColumn(table, column, TypeOfKind(kind));
}

void JetWriter::AddColumn(const std::string& table, const std::string& column,
                          const FieldType& type) {
  Impl& m = *impl_;
  Impl::Table& t = m.Need(table);
  const std::u16string name = Utf8ToUtf16(column);
  CheckName(name, Translate("database", "列名"));
  for (const ColumnDef& c : t.def.columns)
    if (Folded(c.name) == Folded(name))
      throw DatabaseError(Arg(Translate("database", "表“%1”中已有列“%2”"), {table, column}));
  if (t.def.columns.size() >= static_cast<std::size_t>(kMaxColumns))
    throw DatabaseError(
        Arg(Translate("database", "表“%1”已有 255 列，无法再加列“%2”"), {table, column}));
  ColumnDef c = UserColumn(name, type, t.def);
  c.number = t.def.maxColumns;
  c.ordinal = c.number;
  if (!c.fixed()) c.varIndex = t.def.varColumns++;
  t.def.columns.push_back(c);
  ++t.def.maxColumns;
  if (c.longValue()) m.AddLongColumn(t, c.number);
  t.defDirty = true;
  m.Flush();
}

void JetWriter::AppendRecord(const std::string& table,
                             const std::vector<std::optional<std::string>>& values) {
  Impl& m = *impl_;
  Impl::Table& t = m.Need(table);
  if (values.size() > t.def.columns.size())
    throw RecordError(Arg(Translate("database", "记录的字段数多于表“%1”的列数"), {table}));
  // Stored forms by column position: text encoded, bytes as they are.
  std::vector<std::optional<std::string>> stored(values.size());
  std::vector<std::uint16_t> widen;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i] || values[i]->empty()) continue;
    const ColumnDef& c = t.def.columns[i];
    if (c.type == kTypeOle) {
      stored[i] = *values[i];
    } else if (c.fixed()) {
      const FieldType type = TypeOf(c);
      stored[i] = EncodeFixedValue(type, *values[i]);
      if (!stored[i])
        throw RecordError(Arg(Translate("database", "字段“%1”的值“%2”不能存为%3类型"),
                              {Utf16ToUtf8(c.name), *values[i], TypeName(type)}));
    } else if (const std::string& v = *values[i];
               v.size() > 2 && std::all_of(v.begin(), v.end(), [](char b) { return b > 0; })) {
      // Plain ASCII: one character a byte, stored compressed as EncodeText would.
      if (c.type == kTypeText && v.size() > c.length / 2u) widen.push_back(c.number);
      stored[i] = "\xFF\xFE" + v;
    } else {
      const std::u16string text = Utf8ToUtf16(v);
      if (c.type == kTypeText && text.size() > c.length / 2u) widen.push_back(c.number);
      stored[i] = EncodeText(text, true);
    }
    if (stored[i]->size() > longValueLimit)
      throw RecordError(
          Arg(Translate("database", "字段“%1”的值长 %2 字节，超过每个值 %3 字节的上限"),
              {Utf16ToUtf8(c.name), stored[i]->size(), longValueLimit}));
  }
  for (;;) {
    if (!widen.empty()) m.WidenToMemo(t, widen);
    widen.clear();
    RowValues byNumber(t.def.maxColumns);
    for (std::size_t i = 0; i < stored.size(); ++i) {
      if (!stored[i]) continue;
      const ColumnDef& c = t.def.columns[i];
      byNumber[c.number] =
          c.longValue()
              ? LongField(static_cast<std::uint32_t>(stored[i]->size()) | kLongInline, 0) +
                    *stored[i]
              : *stored[i];
    }
    // Long values leave the record while it is too wide. When it would be
    // too wide even with all of them out, its widest text becomes long text.
    const std::string probe = BuildRow(t.def, byNumber);
    if (probe.size() > kMaxRowBytes) {
      std::size_t inlineBytes = 0, widest = stored.size();
      for (std::size_t i = 0; i < stored.size(); ++i) {
        if (!stored[i]) continue;
        const ColumnDef& c = t.def.columns[i];
        if (c.longValue()) inlineBytes += stored[i]->size();
        if (c.type == kTypeText &&
            (widest == stored.size() || stored[i]->size() > stored[widest]->size()))
          widest = i;
      }
      if (probe.size() - inlineBytes > kMaxRowBytes && widest < stored.size()) {
        widen.push_back(t.def.columns[widest].number);
        continue;
      }
    }
    const std::string row = m.FitRow(t, byNumber, kMaxRowBytes);
    if (row.size() > kMaxRowBytes)
      throw RecordError(
          Arg(Translate("database", "记录长 %1 字节，超过每条记录 4060 字节的上限"), {row.size()}));
    m.Append(t, row);
    break;
  }
  if (t.def.rowCount % 512 == 0) m.Flush();
}

}  // namespace pw::db
