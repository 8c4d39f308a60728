#include "platform/promo/promo.h"

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/settings.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using Settings = std::vector<std::pair<std::string, std::string>>;

class PromoSettingsFolder : public ::testing::Test {
 protected:
  void SetUp() override { SetAppFolderOverride(dir.str()); }
  void TearDown() override { SetAppFolderOverride({}); }
  std::string ini() { return dir.file("Info.ini"); }
  test::TempDir dir;
};

TEST(PromoSettings, OnlyThePanelKeysAreTakenAndValuesKeepEveryEquals) {
  const std::string page =
      "show1=新版本发布\n"
      "link1=https://a.example/d?x=1&y=2=3\r\n"
      "SHOW2 =  two  \n"
      "no key value here\n"
      "delyuan=1\n"
      "chr=0\n"
      "cle=0\n"
      "LastDay=never\n"
      "FileNameDZB=1\n"
      "Website=https://evil.example/\n"
      "AdPage=http://evil.example/\n"
      "Yanshi=0\n"
      "yanshi=-1\n"
      "link3=\n"
      "=nothing\n";
  const Settings expected = {{"show1", "新版本发布"},
                             {"link1", "https://a.example/d?x=1&y=2=3"},
                             {"show2", "  two  "},
                             {"Yanshi", "0"},
                             {"link3", ""}};
  EXPECT_EQ(PromoSettings(page), expected);
  EXPECT_TRUE(PromoSettings("just a line\nand another\n").empty());
}

TEST_F(PromoSettingsFolder, StoredPageLeavesTheProgramsOwnSettingsAlone) {
  test::WriteFile(ini(), "[main]\ndelyuan=0\nshow1=old\n[Endpoints]\nAdPage=http://127.0.0.1/\n");
  EXPECT_EQ(StorePromoPage("show1=new=er\ndelyuan=1\nAdPage=http://evil.example/\n"), 1);
  EXPECT_EQ(ReadSetting("main", "show1", ""), "new=er");
  EXPECT_EQ(ReadSetting("main", "delyuan", ""), "0");
  EXPECT_EQ(ReadEndpoints().page, "http://127.0.0.1/");
}

TEST_F(PromoSettingsFolder, EndpointsComeFromTheSettingsAndNoPageMeansNoHost) {
  PromoEndpoints e = ReadEndpoints();
  EXPECT_TRUE(e.page.empty());
  EXPECT_TRUE(IsOpenableLink(e.website));
  EXPECT_FALSE(e.mailbox.empty());
  std::string host;
  int port = 0;
  EXPECT_FALSE(PageHost(e, host, port));

  for (const auto& [page, usable, expectHost, expectPort] :
       std::vector<std::tuple<std::string, bool, std::string, int>>{
           {"https://ads.example/ad.html", true, "ads.example", 443},
           {"http://127.0.0.1:8123/ad.html", true, "127.0.0.1", 8123},
           {"file:///etc/passwd", false, "", 0},
           {"ftp://ads.example/ad.html", false, "", 0},
           {"ads.example/ad.html", false, "", 0}}) {
    test::WriteFile(ini(),
                    "[endpoints]\nwebsite=https://maker.example/\nmailbox=help@maker.example\n"
                    "adpage=" +
                        page + "\n");
    e = ReadEndpoints();
    EXPECT_EQ(e.website, "https://maker.example/");
    EXPECT_EQ(e.mailbox, "help@maker.example");
    EXPECT_EQ(PageHost(e, host, port), usable) << page;
    EXPECT_EQ(e.page.empty(), !usable) << page;
    if (usable) {
      EXPECT_EQ(host, expectHost);
      EXPECT_EQ(port, expectPort);
    }
  }
}

TEST_F(PromoSettingsFolder, TheFirstStartOfADayIsDueAndWritesTheDay) {
  EXPECT_TRUE(FirstStartOfDay());  // no "LastDay" yet
  EXPECT_EQ(ReadSetting("main", "LastDay", ""), TodayText());
  EXPECT_FALSE(FirstStartOfDay());  // the same day again
  WriteSetting("main", "LastDay", "1999-01-01");
  EXPECT_TRUE(FirstStartOfDay());
  EXPECT_EQ(ReadSetting("main", "LastDay", ""), TodayText());
}

TEST(PromoLinks, OnlyWebAddressesAndMailLinksMayBeOpened) {
  for (const char* ok : {"http://a.example/", "HTTPS://a.example/p?q=1=2", "mailto:x@a.example",
                         "MailTo:x@a.example?subject=hi&body=a%20b&cc=y@a.example"})
    EXPECT_TRUE(IsOpenableLink(ok)) << ok;
  for (const char* bad :
       {"", "/usr/bin/xterm", "file:///etc/passwd", "C:\\Windows\\system32\\cmd.exe", "yanshi.swf",
        "javascript:alert(1)", "ftp://a.example/", "http://", "mailto:", "https://a.example/\nx",
        "-e http://a.example/", "smb://host/share", "mailto:x@a.example?attach=/etc/passwd",
        "mailto:x@a.example?subject=hi&%41ttachment=~/.ssh/id_rsa"})
    EXPECT_FALSE(IsOpenableLink(bad)) << bad;
}

TEST(PromoLinks, ErrorReportIsAMailLinkWithSubjectAndBody) {
  const std::string link = ErrorReportLink("help@maker.example");
  EXPECT_EQ(
      link.rfind(
          "mailto:help@maker.example?subject=Plinthwick%E9%94%99%E8%AF%AF%E6%8A%A5%E5%91%8A&body=",
          0),
      0u)
      << link;
  EXPECT_NE(link.find("bug..."), std::string::npos);
  EXPECT_TRUE(IsOpenableLink(link));
  EXPECT_EQ(ErrorReportLink(""), "");
  EXPECT_EQ(ErrorReportLink("a@b.example?cc=x@y.example"), "");
}

TEST(PromoPageText, HtmlIsRenderedPlainTextAndGbkIsRead) {
  EXPECT_EQ(PageText("<html><head><title>t=1</title><script>a=1</script></head><body>"
                     "show1=A &amp; B<br>link1=http://a.example/?a=b&amp;c=d<p>show2=x</p>"
                     "\nshow3=joined\nwith=this</body></html>",
                     "text/html; charset=utf-8"),
            "show1=A & B\nlink1=http://a.example/?a=b&c=d\nshow2=x\nshow3=joined with=this");
  EXPECT_EQ(PageText("show1=<b>\nlink1=x", "text/plain"), "show1=<b>\nlink1=x");
  EXPECT_EQ(PageText("<p>show1=a</p>", ""), "show1=a");
  EXPECT_EQ(PageText("show1=\xD6\xD0\xCE\xC4", "text/plain"), "show1=中文");  // GBK
}

}  // namespace
}  // namespace pw
