#include "ops/database/table_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "batch/run.h"
#include "ops/database/database_ops.h"
#include "platform/database/saved_query.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/translate.h"

namespace pw {

std::string CleanFieldName(const std::string& name) {
  std::string out;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 32 || std::strchr("-_&!@#$%*^", c) != nullptr) continue;
    out.push_back(c);
  }
  if (out.empty()) return out;
  static const std::string reserved =
      "and,class,const,default,do,for,end,far,file,if,in,index,inline,is,message,mod,near,not,"
      "of,on,out,or,not,yes,language";
  std::string lower = out;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (reserved.find(lower) != std::string::npos) out += "s";
  return out;
}

void WriteErrorLog(const std::string& line) {
  const std::string path = ErrorLogFile();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const std::string bytes = line + "\r\n";
  bool ok = fd >= 0;
  int err = errno;
  if (ok) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = errno;
        ok = false;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0 && ok) {
      err = errno;
      ok = false;
    }
  }
  if (!ok) throw RunError(RunError::Kind::Failure, path, FileErrorText("写入错误日志", path, err));
}

namespace dbops {

namespace {

bool HasField(const std::vector<std::string>& fields, const std::string& name) {
  for (const std::string& f : fields)
    if (db::SameName(f, name)) return true;
  return false;
}

void Try(db::Query& target, const std::string& statement) {
  try {
    db::ExecuteStatement(target, statement);
  } catch (const db::DatabaseError&) {
    // A column that exists or a name the engine refuses: the table goes on without it.
  }
}

// The target column type for a source field: long text for memo and
// hyperlink fields, bytes for OLE objects and binary fields, else text.
const char* ColumnType(db::ColumnKind kind, bool first) {
  switch (kind) {
    case db::ColumnKind::Memo:
      return "MEMO";
    case db::ColumnKind::Binary:
      return "LONGBINARY";
    default:
      return first ? "char(250)" : "VARCHAR(250)";
  }
}

std::string AddColumn(const std::string& table, const std::string& column, db::ColumnKind kind) {
  return "ALTER TABLE [" + table + "] ADD COLUMN [" + column + "] " + ColumnType(kind, false);
}

std::string Lower(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Adds source field `i` to the target under its cleaned name `column`.
void AddTargetColumn(db::Query& target, const std::string& table, const std::string& column,
                     const db::Query& source, std::size_t i, const KeptTypes& kept) {
  const int at = static_cast<int>(i);
  if (!kept.keep) return Try(target, AddColumn(table, column, source.FieldKind(at)));
  try {
    db::AddTypedColumn(target, table, column, kept.For(table, column, source.Type(at)));
  } catch (const db::DatabaseError&) {
    // As above: the table goes on without it.
  }
}

}  // namespace

std::string TargetTableName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return out;
}

void KeptTypes::Note(const std::string& table, const std::string& column,
                     const db::FieldType& type) {
  auto& columns = widest[Lower(table)];
  const auto [it, added] = columns.emplace(Lower(column), type);
  if (!added) it->second = db::WiderType(it->second, type);
}

db::FieldType KeptTypes::For(const std::string& table, const std::string& column,
                             const db::FieldType& own) const {
  const auto t = widest.find(Lower(table));
  if (t == widest.end()) return own;
  const auto c = t->second.find(Lower(column));
  return c == t->second.end() ? own : c->second;
}

void CreateTargetTable(db::Query& target, const std::string& table, const db::Query& source,
                       const KeptTypes& kept) {
  const std::vector<std::string>& sourceFields = source.FieldNames();
  // The first field whose cleaned name is not empty makes the table, so
  // that a first field named "#" does not leave the table uncreated.
  std::size_t first = 0;
  while (first < sourceFields.size() && CleanFieldName(sourceFields[first]).empty()) ++first;
  if (first == sourceFields.size()) return;
  // Without the table the copy cannot go on: its failure ends the run, with its cause.
  const std::string column = CleanFieldName(sourceFields[first]);
  if (kept.keep)
    db::CreateTypedTable(target, table, column,
                         kept.For(table, column, source.Type(static_cast<int>(first))));
  else
    db::ExecuteStatement(target, "CREATE TABLE [" + table + "] ([" + column + "] " +
                                     ColumnType(source.FieldKind(static_cast<int>(first)), true) +
                                     ")");
  for (std::size_t i = first + 1; i < sourceFields.size(); ++i) {
    const std::string c = CleanFieldName(sourceFields[i]);
    if (!c.empty()) AddTargetColumn(target, table, c, source, i, kept);
  }
}

void WidenTargetTable(db::Query& target, const std::string& table, const db::Query& source,
                      const KeptTypes& kept) {
  db::OpenTable(target, table);
  const std::vector<std::string> existing = target.FieldNames();
  const std::vector<std::string>& sourceFields = source.FieldNames();
  for (std::size_t i = 0; i < sourceFields.size(); ++i) {
    const std::string c = CleanFieldName(sourceFields[i]);
    if (!c.empty() && !HasField(existing, c)) AddTargetColumn(target, table, c, source, i, kept);
  }
}

std::vector<std::string> CopyableObjects(db::Connection& source, const std::string& databaseName,
                                         RunReporter& reporter,
                                         const std::function<bool(const std::string&)>& wanted,
                                         bool& complete) {
  std::vector<std::string> out;
  for (const std::string& t : db::ListTables(source))
    if (wanted(t)) out.push_back(t);
  for (const db::SavedQueryInfo& q : db::ListQueries(source)) {
    if (!wanted(q.name)) continue;
    if (q.copyable) {
      out.push_back(q.name);
      continue;
    }
    // The log keeps its own wording (the command line reads it back); the
    // status line is in the chosen language.
    const std::string note = "未复制查询“" + q.name + "”：" + db::kQueryNotEvaluated;
    reporter.Status(Arg(Translate("ops", "未复制查询“%1”：%2"),
                        {q.name, Translate("database", db::kQueryNotEvaluated)}));
    WriteErrorLog("[未复制查询] " + LogTimestamp() + " 数据库“" + databaseName + "”中的" + note);
    complete = false;
  }
  return out;
}

std::string LogTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%d/%d/%d %d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec);
  return buf;
}

