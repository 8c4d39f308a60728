#include "platform/office/office_server.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "platform/office/office_uno.h"
#include "platform/office/word.h"
#include "tests/office/flat_docs.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::TempDir;
using test::WriteFile;

bool ProcessExists(pid_t pid) {
  return pid > 0 && ::kill(pid, 0) == 0;
}

TEST(OfficeServer, StartsPrivatelyAndLeavesNothingBehind) {
  OfficeServer server;
  server.Start();
  const pid_t pid = server.ProcessId();
  ASSERT_TRUE(server.Running());
  ASSERT_TRUE(ProcessExists(pid));
  server.Start();  // already running: the same process
  EXPECT_EQ(server.ProcessId(), pid);

  // The profile is a private temporary folder, never the user's.
  const std::string cmdline = test::ReadFile("/proc/" + std::to_string(pid) + "/cmdline");
  const std::string tmp = std::filesystem::temp_directory_path().string();
  const std::size_t at = cmdline.find("-env:UserInstallation=file://");
  ASSERT_NE(at, std::string::npos);
  const std::string profileUrl = cmdline.substr(at + 29, cmdline.find('\0', at) - at - 29);
  EXPECT_EQ(profileUrl.rfind(tmp + "/pw-office-", 0), 0u) << profileUrl;
  EXPECT_NE(cmdline.find("--headless"), std::string::npos);
  EXPECT_NE(cmdline.find("--accept=pipe,name=pw-office-"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(profileUrl));
  // The agent built with the program runs inside this process.
  EXPECT_TRUE(server.impl().agent.is());

  server.Shutdown();
  EXPECT_FALSE(server.Running());
  EXPECT_FALSE(ProcessExists(pid));
  EXPECT_FALSE(std::filesystem::exists(profileUrl));
}

TEST(OfficeServer, HangingServerIsKilledAndTheCallFailsNamingTheFile) {
  TempDir dir;
  const std::string doc = dir.file("slow.fodt");
  WriteFile(doc, test::SimpleFodt({"one"}));
  OfficeServer server;
  server.Start();
  server.SetCallTimeout(std::chrono::seconds(2));
  word::WordApplication app(server);
  ::kill(server.ProcessId(), SIGSTOP);  // the server stops answering
  try {
    app.Documents().Open(doc);
    FAIL() << "opening should fail";
  } catch (const OfficeError& e) {
    EXPECT_EQ(e.file(), doc);
    EXPECT_NE(e.cause().find("没有响应"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("slow.fodt"), std::string::npos);
  }
  EXPECT_FALSE(server.Running());
  // Later calls fail at once instead of hanging.
  EXPECT_THROW(app.Documents().Add(), OfficeError);
}

TEST(OfficeServer, ConvertsSpreadsheetsBothWaysAndRefusesOversizedXls) {
  TempDir dir;
  const std::string small = dir.file("small.fods");
  WriteFile(small, test::MakeFods({{0, 0, "name"}, {1, 2, "值"}}));
  OfficeServer server;
  server.ConvertSpreadsheet(small, dir.file("small.xlsx"), "Calc MS Excel 2007 XML");
  server.ConvertSpreadsheet(dir.file("small.xlsx"), dir.file("small.xls"), "MS Excel 97");
  server.ConvertSpreadsheet(dir.file("small.xls"), dir.file("back.xlsx"), "Calc MS Excel 2007 XML");
  EXPECT_EQ(test::ReadFile(dir.file("small.xls")).substr(0, 4), "\xD0\xCF\x11\xE0");
  EXPECT_EQ(test::ReadFile(dir.file("back.xlsx")).substr(0, 2), "PK");

  struct Case {
    const char* name;
    std::vector<test::Cell> cells;
    const char* cause;
  };
  const Case cases[] = {
      {"tall.fods", {{0, 0, "head"}, {70000, 0, "tail"}}, "65536"},
      {"wide.fods", {{0, 300, "far"}}, "256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.file(c.name), test::MakeFods(c.cells));
    try {
      server.ConvertSpreadsheet(dir.file(c.name), dir.file("out.xls"), "MS Excel 97");
      FAIL() << "an oversized sheet must not be saved as .xls";
    } catch (const OfficeError& e) {
      EXPECT_NE(e.cause().find(c.cause), std::string::npos) << e.what();
      EXPECT_NE(e.cause().find("Data"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.xls")));
  }
  // No temporary save files are left behind.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
    EXPECT_EQ(entry.path().filename().string().rfind(".~pw-", 0), std::string::npos);
    ++files;
  }
  EXPECT_EQ(files, 6);
}

}  // namespace
}  // namespace pw
