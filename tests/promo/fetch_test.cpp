#include "platform/promo/fetch.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include "platform/paths.h"
#include "platform/settings.h"
#include "tests/support/page_server.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::HttpResponse;
using test::PageServer;

// Runs one fetch of `page` to its end on this thread's event loop.
PromoPage Fetch(const std::string& page) {
  PromoEndpoints endpoints;
  endpoints.page = page;
  PromoPage result;
  bool done = false;
  PromoFetch fetch(endpoints, [&](const PromoPage& p) {
    result = p;
    done = true;
  });
  QDeadlineTimer deadline(30000);
  while (!done && !deadline.hasExpired())
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
  EXPECT_TRUE(done) << page;
  EXPECT_TRUE(fetch.finished());
  return result;
}

TEST(PromoFetch, PagesServedOnLoopback) {
  struct Case {
    std::string response;
    bool loaded;
    std::string text;
  } cases[] = {
      {HttpResponse(200, "text/html; charset=utf-8",
                    "<html><body>show1=新<br>link1=https://a.example/?a=b=c<br>plain line"
                    "</body></html>"),
       true, "show1=新\nlink1=https://a.example/?a=b=c\nplain line"},
      {HttpResponse(200, "text/plain", "show2=x\r\nlink2=mailto:a@b.example\r\n"), true,
       "show2=x\r\nlink2=mailto:a@b.example\r\n"},
      {HttpResponse(200, "text/html", "<html><body><h1>Nothing today</h1></body></html>"), true,
       "Nothing today"},
      // An error page is not the promotion, whatever lines it holds.
      {HttpResponse(404, "text/html", "<body>show1=Not Found</body>"), false, ""},
      {HttpResponse(500, "text/plain", "show1=oops"), false, ""},
      // A page far larger than any promotion is dropped.
      {HttpResponse(200, "text/plain", std::string(PromoFetch::kMaxPageBytes + 10, 'x')), false,
       ""},
  };
  for (const Case& c : cases) {
    PageServer server(c.response);
    const PromoPage page = Fetch(server.url());
    EXPECT_TRUE(page.online);
    EXPECT_EQ(page.loaded, c.loaded) << c.response.substr(0, 60) << " " << page.error;
    EXPECT_EQ(page.text, c.text);
    EXPECT_EQ(server.requests, 1);
    EXPECT_NE(server.lastRequest.find("GET /ad.html HTTP/1.1"), std::string::npos);
    EXPECT_EQ(server.connections, 2);  // the connection check, then the page
  }
}

TEST(PromoFetch, RefusedConnectionRequestsNothing) {
  const PromoPage page =
      Fetch("http://127.0.0.1:" + std::to_string(test::RefusedPort()) + "/ad.html");
  EXPECT_FALSE(page.online);
  EXPECT_FALSE(page.loaded);
  EXPECT_FALSE(page.error.empty());
}

TEST(PromoFetch, WithoutAPageNothingIsSent) {
  const PromoPage page = Fetch("");
  EXPECT_FALSE(page.online);
  EXPECT_FALSE(page.loaded);
}

TEST(PromoFetch, DestroyedBeforeTheAnswerNeverCallsBack) {
  PageServer server(HttpResponse(200, "text/plain", "show1=x"));
  PromoEndpoints endpoints;
  endpoints.page = server.url();
  bool called = false;
  {
    PromoFetch fetch(endpoints, [&](const PromoPage&) { called = true; });
  }
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_FALSE(called);
}

// Values longer than the settings store keeps are cut to its limit, on a
// character boundary, and stored; the keys around them are stored whole.
TEST(PromoFetch, OverLongValuesAreCutToTheStoresLimit) {
  test::TempDir dir;
  SetAppFolderOverride(dir.str());
  std::string wide;  // three bytes a character
  for (int i = 0; i < 3000; ++i) wide += "字";
  const std::string ascii(kMaxSettingChars - 1, 'a');
  const std::string link = "https://a.example/" + std::string(4000, 'p');
  PageServer server(HttpResponse(200, "text/plain; charset=utf-8",
                                 "show1=" + wide + "\nshow2=" + ascii + "字字字\nlink1=" + link +
                                     "\nshow3=short\nYanshi=2\n"));
  const PromoPage page = Fetch(server.url());
  ASSERT_TRUE(page.loaded) << page.error;
  std::string error;
  EXPECT_EQ(StorePromoPage(page.text, &error), 5) << error;
  EXPECT_EQ(ReadSetting("Main", "show1", ""), wide.substr(0, kMaxSettingChars * 3));
  EXPECT_EQ(ReadSetting("Main", "show2", ""), ascii + "字");
  EXPECT_EQ(ReadSetting("Main", "link1", ""), link.substr(0, kMaxSettingChars));
  EXPECT_EQ(ReadSetting("Main", "show3", ""), "short");
  EXPECT_EQ(ReadSetting("Main", "Yanshi", ""), "2");
  // What is on disk is what is read back: nothing beyond the limit was written.
  const std::string ini = test::ReadFile(dir.file("Info.ini"));
  EXPECT_NE(ini.find("show1=" + wide.substr(0, kMaxSettingChars * 3) + "\n"), std::string::npos);
  EXPECT_EQ(ini.find(link.substr(0, kMaxSettingChars + 1)), std::string::npos);
  SetAppFolderOverride({});
}

}  // namespace
}  // namespace pw
