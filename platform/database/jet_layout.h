#pragma once
// The structures of a Jet 4 / ACE file as the writer and the checker see
// them: table definitions, rows, data pages, usage maps and index leaves.

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/database/jet_bytes.h"

namespace pw::db {

enum : std::uint8_t {
  kTypeBool = 0x01,
  kTypeByte = 0x02,
  kTypeInt = 0x03,
  kTypeLong = 0x04,
  kTypeCurrency = 0x05,
  kTypeSingle = 0x06,
  kTypeDouble = 0x07,
  kTypeDate = 0x08,
  kTypeBinary = 0x09,
  kTypeText = 0x0A,
  kTypeOle = 0x0B,
  kTypeMemo = 0x0C,
  kTypeGuid = 0x0F,
  kTypeNumeric = 0x10,
};

inline constexpr std::uint16_t kSortChinese = 0x0804;
inline constexpr std::size_t kMaxRowBytes = 4060;
inline constexpr int kMaxColumns = 255;

struct ColumnDef {
  std::uint8_t type = kTypeText;
  std::uint16_t number = 0;
  std::uint16_t varIndex = 0;
  std::uint16_t ordinal = 0;
  std::uint16_t sortOrder = kSortChinese;
  std::uint8_t flags = 0x02;  // 0x01 fixed length
  std::uint8_t extraFlags = 0;
  std::uint16_t fixedOffset = 0;
  std::uint16_t length = 0;
  std::u16string name;

  bool fixed() const { return (flags & 0x01) != 0; }
  bool longValue() const { return type == kTypeMemo || type == kTypeOle; }
};

struct IndexColumn {
  std::uint16_t column = 0xFFFF;
  std::uint8_t order = 0;
};

struct PhysicalIndex {
  std::uint32_t uniqueKeys = 0;
  std::vector<IndexColumn> columns;  // up to 10
  std::uint8_t mapRow = 0;
  std::uint32_t mapPage = 0;
  std::uint32_t rootPage = 0;
  std::uint8_t flags = 0;
};

struct LogicalIndex {
  std::uint32_t number = 0;
  std::uint32_t physical = 0;
  std::uint8_t type = 0;  // 1 primary key
  std::u16string name;
};

struct LongValueMap {
  std::uint16_t column = 0;
  std::uint8_t ownedRow = 0;
  std::uint32_t ownedPage = 0;
  std::uint8_t freeRow = 0;
  std::uint32_t freePage = 0;
};

struct TableDef {
  std::vector<std::uint32_t> pages;  // the definition's page chain
  std::uint32_t rowCount = 0;
  std::uint32_t autoNumber = 0;
  std::uint8_t tableType = 0x4E;  // 'N' user, 'S' system
  std::uint16_t maxColumns = 0;
  std::uint16_t varColumns = 0;
  std::vector<ColumnDef> columns;  // in stored order
  std::vector<PhysicalIndex> physical;
  std::vector<LogicalIndex> logical;
  std::uint8_t ownedRow = 0;
  std::uint32_t ownedPage = 0;
  std::uint8_t freeRow = 1;
  std::uint32_t freePage = 0;
  std::vector<LongValueMap> longValueMaps;

  const ColumnDef* Find(std::uint16_t number) const;
  std::size_t FixedAreaSize() const;
};

// The logical definition (first page from byte 0, continuation pages after
// their 8-byte headers), as stored.
std::string SerializeTableDef(const TableDef& def);
// Splits a definition over `def.pages` (which must be enough: see
// TdefPagesNeeded) and writes those pages into `file`.
std::size_t TdefPagesNeeded(std::size_t logicalLength);
// Parses the definition starting at `page`; answers "" or what is wrong.
std::string ParseTableDef(const std::string& file, std::uint32_t page, TableDef& def);
// The same on pages read one by one: `read` answers page n (< `pages`).
using PageReader = std::function<const unsigned char*(std::uint32_t)>;
std::string ParseTableDef(const PageReader& read, std::uint32_t pages, std::uint32_t page,
                          TableDef& def);

// Page access on a whole file held in memory.
inline const unsigned char* PageAt(const std::string& file, std::uint32_t page) {
  return reinterpret_cast<const unsigned char*>(file.data()) + std::size_t{page} * kPageSize;
}
inline std::uint32_t PageCount(const std::string& file) {
  return static_cast<std::uint32_t>(file.size() / kPageSize);
}

// A row's values by column number; nullopt is no value. Fixed values hold
// their stored bytes; Boolean values "\1" or "\0".
using RowValues = std::vector<std::optional<std::string>>;

std::string BuildRow(const TableDef& def, const RowValues& byNumber);
// Answers "" or what is wrong with the row.
std::string CrackRow(const TableDef& def, const unsigned char* row, std::size_t size,
                     RowValues& byNumber);

// Data pages: rows packed from the end of the page downwards.
struct DataPage {
  std::uint32_t owner = 0;  // tdef page
  std::vector<std::string> rows;
  std::vector<std::uint16_t> flags;  // 0x8000 deleted, 0x4000 overflow pointer
};
std::string BuildDataPage(const DataPage& page);
std::string ParseDataPage(const unsigned char* page, DataPage& out);
std::size_t DataPageFree(const DataPage& page);

// Inline usage map covering pages from `start` with at least `minBytes`
// bitmap bytes.
std::string BuildUsageMap(const std::set<std::uint32_t>& pages, std::uint32_t start,
                          std::size_t minBytes);
// Pages of an inline or reference map ("" or what is wrong).
std::string ParseUsageMap(const std::string& file, const std::string& map,
                          std::set<std::uint32_t>& pages);
std::string ParseUsageMap(const PageReader& read, std::uint32_t pageCount, const std::string& map,
                          std::set<std::uint32_t>& pages);

// Index leaf (page type 4) with unprefixed entries.
inline constexpr std::size_t kIndexEntryBytes = 4096 - 480;
std::string BuildIndexLeaf(std::uint32_t owner, const std::vector<std::string>& entries,
                           std::uint32_t prev = 0, std::uint32_t next = 0);
// Index node (page type 3): each entry is the last entry of a child leaf
// followed by that leaf's page (big-endian); the last child is `tail`.
std::string BuildIndexNode(std::uint32_t owner, const std::vector<std::string>& entries,
                           std::uint32_t tail);
// Entries of an index page, prefix compression undone.
std::string ParseIndexPage(const unsigned char* page, std::vector<std::string>& entries);

// Index keys.
std::string LongKey(std::uint32_t value);
// Text key in the General order: letters, digits and a few signs take the
// codes Access uses; every other character takes a code of ours (see .cpp).
std::string TextKey(std::u16string_view text);
std::string EntryPointer(std::uint32_t page, std::uint8_t row);

// Stored text: compressed when every character fits one byte.
std::string EncodeText(std::u16string_view text, bool allowCompression);

}  // namespace pw::db
