#include "platform/database/mdb_file.h"

#include <fcntl.h>
#include <mdbtools.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/errors.h"
#include "platform/textcodec.h"

namespace pw::db {

namespace {

// libmdb reports its troubles on stderr; none of that may reach the user.
class QuietStderr {
 public:
  QuietStderr() {
    std::lock_guard<std::mutex> lock(Mutex());
    if (Depth()++ > 0) return;
    std::fflush(stderr);
    Saved() = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, 2);
      close(null);
    }
  }
  ~QuietStderr() {
    std::lock_guard<std::mutex> lock(Mutex());
    if (--Depth() > 0) return;
    std::fflush(stderr);
    if (Saved() >= 0) {
      dup2(Saved(), 2);
      close(Saved());
      Saved() = -1;
    }
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  static std::mutex& Mutex() {
    static std::mutex m;
    return m;
  }
  static int& Depth() {
    static int d = 0;
    return d;
  }
  static int& Saved() {
    static int s = -1;
    return s;
  }
};

bool IsHiddenName(const std::string& name) {
  auto starts = [&](const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (name.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
      if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    return true;
  };
  return starts("msys") || starts("~tmp") || starts("usys");
}

std::string Hex(const unsigned char* p, std::size_t n) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "0x";
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(digits[p[i] >> 4]);
    out.push_back(digits[p[i] & 15]);
  }
  return out;
}

}  // namespace

std::string OpenErrorText(const std::string& path, const std::string& cause) {
  return "无法打开数据库“" + DisplayText(path) + "”：" + cause;
}

struct MdbFile::Impl {
  std::string path;
  HeaderInfo header;
  MdbHandle* mdb = nullptr;
  std::vector<std::string> tables;
  std::vector<MdbCatalogEntry*> entries;

  ~Impl() {
    if (mdb != nullptr) {
      QuietStderr quiet;
      mdb_close(mdb);
    }
  }

  std::string Text(const unsigned char* p, std::size_t n) const {
    if (header.version != JetVersion::Jet3) return Utf16ToUtf8(DecodeJetText(p, n));
    std::string out(n * 4 + 16, '\0');
    const int len =
        mdb_unicode2ascii(mdb, reinterpret_cast<const char*>(p), n, out.data(), out.size());
    out.resize(len > 0 ? static_cast<std::size_t>(len) : 0);
    return out;
  }

  // The bytes of a memo or OLE value, following its long-value pages.
  std::string LongValue(int start, int size) const {
    if (size < MDB_MEMO_OVERHEAD || start + size > static_cast<int>(kPageSize)) return {};
    const unsigned char* head = mdb->pg_buf + start;
    const std::uint32_t lenFlags = Get32(head);
    const std::uint32_t length = lenFlags & 0x3FFFFFFF;
    std::string out;
    if (lenFlags & 0x80000000u) {
      out.assign(reinterpret_cast<const char*>(head) + MDB_MEMO_OVERHEAD,
                 static_cast<std::size_t>(size - MDB_MEMO_OVERHEAD));
      return out;
    }
    std::uint32_t pgRow = Get32(head + 4);
    const bool single = (lenFlags & 0x40000000u) != 0;
    for (int hops = 0; pgRow != 0 && hops < 100000; ++hops) {
      void* buf = nullptr;
      int off = 0;
      std::size_t len = 0;
      if (mdb_find_pg_row(mdb, static_cast<int>(pgRow), &buf, &off, &len) != 0) break;
      if (off < 0 || static_cast<std::size_t>(off) + len > kPageSize) break;
      const unsigned char* row = static_cast<const unsigned char*>(buf) + off;
      if (single) {
        out.assign(reinterpret_cast<const char*>(row), len);
        break;
      }
      if (len < 4) break;
      out.append(reinterpret_cast<const char*>(row) + 4, len - 4);
      if (out.size() >= length) break;
      pgRow = Get32(row);
    }
    if (out.size() > length) out.resize(length);
    return out;
  }

