#include "platform/database/engine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

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
  std::unique_ptr<MdbFile> reader;
  std::unique_ptr<JetWriter> writer;
  bool stale = false;  // written since `reader` was opened

  const MdbFile& Reader() {
    if (writer) writer->Flush();
    if (!reader || stale) {
      reader.reset();
      reader = std::make_unique<MdbFile>(path);
      stale = false;
    }
    return *reader;
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
  auto reader = std::make_unique<MdbFile>(path);
  connection.impl_->path = path;
  connection.impl_->reader = std::move(reader);
}

std::vector<SavedQueryInfo> ListQueries(Connection& connection) {
  if (!connection.IsOpen()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  if (connection.impl_->writer) return {};
  return connection.impl_->Reader().Queries();
}

std::vector<std::string> ListTables(Connection& connection) {
  if (!connection.IsOpen()) throw DatabaseError(Translate("database", "数据库连接没有打开"));
  if (connection.impl_->writer) return connection.impl_->writer->TableNames();
  return connection.impl_->Reader().TableNames();
}

struct Query::Impl {
  Connection* connection = nullptr;
  bool open = false;
  std::string table;
  std::vector<std::string> fields;
  std::vector<ColumnKind> kinds;
  std::vector<FieldType> types;
  // Records of a table being written are read only when asked for.
  bool loaded = false;
  TableData data;
  int recNo = 0;

  bool isQuery = false;  // the records of a saved query

  void Load() {
    if (loaded || !open) return;
    const MdbFile& reader = connection->impl_->Reader();
    data = isQuery ? reader.ReadQuery(table) : reader.ReadTable(table);
    loaded = true;
    recNo = data.rows.empty() ? 0 : 1;
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
  impl_->data = TableData{};
  impl_->loaded = false;
  impl_->recNo = 0;
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
  impl_->Load();
  return static_cast<int>(impl_->data.rows.size());
}
int Query::RecNo() const {
  impl_->Load();
  return impl_->recNo;
}
bool Query::Eof() const {
  return RecNo() < 1 || impl_->recNo > RecordCount();
}
void Query::MoveTo(int recNo) {
  impl_->Load();
  impl_->recNo = recNo < 1 ? 1 : recNo;
}
void Query::First() {
  MoveTo(1);
}
void Query::Next() {
  if (RecNo() <= RecordCount()) ++impl_->recNo;
}

std::string Query::Text(int index) const {
  if (Eof() || index < 0 || index >= static_cast<int>(impl_->fields.size())) return {};
  const auto& row = impl_->data.rows[static_cast<std::size_t>(impl_->recNo - 1)];
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
    const MdbFile& reader = c.Reader();
    const auto& tables = reader.TableNames();
    q.isQuery = std::find(tables.begin(), tables.end(), table) == tables.end() &&
                std::any_of(reader.Queries().begin(), reader.Queries().end(),
                            [&](const SavedQueryInfo& s) { return s.name == table; });
    q.data = q.isQuery ? reader.ReadQuery(table) : reader.ReadTable(table);
    for (const ColumnInfo& col : q.data.columns) {
      q.fields.push_back(col.name);
      q.kinds.push_back(col.type == 0x0C                       ? ColumnKind::Memo
                        : col.type == 0x0B || col.type == 0x09 ? ColumnKind::Binary
                                                               : ColumnKind::Text);
      q.types.push_back(SourceType(col, reader.version()));
    }
    q.loaded = true;
    q.recNo = q.data.rows.empty() ? 0 : 1;
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
  const MdbFile& reader = connection.impl_->Reader();
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
