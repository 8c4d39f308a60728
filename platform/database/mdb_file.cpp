#include "platform/database/mdb_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <mdbtools.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include "platform/database/saved_query.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

#if defined(__SANITIZE_ADDRESS__)
#define PW_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PW_UNDER_ASAN 1
#endif
#endif

extern char** environ;

namespace pw::db {

constexpr int kReaderFd = 3;  // where the reading program writes its answer

namespace {

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

}  // namespace

std::string OpenErrorText(const std::string& path, const std::string& cause) {
  return Arg(Translate("database", "无法打开数据库“%1”：%2"), {DisplayText(path), cause});
}

namespace {

// What crosses from the reading process: length-prefixed strings and
// numbers, buffered onto a pipe.
class Sink {
 public:
  explicit Sink(int fd) : fd_(fd) {}
  void Byte(char c) { Push(std::string_view(&c, 1)); }
  void Number(std::uint32_t v) {
    unsigned char b[4];
    Put32(b, v);
    Push(std::string_view(reinterpret_cast<const char*>(b), 4));
  }
  void Text(std::string_view s) {
    Number(static_cast<std::uint32_t>(s.size()));
    Push(s);
  }
  void Flush() {
    std::size_t done = 0;
    while (fd_ >= 0 && done < buf_.size()) {
      const ssize_t n = write(fd_, buf_.data() + done, buf_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    if (fd_ >= 0) buf_.clear();
  }
  // Between records: what is buffered goes out once there is enough of
  // it, so that an error after this point follows whole records.
  void Boundary() {
    if (buf_.size() >= (1u << 16)) Flush();
  }
  std::string& buffer() { return buf_; }

 private:
  void Push(std::string_view s) { buf_.append(s); }
  int fd_;
  std::string buf_;
};

// One libmdb handle on a file, inside the reading process.
struct Session {
  HeaderInfo header;
  MdbHandle* mdb = nullptr;

  ~Session() {
    if (mdb != nullptr) mdb_close(mdb);
  }

  std::string Text(const unsigned char* p, std::size_t n) const {
    if (header.version != JetVersion::Jet3) {
      // Compressed plain ASCII, the commonest text, is its own UTF-8.
      if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE &&
          std::all_of(p + 2, p + n, [](unsigned char b) { return b >= 1 && b < 0x80; }))
        return std::string(reinterpret_cast<const char*>(p) + 2, n - 2);
      return Utf16ToUtf8(DecodeJetText(p, n));
    }
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
        return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(len));
      case MDB_OLE:
        return LongValue(start, len);
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
      default:  // unknown types carry no value
        return {};
    }
  }

  void Open(const std::string& path) {
    // Access 97 text is in the code page of the machine that wrote it, which
    // the header names; libmdb assumes 1252 unless told. (This process is
    // the reading child: its environment is its own.)
    if (header.version == JetVersion::Jet3 && header.codePage != 0)
      setenv("MDB_JET3_CHARSET", ("CP" + std::to_string(header.codePage)).c_str(), 1);
    mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (mdb == nullptr)
      throw DatabaseError(OpenErrorText(path, Translate("database", "文件已损坏，无法读取")));
    if (mdb_read_catalog(mdb, MDB_ANY) == nullptr)
      throw DatabaseError(
          OpenErrorText(path, Translate("database", "文件已损坏，无法读取表的目录")));
  }

  std::vector<MdbCatalogEntry*> UserTables() const {
    std::vector<MdbCatalogEntry*> out;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
      auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (entry == nullptr || !mdb_is_user_table(entry)) continue;
      const std::string name = entry->object_name;
      if (name.empty() || IsHiddenName(name)) continue;
      out.push_back(entry);
    }
    return out;
  }

