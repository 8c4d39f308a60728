#include <gtest/gtest.h>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTranslator>
#include <QUrl>
#include <filesystem>

#include "app/icons.h"
#include "app/language.h"
#include "platform/settings.h"
#include "platform/textcodec.h"
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

// The theme's icon by the menu entry's name when the desktop has one, else
// our own drawing; never an empty icon.
TEST(Window, IconComesFromTheThemeOrIsOurOwn) {
  test::TempDir themes;
  QImage red(32, 32, QImage::Format_RGB32);
  red.fill(Qt::red);
  std::filesystem::create_directories(themes.file("pwtest/32x32/apps"));
  ASSERT_TRUE(red.save(
      QString::fromStdString(themes.file("pwtest/32x32/apps/org.plinthwick.Plinthwick.png"))));
  test::WriteFile(themes.file("pwtest/index.theme"),
                  "[Icon Theme]\nName=pwtest\nDirectories=32x32/apps\n\n"
                  "[32x32/apps]\nSize=32\nType=Fixed\n");
  const QStringList paths = QIcon::themeSearchPaths();
  const QString theme = QIcon::themeName();
  struct Case {
    const char* searchPath;  // nullptr: an empty folder
    bool fromTheme;
  } cases[] = {{"themes", true}, {nullptr, false}};
  for (const Case& c : cases) {
    test::TempDir empty;
    QIcon::setThemeSearchPaths(
        {QString::fromStdString(c.searchPath != nullptr ? themes.str() : empty.str())});
    QIcon::setThemeName(QStringLiteral("pwtest"));
    const QImage shown = ProgramIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(shown.isNull()) << c.fromTheme;
    EXPECT_EQ(shown.pixelColor(16, 16) == QColor(Qt::red), c.fromTheme);
    if (!c.fromTheme) {
      EXPECT_FALSE(ProgramIcon().pixmap(256, 256).isNull());
    }
  }
  QIcon::setThemeSearchPaths(paths);
  QIcon::setThemeName(theme);
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

TEST_F(WindowWithFiles, SelectAllCaptionFollowsTheSelectionHoweverItCame) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  auto caption = [&] { return h.find<QLabel>("Label21")->text().toStdString(); };
  EXPECT_EQ(caption(), "全选");
  h.list()->setFocus();
  QTest::keyClick(h.list(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(h.list()->selectedRowsInOrder().size(), 4);
  EXPECT_EQ(caption(), "取消全选");
  h.clickRow(1, Qt::ControlModifier);
  EXPECT_EQ(caption(), "全选");
  h.clickRow(1, Qt::ControlModifier);
  EXPECT_EQ(caption(), "取消全选");
  h.openFolder("RzPanel74", "RzPanel81", files.str());  // a new scan selects nothing
  EXPECT_EQ(caption(), "全选");
  h.click("Label21");
  h.clickRow(0, Qt::ControlModifier);  // a, c and d left out of... a left out
  h.runAndWait();                      // b, c, d merged and gone: a remains, not chosen
  EXPECT_EQ(h.window().FileRecords().rowCount(), 1);
  EXPECT_EQ(caption(), "全选");
  h.click("Label21");
  EXPECT_EQ(h.list()->selectedRowsInOrder().size(), 1);
}

TEST_F(WindowWithFiles, KeysDeleteTheCurrentRowRescanAndStopARun) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.clickRow(1);
  h.list()->setFocus();
  QTest::keyClick(h.list(), Qt::Key_Delete);
  EXPECT_EQ(h.window().FileRecords().rowCount(), 3);
  EXPECT_EQ(name(1), "c.txt");
  EXPECT_TRUE(std::filesystem::exists(files.file("b.txt")));
  // Delete in a text box edits the text and leaves the list alone.
  auto* edit3 = h.find<QLineEdit>("Edit3");
  edit3->setFocus();
  edit3->setCursorPosition(0);
  QTest::keyClick(edit3, Qt::Key_Delete);
  EXPECT_EQ(edit3->text().toStdString(), "文档");
  EXPECT_EQ(h.window().FileRecords().rowCount(), 3);

  test::WriteFile(files.file("z.txt"), "Z\n");
  QTest::keyClick(&h.window(), Qt::Key_F5);
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().scanInProgress(); }));
  EXPECT_EQ(h.window().FileRecords().rowCount(), 5);  // b back, z new
  EXPECT_TRUE(h.messages.empty());

  const std::string block(4 << 20, 'x');
  for (int i = 0; i < 24; ++i)
    test::WriteFile(files.file("big" + std::to_string(i) + ".txt"), block);
  QTest::keyClick(&h.window(), Qt::Key_F5);
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().scanInProgress(); }));
  h.click("Image14");
  h.click("Image11");
  ASSERT_TRUE(h.window().runInProgress());
  QTest::keyClick(&h.window(), Qt::Key_Escape);
  EXPECT_TRUE(h.window().StopFlag);
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().runInProgress(); }));
  EXPECT_GT(h.window().FileRecords().rowCount(), 0);
}

