// The engine as the operations use it: two connections, statements,
// records appended field by field and read back as text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <future>

#include "platform/database/engine.h"
#include "tests/database/db_readers.h"
#include "tests/database/reader_children.h"
#include "tests/support/tempdir.h"

namespace pw::db {
namespace {

TEST(ParseStatement, AcceptsExactlyTheTwoStatements) {
  struct Case {
    const char* text;
    bool ok;
    Statement::Kind kind;
    const char* table;
    const char* column;
    ColumnKind type = ColumnKind::Text;
  };
  const Case cases[] = {
      {"CREATE TABLE Orders (OrderNo char(250))", true, Statement::Kind::CreateTable, "Orders",
       "OrderNo"},
      {"create table [Order Details] ([Order No] CHAR (250));", true, Statement::Kind::CreateTable,
       "Order Details", "Order No"},
      {"ALTER TABLE [Select] ADD COLUMN [From] VARCHAR(250)", true, Statement::Kind::AddColumn,
       "Select", "From"},
      {"ALTER TABLE 订单 ADD 备注 varchar(250)", true, Statement::Kind::AddColumn, "订单", "备注"},
      {"ALTER TABLE \"a b\" ADD COLUMN `c d` VARCHAR(250)", true, Statement::Kind::AddColumn, "a b",
       "c d"},
      {"CREATE TABLE Notes ([Text] MEMO)", true, Statement::Kind::CreateTable, "Notes", "Text",
       ColumnKind::Memo},
      {"ALTER TABLE Notes ADD COLUMN Remark longtext", true, Statement::Kind::AddColumn, "Notes",
       "Remark", ColumnKind::Memo},
      {"ALTER TABLE Notes ADD COLUMN Photo LONGBINARY", true, Statement::Kind::AddColumn, "Notes",
       "Photo", ColumnKind::Binary},
      {"CREATE TABLE Notes (Photo OLEObject);", true, Statement::Kind::CreateTable, "Notes",
       "Photo", ColumnKind::Binary},
      {"CREATE TABLE Notes (A MEMO(250))", false, {}, "", ""},
      {"DROP TABLE Orders", false, {}, "", ""},
      {"CREATE TABLE Orders (A char(250), B char(250))", false, {}, "", ""},
      {"CREATE TABLE Orders (A integer)", false, {}, "", ""},
      {"CREATE TABLE Orders (A char(10))", false, {}, "", ""},
      {"ALTER TABLE Orders DROP COLUMN A", false, {}, "", ""},
      {"CREATE TABLE [Orders (A char(250))", false, {}, "", ""},
      {"CREATE TABLE Orders (A char(250)) extra", false, {}, "", ""},
      {"", false, {}, "", ""},
  };
  for (const Case& c : cases) {
    const auto st = ParseStatement(c.text);
    ASSERT_EQ(st.has_value(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(st->kind, c.kind) << c.text;
    EXPECT_EQ(st->table, c.table) << c.text;
    EXPECT_EQ(st->column, c.column) << c.text;
    EXPECT_EQ(st->type, c.type) << c.text;
  }
}

TEST(Engine, CopiesRecordsBetweenTwoOpenConnections) {
  pw::test::TempDir dir;
  const std::string source = dir.file("source.mdb");
  const std::string target = dir.file("target.accdb");
  CreateDatabaseFile(source, 64);
  CreateDatabaseFile(target, 128);
  EXPECT_THROW(CreateDatabaseFile(dir.file("x.mdb"), 32), DatabaseError);

  Connection src, dst;
  OpenDatabase(src, source);
  Query in(src);
  ExecuteStatement(in, "CREATE TABLE [Order] ([Order No] char(250))");
  ExecuteStatement(in, "ALTER TABLE [Order] ADD COLUMN [Price$] VARCHAR(250)");
  EXPECT_THROW(ExecuteStatement(in, "DELETE FROM [Order]"), DatabaseError);
  OpenTable(in, "Order");
  for (int i = 1; i <= 3; ++i) {
    in.Append();
    in.SetField("order no", "N" + std::to_string(i));
    if (i != 2) in.SetField("PRICE$", std::to_string(i * 10) + ".5");
    in.Post();
  }
  in.Append();  // longer than a text column: the column becomes long text
  in.SetField("order no", "N4");
  in.SetField("Price$", std::string(251, '9'));
  in.Post();
  JetWriter::SetLongValueLimit(300);  // a value beyond what a field can hold
  in.Append();
  in.SetField("Price$", std::string(301, '9'));
  EXPECT_THROW(in.Post(), RecordError);
  JetWriter::SetLongValueLimit(std::size_t{1} << 30);
  EXPECT_THROW(in.SetField("Price$", "x"), DatabaseError);  // the failed record is gone

  OpenDatabase(dst, target);  // both open at once
  Query out(dst);
  ExecuteStatement(out, "CREATE TABLE [Order] ([OrderNo] char(250))");
  ExecuteStatement(out, "ALTER TABLE [Order] ADD COLUMN [Price] VARCHAR(250)");
  EXPECT_EQ(ListTables(dst), std::vector<std::string>{"Order"});

  OpenTable(in, "Order");
  EXPECT_EQ(in.FieldNames(), (std::vector<std::string>{"Order No", "Price$"}));
  ASSERT_EQ(in.RecordCount(), 4);
  OpenTable(out, "Order");
  EXPECT_EQ(out.FindField("price"), 1);
  EXPECT_EQ(out.FindField("Note"), -1);
  for (in.First(); !in.Eof(); in.Next()) {
    out.Append();
    out.SetField("OrderNo", FieldText(in, "Order No"));
    out.SetField("Price", FieldText(in, "Price$"));
    out.Post();
  }
  in.MoveTo(2);
  EXPECT_EQ(in.RecNo(), 2);
  EXPECT_EQ(FieldText(in, "Price$"), "");
  EXPECT_EQ(FieldText(in, "no such field"), "");
  dst.Close();

  Connection check;
  OpenDatabase(check, target);
  Query q(check);
  OpenTable(q, "Order");
  std::vector<std::string> got;
  for (q.First(); !q.Eof(); q.Next()) got.push_back(q.Text(0) + "|" + q.Text(1));
  EXPECT_EQ(got,
            (std::vector<std::string>{"N1|10.5", "N2|", "N3|30.5", "N4|" + std::string(251, '9')}));
  EXPECT_THROW(OpenTable(q, "Missing"), DatabaseError);
}

TEST(Engine, OpenFailuresNameTheFile) {
  pw::test::TempDir dir;
  pw::test::WriteFile(dir.file("notes.mdb"), "just some text");
  Connection c;
  try {
    OpenDatabase(c, dir.file("notes.mdb"));
    FAIL();
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("notes.mdb"), std::string::npos);
  }
  EXPECT_FALSE(c.IsOpen());
  EXPECT_THROW(ListTables(c), DatabaseError);
}

// Opening a named pipe must answer at once: a plain open would wait for a
// writer that never comes. Should it hang, the pipe is given a writer so the
// test ends with a failure instead of hanging too.
TEST(Engine, RefusesANamedPipeAtOnce) {
  pw::test::TempDir dir;
  const std::string fifo = dir.file("pipe.mdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto opened = std::async(std::launch::async, [&] {
    Connection c;
    try {
      OpenDatabase(c, fifo);
    } catch (const DatabaseError& e) {
      return std::string(e.what());
    }
    return std::string("opened");
  });
  if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    const int fd = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
    opened.wait();
    close(fd);
    FAIL() << "opening a named pipe blocked";
  }
  EXPECT_EQ(opened.get(), "无法打开“" + fifo + "”：这不是一个普通文件");