  // A value for comparing and sorting in a saved query.
  Cell Typed(MdbColumn* col) const {
    if (col->col_type == MDB_BOOL)
      return {Cell::Kind::Number, col->cur_value_len == 0 ? -1.0 : 0.0, {}};
    if (col->cur_value_len <= 0) return {};
    switch (col->col_type) {
      case MDB_DATETIME: {
        if (col->cur_value_len < 8) return {};
        double d = 0;
        std::memcpy(&d, mdb->pg_buf + col->cur_value_start, 8);
        return {Cell::Kind::Number, d, {}};
      }
      case MDB_BYTE:
      case MDB_INT:
      case MDB_LONGINT:
      case MDB_MONEY:
      case MDB_FLOAT:
      case MDB_DOUBLE:
      case MDB_NUMERIC:
        return {Cell::Kind::Number, std::strtod(Value(col).c_str(), nullptr), {}};
      default:
        return {Cell::Kind::Text, 0, Value(col)};
    }
  }

  // Saved queries the catalog lists, hidden ones (named "~…") left out, with
  // the rows of MSysQueries that describe each.
  std::vector<std::pair<std::string, std::vector<QueryRow>>> SavedQueries() {
    std::vector<std::pair<std::string, std::vector<QueryRow>>> out;
    std::map<unsigned long, std::size_t> byId;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (e == nullptr || e->object_type != MDB_QUERY || e->object_name[0] == '\0' ||
          e->object_name[0] == '~')
        continue;
      byId[e->table_pg & 0x00FFFFFFu] = out.size();
      out.emplace_back(e->object_name, std::vector<QueryRow>{});
    }
    if (out.empty()) return out;
    MdbCatalogEntry* entry = nullptr;
    for (guint i = 0; i < mdb->num_catalog; ++i) {
      auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
      if (e != nullptr && e->object_type == MDB_TABLE && SameName(e->object_name, "MSysQueries"))
        entry = e;
    }
    MdbTableDef* table = entry != nullptr ? mdb_read_table(entry) : nullptr;
    if (table == nullptr || mdb_read_columns(table) == nullptr) {
      if (table != nullptr) mdb_free_tabledef(table);
      return out;  // no definitions: none can be evaluated
    }
    std::map<std::string, MdbColumn*> cols;
    for (guint i = 0; i < table->num_cols; ++i) {
      auto* c = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
      cols[c->name] = c;
    }
    auto text = [&](const char* name) {
      const auto it = cols.find(name);
      return it == cols.end() || it->second->cur_value_len <= 0 ? std::string() : Value(it->second);
    };
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
      const unsigned long id =
          static_cast<unsigned long>(std::strtoll(text("ObjectId").c_str(), nullptr, 10)) &
          0x00FFFFFFu;
      const auto it = byId.find(id);
      if (it == byId.end()) continue;
      QueryRow r;
      r.attribute = std::atoi(text("Attribute").c_str());
      r.flag = std::atoi(text("Flag").c_str());
      r.name1 = text("Name1");
      r.name2 = text("Name2");
      r.expression = text("Expression");
      out[it->second].second.push_back(r);
    }
    mdb_free_tabledef(table);
    return out;
  }

  // The fields of each user table, for planning queries.
  std::map<std::string, std::vector<std::string>> TableFields() {
    std::map<std::string, std::vector<std::string>> out;
    for (MdbCatalogEntry* e : UserTables()) {
      MdbTableDef* table = mdb_read_table(e);
      if (table == nullptr || mdb_read_columns(table) == nullptr) {
        if (table != nullptr) mdb_free_tabledef(table);
        continue;
      }
      auto& fields = out[e->object_name];
      for (guint i = 0; i < table->num_cols; ++i)
        fields.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i))->name);
      mdb_free_tabledef(table);
    }
    return out;
  }

  static TableColumns Lookup(const std::map<std::string, std::vector<std::string>>& fields) {
    return [&fields](const std::string& name) -> const std::vector<std::string>* {
      for (const auto& [table, columns] : fields)
        if (SameName(table, name)) return &columns;
      return nullptr;
    };
  }

  void ListQueries(Sink& sink) {
    const auto queries = SavedQueries();
    const auto fields = TableFields();
    sink.Number(static_cast<std::uint32_t>(queries.size()));
    for (const auto& [name, rows] : queries) {
      SelectPlan plan;
      sink.Text(name);
      sink.Byte(PlanQuery(rows, Lookup(fields), plan).empty() ? 1 : 0);
    }
  }

  static void SendColumn(Sink& sink, const std::string& name, const MdbColumn* col) {
    sink.Text(name);
    sink.Number(static_cast<std::uint32_t>(col->col_type));
    sink.Number(static_cast<std::uint32_t>(col->col_size));
    // libmdb keeps a decimal's precision (byte 11 of the column block) in
    // col_scale and its scale (byte 12) in col_prec.
    sink.Number(static_cast<std::uint32_t>(col->col_type == MDB_NUMERIC ? col->col_scale : 0));
    sink.Number(static_cast<std::uint32_t>(col->col_type == MDB_NUMERIC ? col->col_prec : 0));
  }

  // How a plain saved query is evaluated; throws for one that cannot be.
  SelectPlan PlanOf(const std::string& path, const std::string& name) {
    const auto queries = SavedQueries();
    const auto fields = TableFields();
    const auto it = std::find_if(queries.begin(), queries.end(),
                                 [&](const auto& q) { return q.first == name; });
    SelectPlan plan;
    if (it == queries.end() || !PlanQuery(it->second, Lookup(fields), plan).empty())
      throw DatabaseError(
          Arg(Translate("database", "数据库“%1”中的查询“%2”%3"),
              {DisplayText(path), name, Translate("database", kQueryNotEvaluated)}));
    return plan;
  }

  // The columns a plain saved query gives, sent as a table's are, with no records.
  void QueryColumns(const std::string& path, const std::string& name, Sink& sink) {
    const SelectPlan plan = PlanOf(path, name);
    MdbTableDef* table = OpenTableDef(path, plan.table);
    sink.Number(static_cast<std::uint32_t>(plan.output.size()));
    for (const SelectPlan::Output& o : plan.output)
      SendColumn(sink, o.name,
                 static_cast<MdbColumn*>(g_ptr_array_index(table->columns, o.column)));
    sink.Byte(0);
    mdb_free_tabledef(table);
  }

  // The records a plain saved query gives, sent as a table's are. Without
  // an order or DISTINCT they go as they are read; otherwise the table is
  // held for sorting, with only the output fields as text.
  void DumpQuery(const std::string& path, const std::string& name, Sink& sink) {
    const SelectPlan plan = PlanOf(path, name);
    MdbTableDef* table = OpenTableDef(path, plan.table);
    std::vector<MdbColumn*> cols;
    for (guint i = 0; i < table->num_cols; ++i)
      cols.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
    sink.Number(static_cast<std::uint32_t>(plan.output.size()));
    for (const SelectPlan::Output& o : plan.output) SendColumn(sink, o.name, cols[o.column]);
    auto rowCells = [&] {
      std::vector<Cell> cells;
      for (MdbColumn* col : cols) cells.push_back(Typed(col));
      return cells;
    };
    auto rowOutput = [&] {
      std::vector<std::string> v;
      for (const SelectPlan::Output& o : plan.output) v.push_back(Value(cols[o.column]));
      return v;
    };
    auto send = [&](const std::vector<std::string>& values) {
      sink.Boundary();
      sink.Byte(1);
      for (const std::string& v : values) sink.Text(v);
    };
    mdb_rewind_table(table);
    if (StreamedSelect::Fits(plan)) {
      StreamedSelect select(plan);
      while (!select.Done() && mdb_fetch_row(table))
        if (select.Take(rowCells)) send(rowOutput());
    } else {
      std::vector<std::vector<Cell>> cells;
      std::vector<std::vector<std::string>> texts;
      while (mdb_fetch_row(table)) {
        cells.push_back(rowCells());
        texts.push_back(rowOutput());
      }
      for (std::size_t r : RunPlan(plan, cells, [&](std::size_t r) { return texts[r]; }))
        send(texts[r]);
    }
    sink.Byte(0);
    mdb_free_tabledef(table);
  }

  MdbTableDef* OpenTableDef(const std::string& path, const std::string& name) {
    MdbCatalogEntry* entry = nullptr;
    for (MdbCatalogEntry* e : UserTables())
      if (name == e->object_name) entry = e;
    if (entry == nullptr)
      throw DatabaseError(
          Arg(Translate("database", "数据库“%1”中没有表“%2”"), {DisplayText(path), name}));
    MdbTableDef* table = mdb_read_table(entry);
    if (table == nullptr || mdb_read_columns(table) == nullptr) {
      if (table != nullptr) mdb_free_tabledef(table);
      throw DatabaseError(Arg(Translate("database", "无法读取数据库“%1”中的表“%2”：文件已损坏"),
                              {DisplayText(path), name}));
    }
    return table;
  }

  void DumpTable(const std::string& path, const std::string& name, Sink& sink,
                 bool columnsOnly = false) {
    MdbTableDef* table = OpenTableDef(path, name);
    std::vector<MdbColumn*> cols;
    for (guint i = 0; i < table->num_cols; ++i)
      cols.push_back(static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i)));
    sink.Number(static_cast<std::uint32_t>(cols.size()));
    for (MdbColumn* col : cols) SendColumn(sink, col->name, col);
    mdb_rewind_table(table);
    while (!columnsOnly && mdb_fetch_row(table)) {
      sink.Boundary();
      sink.Byte(1);
      for (MdbColumn* col : cols) sink.Text(Value(col));
    }
    sink.Byte(0);
    mdb_free_tabledef(table);
  }
};