bool CopyRecords(db::Query& source, db::Query& target, int first, int last, const LogForm& form,
                 const std::function<bool()>& stopped) {
  const std::vector<std::string> fields = source.FieldNames();
  std::vector<int> at;  // the target field of each source field; -1 for none
  std::vector<bool> binary, asHex;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string cleaned = CleanFieldName(fields[i]);
    at.push_back(cleaned.empty() ? -1 : target.FindField(cleaned));
    binary.push_back(source.FieldKind(static_cast<int>(i)) == db::ColumnKind::Binary);
    // Bytes meeting a text column (of an earlier source) go in as hex text.
    asHex.push_back(binary.back() && at.back() >= 0 &&
                    target.FieldKind(at.back()) != db::ColumnKind::Binary);
  }
  // Records come as they are read: the count is needed only to log a failure.
  int sinceAsked = 0;
  for (source.MoveTo(first); !source.Eof() && (last < 0 || source.RecNo() <= last); source.Next()) {
    if (sinceAsked-- == 0) {
      if (stopped && stopped()) return false;
      sinceAsked = 255;
    }
    try {
      target.Append();
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (at[i] < 0) continue;
        std::string value = source.Text(static_cast<int>(i));
        target.SetFieldAt(at[i], asHex[i] ? db::HexText(value) : std::move(value));
      }
      target.Post();
    } catch (const db::RecordError&) {
      std::string summary = "[出错记录]  ";
      for (std::size_t i = 0; i < fields.size() && i < 8; ++i) {
        const std::string value = source.Text(static_cast<int>(i));
        summary +=
            fields[i] + "：" +
            (binary[i] ? "（" + std::to_string(value.size()) + " 字节的二进制数据）" : value) +
            "；";
      }
      const int k = source.RecNo();
      const int count = form.countSkipped ? source.RecordCount() : 0;
      std::string line2 = "[错误信息] 数据库“" + form.databaseName + "”中表“" + source.table() +
                          "”第" + std::to_string(k) + "条记录出错，";
      line2 += form.countSkipped ? "本表此后" + std::to_string(count - k) + "条记录被跳过！"
                                 : "本分割子表此后记录被跳过！";
      WriteErrorLog("[出错时间] " + LogTimestamp());
      WriteErrorLog(line2);
      WriteErrorLog(summary);
      WriteErrorLog(std::string(65, '*'));
      return false;
    }
  }
  return true;
}

}  // namespace dbops
}  // namespace pw
