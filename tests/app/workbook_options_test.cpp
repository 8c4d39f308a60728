// The workbook options of the window: remembered between starts, and a merge
// with them gives what the command line gives.

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <QProcess>

#include <map>

#include "platform/settings.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::WindowHarness;

// A workbook of one sheet "Data": a title, the header `header` and `rows`,
// every cell text.
void MakeBook(const std::string& path, const std::vector<std::string>& header,
              const std::vector<std::vector<std::string>>& rows) {
  lxw_workbook* book = workbook_new(path.c_str());
  lxw_worksheet* sheet = workbook_add_worksheet(book, "Data");
  worksheet_write_string(sheet, 0, 0, "月报", nullptr);
  std::vector<std::vector<std::string>> all = rows;
  all.insert(all.begin(), header);
  for (std::size_t r = 0; r < all.size(); ++r)
    for (std::size_t c = 0; c < all[r].size(); ++c)
      worksheet_write_string(sheet, static_cast<lxw_row_t>(r + 1), static_cast<lxw_col_t>(c),
                             all[r][c].c_str(), nullptr);
  ASSERT_EQ(workbook_close(book), LXW_NO_ERROR);
}

// Every sheet's cells as "sheet!row,col=value", formulas as "=...".
std::map<std::string, std::string> Cells(const std::string& path) {
  std::map<std::string, std::string> cells;
  const auto book = xl::ReadXlsx(path);
  for (const auto& sheet : book->sheets)
    for (const xl::Row& row : sheet->rows)
      for (const xl::Cell& c : row.cells) {
        std::string v = c.formula != 0                  ? "=" + book->Formula(c)
                        : c.kind == xl::CellKind::Text  ? book->Text(c.text)
                        : c.kind == xl::CellKind::Blank ? ""
                                                        : std::to_string(c.number);
        cells[sheet->name + "!" + std::to_string(row.index) + "," + std::to_string(c.col)] = v;
      }
  return cells;
}

TEST(WindowWorkbookOptions, TheNewChoicesComeBackAsTheyWereLeft) {
  WindowHarness h;
  test::TempDir files;
  h.openFolder("RzPanel72", "RzPanel81", files.str());
  h.click("CheckBox14");
  h.click("CheckBox15");
  h.click("RzPanel82");
  QTest::mouseClick(h.find("Edit14"), Qt::LeftButton);  // entering the box chooses its way
  h.find<QLineEdit>("Edit14")->insert("数量");          // as an input method enters it
  EXPECT_TRUE(h.find<QRadioButton>("RadioButton21")->isChecked());
  EXPECT_TRUE(h.window().close());
  const std::string ini = h.appDir.file("Info.ini");
  for (const char* key : {"WorkbookSourceColumn", "WorkbookMatchHeaders", "WorkbookSplitByValue"})
    EXPECT_EQ(ReadIniValue(ini, "Plinthwick", key, ""), "1") << key;
  EXPECT_EQ(ReadIniValue(ini, "Plinthwick", "WorkbookSplitColumn", ""), "数量");

  h.form.reset();
  EXPECT_TRUE(h.find<QCheckBox>("CheckBox14")->isChecked());
  EXPECT_TRUE(h.find<QCheckBox>("CheckBox15")->isChecked());
  EXPECT_TRUE(h.find<QRadioButton>("RadioButton21")->isChecked());
  EXPECT_EQ(h.find<QLineEdit>("Edit14")->text().toStdString(), "数量");

  // Turned off again, they stay off.
  h.click("RzPanel72");
  h.click("RzPanel81");
  h.click("CheckBox14");
  h.click("CheckBox15");
  h.click("RzPanel82");
  h.click("RadioButton9");
  EXPECT_TRUE(h.window().close());
  h.form.reset();
  EXPECT_FALSE(h.find<QCheckBox>("CheckBox14")->isChecked());
  EXPECT_FALSE(h.find<QCheckBox>("CheckBox15")->isChecked());
  EXPECT_FALSE(h.find<QRadioButton>("RadioButton21")->isChecked());
  EXPECT_TRUE(h.find<QRadioButton>("RadioButton9")->isChecked());
}

// The workbooks hold the time they were written, so the files are compared
// by their cells, not their bytes.
TEST(WindowWorkbookOptions, AMergeWithSourceColumnAndHeaderMatchingIsTheCommandLines) {
  WindowHarness h;
  test::TempDir files, cli;
  MakeBook(files.file("a.xlsx"), {"名称", "数量"}, {{"螺丝", "10"}, {"螺母", "20"}});
  MakeBook(files.file("b.xlsx"), {"数量", "单价", "名称"}, {{"5", "0.5", "垫片"}});
  h.openFolder("RzPanel72", "RzPanel81", files.str());
  h.click("CheckBox14");
  h.click("CheckBox15");
  h.click("Image14");
  h.runAndWait();
  ASSERT_TRUE(h.messages.empty()) << h.messages.front();

  QProcess run;
  run.setWorkingDirectory(QString::fromStdString(files.str()));
  run.start(PW_CLI_PATH, {"merge", "xls", "-q", "--source-column", "--match-columns", "header",
                          "-o", QString::fromStdString(cli.file("m.xlsx")),
                          QString::fromStdString(files.file("a.xlsx")),
                          QString::fromStdString(files.file("b.xlsx"))});
  ASSERT_TRUE(run.waitForFinished(120000));
  ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

  const auto window = Cells(files.file("新文档.xlsx"));
  EXPECT_EQ(window, Cells(cli.file("m.xlsx")));
  // The header lines up: 数量 of b.xlsx under 数量 of a.xlsx, 单价 added at the right.
  EXPECT_EQ(window.at("Data!2,1"), "来源");
  EXPECT_EQ(window.at("Data!2,3"), "数量");
  EXPECT_EQ(window.at("Data!2,4"), "单价");
  EXPECT_EQ(window.at("Data!5,3"), "5");
}

}  // namespace
}  // namespace pw