// The reading program: in our helper folder when installed, else where the
// build put it.
std::string ReaderProgram() {
  return HelperFile("plinthwick-mdb-reader", PW_MDB_READER);
}

// The reading program running on `args`, and the pipe its answer comes
// on, so that whatever a damaged file does to libmdb (a crash, a loop,
// memory without end, chatter on stdout and stderr) stays in that process.
// A fresh program rather than a bare fork: a fork of a threaded process (the
// window's, say) can inherit a lock held by another thread and stall. The
// answer is read as it comes, a piece at a time; anything wrong with the
// program gives DatabaseError `damaged`.
class ReaderPipe {
 public:
  // With `requests`, the program reads its requests from a socket on its
  // standard input (see Request).
  ReaderPipe(std::string damaged, const std::vector<std::string>& args, bool requests = false)
      : damaged_(std::move(damaged)) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw DatabaseError(damaged_);
    int sv[2] = {-1, -1};
    if (requests && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
      close(fds[0]);
      close(fds[1]);
      throw DatabaseError(damaged_);
    }
    const std::string program = ReaderProgram();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (requests)
      posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    else
      posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], kReaderFd);
    const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (requests) close(sv[1]);
    requests_ = sv[0];
    if (rc != 0) {
      close(fds[0]);
      if (requests_ >= 0) close(requests_);
      requests_ = -1;
      pid_ = -1;
      throw DatabaseError(damaged_ + Arg(Translate("database", "（无法启动读取程序 %1：%2）"),
                                         {program, DescribeErrno(rc)}));
    }
    fd_ = fds[0];
  }
  ~ReaderPipe() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    End();
  }
  ReaderPipe(const ReaderPipe&) = delete;
  ReaderPipe& operator=(const ReaderPipe&) = delete;

  const std::string& damaged() const { return damaged_; }
  // What a failure of the answer now awaited is called.
  void Describe(std::string damaged) { damaged_ = std::move(damaged); }

  // Asks for one more answer: `op` and `name` as a request; false when the
  // program no longer takes requests.
  bool Request(char op, const std::string& name) {
    if (requests_ < 0) return false;
    std::string bytes(1, op);
    unsigned char n[4];
    Put32(n, static_cast<std::uint32_t>(name.size()));
    bytes.append(reinterpret_cast<const char*>(n), 4);
    bytes += name;
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t sent = send(requests_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent <= 0) return false;
      done += static_cast<std::size_t>(sent);
    }
    return true;
  }

  // At least `n` bytes of the answer at hand; false when it ends before.
  bool Need(std::size_t n) {
    while (buf_.size() - at_ < n) {
      if (fd_ < 0) return false;
      if (at_ > 0 && at_ * 2 >= buf_.size()) {
        buf_.erase(0, at_);
        at_ = 0;
      }
      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, 15000);  // a live reader streams well within this
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        kill(pid_, SIGKILL);
        timedOut_ = true;
        End();
        throw DatabaseError(damaged_);
      }
      const std::size_t had = buf_.size();
      buf_.resize(had + kChunk);
      const ssize_t got = read(fd_, buf_.data() + had, kChunk);
      buf_.resize(had + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        close(fd_);
        fd_ = -1;
      }
    }
    return true;
  }
  bool Byte(char& c) {
    if (!Need(1)) return false;
    c = buf_[at_++];
    return true;
  }
  bool Number(std::uint32_t& v) {
    if (!Need(4)) return false;
    v = Get32(reinterpret_cast<const unsigned char*>(buf_.data()) + at_);
    at_ += 4;
    return true;
  }
  bool Text(std::string& out) {
    std::uint32_t n = 0;
    if (!Number(n) || !Need(n)) return false;
    out.assign(buf_, at_, n);
    at_ += n;
    return true;
  }
  // The rest of the answer.
  std::string Rest() {
    while (Need(buf_.size() - at_ + 1)) {
    }
    std::string out = buf_.substr(at_);
    at_ = buf_.size();
    return out;
  }
  // Waits for the program to end; throws `damaged` unless it ended well.
  void Finish() {
    Rest();
    if (!End()) throw DatabaseError(damaged_);
  }

 private:
  static constexpr std::size_t kChunk = 1 << 16;

  // Closes the pipe and reaps the program: true when it exited normally.
  bool End() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (requests_ >= 0) close(requests_);
    requests_ = -1;
    if (pid_ <= 0) return false;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return !timedOut_ && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  std::string damaged_;
  pid_t pid_ = -1;
  int fd_ = -1;
  int requests_ = -1;
  bool timedOut_ = false;
  std::string buf_;
  std::size_t at_ = 0;
};

