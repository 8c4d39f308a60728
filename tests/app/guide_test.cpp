#include <gtest/gtest.h>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QTranslator>
#include <set>

#include "app/guide.h"
#include "batch/contract.h"
#include "platform/settings.h"
#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::WindowHarness;

GuideDialog* Guide(WindowHarness& h) {
  return h.window().findChild<GuideDialog*>("GuideDialog");
}

std::string StartCount(WindowHarness& h) {
  return ReadIniValue(h.appDir.file("Info.ini"), "Main", "Yanshi", "<none>");
}

void ShowGuideFromMenu(WindowHarness& h) {
  h.find<QMenu>("PopupMenu1")->findChild<QAction*>("N1")->trigger();
  QApplication::processEvents();
}

TEST(Guide, MenuShowsEveryStepWithItsPictureAndNeverCountsAStart) {
  WindowHarness h;
  test::WriteFile(h.appDir.file("Info.ini"), "[Main]\nYanshi=3\n");
  h.window();
  EXPECT_EQ(Guide(h), nullptr);  // not at this start

  ShowGuideFromMenu(h);
  GuideDialog* guide = Guide(h);
  ASSERT_NE(guide, nullptr);
  EXPECT_TRUE(guide->isVisible());
  if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"))
    guide->grab().save(QString::fromUtf8(dir) + "/guide.png");
  EXPECT_GE(guide->pageCount(), 4);
  EXPECT_LE(guide->pageCount(), 5);
  auto* next = guide->findChild<QPushButton*>("GuideNext");
  auto* back = guide->findChild<QPushButton*>("GuideBack");
  std::set<std::string> texts;
  for (int page = 0; page < guide->pageCount(); ++page) {
    EXPECT_EQ(guide->page(), page);
    const QPixmap picture = guide->findChild<QLabel*>("GuidePicture")->pixmap();
    // A picture of the whole window, not an empty or missing one.
    EXPECT_GT(picture.width(), 600) << page;
    EXPECT_GT(picture.height(), 350) << page;
    const std::string heading = guide->findChild<QLabel*>("GuideHeading")->text().toStdString();
    EXPECT_NE(heading.find(std::to_string(page + 1)), std::string::npos) << heading;
    texts.insert(guide->findChild<QLabel*>("GuideText")->text().toStdString());
    EXPECT_EQ(back->isEnabled(), page > 0) << page;
    EXPECT_EQ(next->isEnabled(), page + 1 < guide->pageCount()) << page;
    QTest::mouseClick(next, Qt::LeftButton);
  }
  EXPECT_EQ(guide->page(), guide->pageCount() - 1);  // Next stops at the last step
  EXPECT_EQ(static_cast<int>(texts.size()), guide->pageCount());
  QTest::mouseClick(back, Qt::LeftButton);
  EXPECT_EQ(guide->page(), guide->pageCount() - 2);

  // Asked for again while open: the same guide, on the page it shows.
  ShowGuideFromMenu(h);
  EXPECT_EQ(h.window().findChildren<GuideDialog*>().size(), 1);
  EXPECT_EQ(Guide(h)->page(), guide->pageCount() - 2);
  QTest::mouseClick(guide->findChild<QPushButton*>("GuideClose"), Qt::LeftButton);
  EXPECT_TRUE(test::WaitUntil([&] { return Guide(h) == nullptr; }));
  ShowGuideFromMenu(h);
  ASSERT_NE(Guide(h), nullptr);
  EXPECT_EQ(Guide(h)->page(), 0);  // a closed guide starts over

  EXPECT_EQ(StartCount(h), "3");
  EXPECT_TRUE(h.opened.empty());  // nothing is handed to the shell
}

TEST(Guide, ComesUpAtTheFirstThreeStartsAndCountsOnlyStartsThatShowedIt) {
  struct Case {
    const char* stored;  // nullptr: no count yet
    bool shown;
    const char* after;
  } cases[] = {
      {nullptr, true, "1"}, {"2", true, "3"},  {" 1 ", true, "2"},
      {"3", false, "3"},    {"7", false, "7"}, {"abc", true, "1"},  // unreadable: no start yet
  };
  for (const Case& c : cases) {
    WindowHarness h;
    if (c.stored != nullptr)
      test::WriteFile(h.appDir.file("Info.ini"), std::string("[Main]\nYanshi=") + c.stored + "\n");
    // Built but not yet on screen: no guide, so no start counted.
    h.form = std::make_unique<TMainForm>();
    EXPECT_EQ(TrimText(StartCount(h)), c.stored ? TrimText(c.stored) : "<none>");
    h.form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(h.form.get()));
    const GuideDialog* guide = Guide(h);
    EXPECT_EQ(guide != nullptr && guide->isVisible(), c.shown) << (c.stored ? c.stored : "none");
    EXPECT_EQ(TrimText(StartCount(h)), c.after) << (c.stored ? c.stored : "none");
    // Hiding and showing the window again, or opening the guide from the
    // menu, is not another start.
    h.window().hide();
    h.window().show();
    ShowGuideFromMenu(h);
    EXPECT_EQ(TrimText(StartCount(h)), c.after) << (c.stored ? c.stored : "none");
  }
}

// Stands in for a loaded translation: answers the guide's texts in another
// language.
class GuideTranslation : public QTranslator {
 public:
  explicit GuideTranslation(QString language) : language_(std::move(language)) {}
  QString translate(const char* context, const char* source, const char*, int) const override {
    if (QLatin1String(context) == QLatin1String("GuideDialog") &&
        QLatin1String(source) == QLatin1String("zh_CN"))
      return language_;
    return {};
  }
  bool isEmpty() const override { return false; }

 private:
  QString language_;
};

TEST(Guide, PicturesFollowTheLanguageOfItsTexts) {
  EXPECT_EQ(GuideDialog::pictureFolder(), ":/guide");
  struct Case {
    const char* language;
    const char* folder;
  } cases[] = {
      {"en", ":/guide/en"},
      {"fr", ":/guide"},  // a language without pictures of its own
      {"../", ":/guide"},
  };
  for (const Case& c : cases) {
    GuideTranslation translation{QString::fromUtf8(c.language)};
    ASSERT_TRUE(QCoreApplication::installTranslator(&translation));
    EXPECT_EQ(GuideDialog::pictureFolder().toStdString(), c.folder) << c.language;
    QCoreApplication::removeTranslator(&translation);
  }
}

}  // namespace
}  // namespace pw