TEST_F(WindowWithFiles, ClosingDuringARunAsksFirst) {
  const std::string block(4 << 20, 'x');
  for (int i = 0; i < 24; ++i)
    test::WriteFile(files.file("big" + std::to_string(i) + ".txt"), block);
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  std::vector<bool> answers = {false, true};
  int asked = 0;
  SetQuestionSink(
      [&](QWidget*, const QString&) { return answers[static_cast<std::size_t>(asked++)]; });
  h.click("Image14");
  h.click("Image11");
  ASSERT_TRUE(h.window().runInProgress());
  EXPECT_FALSE(h.window().close());  // "no": the run goes on
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(h.window().StopFlag);
  EXPECT_TRUE(h.window().close());  // "yes": the run is stopped
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(h.window().StopFlag);
  SetQuestionSink({});
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().runInProgress(); }));
  SetQuestionSink([&](QWidget*, const QString&) { return ++asked > 0; });
  h.window().show();
  EXPECT_TRUE(h.window().close());  // nothing running: no question
  EXPECT_EQ(asked, 2);
  SetQuestionSink({});
}

// At the smallest size the toolbar, the settings column and the list keep
// their contents; the path column ends with an ellipsis inside the list and
// reads a GBK folder name as the name column does.
TEST_F(WindowWithFiles, SmallestWindowKeepsItsPartsAndThePathIsShownWhole) {
  const std::string gbkFolder = files.file("\xB1\xA8\xB8\xE6");  // 报告 in GBK
  test::WriteFile(gbkFolder + "/\xD4\xC2.txt", "x\n");           // 月
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  TMainForm& w = h.window();
  w.resize(300, 200);
  QApplication::processEvents();
  EXPECT_GE(w.width(), w.minimumWidth());
  EXPECT_GE(w.height(), 600);
  QWidget* toolbar = h.find("RzPanel6");
  EXPECT_LE(h.find("StopButton")->geometry().right(), toolbar->width());
  EXPECT_LE(h.find("Label21")->geometry().right(), toolbar->width());
  EXPECT_LE(h.find("Label27")->geometry().bottom(), h.find("RzPanel13")->height());
  EXPECT_GT(h.list()->height(), 200);

  int row = -1;
  for (int r = 0; r < w.FileRecords().rowCount(); ++r)
    if (w.FileRecords().record(r).BaseName == "月") row = r;
  ASSERT_GE(row, 0);
  const QString shown = w.FileRecords().index(row, 1).data().toString();
  EXPECT_EQ(shown.toStdString(), files.str() + "/报告/月.txt");
  // The drawn path column: its last visible pixels hold the ellipsis, so the
  // text was cut where the list ends, not beyond it.
  EXPECT_LE(h.list()->header()->sectionPosition(1), h.list()->viewport()->width() - 120);
  // The ellipsis ends just inside the list's edge: the text was cut where
  // the list ends, not beyond it.
  const QRect cell = h.list()->visualRect(w.FileRecords().index(row, 1));
  const QImage shot = h.list()->viewport()->grab().toImage();
  const int right = h.list()->viewport()->width() - 1;
  auto ink = [&](int from, int to) {
    int dark = 0;
    for (int x = from; x <= to; ++x)
      for (int y = cell.top() + 10; y < cell.bottom() - 10; ++y)
        dark += qGray(shot.pixel(x, y)) < 160 ? 1 : 0;
    return dark;
  };
  EXPECT_GT(ink(right - 14, right - 3), 0);
  EXPECT_EQ(ink(right - 1, right), 0) << "text runs to the edge without an ellipsis";
  if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"))
    w.grab().save(QString::fromUtf8(dir) + "/window-smallest.png");
}

TEST(Window, CountBoxesShowFourDigitsWhole) {
  WindowHarness h;
  struct Case {
    const char* kind;
    const char* boxes[3];
  } cases[] = {{"RzPanel72", {"Edit4", "Edit6", nullptr}},
               {"RzPanel73", {"Edit7", "Edit8", nullptr}},
               {"RzPanel74", {"Edit9", "Edit10", "Edit11"}},
               {"RzPanel71", {"Edit1", "Edit12", "Edit13"}}};
  for (const Case& c : cases) {
    h.click(c.kind);
    h.click("RzPanel82");
    for (const char* name : c.boxes) {
      if (name == nullptr) continue;
      auto* box = h.find<QLineEdit>(name);
      ASSERT_TRUE(box->isVisible()) << name;
      box->setText("1000");
      box->setCursorPosition(0);
      const int start = box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
      box->setCursorPosition(4);  // scrolls only when the text does not fit
      const int end = box->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x();
      EXPECT_NEAR(end - start, box->fontMetrics().horizontalAdvance("1000"), 1) << name;
      EXPECT_LE(box->geometry().right(), box->parentWidget()->width()) << name;
    }
  }
}