std::string HeaderArgs(const HeaderInfo& h) {
  return std::to_string(static_cast<int>(h.version)) + ":" + std::to_string(h.codePage) + ":" +
         std::to_string(h.sortOrder);
}

bool ParseHeaderArgs(const std::string& text, HeaderInfo& h) {
  int version = 0;
  unsigned codePage = 0, sortOrder = 0;
  if (std::sscanf(text.c_str(), "%d:%u:%u", &version, &codePage, &sortOrder) != 3) return false;
  h.version = static_cast<JetVersion>(version);
  h.codePage = static_cast<std::uint16_t>(codePage);
  h.sortOrder = static_cast<std::uint16_t>(sortOrder);
  return true;
}

}  // namespace

namespace {

// A reading program kept running on one file: it reads the file's catalog
// once and answers one request after another, so that the tables of a
// database cost one program start between them. A stream that is left
// unfinished or fails takes the program with it; from then on, and while
// one stream holds it, each stream has a program of its own.
struct ReaderSession {
  std::unique_ptr<ReaderPipe> pipe;
  bool busy = false;
};

}  // namespace

struct MdbFile::Impl {
  std::string path;
  HeaderInfo header;
  std::vector<std::string> tables;
  std::vector<SavedQueryInfo> queries;
  ReaderSession session;
};

