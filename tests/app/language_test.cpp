// The window in English: every text a person can see is translated, and the
// choice of language follows PLINTHWICK_LANG and the locale.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <filesystem>

#include "app/widgets.h"
#include "platform/translate.h"
#include "tests/app/window_harness.h"
#include "translations/language.h"

namespace pw {
namespace {

using test::WindowHarness;

// Chinese characters, or the full-width punctuation that comes with them.
bool HasChinese(const QString& text) {
  for (const QChar c : text) {
    const char16_t u = c.unicode();
    if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) ||
        (u >= 0xFF00 && u <= 0xFFEF))
      return true;
  }
  return false;
}

// The language of the texts for as long as it lives; Chinese again after.
struct InLanguage {
  explicit InLanguage(Language language) { UseLanguage(language); }
  ~InLanguage() { UseLanguage(Language::Chinese); }
};

// Every text of the window and its panels, shown or not, with where it is.
std::vector<std::pair<QString, QString>> WindowTexts(TMainForm& w) {
  std::vector<std::pair<QString, QString>> texts;
  const auto add = [&texts](const QObject* o, const QString& what, const QString& text) {
    if (!text.isEmpty()) texts.emplace_back(o->objectName() + " " + what, text);
  };
  for (const QWidget* c : w.findChildren<QWidget*>()) {
    add(c, "tooltip", c->toolTip());
    if (auto* l = qobject_cast<const QLabel*>(c)) add(c, "text", l->text());
    if (auto* b = qobject_cast<const QAbstractButton*>(c)) add(c, "text", b->text());
    if (auto* g = qobject_cast<const QGroupBox*>(c)) add(c, "title", g->title());
    if (auto* e = qobject_cast<const QLineEdit*>(c)) add(c, "text", e->text());
    if (auto* p = dynamic_cast<const TaskPanel*>(c)) add(c, "text", p->text());
    if (auto* h = qobject_cast<const QHeaderView*>(c))
      for (int i = 0; i < h->count(); ++i)
        add(c, "header", h->model()->headerData(i, Qt::Horizontal).toString());
  }
  for (const QAction* a : w.findChildren<QAction*>()) add(a, "action", a->text());
  return texts;
}

TEST(WindowLanguage, EnglishLeavesNoChineseOnScreen) {
  const InLanguage english(Language::English);
  test::TempDir files;
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
    test::WriteFile(files.file(name), "T\nx\ny\nz\n");
  WindowHarness h;
  TMainForm& w = h.window();
  struct Caption {
    const char* control;
    const char* text;
  };
  for (const Caption& c : std::initializer_list<Caption>{{"Label8", "Open"},
                                                         {"Label15", "Run"},
                                                         {"Label21", "Select all"},
                                                         {"StopButton", "Stop"},
                                                         {"CheckBox11", "Delete sources when done"},
                                                         {"Label1", "Welcome to Plinthwick!"}}) {
    QWidget* control = h.find(c.control);
    const QString shown = qobject_cast<QLabel*>(control) != nullptr
                              ? qobject_cast<QLabel*>(control)->text()
                              : qobject_cast<QAbstractButton*>(control)->text();
    EXPECT_EQ(shown.toStdString(), c.text) << c.control;
  }
  EXPECT_EQ(h.find<QLineEdit>("Edit3")->text().toStdString(), "New document");

  // A text split end to end: the task, the listed files' details, the outcome.
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  EXPECT_EQ(h.find<QLabel>("Label20")->text().trimmed().toStdString(), "Split text files");
  ASSERT_EQ(h.window().FileRecords().records().size(), 4u);
  for (const FileRecord& r : h.window().FileRecords().records()) {
    EXPECT_FALSE(HasChinese(QString::fromStdString(r.SizeText))) << r.SizeText;
    EXPECT_FALSE(HasChinese(QString::fromStdString(r.TimesText))) << r.TimesText;
  }
  h.click("Image14");
  h.clickRow(2, Qt::ControlModifier);
  if (const char* dir = std::getenv("PW_SCREENSHOT_DIR"))
    w.grab().save(QString::fromUtf8(dir) + "/window-en.png");
  h.runAndWait();
  EXPECT_EQ(h.status(), "3 file(s) split into new files!");
  EXPECT_TRUE(std::filesystem::exists(files.file("a1.txt")));

  const auto texts = WindowTexts(w);
  EXPECT_GT(texts.size(), 60u);
  for (const auto& [where, text] : texts)
    EXPECT_FALSE(HasChinese(text)) << where.toStdString() << ": " << text.toStdString();
}

TEST(WindowLanguage, ChineseStaysTheSourceText) {
  // Switching back and forth leaves the Chinese texts exactly as written.
  { const InLanguage english(Language::English); }
  WindowHarness h;
  EXPECT_EQ(h.status(), "欢迎使用Plinthwick！");
  EXPECT_EQ(Translate("errors", "磁盘空间不足"), "磁盘空间不足");
  const InLanguage english(Language::English);
  EXPECT_EQ(Translate("errors", "磁盘空间不足"), "the disk is full");
}

TEST(WindowLanguage, ForcedChoiceThenTheLocale) {
  struct Case {
    const char *forced, *language, *lcAll, *lcMessages, *lang;
    Language chosen;
  };
  const Case cases[] = {
      {"", "", "", "", "en_US.UTF-8", Language::English},
      {"", "", "", "", "zh_CN.UTF-8", Language::Chinese},
      {"zh_CN", "", "", "", "en_US.UTF-8", Language::Chinese},
      {"en", "", "", "", "zh_CN.UTF-8", Language::English},
      {"", "", "zh_TW.UTF-8", "", "en_US.UTF-8", Language::Chinese},  // LC_ALL before LANG
      {"", "", "", "en_GB.UTF-8", "zh_CN.UTF-8", Language::English},  // LC_MESSAGES before LANG
      {"", "en_GB:zh_CN", "zh_CN.UTF-8", "", "", Language::English},  // LANGUAGE first, its head
      {"", "", "", "", "de_DE.UTF-8", Language::English},             // any other language
      {"", "", "", "", "", Language::Chinese},                        // no locale at all
      {"", "", "C.UTF-8", "", "", Language::Chinese},
      {"", "", "POSIX", "", "en_US.UTF-8", Language::Chinese},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseLanguage(c.forced, c.language, c.lcAll, c.lcMessages, c.lang), c.chosen)
        << c.forced << "|" << c.language << "|" << c.lcAll << "|" << c.lcMessages << "|" << c.lang;
}

}  // namespace
}  // namespace pw
