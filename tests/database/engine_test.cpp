// The engine as the operations use it: two connections, statements,
// records appended field by field and read back as text.
#include <gtest/gtest.h>

#include "platform/database/engine.h"
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
  in.Append();
  in.SetField("Price$", std::string(251, '9'));
  EXPECT_THROW(in.Post(), RecordError);
  EXPECT_THROW(in.SetField("Price$", "x"), DatabaseError);  // the failed record is gone

  OpenDatabase(dst, target);  // both open at once
  Query out(dst);
  ExecuteStatement(out, "CREATE TABLE [Order] ([OrderNo] char(250))");
  ExecuteStatement(out, "ALTER TABLE [Order] ADD COLUMN [Price] VARCHAR(250)");
  EXPECT_EQ(ListTables(dst), std::vector<std::string>{"Order"});

  OpenTable(in, "Order");
  EXPECT_EQ(in.FieldNames(), (std::vector<std::string>{"Order No", "Price$"}));
  ASSERT_EQ(in.RecordCount(), 3);
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
  EXPECT_EQ(got, (std::vector<std::string>{"N1|10.5", "N2|", "N3|30.5"}));
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

}  // namespace
}  // namespace pw::db
