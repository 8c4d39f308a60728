#include "platform/database/engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/errors.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::db {

namespace {

// Splits a statement into words, quoted names and the signs ( ) ;.
bool Tokenize(const std::string& s, std::vector<std::pair<std::string, bool>>& out) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (std::isspace(c)) {
      ++i;
    } else if (c == '(' || c == ')' || c == ';') {
      out.emplace_back(std::string(1, static_cast<char>(c)), false);
      ++i;
    } else if (c == '[' || c == '"' || c == '`') {
      const char close = c == '[' ? ']' : static_cast<char>(c);
      const std::size_t end = s.find(close, i + 1);
      if (end == std::string::npos) return false;
      out.emplace_back(s.substr(i + 1, end - i - 1), true);
      i = end + 1;
    } else {
      std::size_t end = i;
      while (end < s.size() && !std::isspace(static_cast<unsigned char>(s[end])) && s[end] != '(' &&
             s[end] != ')' && s[end] != ';')
        ++end;
      out.emplace_back(s.substr(i, end - i), false);
      i = end;
    }
  }
  return true;
}

}  // namespace

std::optional<Statement> ParseStatement(const std::string& text) {
  std::vector<std::pair<std::string, bool>> t;
  if (!Tokenize(text, t)) return std::nullopt;
  if (!t.empty() && t.back().first == ";" && !t.back().second) t.pop_back();
  std::size_t i = 0;
  auto word = [&](const char* w) {
    if (i < t.size() && !t[i].second && SameName(t[i].first, w)) {
      ++i;
      return true;
    }
    return false;
  };
  auto name = [&](std::string& out) {
    if (i >= t.size()) return false;
    const auto& [s, quoted] = t[i];
    if (!quoted && (s == "(" || s == ")" || s == ";")) return false;
    if (s.empty()) return false;
    out = s;
    ++i;
    return true;
  };
  Statement st;
  auto textType = [&]() {
    if (word("MEMO") || word("LONGTEXT")) {
      st.type = ColumnKind::Memo;
      return true;
    }
    if (word("OLEOBJECT") || word("LONGBINARY")) {
      st.type = ColumnKind::Binary;
      return true;
    }
    if (!(word("CHAR") || word("VARCHAR") || word("TEXT"))) return false;
    return word("(") && word("250") && word(")");
  };
  if (word("CREATE")) {
    st.kind = Statement::Kind::CreateTable;
    if (!word("TABLE") || !name(st.table) || !word("(") || !name(st.column) || !textType() ||
        !word(")"))
      return std::nullopt;
  } else if (word("ALTER")) {
    st.kind = Statement::Kind::AddColumn;
    if (!word("TABLE") || !name(st.table) || !word("ADD")) return std::nullopt;
    word("COLUMN");
    if (!name(st.column) || !textType()) return std::nullopt;
  } else {
    return std::nullopt;
  }
  if (i != t.size()) return std::nullopt;
  return st;
}

namespace {

FieldType SourceType(const ColumnInfo& col, JetVersion version) {
  return TypeFromCode(col.type, col.size, col.precision, col.scale, version == JetVersion::Jet3);
}

}  // namespace

struct Connection::Impl {
  std::string path;
  std::string shown;  // the name messages give the file
  // Shared with the queries reading through it, which may outlive it.
  std::shared_ptr<const MdbFile> reader;
  std::unique_ptr<JetWriter> writer;
  bool stale = false;  // written since `reader` was opened

