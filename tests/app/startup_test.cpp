#include <gtest/gtest.h>

#include "platform/promo/promo.h"
#include "platform/settings.h"
#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::WindowHarness;

bool Ticked(WindowHarness& h, const char* name) {
  return h.find<QCheckBox>(name)->isChecked();
}

TEST(Startup, WithoutSettingsTheDesignStateStandsAndOnlyTheStartCountAndDayAreWritten) {
  WindowHarness h;
  h.window();
  EXPECT_TRUE(Ticked(h, "CheckBox2"));
  EXPECT_FALSE(Ticked(h, "CheckBox11"));
  EXPECT_TRUE(Ticked(h, "CheckBox12"));
  EXPECT_EQ(test::ReadFile(h.appDir.file("Info.ini")),
            "[Main]\nYanshi=1\nLastDay=" + TodayText() + "\n");
}

TEST(Startup, StoredKeysApplyInTheirOrder) {
  struct Case {
    const char* ini;
    bool chr, delyuan, cle;
    const char* chrAfter;  // "chr" stored afterwards
  } cases[] = {
      {"[Main]\nFileNameDZB=1\n[main]\nchr=1\n", false, false, true, "0"},
      {"[main]\nchr= 1\ndelyuan=1\ncle=0\n", true, true, false, "1"},  // value trimmed by the file
      {"[MAIN]\nchr=0\nDelYuan=1\n", false, true, true, "0"},
  };
  for (const Case& c : cases) {
    WindowHarness h;
    test::WriteFile(h.appDir.file("Info.ini"), c.ini);
    h.window();
    EXPECT_EQ(Ticked(h, "CheckBox2"), c.chr) << c.ini;
    EXPECT_EQ(Ticked(h, "CheckBox11"), c.delyuan) << c.ini;
    EXPECT_EQ(Ticked(h, "CheckBox12"), c.cle) << c.ini;
    EXPECT_EQ(ReadIniValue(h.appDir.file("Info.ini"), "main", "chr", "?"), c.chrAfter) << c.ini;
  }
}

TEST(Startup, StartCountStopsAtThreeAndABadCountDoesNotSkipTheRest) {
  for (const auto& [stored, after] :
       std::vector<std::pair<std::string, std::string>>{{"2", "3"}, {"3", "3"}, {"abc", "1"}}) {
    WindowHarness h;
    test::WriteFile(h.appDir.file("Info.ini"), "[Main]\nYanshi=" + stored + "\n[main]\ncle=0\n");
    h.window();
    EXPECT_EQ(ReadIniValue(h.appDir.file("Info.ini"), "main", "yanshi", ""), after);
    EXPECT_FALSE(Ticked(h, "CheckBox12")) << stored;
  }
}

TEST(Startup, BoxChangesAreStoredAtOnceAndLinkTextsShow) {
  WindowHarness h;
  test::WriteFile(h.appDir.file("Info.ini"), "[main]\nshow1=第一\nshow3=third\n");
  h.window();
  EXPECT_EQ(h.find<QLabel>("Label27")->text().toStdString(), "第一");
  EXPECT_EQ(h.find<QLabel>("Label29")->text().toStdString(), "third");
  h.click("CheckBox11");
  EXPECT_EQ(ReadIniValue(h.appDir.file("Info.ini"), "main", "delyuan", ""), "1");
  h.click("CheckBox12");
  EXPECT_EQ(ReadIniValue(h.appDir.file("Info.ini"), "main", "cle", ""), "0");
}

}  // namespace
}  // namespace pw
