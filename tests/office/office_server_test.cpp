#include "platform/office/office_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

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

// Field `n` (from 3, the state) of /proc/<pid>/stat, "" without such a process.
std::string StatField(pid_t pid, int n) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(in, text);
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return {};
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  for (int i = 3; i <= n && fields >> field; ++i)
    if (i == n) return field;
  return {};
}

// Running, not merely waiting to be reaped.
bool ProcessRuns(pid_t pid) {
  const std::string state = StatField(pid, 3);
  return !state.empty() && state != "Z" && state != "X";
}

// The named sockets that process `pid` listens on, found through the
// sockets it holds open.
std::vector<std::string> PipesOf(pid_t pid) {
  std::set<std::string> inodes;
  std::error_code ec;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  std::vector<std::string> paths;
  std::ifstream table("/proc/net/unix");
  std::string line;
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string num, refs, protocol, flags, type, state, inode, path;
    if (fields >> num >> refs >> protocol >> flags >> type >> state >> inode >> path &&
        inodes.count(inode) != 0 && path.rfind("/", 0) == 0)
      paths.push_back(path);
  }
  return paths;
}

std::string ProfileOf(pid_t office) {
  const std::string cmdline = test::ReadFile("/proc/" + std::to_string(office) + "/cmdline");
  const std::size_t at = cmdline.find("-env:UserInstallation=file://");
  if (at == std::string::npos) return {};
  return cmdline.substr(at + 29, cmdline.find('\0', at) - at - 29);
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

// The server of a program killed outright goes with it, although the thread
// that started it had ended long before; what it left in the temporary folder
// goes at the next start, and only what belongs to programs that are gone.
TEST(OfficeServer, DiesWithItsProgramAndTheNextStartClearsWhatItLeft) {
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  char program[] = PW_SERVER_CHILD;
  char* argv[] = {program, nullptr};
  pid_t child = -1;
  ASSERT_EQ(::posix_spawn(&child, program, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string line;
  char c = 0;
  for (pollfd p{out[0], POLLIN, 0}; ::poll(&p, 1, 60000) == 1 && ::read(out[0], &c, 1) == 1;)
    if (c == '\n')
      break;
    else
      line += c;
  ::close(out[0]);
  const pid_t office = static_cast<pid_t>(std::atoi(line.c_str()));
  ASSERT_GT(office, 0) << "the child did not start a server";
  const std::string profile = ProfileOf(office);
  ASSERT_FALSE(profile.empty());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::vector<std::string> pipes = PipesOf(office);
  EXPECT_FALSE(pipes.empty());
  EXPECT_TRUE(ProcessRuns(office)) << "the server must outlive the thread that started it";

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  const auto killed = std::chrono::steady_clock::now();
  while (ProcessRuns(office) && std::chrono::steady_clock::now() - killed < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(ProcessRuns(office)) << "soffice.bin outlived its program";
  // A kill leaves the profile and the office's single-instance pipe; the
  // next start clears them.
  EXPECT_TRUE(std::filesystem::exists(profile));
  for (const std::string& pipe : pipes) EXPECT_TRUE(std::filesystem::exists(pipe)) << pipe;

  // What a live program owns stays: the test runner is one.
  const pid_t parent = ::getppid();
  const std::string tmp = std::filesystem::temp_directory_path().string();
  const std::string alive =
      tmp + "/pw-office-" + std::to_string(parent) + "-" + StatField(parent, 22) + "-keepme";
  std::filesystem::create_directories(alive + "/user");
  // The pid of a live program that started at another time is a reused pid.
  const std::string reused = tmp + "/pw-office-" + std::to_string(parent) + "-1-reused";
  std::filesystem::create_directories(reused + "/user");

  OfficeServer next;
  next.Start();
  EXPECT_FALSE(std::filesystem::exists(profile));
  EXPECT_FALSE(std::filesystem::exists(reused));
  for (const std::string& pipe : pipes) EXPECT_FALSE(std::filesystem::exists(pipe)) << pipe;
  EXPECT_TRUE(std::filesystem::exists(alive));
  std::filesystem::remove_all(alive);
}

TEST(OfficeServer, HangingServerIsKilledAndTheCallFailsNamingTheFile) {
  TempDir dir;
  const std::string doc = dir.file("slow.fodt");
  WriteFile(doc, test::SimpleFodt({"one"}));
  OfficeServer server;
  server.Start();
  server.SetCallTimeout(std::chrono::seconds(2));
  word::WordApplication app(server);
  const std::vector<std::string> pipes = PipesOf(server.ProcessId());
  EXPECT_FALSE(pipes.empty());
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
  // The killed process's pipes go with its profile.
  server.Shutdown();
  for (const std::string& pipe : pipes) EXPECT_FALSE(std::filesystem::exists(pipe)) << pipe;
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