  std::string Value(MdbColumn* col) const {
    const int start = col->cur_value_start;
    const int len = col->cur_value_len;
    if (col->col_type == MDB_BOOL) return len == 0 ? "True" : "False";
    if (len <= 0 || start < 0 || start + len > static_cast<int>(kPageSize)) return {};
    const unsigned char* p = mdb->pg_buf + start;
    auto need = [&](int n) { return len >= n; };
    switch (col->col_type) {
      case MDB_BYTE:
        return std::to_string(p[0]);
      case MDB_INT:
        return need(2) ? std::to_string(static_cast<std::int16_t>(Get16(p))) : "";
      case MDB_LONGINT:
      case MDB_COMPLEX:
        return need(4) ? std::to_string(static_cast<std::int32_t>(Get32(p))) : "";
      case MDB_MONEY: {
        if (!need(8)) return {};
        std::int64_t v = 0;
        std::memcpy(&v, p, 8);
        return FormatCurrency(v);
      }
      case MDB_FLOAT: {
        if (!need(4)) return {};
        float f = 0;
        std::memcpy(&f, p, 4);
        return FormatSingle(f);
      }
      case MDB_DOUBLE: {
        if (!need(8)) return {};
        double d = 0;
        std::memcpy(&d, p, 8);
        return FormatDouble(d);
      }
      case MDB_DATETIME: {
        if (!need(8)) return {};
        double d = 0;
        std::memcpy(&d, p, 8);
        return FormatOleDate(d);
      }
      case MDB_TEXT:
        return Text(p, static_cast<std::size_t>(len));
      case MDB_MEMO: {
        const std::string bytes = LongValue(start, len);
        return Text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
      }
      case MDB_BINARY:
        return Hex(p, static_cast<std::size_t>(len));
      case MDB_REPID: {
        if (!need(16)) return {};
        char* s = mdb_uuid_to_string(mdb->pg_buf, start);
        std::string out = s != nullptr ? s : "";
        g_free(s);
        return out;
      }
      case MDB_NUMERIC: {
        if (!need(17)) return {};
        char* s = mdb_numeric_to_string(mdb, start, col->col_scale, col->col_prec);
        std::string out = s != nullptr ? s : "";
        g_free(s);
        return out;
      }
      default:  // OLE objects and unknown types carry no text
        return {};
    }
  }
};

MdbFile::MdbFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    throw DatabaseError(OpenErrorText(path, DescribeErrno(err)));
  }
  unsigned char page[kPageSize] = {};
  const ssize_t got = pread(fd, page, sizeof page, 0);
  const off_t size = lseek(fd, 0, SEEK_END);
  close(fd);
  if (got < 0x100) throw DatabaseError(OpenErrorText(path, "不是 Access 数据库文件（文件太短）"));
  const std::string why = ParseHeader(page, static_cast<std::size_t>(got), impl_->header);
  if (!why.empty()) throw DatabaseError(OpenErrorText(path, why));
  const off_t pageSize = impl_->header.version == JetVersion::Jet3 ? 2048 : 4096;
  if (size < 2 * pageSize || size % pageSize != 0)
    throw DatabaseError(OpenErrorText(path, "文件已损坏（文件长度不完整）"));
  if (impl_->header.databaseKey != 0)
    throw DatabaseError(OpenErrorText(path, "数据库已加密，无法读取"));
  if (impl_->header.hasPassword)
    throw DatabaseError(OpenErrorText(path, "数据库设有密码，无法打开"));

  QuietStderr quiet;
  impl_->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (impl_->mdb == nullptr) throw DatabaseError(OpenErrorText(path, "文件已损坏，无法读取"));
  GPtrArray* catalog = mdb_read_catalog(impl_->mdb, MDB_TABLE);
  if (catalog == nullptr) throw DatabaseError(OpenErrorText(path, "文件已损坏，无法读取表的目录"));
  for (guint i = 0; i < impl_->mdb->num_catalog; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(impl_->mdb->catalog, i));
    if (entry == nullptr || !mdb_is_user_table(entry)) continue;
    const std::string name = entry->object_name;
    if (name.empty() || IsHiddenName(name)) continue;
    impl_->tables.push_back(name);
    impl_->entries.push_back(entry);
  }
}

MdbFile::~MdbFile() = default;

const std::string& MdbFile::path() const {
  return impl_->path;
}
JetVersion MdbFile::version() const {
  return impl_->header.version;
}
const std::vector<std::string>& MdbFile::TableNames() const {
  return impl_->tables;
}

TableData MdbFile::ReadTable(const std::string& name) const {
  MdbCatalogEntry* entry = nullptr;
  for (std::size_t i = 0; i < impl_->tables.size(); ++i)
    if (impl_->tables[i] == name) entry = impl_->entries[i];
  if (entry == nullptr)
    throw DatabaseError("数据库“" + DisplayText(impl_->path) + "”中没有表“" + name + "”");
  QuietStderr quiet;
  MdbTableDef* table = mdb_read_table(entry);
  if (table == nullptr || mdb_read_columns(table) == nullptr) {
    if (table != nullptr) mdb_free_tabledef(table);
    throw DatabaseError("无法读取数据库“" + DisplayText(impl_->path) + "”中的表“" + name +
                        "”：文件已损坏");
  }
  TableData out;
  out.name = name;
  std::vector<MdbColumn*> cols;
  for (guint i = 0; i < table->num_cols; ++i) {
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
    cols.push_back(col);
    out.columns.push_back({col->name, col->col_type, col->col_size});
  }
  mdb_rewind_table(table);
  while (mdb_fetch_row(table)) {
    std::vector<std::string> row;
    row.reserve(cols.size());
    for (MdbColumn* col : cols) row.push_back(impl_->Value(col));
    out.rows.push_back(std::move(row));
  }
  mdb_free_tabledef(table);
  return out;
}

}  // namespace pw::db
