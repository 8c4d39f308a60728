#include "ops/database/table_copy.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "batch/run.h"
#include "ops/database/database_ops.h"
#include "platform/errors.h"
#include "platform/paths.h"

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

std::string AddColumn(const std::string& table, const std::string& column) {
  return "ALTER TABLE [" + table + "] ADD COLUMN [" + column + "] VARCHAR(250)";
}

}  // namespace

std::string TargetTableName(const std::string& name) {
  std::string out = name;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
  return out;
}

void CreateTargetTable(db::Query& target, const std::string& table,
                       const std::vector<std::string>& sourceFields) {
  // The first field whose cleaned name is not empty makes the table, so
  // that a first field named "#" does not leave the table uncreated.
  std::size_t first = 0;
  while (first < sourceFields.size() && CleanFieldName(sourceFields[first]).empty()) ++first;
  if (first == sourceFields.size()) return;
  // Without the table the copy cannot go on: its failure ends the run, with its cause.
  db::ExecuteStatement(target, "CREATE TABLE [" + table + "] ([" +
                                   CleanFieldName(sourceFields[first]) + "] char(250))");
  for (std::size_t i = first + 1; i < sourceFields.size(); ++i) {
    const std::string c = CleanFieldName(sourceFields[i]);
    if (!c.empty()) Try(target, AddColumn(table, c));
  }
}

void WidenTargetTable(db::Query& target, const std::string& table,
                      const std::vector<std::string>& sourceFields) {
  db::OpenTable(target, table);
  const std::vector<std::string> existing = target.FieldNames();
  for (const std::string& f : sourceFields) {
    const std::string c = CleanFieldName(f);
    if (!c.empty() && !HasField(existing, c)) Try(target, AddColumn(table, c));
  }
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

bool CopyRecords(db::Query& source, db::Query& target, int first, int last, const LogForm& form) {
  const std::vector<std::string> fields = source.FieldNames();
  std::vector<std::string> cleaned;
  std::vector<bool> present;
  for (const std::string& f : fields) {
    cleaned.push_back(CleanFieldName(f));
    present.push_back(!cleaned.back().empty() && target.FindField(cleaned.back()) >= 0);
  }
  const int count = source.RecordCount();
  if (last < 0 || last > count) last = count;
  for (source.MoveTo(first); !source.Eof() && source.RecNo() <= last; source.Next()) {
    std::string summary = "[出错记录]  ";
    try {
      target.Append();
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string value = source.Text(static_cast<int>(i));
        if (present[i]) target.SetField(cleaned[i], value);
        if (i < 8) summary += fields[i] + "：" + value + "；";
      }
      target.Post();
    } catch (const db::RecordError&) {
      const int k = source.RecNo();
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
