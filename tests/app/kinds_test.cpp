// The window on workbooks, databases and documents: a run of each kind, and
// the sheet and table lists of a clicked file.

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>
#include <QComboBox>

#include <optional>

#include "platform/database/engine.h"
#include "platform/database/jet_writer.h"
#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::WindowHarness;

// A workbook whose sheets hold a title, a header and `rows` data rows;
// an empty sheet name makes an empty sheet.
void MakeWorkbook(const std::string& path, const std::vector<std::string>& sheets, int rows) {
  lxw_workbook* book = workbook_new(path.c_str());
  for (const std::string& name : sheets) {
    lxw_worksheet* sheet = workbook_add_worksheet(book, name.c_str());
    if (name.starts_with("Empty")) continue;
    worksheet_write_string(sheet, 0, 0, "标题", nullptr);
    worksheet_write_string(sheet, 1, 0, "名称", nullptr);
    worksheet_write_string(sheet, 1, 1, "数量", nullptr);
    for (int r = 0; r < rows; ++r) {
      worksheet_write_string(sheet, static_cast<lxw_row_t>(r + 2), 0,
                             ("item" + std::to_string(r)).c_str(), nullptr);
      worksheet_write_number(sheet, static_cast<lxw_row_t>(r + 2), 1, r, nullptr);
    }
  }
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
}

void MakeDatabase(const std::string& path, const std::string& table, int rows) {
  db::CreateDatabaseFile(path, 64);
  db::JetWriter writer(path);
  writer.CreateTable(table, "名称");
  writer.AddColumn(table, "数量");
  for (int r = 0; r < rows; ++r)
    writer.AppendRecord(table, {std::optional<std::string>("item" + std::to_string(r)),
                                std::optional<std::string>(std::to_string(r))});
}

// A minimal .docx of one paragraph.
void MakeDocx(const std::string& path, const std::string& text) {
  const std::map<std::string, std::string> parts = {
      {"[Content_Types].xml",
       R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
      {"_rels/.rels",
       R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)"},
      {"word/document.xml",
       R"(<?xml version="1.0" encoding="UTF-8"?><w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body><w:p><w:r><w:t>)" +
           text + R"(</w:t></w:r></w:p></w:body></w:document>)"},
  };
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, content] : parts)
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0),
                 ZIP_FL_OVERWRITE);
  ASSERT_EQ(zip_close(z), 0);
}

std::string ZipPart(const std::string& path, const char* part) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (z == nullptr) return {};
  std::string out;
  if (zip_file_t* f = zip_fopen(z, part, 0)) {
    char buf[4096];
    for (zip_int64_t n; (n = zip_fread(f, buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    zip_fclose(f);
  }
  zip_close(z);
  return out;
}

QStringList Items(WindowHarness& h, const char* combo) {
  QStringList items;
  auto* box = h.find<QComboBox>(combo);
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  return items;
}

TEST(WindowKinds, WorkbooksMergeAndTheSheetListShowsSheetsThatHoldAnything) {
  WindowHarness h;
  test::TempDir files;
  MakeWorkbook(files.file("a.xlsx"), {"Data", "Empty", "More"}, 3);
  MakeWorkbook(files.file("b.xlsx"), {"Data"}, 2);
  h.openFolder("RzPanel72", "RzPanel82", files.str());
  h.click("CheckBox7");
  h.clickRow(0);
  ASSERT_TRUE(test::WaitUntil([&] { return !h.window().pickerInProgress(); }));
  EXPECT_EQ(Items(h, "ComboBox1"), (QStringList{"Data", "More"}));

  h.openFolder("RzPanel72", "RzPanel81", files.str());
  h.click("Image14");
  h.runAndWait();
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  const std::string sheet = ZipPart(files.file("新文档.xlsx"), "xl/worksheets/sheet1.xml");
  EXPECT_FALSE(sheet.empty());
  EXPECT_TRUE(h.listedPaths().empty());
}

TEST(WindowKinds, DatabasesSplitAndTheTableListShowsUserTables) {
  WindowHarness h;
  test::TempDir files;
  MakeDatabase(files.file("shop.mdb"), "Order Details", 5);
  h.openFolder("RzPanel73", "RzPanel82", files.str());
  h.click("CheckBox8");
  h.clickRow(0);
  ASSERT_TRUE(test::WaitUntil([&] { return !h.window().pickerInProgress(); }));
  EXPECT_EQ(Items(h, "ComboBox2"), (QStringList{"Order Details"}));
  h.click("CheckBox8");
  h.runAndWait();  // into 2 parts by default
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  EXPECT_EQ(h.status(), "1 个文件已被分割，并生成了新文件！");
  MakeDatabase(files.file("more.mdb"), "Orders", 2);
  h.openFolder("RzPanel73", "RzPanel81", files.str());
  h.click("Image14");
  h.runAndWait();
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  EXPECT_EQ(h.status(), "4 个文件合并生成新文件：" + files.file("新文档.accdb"));
  for (const char* part : {"shop_1.mdb", "shop_2.mdb"}) {
    db::Connection c;
    ASSERT_NO_THROW(db::OpenDatabase(c, files.file(part))) << part;
    EXPECT_EQ(db::ListTables(c), std::vector<std::string>{"Order Details"}) << part;
  }
}

// "保留字段类型" on either database panel carries a number field as a number;
// left unticked, the same field arrives as text.
TEST(WindowKinds, KeepFieldTypesCarriesANumberFieldAsANumber) {
  struct Case {
    const char* target;  // the panel's run button
    const char* box;
    bool ticked;
    const char* output;
    db::FieldType::Kind kind;
  };
  const Case cases[] = {
      {"RzPanel81", "CheckBox16", true, "新文档.accdb", db::FieldType::Kind::Long},
      {"RzPanel81", "CheckBox16", false, "新文档.accdb", db::FieldType::Kind::Text},
      {"RzPanel82", "CheckBox17", true, "stock_1.mdb", db::FieldType::Kind::Long},
      {"RzPanel82", "CheckBox17", false, "stock_1.mdb", db::FieldType::Kind::Text},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.box) + (c.ticked ? " ticked" : " unticked"));
    WindowHarness h;
    test::TempDir files;
    db::CreateDatabaseFile(files.file("stock.mdb"), 64);
    {
      db::JetWriter w(files.file("stock.mdb"));
      w.CreateTable("Stock", "名称");
      w.AddColumn("Stock", "数量", db::FieldType::Of(db::FieldType::Kind::Long));
      for (int r = 0; r < 4; ++r)
        w.AppendRecord("Stock", {std::optional<std::string>("item" + std::to_string(r)),
                                 std::optional<std::string>(std::to_string(-70000 + r))});
    }
    h.openFolder("RzPanel73", c.target, files.str());
    h.click("Image14");  // select every listed file
    if (c.ticked) h.click(c.box);
    h.runAndWait();
    ASSERT_TRUE(h.messages.empty()) << h.messages.front();
    db::Connection conn;
    ASSERT_NO_THROW(db::OpenDatabase(conn, files.file(c.output)));
    db::Query q(conn);
    db::OpenTable(q, "Stock");
    const int field = q.FindField("数量");
    ASSERT_GE(field, 0);
    EXPECT_EQ(q.Type(field).kind, c.kind);
    q.First();
    EXPECT_EQ(q.Text(field), "-70000");
  }
}