HeaderInfo ReadDatabaseHeader(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    const int err = errno;
    throw DatabaseError(OpenErrorText(path, DescribeErrno(err)));
  }
  struct stat st {};
  const int statErr = fstat(fd, &st) == 0 ? 0 : errno;
  if (statErr != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    if (statErr != 0) throw DatabaseError(OpenErrorText(path, DescribeErrno(statErr)));
    if (S_ISDIR(st.st_mode)) throw DatabaseError(FileErrorText("打开", path, EISDIR));
    throw DatabaseError(
        Arg(Translate("database", "无法打开“%1”：这不是一个普通文件"), {DisplayText(path)}));
  }
  unsigned char page[kPageSize] = {};
  const ssize_t got = pread(fd, page, sizeof page, 0);
  const int readErr = got < 0 ? errno : 0;
  close(fd);
  if (readErr != 0) throw DatabaseError(OpenErrorText(path, DescribeErrno(readErr)));
  HeaderInfo header;
  const std::string why = ParseHeader(page, static_cast<std::size_t>(got), header);
  if (!why.empty())
    throw DatabaseError(Arg(Translate("database", "“%1”%2"), {DisplayText(path), why}));
  const off_t pageSize = header.version == JetVersion::Jet3 ? 2048 : 4096;
  if (st.st_size < 2 * pageSize || st.st_size % pageSize != 0)
    throw DatabaseError(OpenErrorText(path, Translate("database", "文件已损坏（文件长度不完整）")));
  if (header.databaseKey != 0)
    throw DatabaseError(OpenErrorText(path, Translate("database", "数据库已加密，无法读取")));
  if (header.hasPassword)
    throw DatabaseError(OpenErrorText(path, Translate("database", "数据库设有密码，无法打开")));
  return header;
}

