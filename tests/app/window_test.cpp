#include <gtest/gtest.h>
#include <QComboBox>
#include <QGroupBox>

#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::WindowHarness;

bool Visible(WindowHarness& h, const char* name) {
  return h.find(name)->isVisible();
}

TEST(Window, StartsFramelessAt988By600WithNoTaskChosen) {
  WindowHarness h;
  TMainForm& w = h.window();
  EXPECT_EQ(w.size(), QSize(988, 600));
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(h.status(), "欢迎使用Plinthwick！");
  for (const char* panel : {"RzPanel101", "RzPanel102", "RzPanel103", "RzPanel104", "RzPanel105",
                            "RzPanel106", "RzPanel107", "RzPanel11", "BitBtn2", "StopButton"})
    EXPECT_FALSE(Visible(h, panel)) << panel;
  EXPECT_EQ(h.find<QLineEdit>("Edit3")->text().toStdString(), "新文档");
  EXPECT_EQ(h.find("RzPanel17")->x(), 988 - 160);
  if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"))
    w.grab().save(QString::fromUtf8(dir) + "/window-start.png");
}

TEST(Window, KindAndOperationChooseTheSettingsPanel) {
  WindowHarness h;
  struct Case {
    const char* kind;
    const char* mode;
    const char* panel;  // nullptr: none
    const char* summary;
  } cases[] = {
      {"RzPanel71", "RzPanel81", "RzPanel101", "合并 Word文档  "},
      {"RzPanel72", "RzPanel81", "RzPanel102", "合并 Excel文档  "},
      {"RzPanel72", "RzPanel82", "RzPanel103", "分割 Excel文档  "},
      {"RzPanel73", "RzPanel81", "RzPanel104", "合并 Access文档  "},
      {"RzPanel73", "RzPanel82", "RzPanel105", "分割 Access文档  "},
      {"RzPanel74", "RzPanel82", "RzPanel106", "分割 纯文本文件  "},
      {"RzPanel71", "RzPanel82", "RzPanel107", "分割 Word文档  "},
      {"RzPanel74", "RzPanel81", nullptr, "合并 纯文本文件  "},
  };
  for (const Case& c : cases) {
    h.click(c.kind);
    h.click(c.mode);
    int shown = 0;
    for (const char* p : {"RzPanel101", "RzPanel102", "RzPanel103", "RzPanel104", "RzPanel105",
                          "RzPanel106", "RzPanel107"})
      shown += Visible(h, p) ? 1 : 0;
    EXPECT_EQ(shown, c.panel ? 1 : 0) << c.summary;
    if (c.panel) {
      EXPECT_TRUE(Visible(h, c.panel)) << c.summary;
    }
    EXPECT_EQ(h.find<QLabel>("Label20")->text().toStdString(), c.summary);
    if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"); dir != nullptr && c.panel != nullptr)
      h.find(c.panel)->grab().save(QString::fromUtf8(dir) + "/" + c.panel + ".png");
  }
}

TEST(Window, SplitEmptiesTheNewNameAndMergeRestoresIt) {
  WindowHarness h;
  auto* edit3 = h.find<QLineEdit>("Edit3");
  h.click("RzPanel81");
  edit3->setText("我的名字");
  h.click("RzPanel82");
  EXPECT_FALSE(edit3->isEnabled());
  EXPECT_TRUE(edit3->text().isEmpty());
  h.click("RzPanel81");
  EXPECT_TRUE(edit3->isEnabled());
  EXPECT_EQ(edit3->text().toStdString(), "新文档");
}

TEST(Window, KindWithoutOperationShowsNoPanelAndOpeningIsRefused) {
  WindowHarness h;
  h.click("RzPanel72");
  EXPECT_EQ(h.find<QLabel>("Label20")->text().toStdString(), "Excel文档  ");
  h.click("Image9");
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_EQ(h.messages[0], "请您先从左侧选择操作任务，然后我再把合适类型的文件列表出来！");
}

TEST(Window, HeadersShareOneToggle) {
  WindowHarness h;
  h.click("RzPanel70");  // first click: sections already shown, toggle set
  EXPECT_TRUE(Visible(h, "RzPanel71"));
  EXPECT_EQ(h.find("RzPanel80")->y(), 270);
  h.click("RzPanel70");  // second: kinds hidden, operations lifted
  EXPECT_FALSE(Visible(h, "RzPanel71"));
  EXPECT_EQ(h.find("RzPanel80")->y(), 150);
  EXPECT_EQ(h.find("RzPanel82")->y(), 210);
  h.click("RzPanel80");  // toggle as RzPanel70 left it: operations shown
  EXPECT_TRUE(Visible(h, "RzPanel81"));
}