  const std::shared_ptr<const MdbFile>& Reader() {
    if (writer) writer->Flush();
    if (!reader || stale) {
      reader.reset();
      reader = std::make_shared<const MdbFile>(path);
      stale = false;
    }
    return reader;
  }
  JetWriter& Writer() {
    if (path.empty()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
    if (!writer) writer = std::make_unique<JetWriter>(path, shown);
    stale = true;
    return *writer;
  }
};

Connection::Connection() : impl_(std::make_unique<Impl>()) {}
Connection::~Connection() = default;
bool Connection::IsOpen() const {
  return !impl_->path.empty();
}
const std::string& Connection::path() const {
  return impl_->path;
}

void Connection::Flush() {
  if (impl_->writer) impl_->writer->Flush();
}

void Connection::Close() {
  if (impl_->writer) impl_->writer->Flush();
  impl_->writer.reset();
  impl_->reader.reset();
  impl_->path.clear();
  impl_->shown.clear();
  impl_->stale = false;
}

void OpenDatabase(Connection& connection, const std::string& path) {
  connection.Close();
  auto reader = std::make_shared<const MdbFile>(path);
  connection.impl_->path = path;
  connection.impl_->reader = std::move(reader);
}

std::vector<SavedQueryInfo> ListQueries(Connection& connection) {
  if (!connection.IsOpen()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  if (connection.impl_->writer) return {};
  return connection.impl_->Reader()->Queries();
}

std::vector<std::string> ListTables(Connection& connection) {
  if (!connection.IsOpen()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  if (connection.impl_->writer) return connection.impl_->writer->TableNames();
  return connection.impl_->Reader()->TableNames();
}

namespace {

// The records of a table read in bounded memory: straight from the reading
// process while they are taken in order; once a count or an earlier record
// is asked for, all of them spooled to an unnamed temporary file, with the
// place of each record, and read back from there.
class Records {
 public:
  Records(std::shared_ptr<const MdbFile> reader, std::string name, bool query)
      : reader_(std::move(reader)), name_(std::move(name)), query_(query) {
    stream_ = reader_->OpenRecords(name_, query_);
    Advance();
  }
  ~Records() {
    if (spool_ >= 0) close(spool_);
  }
  Records(const Records&) = delete;
  Records& operator=(const Records&) = delete;

  const std::vector<ColumnInfo>& columns() const { return columns_; }
  int RecNo() const { return recNo_; }
  bool Eof() const { return recNo_ < 1 || atEnd_; }
  const std::vector<std::string>& Row() const { return row_; }

  int Count() {
    if (!spooled_ && atEnd_) return std::max(recNo_ - 1, 0);
    Spool();
    return count_;
  }
  void Next() {
    if (Eof()) return;
    if (!spooled_) return Advance();
    ++recNo_;
    Load();
  }
  void MoveTo(int recNo) {
    recNo = std::max(recNo, 1);
    if (!spooled_ && recNo < recNo_) Spool();
    if (!spooled_) {
      while (!atEnd_ && recNo_ < recNo) Advance();
      return;
    }
    recNo_ = recNo;
    Load();
  }

 private:
  // The next record from the stream.
  void Advance() {
    if (columns_.empty()) columns_ = stream_->columns();
    if (stream_->Next(row_)) {
      ++recNo_;
      return;
    }
    stream_.reset();
    row_.clear();
    atEnd_ = true;
    if (recNo_ > 0) ++recNo_;  // past the last record
  }

  [[noreturn]] void SpoolFailed(int err) const {
    throw ReadError(
        reader_->path(),
        FileErrorText("写入临时文件", std::filesystem::temp_directory_path().string(), err));
  }

  void Write(std::string& buffer, bool all) {
    if (!all && buffer.size() < (1u << 20)) return;
    for (std::size_t done = 0; done < buffer.size();) {
      const ssize_t n = write(spool_, buffer.data() + done, buffer.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) SpoolFailed(n < 0 ? errno : ENOSPC);
      done += static_cast<std::size_t>(n);
    }
    buffer.clear();
  }

  void Spool() {
    if (spooled_) return;
    const std::string dir = std::filesystem::temp_directory_path().string();
    spool_ = OpenUnnamedFile(dir);
    if (spool_ < 0) SpoolFailed(errno);
    // Records already passed are read again from the start.
    const bool fromStart = recNo_ > 1 || atEnd_;
    if (fromStart) stream_ = reader_->OpenRecords(name_, query_);
    std::string buffer;
    std::uint64_t at = 0;
    auto keep = [&](const std::vector<std::string>& row) {
      if (count_++ % kStep == 0) places_.push_back(at);
      for (const std::string& v : row) {
        unsigned char n[4];
        Put32(n, static_cast<std::uint32_t>(v.size()));
        buffer.append(reinterpret_cast<const char*>(n), 4);
        buffer.append(v);
        at += 4 + v.size();
      }
      Write(buffer, false);
    };
    if (!fromStart && recNo_ == 1) keep(row_);
    std::vector<std::string> row;
    while (stream_ && stream_->Next(row)) keep(row);
    Write(buffer, true);
    stream_.reset();
    end_ = at;
    spooled_ = true;
    if (atEnd_) recNo_ = count_ + 1;
  }

  // `n` bytes of the spool from `offset`, through a window of it.
  const char* At(std::uint64_t offset, std::size_t n) {
    if (offset < windowAt_ || offset + n > windowAt_ + window_.size()) {
      window_.resize(static_cast<std::size_t>(
          std::min<std::uint64_t>(std::max<std::uint64_t>(n, 1u << 20), end_ - offset)));
      for (std::size_t done = 0; done < window_.size();) {
        const ssize_t got = pread(spool_, window_.data() + done, window_.size() - done,
                                  static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) SpoolFailed(got < 0 ? errno : EIO);
        done += static_cast<std::size_t>(got);
      }
      windowAt_ = offset;
    }
    return window_.data() + (offset - windowAt_);
  }

  // Reads the record at `offset` into row_ (or past it only); answers where the next starts.
  std::uint64_t ReadRecord(std::uint64_t offset, bool keep) {
    if (keep) row_.resize(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      const std::uint32_t n = Get32(reinterpret_cast<const unsigned char*>(At(offset, 4)));
      if (keep) row_[c].assign(At(offset + 4, n), n);
      offset += 4 + n;
    }
    return offset;
  }

  // The spooled record at recNo_: the one after the record read last, or
  // found from the nearest place noted before it.
  void Load() {
    atEnd_ = recNo_ > count_;
    row_.clear();
    if (atEnd_) return;
    std::uint64_t offset = next_;
    if (recNo_ != loaded_ + 1) {
      const int from = (recNo_ - 1) / kStep * kStep;  // records before the noted place
      offset = places_[static_cast<std::size_t>(from / kStep)];
      for (int k = from + 1; k < recNo_; ++k) offset = ReadRecord(offset, false);
    }
    next_ = ReadRecord(offset, true);
    loaded_ = recNo_;
  }

  std::shared_ptr<const MdbFile> reader_;
  std::string name_;
  bool query_ = false;
  std::unique_ptr<RecordStream> stream_;
  std::vector<ColumnInfo> columns_;
  std::vector<std::string> row_;
  int recNo_ = 0;
  bool atEnd_ = false;
  bool spooled_ = false;
  int spool_ = -1;
  // Where every kStep-th record starts in the spool (the first, the
  // 65th…): what is held for a table stays small whatever its size.
  static constexpr int kStep = 64;
  std::vector<std::uint64_t> places_;
  int count_ = 0;
  int loaded_ = -1;         // the spooled record read last
  std::uint64_t next_ = 0;  // where the record after it starts
  std::uint64_t end_ = 0;
  std::string window_;
  std::uint64_t windowAt_ = 0;
};

}  // namespace

struct Query::Impl {
  Connection* connection = nullptr;
  bool open = false;
  std::string table;
  std::vector<std::string> fields;
  std::vector<ColumnKind> kinds;
  std::vector<FieldType> types;
  bool isQuery = false;  // the records of a saved query
  // Records of a table being written are read only when asked for.
  std::unique_ptr<Records> records;

  Records& Rows() {
    if (!records) records = std::make_unique<Records>(connection->impl_->Reader(), table, isQuery);
    return *records;
  }
  bool appending = false;
  std::vector<std::optional<std::string>> pending;
};

Query::Query(Connection& connection) : impl_(std::make_unique<Impl>()) {
  impl_->connection = &connection;
}
Query::~Query() = default;

bool Query::IsOpen() const {
  return impl_->open;
}

void Query::Close() {
  impl_->open = false;
  impl_->isQuery = false;
  impl_->appending = false;
  impl_->pending.clear();
  impl_->table.clear();
  impl_->fields.clear();
  impl_->kinds.clear();
  impl_->types.clear();
  impl_->records.reset();
}

const std::string& Query::table() const {
  return impl_->table;
}
const std::vector<std::string>& Query::FieldNames() const {
  return impl_->fields;
}

ColumnKind Query::FieldKind(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= impl_->kinds.size()) return ColumnKind::Text;
  return impl_->kinds[static_cast<std::size_t>(index)];
}

FieldType Query::Type(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= impl_->types.size()) return FieldType::Text();
  return impl_->types[static_cast<std::size_t>(index)];
}

int Query::FindField(const std::string& name) const {
  for (std::size_t i = 0; i < impl_->fields.size(); ++i)
    if (SameName(impl_->fields[i], name)) return static_cast<int>(i);
  return -1;
}

int Query::RecordCount() const {
  return impl_->open ? impl_->Rows().Count() : 0;
}
int Query::RecNo() const {
  return impl_->open ? impl_->Rows().RecNo() : 0;
}
bool Query::Eof() const {
  return !impl_->open || impl_->Rows().Eof();
}
void Query::MoveTo(int recNo) {
  if (impl_->open) impl_->Rows().MoveTo(recNo);
}
void Query::First() {
  MoveTo(1);
}
void Query::Next() {
  if (impl_->open) impl_->Rows().Next();
}

std::string Query::Text(int index) const {
  if (Eof() || index < 0 || index >= static_cast<int>(impl_->fields.size())) return {};
  const auto& row = impl_->Rows().Row();
  return static_cast<std::size_t>(index) < row.size() ? row[static_cast<std::size_t>(index)] : "";
}

void Query::Append() {
  if (!impl_->open) throw DatabaseError(Translate("database", "查询没有打开"));
  impl_->appending = true;
  impl_->pending.assign(impl_->fields.size(), std::nullopt);
}

void Query::SetField(const std::string& name, const std::string& text) {
  if (!impl_->appending) throw DatabaseError(Translate("database", "没有正在添加的记录"));
  const int i = FindField(name);
  if (i < 0)
    throw DatabaseError(Arg(Translate("database", "表“%1”中没有字段“%2”"), {impl_->table, name}));
  impl_->pending[static_cast<std::size_t>(i)] = text;
}

void Query::SetFieldAt(int index, std::string text) {
  if (!impl_->appending) throw DatabaseError(Translate("database", "没有正在添加的记录"));
  if (index < 0 || static_cast<std::size_t>(index) >= impl_->pending.size())
    throw DatabaseError(
        Arg(Translate("database", "表“%1”中没有字段“%2”"), {impl_->table, std::to_string(index)}));
  impl_->pending[static_cast<std::size_t>(index)] = std::move(text);
}

void Query::Post() {
  if (!impl_->appending) throw DatabaseError(Translate("database", "没有正在添加的记录"));
  impl_->appending = false;
  std::vector<std::optional<std::string>> values;
  values.swap(impl_->pending);
  impl_->connection->impl_->Writer().AppendRecord(impl_->table, values);
}

void OpenTable(Query& query, const std::string& table) {
  query.Close();
  Connection::Impl& c = *query.impl_->connection->impl_;
  if (c.path.empty()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  Query::Impl& q = *query.impl_;
  if (c.writer) {
    q.fields = c.writer->ColumnNames(table);
    q.kinds = c.writer->ColumnKinds(table);
    q.types = c.writer->ColumnTypes(table);
  } else {
    const std::shared_ptr<const MdbFile> file = c.Reader();
    const MdbFile& reader = *file;
    const auto& tables = reader.TableNames();
    q.isQuery = std::find(tables.begin(), tables.end(), table) == tables.end() &&
                std::any_of(reader.Queries().begin(), reader.Queries().end(),
                            [&](const SavedQueryInfo& s) { return s.name == table; });
    q.records = std::make_unique<Records>(file, table, q.isQuery);
    for (const ColumnInfo& col : q.records->columns()) {
      q.fields.push_back(col.name);
      q.kinds.push_back(col.type == 0x0C                       ? ColumnKind::Memo
                        : col.type == 0x0B || col.type == 0x09 ? ColumnKind::Binary
                                                               : ColumnKind::Text);
      q.types.push_back(SourceType(col, reader.version()));
    }
  }
  q.table = table;
  q.open = true;
}

void ExecuteStatement(Query& query, const std::string& text) {
  query.Close();
  const std::optional<Statement> st = ParseStatement(text);
  if (!st) throw DatabaseError(Arg(Translate("database", "不支持的语句：%1"), {text}));
  JetWriter& w = query.impl_->connection->impl_->Writer();
  if (st->kind == Statement::Kind::CreateTable)
    w.CreateTable(st->table, st->column, st->type);
  else
    w.AddColumn(st->table, st->column, st->type);
}

std::vector<std::pair<std::string, FieldType>> ListFields(Connection& connection,
                                                          const std::string& table) {
  if (!connection.IsOpen()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  std::vector<std::pair<std::string, FieldType>> out;
  if (connection.impl_->writer) {
    const JetWriter& w = *connection.impl_->writer;
    const std::vector<std::string> names = w.ColumnNames(table);
    const std::vector<FieldType> types = w.ColumnTypes(table);
    for (std::size_t i = 0; i < names.size(); ++i) out.emplace_back(names[i], types[i]);
    return out;
  }
  const MdbFile& reader = *connection.impl_->Reader();
  for (const ColumnInfo& col : reader.ReadColumns(table))
    out.emplace_back(col.name, SourceType(col, reader.version()));
  return out;
}

void CreateTypedTable(Query& query, const std::string& table, const std::string& column,
                      const FieldType& type) {
  query.Close();
  query.impl_->connection->impl_->Writer().CreateTable(table, column, type);
}

void AddTypedColumn(Query& query, const std::string& table, const std::string& column,
                    const FieldType& type) {
  query.Close();
  query.impl_->connection->impl_->Writer().AddColumn(table, column, type);
}

std::string FieldText(const Query& query, const std::string& field) {
  return query.Text(query.FindField(field));
}

void CreateDatabaseFile(const std::string& path, int version, const std::string& shownAs) {
  if (version != 64 && version != 128)
    throw DatabaseError(Arg(Translate("database", "不支持的数据库版本 %1"), {version}));
  JetWriter::Create(path, version == 128 ? NewFormat::Ace12 : NewFormat::Jet4, shownAs);
}

void CreateDatabase(Connection& connection, const std::string& path, int version,
                    const std::string& shownAs) {
  connection.Close();
  CreateDatabaseFile(path, version, shownAs);
  auto writer = std::make_unique<JetWriter>(path, shownAs);
  Connection::Impl& c = *connection.impl_;
  c.path = path;
  c.shown = shownAs.empty() ? path : shownAs;
  c.writer = std::move(writer);
  c.stale = true;
}

}  // namespace pw::db