MdbFile::MdbFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
  impl_->path = path;
  impl_->header = ReadDatabaseHeader(path);
  const std::string damaged = OpenErrorText(path, Translate("database", "文件已损坏，无法读取"));
  auto pipe = std::make_unique<ReaderPipe>(
      damaged, std::vector<std::string>{"serve", HeaderArgs(impl_->header), path}, true);
  char tag = 0;
  if (!pipe->Byte(tag)) {
    pipe->Finish();
    throw DatabaseError(damaged);
  }
  if (tag == 'E') {
    std::string message;
    if (!pipe->Text(message)) message = damaged;
    pipe->Finish();
    throw DatabaseError(message);
  }
  std::uint32_t count = 0;
  if (tag != 'O' || !pipe->Number(count)) throw DatabaseError(damaged);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!pipe->Text(name)) throw DatabaseError(damaged);
    impl_->tables.push_back(name);
  }
  if (!pipe->Number(count)) throw DatabaseError(damaged);
  for (std::uint32_t i = 0; i < count; ++i) {
    SavedQueryInfo q;
    char copyable = 0;
    if (!pipe->Text(q.name) || !pipe->Byte(copyable)) throw DatabaseError(damaged);
    q.copyable = copyable != 0;
    impl_->queries.push_back(q);
  }
  impl_->session.pipe = std::move(pipe);
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
const std::vector<SavedQueryInfo>& MdbFile::Queries() const {
  return impl_->queries;
}

struct RecordStream::Impl {
  std::string path;
  std::string damaged;
  std::unique_ptr<ReaderPipe> own;   // a program of its own
  ReaderSession* session = nullptr;  // or the file's, while this stream holds it
  ReaderPipe* pipe = nullptr;
  std::vector<ColumnInfo> columns;
  bool ended = false;

  ~Impl() { Release(false); }

  // Done with the program: the file's goes back to it when its answer was
  // read whole, else it ends.
  void Release(bool whole) {
    if (session != nullptr) {
      if (!whole) session->pipe.reset();
      session->busy = false;
      session = nullptr;
    }
    own.reset();
    pipe = nullptr;
  }

  [[noreturn]] void Fail(bool message) {
    std::string text;
    if (!message || !pipe->Text(text) || text.empty()) text = damaged;
    Release(false);
    ended = true;
    throw ReadError(path, text);
  }

  // The end of an answer: the program's own end, or the file's program free again.
  void Done() {
    try {
      if (own) own->Finish();
    } catch (const DatabaseError&) {
      Release(false);
      ended = true;
      throw ReadError(path, damaged);
    }
    Release(true);
    ended = true;
  }