TEST(Window, DraggingTheTopBarHandsTheMoveOverOncePerPress) {
  WindowHarness h;
  auto* bar = h.find<TitleBar>("RzPanel8");
  int asked = 0;
  bool managerMoves = true;
  bar->startSystemMove = [&] {
    ++asked;
    return managerMoves;
  };
  auto drag = [&](QPoint to) {
    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(300, 20));
    const QPointF from = bar->mapToGlobal(QPointF(300, 20));
    for (int i = 1; i <= 5; ++i) {
      QMouseEvent move(QEvent::MouseMove, QPointF(300, 20) + QPointF(to) * i / 5,
                       from + QPointF(to) * i / 5, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(300, 20) + to);
  };
  const QPoint start = h.window().pos();
  drag(QPoint(40, 30));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(h.window().pos(), start);  // the window manager moves it
  drag(QPoint(40, 30));
  EXPECT_EQ(asked, 2);
  managerMoves = false;  // none there: the bar moves the window itself
  drag(QPoint(40, 30));
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(h.window().pos(), start + QPoint(40, 30));
}

TEST(Window, QtsOwnButtonsSpeakChinese) {
  QTranslator* translator = InstallQtTranslations(QStringLiteral("zh_CN"));
  ASSERT_NE(translator, nullptr) << "qt6-translations-l10n is not installed";
  QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Ok)->text().toStdString(), "确定");
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().toStdString(), "取消");
  QCoreApplication::removeTranslator(translator);
  delete translator;
}

}  // namespace
}  // namespace pw

namespace pw {
namespace {

void Drop(FileListView* list, const std::vector<std::string>& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const std::string& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
  data.setUrls(urls);
  const QPoint at = list->viewport()->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &enter);
  ASSERT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(list->viewport(), &drop);
}

TEST_F(WindowWithFiles, DroppedFoldersAreReadAsOpenDoesAndFilesByTheTasksKind) {
  test::TempDir more;
  test::WriteFile(more.file("x.txt"), "x\n");
  test::WriteFile(more.file("y.doc"), "not text");
  test::WriteFile(more.file("deep/z.txt"), "z\n");
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.clickRow(0);
  Drop(h.list(), {more.file("deep"), more.file("x.txt"), more.file("y.doc"), files.file("a.txt")});
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().scanInProgress(); }));
  const auto paths = h.listedPaths();
  EXPECT_EQ(paths, (std::vector<std::string>{files.file("a.txt"), files.file("b.txt"),
                                             files.file("c.txt"), files.file("sub/d.txt"),
                                             more.file("x.txt"), more.file("deep/z.txt")}));
  EXPECT_EQ(selectedNames(), std::vector<std::string>{"a.txt"});  // the choice stays
  h.click("Image14");
  h.runAndWait();
  EXPECT_EQ(test::ReadFile(more.file("deep/新文档.txt")), "A\nB\nC\nD\nx\nz\n");
}

TEST(Window, FoldersAndTheNameColumnAreRememberedBetweenStarts) {
  // Folder names as they come: UTF-8, and GBK bytes that are not UTF-8
  // (kept in the settings file in a form no reading of the file changes).
  struct Case {
    const char* source;
    const char* output;
    bool storedAsIs;
  } cases[] = {
      {"来源", "输出", true},
      {"\xB1\xA8\xB8\xE6", "\xCA\xE4\xB3\xF6 out", false},  // 报告, 输出 in GBK
  };
  for (const Case& c : cases) {
    WindowHarness h;
    test::TempDir top;
    const std::string source = top.file(c.source), output = top.file(c.output);
    test::WriteFile(source + "/a.txt", "a\n");
    std::filesystem::create_directories(output);
    std::vector<std::string> starts;
    SetFolderChooser([&](QWidget*, const QString&, const std::string& start) {
      starts.push_back(start);
      return h.folderToOpen;
    });
    h.openFolder("RzPanel74", "RzPanel81", source);
    h.click("CheckBox1");
    h.folderToOpen = output;
    h.click("BitBtn2");
    h.list()->header()->resizeSection(0, 420);
    EXPECT_TRUE(h.window().close());
    const std::string ini = h.appDir.file("Info.ini");
    EXPECT_TRUE(IsValidUtf8(test::ReadFile(ini))) << c.source;
    EXPECT_EQ(ReadIniValue(ini, "Plinthwick", "LastFolder", "") == source, c.storedAsIs);
    EXPECT_EQ(ReadIniValue(ini, "Plinthwick", "OutputFolder", "") == output, c.storedAsIs);
    EXPECT_EQ(ReadIniValue(ini, "Plinthwick", "NameColumnWidth", ""), "420");

    h.form.reset();
    starts.clear();
    EXPECT_EQ(h.list()->header()->sectionSize(0), 420);
    h.click("RzPanel74");
    h.click("RzPanel81");
    h.click("Image9");
    h.click("CheckBox1");
    h.click("BitBtn2");
    EXPECT_EQ(starts, (std::vector<std::string>{source, output})) << c.source;
  }
}

}  // namespace
}  // namespace pw