  // The reading program guards itself too: the file it is handed may have
  // been swapped for a pipe since it was checked.
  const auto start = std::chrono::steady_clock::now();
  const std::string answer = test::Run("timeout 10 '" PW_MDB_READER_PROGRAM "' tables 1:0:0 '" +
                                       fifo + "' 3>&1 >/dev/null 2>&1");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_FALSE(answer.empty()) << "the reading program blocked on the pipe";
  EXPECT_EQ(answer[0], 'E');
  EXPECT_NE(answer.find("这不是一个普通文件"), std::string::npos) << answer;
}

// What a file holds decides, not its name: anything without a Jet or ACE
// header is refused by name before a reader looks inside.
TEST(Engine, RefusesWhatIsNotADatabaseByItsContent) {
  pw::test::TempDir dir;
  std::string zip = std::string("PK\x03\x04", 4) + std::string(8188, '\0');  // a workbook's start
  std::string noise(8192, '\0');
  unsigned state = 12345;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245 + 12345) >> 16);
  // A Jet header with the wrong leading bytes.
  std::string shifted = std::string(4, '\x01') + "Standard Jet DB" + std::string(4077, '\0');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"book.mdb", zip}, {"noise.accdb", noise}, {"shifted.mdb", shifted}, {"empty.mdb", ""}};
  for (const auto& [name, bytes] : cases) {
    pw::test::WriteFile(dir.file(name), bytes);
    try {
      ReadDatabaseHeader(dir.file(name));
      ADD_FAILURE() << name;
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("“" + dir.file(name) + "”不是 Access 数据库文件"),
                std::string::npos)
          << e.what();
    }
  }
  CreateDatabaseFile(dir.file("real.mdb"), 64);
  CreateDatabaseFile(dir.file("real.accdb"), 128);
  EXPECT_EQ(ReadDatabaseHeader(dir.file("real.mdb")).version, JetVersion::Jet4);
  EXPECT_EQ(ReadDatabaseHeader(dir.file("real.accdb")).version, JetVersion::Ace);
  std::filesystem::create_directory(dir.file("folder.mdb"));
  EXPECT_THROW(ReadDatabaseHeader(dir.file("folder.mdb")), DatabaseError);
}