  void Start(ReaderSession& shared, char op, const std::vector<std::string>& args) {
    char tag = 0;
    if (shared.pipe && !shared.busy && shared.pipe->Request(op, args.back())) {
      shared.busy = true;
      session = &shared;
      pipe = shared.pipe.get();
      pipe->Describe(damaged);
      if (!pipe->Byte(tag)) Release(false);  // it ended while it waited: one of its own then
    } else if (shared.pipe && !shared.busy) {
      shared.pipe.reset();  // it took no request
    }
    if (pipe == nullptr) {
      own = std::make_unique<ReaderPipe>(damaged, args);
      pipe = own.get();
      if (!pipe->Byte(tag)) {
        own->Finish();  // its failure, if it failed; without an answer the file is damaged
        throw DatabaseError(damaged);
      }
    }
    if (tag == 'E') {
      std::string message;
      if (!pipe->Text(message)) message = damaged;
      if (own) own->Finish();
      Release(true);
      throw DatabaseError(message);
    }
    std::uint32_t count = 0;
    if (tag != 'O' || !pipe->Number(count)) throw DatabaseError(damaged);
    for (std::uint32_t i = 0; i < count; ++i) {
      ColumnInfo c;
      std::uint32_t type = 0, size = 0, precision = 0, scale = 0;
      if (!pipe->Text(c.name) || !pipe->Number(type) || !pipe->Number(size) ||
          !pipe->Number(precision) || !pipe->Number(scale))
        throw DatabaseError(damaged);
      c.type = static_cast<int>(type);
      c.size = static_cast<int>(size);
      c.precision = static_cast<int>(precision);
      c.scale = static_cast<int>(scale);
      columns.push_back(c);
    }
  }
};

RecordStream::RecordStream() : impl_(std::make_unique<Impl>()) {}
RecordStream::~RecordStream() = default;

const std::vector<ColumnInfo>& RecordStream::columns() const {
  return impl_->columns;
}

bool RecordStream::Next(std::vector<std::string>& row) {
  Impl& s = *impl_;
  if (s.ended) return false;
  char more = 0;
  if (!s.pipe->Byte(more)) s.Fail(false);
  if (more == 'E') s.Fail(true);
  if (more == 0) {
    s.Done();
    return false;
  }
  if (more != 1) s.Fail(false);
  row.resize(s.columns.size());
  for (std::string& v : row)
    if (!s.pipe->Text(v)) s.Fail(false);
  return true;
}

std::unique_ptr<RecordStream> MdbFile::OpenRecords(const std::string& name, bool query) const {
  const std::string& path = impl_->path;
  const std::string shown = DisplayText(path);
  std::unique_ptr<RecordStream> stream(new RecordStream);
  stream->impl_->path = path;
  if (query) {
    const auto it = std::find_if(impl_->queries.begin(), impl_->queries.end(),
                                 [&](const SavedQueryInfo& q) { return q.name == name; });
    if (it == impl_->queries.end() || !it->copyable)
      throw DatabaseError(Arg(Translate("database", "数据库“%1”中的查询“%2”%3"),
                              {shown, name, Translate("database", kQueryNotEvaluated)}));
    stream->impl_->damaged =
        Arg(Translate("database", "无法读取数据库“%1”中的查询“%2”：文件已损坏"), {shown, name});
    stream->impl_->Start(impl_->session, 'q', {"query", HeaderArgs(impl_->header), path, name});
  } else {
    if (std::find(impl_->tables.begin(), impl_->tables.end(), name) == impl_->tables.end())
      throw DatabaseError(Arg(Translate("database", "数据库“%1”中没有表“%2”"), {shown, name}));
    stream->impl_->damaged =
        Arg(Translate("database", "无法读取数据库“%1”中的表“%2”：文件已损坏"), {shown, name});
    stream->impl_->Start(impl_->session, 't', {"table", HeaderArgs(impl_->header), path, name});
  }
  return stream;
}

namespace {

TableData ReadAll(RecordStream& stream, const std::string& name) {
  TableData data;
  data.name = name;
  data.columns = stream.columns();
  std::vector<std::string> row;
  while (stream.Next(row)) data.rows.push_back(std::move(row));
  return data;
}

}  // namespace

TableData MdbFile::ReadQuery(const std::string& name) const {
  return ReadAll(*OpenRecords(name, true), name);
}

TableData MdbFile::ReadTable(const std::string& name) const {
  return ReadAll(*OpenRecords(name, false), name);
}

