#include <gtest/gtest.h>
#include <QAction>
#include <QMenu>

#include "platform/promo/promo.h"
#include "platform/settings.h"
#include "tests/app/window_harness.h"
#include "tests/support/page_server.h"

namespace pw {
namespace {

using test::HttpResponse;
using test::PageServer;
using test::WindowHarness;

std::string Setting(WindowHarness& h, const char* key) {
  return ReadIniValue(h.appDir.file("Info.ini"), "main", key, "<none>");
}

std::string LabelText(WindowHarness& h, const char* name) {
  return h.find<QLabel>(name)->text().toStdString();
}

void WaitForPage(WindowHarness& h) {
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().promoFetchInProgress(); }));
}

TEST(Promotion, FirstStartOfTheDayStoresThePanelKeysOnlyAndShowsThem) {
  PageServer server(
      HttpResponse(200, "text/html; charset=utf-8",
                   "<html><body>show1=甲<br>show2=乙=丙<br>show3=&lt;b&gt;丁&lt;/b&gt;<br>"
                   "link1=https://a.example/p?a=b&amp;c=d<br>delyuan=1<br>cle=0<br>"
                   "LastDay=x<br>FileNameDZB=1</body></html>"));
  struct Case {
    const char* lastDay;  // nullptr: never started
    bool fetched;
  } cases[] = {{nullptr, true}, {"1999-01-01", true}, {"today", false}};
  int requests = 0;
  for (const Case& c : cases) {
    WindowHarness h;
    std::string ini = "[Main]\nYanshi=3\n[main]\nshow2=old\n";
    if (c.lastDay != nullptr)
      ini += std::string("LastDay=") +
             (std::string(c.lastDay) == "today" ? TodayText() : c.lastDay) + "\n";
    test::WriteFile(h.appDir.file("Info.ini"), ini + "[Endpoints]\nAdPage=" + server.url() + "\n");
    h.window();
    WaitForPage(h);
    requests += c.fetched ? 1 : 0;
    EXPECT_EQ(server.requests, requests) << (c.lastDay ? c.lastDay : "none");
    EXPECT_EQ(Setting(h, "LastDay"), TodayText());
    EXPECT_EQ(LabelText(h, "Label28"), c.fetched ? "乙=丙" : "old");
    if (!c.fetched) continue;
    EXPECT_EQ(LabelText(h, "Label27"), "甲");
    EXPECT_EQ(LabelText(h, "Label29"), "<b>丁</b>");  // shown as it stands, never as markup
    EXPECT_EQ(h.find<QLabel>("Label29")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Setting(h, "link1"), "https://a.example/p?a=b&c=d");
    EXPECT_EQ(Setting(h, "delyuan"), "<none>");
    EXPECT_EQ(Setting(h, "cle"), "<none>");
    EXPECT_EQ(Setting(h, "FileNameDZB"), "<none>");
  }
}

TEST(Promotion, FailedFetchesLeaveTheStoredTextsAndUseUpTheDay) {
  PageServer errorPage(HttpResponse(404, "text/html", "<body>show1=Not Found</body>"));
  PageServer emptyPage(HttpResponse(200, "text/html", "<body>Nothing today</body>"));
  for (const std::string& page :
       {errorPage.url(), emptyPage.url(),
        "http://127.0.0.1:" + std::to_string(test::RefusedPort()) + "/ad.html", std::string()}) {
    WindowHarness h;
    test::WriteFile(h.appDir.file("Info.ini"),
                    "[main]\nshow1=kept\nLastDay=1999-01-01\n"
                    "[Endpoints]\nAdPage=" +
                        page + "\n");
    h.window();
    WaitForPage(h);
    EXPECT_EQ(LabelText(h, "Label27"), "kept") << page;
    EXPECT_EQ(Setting(h, "show1"), "kept") << page;
    EXPECT_EQ(Setting(h, "LastDay"), TodayText()) << page;
  }
  EXPECT_EQ(errorPage.requests, 1);
  EXPECT_EQ(emptyPage.requests, 1);
}