// A database written under a temporary name reports by the name it will have.
TEST(Engine, ANewDatabaseIsNamedAsAsked) {
  pw::test::TempDir dir;
  Connection c;
  try {
    CreateDatabase(c, dir.file("gone/.tmp-y.mdb"), 64, dir.file("gone/y.mdb"));
    ADD_FAILURE() << "created in a missing folder";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("“" + dir.file("gone/y.mdb") + "”"), std::string::npos)
        << e.what();
    EXPECT_EQ(std::string(e.what()).find(".tmp-y"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.IsOpen());
}

// A table of `n` records whose values tell their number: "r<k>" and a
// filler long enough that the table outgrows the pieces it is read in.
std::string NumberedTable(const pw::test::TempDir& dir, int n) {
  const std::string path = dir.file("numbered.mdb");
  JetWriter::Create(path, NewFormat::Jet4);
  JetWriter w(path);
  w.CreateTable("T", "K");
  w.AddColumn("T", "Filler");
  w.CreateTable("Empty", "K");
  w.CreateTable("U", "K");
  for (int k = 1; k <= n / 3; ++k) w.AppendRecord("U", {"u" + std::to_string(k)});
  for (int k = 1; k <= n; ++k)
    w.AppendRecord("T",
                   {"r" + std::to_string(k), std::string(200, static_cast<char>('a' + k % 26))});
  return path;
}

// Records come as the table is read, and may still be counted or visited
// again in any order: every way of moving meets the record it names.
TEST(Engine, RecordsReadInAnyOrderAreTheTablesRecords) {
  pw::test::TempDir dir;
  const int n = 9000;  // about 2 MB: beyond the pieces of the pipe and of the spool's window
  const std::string path = NumberedTable(dir, n);
  enum Step { Count, To, Forward };
  struct Case {
    const char* what;
    std::vector<std::pair<Step, int>> steps;  // To: MoveTo(k); Forward: k times Next()
  };
  const Case cases[] = {
      {"in order", {{Forward, n}}},
      {"counted first", {{Count, 0}, {Forward, n}}},
      {"counted part way", {{Forward, 4000}, {Count, 0}, {Forward, 10}, {To, 2}, {Forward, 3}}},
      {"forward jumps, then back", {{To, 3000}, {To, 8999}, {Forward, 1}, {To, 17}, {Forward, 1}}},
      {"back from the end", {{Forward, n + 5}, {To, n}, {To, 1}}},
  };
  for (const Case& c : cases) {
    Connection src;
    OpenDatabase(src, path);
    Query q(src);
    OpenTable(q, "T");
    int at = 1;
    for (const auto& [step, k] : c.steps) {
      if (step == Count) {
        EXPECT_EQ(q.RecordCount(), n) << c.what;
      }
      if (step == To) q.MoveTo(at = k);
      for (int i = 0; step == Forward && i < k; ++i) {
        ASSERT_EQ(q.Eof(), at > n) << c.what << " at " << at;
        ASSERT_EQ(q.RecNo(), at) << c.what;
        if (at <= n) {
          ASSERT_EQ(q.Text(0), "r" + std::to_string(at)) << c.what;
          ASSERT_EQ(q.Text(1), std::string(200, static_cast<char>('a' + at % 26))) << c.what;
        }
        q.Next();
        at = std::min(at + 1, n + 1);
      }
      ASSERT_EQ(q.Eof(), at > n) << c.what;
      if (at <= n) {
        EXPECT_EQ(q.Text(0), "r" + std::to_string(at)) << c.what;
      }
    }
    EXPECT_EQ(q.RecordCount(), n) << c.what;
  }
  Connection src;
  OpenDatabase(src, path);
  Query empty(src);
  OpenTable(empty, "Empty");
  EXPECT_TRUE(empty.Eof());
  EXPECT_EQ(empty.RecordCount(), 0);
  empty.MoveTo(1);
  EXPECT_TRUE(empty.Eof());
  EXPECT_EQ(empty.Text(0), "");
}

// The reading program's process among this one's children (-1: none).
pid_t ReaderChild() {
  const std::vector<pid_t> all = test::ReaderChildren();
  return all.size() == 1 ? all[0] : -1;
}

// Tables of one file read at once, in turns, or left part way, each keep
// their own records; so does a file whose reading program was killed while
// it waited for the next table.
TEST(Engine, TablesOfOneFileReadTogetherOrLeftUnfinishedKeepTheirRecords) {
  pw::test::TempDir dir;
  const int n = 9000;
  const std::string path = NumberedTable(dir, n);
  Connection src;
  OpenDatabase(src, path);
  auto whole = [&](const std::string& table, const std::string& prefix, int count) {
    Query q(src);
    OpenTable(q, table);
    int k = 0;
    for (; !q.Eof(); q.Next())
      if (q.Text(0) != prefix + std::to_string(++k)) return table + " differs at " + q.Text(0);
    return k == count ? std::string("whole") : table + " ends at " + std::to_string(k);
  };
  {
    Query t(src), u(src);
    OpenTable(t, "T");
    OpenTable(u, "U");
    for (int k = 1; k <= n / 3; ++k, t.Next(), u.Next()) {
      ASSERT_EQ(t.Text(0), "r" + std::to_string(k));
      ASSERT_EQ(u.Text(0), "u" + std::to_string(k));
    }
    EXPECT_TRUE(u.Eof());
    EXPECT_FALSE(t.Eof());
  }  // both left unfinished
  EXPECT_EQ(whole("U", "u", n / 3), "whole");
  {
    Query t(src);
    OpenTable(t, "T");
    t.MoveTo(10);
  }
  EXPECT_EQ(whole("T", "r", n), "whole");
  EXPECT_EQ(whole("Empty", "", 0), "whole");
  OpenDatabase(src, path);  // afresh: its program waits for a first table
  const pid_t idle = ReaderChild();
  ASSERT_GT(idle, 0);
  ASSERT_EQ(kill(idle, SIGKILL), 0);
  EXPECT_EQ(whole("U", "u", n / 3), "whole");
  EXPECT_EQ(ListFields(src, "T").size(), 2u);
}

// A reading program that dies part way through a table (killed for real)
// fails the reading with the source's name, instead of ending the table
// early as if it were whole.
TEST(Engine, AReaderKilledPartWayFailsNamingTheSource) {
  pw::test::TempDir dir;
  const std::string path = NumberedTable(dir, 9000);
  Connection src;
  OpenDatabase(src, path);
  Query q(src);
  OpenTable(q, "T");
  ASSERT_EQ(q.Text(0), "r1");
  const pid_t reader = ReaderChild();
  ASSERT_GT(reader, 0);
  ASSERT_EQ(kill(reader, SIGKILL), 0);
  try {
    for (int k = 1; !q.Eof(); q.Next(), ++k) ASSERT_EQ(q.Text(0), "r" + std::to_string(k));
    FAIL() << "the table ended as if whole";
  } catch (const ReadError& e) {
    EXPECT_EQ(e.file(), path);
    EXPECT_NE(std::string(e.what()).find("numbered.mdb"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace pw::db