TEST(Window, SettingsPanelControlsFollowTheirOptions) {
  WindowHarness h;
  h.click("RzPanel72");
  h.click("RzPanel81");
  h.click("RadioButton6");
  EXPECT_TRUE(Visible(h, "Edit2"));
  h.click("RadioButton4");
  EXPECT_FALSE(Visible(h, "Edit2"));
  h.click("RzPanel73");
  h.click("RadioButton7");
  EXPECT_TRUE(Visible(h, "Edit5"));
  h.click("RadioButton8");
  EXPECT_FALSE(Visible(h, "Edit5"));
  h.click("RzPanel74");
  h.click("RzPanel82");
  h.click("Edit11");  // entering a count box chooses its way
  EXPECT_TRUE(h.find<QRadioButton>("RadioButton15")->isChecked());
  h.click("CheckBox1");
  EXPECT_TRUE(Visible(h, "BitBtn2"));
  h.folderToOpen = h.appDir.str();
  h.click("BitBtn2");
  EXPECT_EQ(h.window().OutputFolder, h.appDir.str());
  EXPECT_EQ(h.status(), "新文档将保存在：" + h.appDir.str());
}

class WindowWithFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(files.file("a.txt"), "A\n");
    test::WriteFile(files.file("b.txt"), "B\n");
    test::WriteFile(files.file("c.txt"), "C\n");
    test::WriteFile(files.file("sub/d.txt"), "D\n");
    test::WriteFile(files.file("e.doc"), "not listed for text");
  }
  std::string name(int row) {
    const std::string& p = h.window().FileRecords().record(row).FullPath;
    return p.substr(files.str().size() + 1);
  }
  std::vector<std::string> selectedNames() {
    std::vector<std::string> out;
    for (int r : h.list()->selectedRowsInOrder()) out.push_back(name(r));
    return out;
  }
  test::TempDir files;
  WindowHarness h;
};

TEST_F(WindowWithFiles, OpenListsMatchingFilesAndSetsTheOutputFolder) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  EXPECT_EQ(h.window().FileRecords().rowCount(), 4);
  EXPECT_EQ(name(2), "c.txt");
  EXPECT_EQ(name(3), "sub/d.txt");
  EXPECT_EQ(h.window().OutputFolder, files.str());
  EXPECT_EQ(h.status(), "  文件准备完毕，等候后续操作！");
  EXPECT_EQ(h.find<QLabel>("RzPanel10Caption")->text().toStdString(), "  当前路径：" + files.str());
  h.click("CheckBox2");  // sub-folders off
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  EXPECT_EQ(h.window().FileRecords().rowCount(), 3);
  h.click("RzPanel71");  // another kind empties the list
  EXPECT_EQ(h.window().FileRecords().rowCount(), 0);
}

TEST_F(WindowWithFiles, ClicksSelectRowsAndMovesCarryTheFile) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.clickRow(1);
  h.clickRow(3, Qt::ControlModifier);
  EXPECT_EQ(selectedNames(), (std::vector<std::string>{"b.txt", "sub/d.txt"}));
  h.clickRow(2);  // a plain click chooses just that row
  EXPECT_EQ(selectedNames(), (std::vector<std::string>{"c.txt"}));
  h.click("Image12");  // up: c moves above b and stays chosen
  EXPECT_EQ(name(1), "c.txt");
  EXPECT_EQ(selectedNames(), (std::vector<std::string>{"c.txt"}));
  h.click("Image12");
  h.click("Image12");  // already at the top: nothing happens
  EXPECT_EQ(name(0), "c.txt");
  h.click("Label17");  // the label does what its picture does
  EXPECT_EQ(name(1), "c.txt");
  EXPECT_EQ(name(0), "a.txt");
}

TEST_F(WindowWithFiles, SelectAllTogglesAndDeleteRowKeepsTheFile) {
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  h.click("Image14");
  EXPECT_EQ(h.list()->selectedRowsInOrder().size(), 4);
  h.clickRow(2, Qt::ControlModifier);
  if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"))
    h.window().grab().save(QString::fromUtf8(dir) + "/window-list.png");
  h.clickRow(2, Qt::ControlModifier);
  EXPECT_EQ(h.find<QLabel>("Label21")->text().toStdString(), "取消全选");
  h.click("Label21");
  EXPECT_TRUE(h.list()->selectedRowsInOrder().isEmpty());
  h.clickRow(1);
  h.window().MenuItem1Click();
  EXPECT_EQ(h.window().FileRecords().rowCount(), 3);
  EXPECT_EQ(name(1), "c.txt");
  EXPECT_TRUE(std::filesystem::exists(files.file("b.txt")));
}

}  // namespace
}  // namespace pw