TEST(Promotion, LinkLabelsOpenOnlyWebAndMailTargets) {
  struct Case {
    const char* link;
    bool opened;
  } cases[] = {
      {"https://a.example/p?a=b=c", true}, {"mailto:x@a.example", true},  {"", false},
      {"/usr/bin/xterm", false},           {"file:///etc/passwd", false}, {"yanshi.swf", false}};
  for (const Case& c : cases) {
    WindowHarness h;
    test::WriteFile(h.appDir.file("Info.ini"),
                    std::string("[Main]\nYanshi=3\nshow1=a\nshow2=b\nshow3=c\nlink1=") + c.link +
                        "\nlink2=" + c.link + "\nlink3=" + c.link + "\n");
    for (const char* label : {"Label27", "Label28", "Label29"}) h.click(label);
    const std::vector<std::string> expected =
        c.opened ? std::vector<std::string>(3, c.link) : std::vector<std::string>{};
    EXPECT_EQ(h.opened, expected) << c.link;
  }
}

TEST(Promotion, EachLabelOpensItsOwnLink) {
  WindowHarness h;
  test::WriteFile(h.appDir.file("Info.ini"),
                  "[Main]\nYanshi=3\nlink1=http://one.example/\nlink2=http://two.example/\n"
                  "link3=http://three.example/\n");
  h.click("Label29");
  h.click("Label27");
  EXPECT_EQ(h.opened, (std::vector<std::string>{"http://three.example/", "http://one.example/"}));
}

TEST(Promotion, MenuCommandsHandTheirTargetsToTheShell) {
  WindowHarness h;
  test::WriteFile(h.appDir.file("Info.ini"),
                  "[Main]\nYanshi=3\n[Endpoints]\nWebsite=https://maker.example/\n"
                  "Mailbox=help@maker.example\n");
  auto* menu = h.find<QMenu>("PopupMenu1");
  std::vector<std::string> texts;
  for (QAction* a : menu->actions())
    texts.push_back(a->isSeparator() ? "-" : a->text().toStdString());
  EXPECT_EQ(texts,
            (std::vector<std::string>{"操作演示", "-", "错误报告", "官方网站", "-", "关于..."}));

  for (const char* item : {"N1", "N3", "N4"}) menu->findChild<QAction*>(item)->trigger();
  h.click("Label4");
  ASSERT_EQ(h.opened.size(), 3u);  // "操作演示" shows the built-in guide instead
  EXPECT_EQ(h.opened[0], ErrorReportLink("help@maker.example"));
  EXPECT_EQ(h.opened[1], "https://maker.example/");
  EXPECT_EQ(h.opened[2], "https://maker.example/");

  menu->findChild<QAction*>("N6")->trigger();
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].find("Version 2.2.1"), std::string::npos);
  EXPECT_EQ(h.opened.size(), 3u);
}

TEST(Ticker, LinesTakeTurnsEveryTenSeconds) {
  // Ticks of the ten-second timer, each followed by this many 15 ms steps.
  struct Case {
    int slowTicks, steps;
    TickerState expected;
  } cases[] = {
      {0, 0, {4, 22, false}},    // at start
      {1, 0, {4, 22, true}},     // scrolling starts
      {1, 1, {2, 20, true}},     // the outgoing line passes 2 without stopping
      {1, 10, {-16, 2, false}},  // Label29 rests at the top
      {1, 30, {-16, 2, false}},  // further steps change nothing
      {2, 0, {22, 2, true}},     // Label28 goes back below the strip
      {2, 10, {2, -18, false}},  // and scrolls in
      {3, 10, {-18, 2, false}},  // Label29 again
  };
  for (const Case& c : cases) {
    TickerState s;
    for (int t = 0; t < c.slowTicks; ++t) {
      s = TickerSlowTick(s);
      for (int i = 0; i < (t + 1 == c.slowTicks ? c.steps : 30); ++i) s = TickerStep(s);
    }
    EXPECT_EQ(s.top28, c.expected.top28) << c.slowTicks << "/" << c.steps;
    EXPECT_EQ(s.top29, c.expected.top29) << c.slowTicks << "/" << c.steps;
    EXPECT_EQ(s.scrolling, c.expected.scrolling) << c.slowTicks << "/" << c.steps;
  }

  WindowHarness h;
  TMainForm& w = h.window();
  w.Timer1Timer();
  for (int i = 0; i < 10; ++i) w.Timer2Timer();
  EXPECT_EQ(h.find<QLabel>("Label28")->y(), -16);
  EXPECT_EQ(h.find<QLabel>("Label29")->y(), 2);
  EXPECT_FALSE(w.ticker().scrolling);
  EXPECT_EQ(h.find<QLabel>("Label29")->parentWidget()->objectName(), "RzPanel19");
}

}  // namespace
}  // namespace pw