// A box ticked in another task's panel reads nothing; the lists are filled
// and the choice is left to the user.
TEST(WindowKinds, PickersActOnlyForTheTaskShownAndLeaveTheChoiceEmpty) {
  WindowHarness h;
  test::TempDir books, bases;
  MakeWorkbook(books.file("a.xlsx"), {"Data", "More"}, 2);
  MakeDatabase(bases.file("shop.mdb"), "Orders", 3);
  h.openFolder("RzPanel72", "RzPanel82", books.str());
  h.click("CheckBox7");
  h.clickRow(0);
  ASSERT_TRUE(test::WaitUntil([&] { return !h.window().pickerInProgress(); }));
  EXPECT_EQ(Items(h, "ComboBox1"), (QStringList{"Data", "More"}));
  EXPECT_TRUE(h.find<QComboBox>("ComboBox1")->currentText().isEmpty());

  h.openFolder("RzPanel73", "RzPanel82", bases.str());
  const std::string ready = h.status();
  h.clickRow(0);  // the sheet box, still ticked, is not on screen
  EXPECT_FALSE(h.window().pickerInProgress());
  EXPECT_EQ(h.status(), ready);
  h.click("CheckBox8");
  h.clickRow(0);
  ASSERT_TRUE(test::WaitUntil([&] { return !h.window().pickerInProgress(); }));
  EXPECT_EQ(Items(h, "ComboBox2"), (QStringList{"Orders"}));
  EXPECT_TRUE(h.find<QComboBox>("ComboBox2")->currentText().isEmpty());
  EXPECT_EQ(h.status(), "  请从列表中选择要操作的工作表或数据表");
  EXPECT_TRUE(h.messages.empty());
}

TEST(WindowKinds, DocumentsMergeThroughTheOfficeServer) {
  WindowHarness h;
  test::TempDir files;
  MakeDocx(files.file("one.docx"), "Alpha paragraph");
  MakeDocx(files.file("two.docx"), "Beta paragraph");
  h.openFolder("RzPanel71", "RzPanel81", files.str());
  h.click("Image14");
  h.runAndWait();
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  const std::string body = ZipPart(files.file("新文档.docx"), "word/document.xml");
  EXPECT_NE(body.find("Alpha paragraph"), std::string::npos);
  EXPECT_NE(body.find("Beta paragraph"), std::string::npos);
  EXPECT_LT(body.find("Alpha paragraph"), body.find("Beta paragraph"));
}

}  // namespace
}  // namespace pw