std::vector<ColumnInfo> MdbFile::ReadColumns(const std::string& name) const {
  const std::string& path = impl_->path;
  const bool table =
      std::find(impl_->tables.begin(), impl_->tables.end(), name) != impl_->tables.end();
  const bool query =
      std::any_of(impl_->queries.begin(), impl_->queries.end(),
                  [&](const SavedQueryInfo& q) { return q.name == name && q.copyable; });
  if (!table && !query)
    throw DatabaseError(
        Arg(Translate("database", "数据库“%1”中没有表“%2”"), {DisplayText(path), name}));
  RecordStream stream;
  stream.impl_->path = path;
  stream.impl_->damaged = Arg(Translate("database", "无法读取数据库“%1”中的“%2”：文件已损坏"),
                              {DisplayText(path), name});
  stream.impl_->Start(
      impl_->session, table ? 'c' : 'k',
      {table ? "table-columns" : "query-columns", HeaderArgs(impl_->header), path, name});
  std::vector<std::string> none;
  stream.Next(none);  // the columns only: no records follow
  return stream.impl_->columns;
}

namespace {

// `n` bytes of standard input; false at its end.
bool ReadInput(std::string& out, std::size_t n) {
  out.resize(n);
  for (std::size_t done = 0; done < n;) {
    const ssize_t got = read(0, out.data() + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// One request: an operation letter and a name.
bool NextRequest(char& what, std::string& name) {
  std::string head;
  if (!ReadInput(head, 5)) return false;
  what = head[0];
  return ReadInput(name, Get32(reinterpret_cast<const unsigned char*>(head.data()) + 1));
}

}  // namespace

int RunMdbReader(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string op = argv[1];
  HeaderInfo header;
  if (!ParseHeaderArgs(argv[2], header)) return 2;
  const std::string path = argv[3];
  rlimit cpu{300, 300};
  setrlimit(RLIMIT_CPU, &cpu);
#ifndef PW_UNDER_ASAN  // the sanitizer reserves more address space than this
  rlimit mem{std::size_t{1} << 30, std::size_t{1} << 30};
  setrlimit(RLIMIT_AS, &mem);
#endif
  Sink sink(kReaderFd);
  try {
    sink.Byte('O');
    Session s;
    s.header = header;
    // Checked again here: the file may have been swapped since the caller
    // looked, and libmdb would wait forever on a pipe or chew on garbage.
    ReadDatabaseHeader(path);
    s.Open(path);
    if (op == "tables") {
      const auto entries = s.UserTables();
      sink.Number(static_cast<std::uint32_t>(entries.size()));
      for (MdbCatalogEntry* e : entries) sink.Text(e->object_name);
      s.ListQueries(sink);
    } else if (op == "serve") {
      // As "tables", then one answer to each request that comes on
      // standard input (see ReaderPipe::Request), until it ends.
      const auto entries = s.UserTables();
      sink.Number(static_cast<std::uint32_t>(entries.size()));
      for (MdbCatalogEntry* e : entries) sink.Text(e->object_name);
      s.ListQueries(sink);
      sink.Flush();
      char what = 0;
      std::string name;
      while (NextRequest(what, name)) {
        try {
          sink.Byte('O');
          if (what == 't') s.DumpTable(path, name, sink);
          if (what == 'q') s.DumpQuery(path, name, sink);
          if (what == 'c') s.DumpTable(path, name, sink, true);
          if (what == 'k') s.QueryColumns(path, name, sink);
        } catch (const std::exception& e) {
          sink.buffer().clear();
          sink.Byte('E');
          sink.Text(e.what());
        }
        sink.Flush();
      }
    } else if (op == "table" && argc >= 5) {
      s.DumpTable(path, argv[4], sink);
    } else if (op == "query" && argc >= 5) {
      s.DumpQuery(path, argv[4], sink);
    } else if (op == "table-columns" && argc >= 5) {
      s.DumpTable(path, argv[4], sink, true);
    } else if (op == "query-columns" && argc >= 5) {
      s.QueryColumns(path, argv[4], sink);
    } else {
      return 2;
    }
  } catch (const std::exception& e) {
    sink.buffer().clear();
    sink.Byte('E');
    sink.Text(e.what());
  }
  sink.Flush();
  return 0;
}

}  // namespace pw::db
