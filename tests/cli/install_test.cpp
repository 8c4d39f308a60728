// An installed copy: `cmake --install` into a fresh DESTDIR, then the
// installed programs run from there, away from the build tree.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>

#include "platform/database/engine.h"
#include "platform/database/jet_writer.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

struct Result {
  int status = -1;
  std::string out;  // standard output and error together
};

Result Shell(const std::string& command) {
  Result r;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen((command + " 2>&1").c_str(), "r"), ::pclose);
  if (!pipe) return r;
  char buf[4096];
  while (const std::size_t n = std::fread(buf, 1, sizeof buf, pipe.get())) r.out.append(buf, n);
  const int status = ::pclose(pipe.release());
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool HasProgram(const std::string& name) {
  return Shell("command -v " + name).status == 0;
}

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root = std::make_unique<test::TempDir>();
    const Result r = Shell("DESTDIR='" + root->file("dest") +
                           "' '" PW_CMAKE "' --install '" PW_BUILD_DIR "' --prefix /usr");
    installLog = r.out;
    installed = r.status == 0;
  }
  static void TearDownTestSuite() { root.reset(); }
  void SetUp() override { ASSERT_TRUE(installed) << installLog; }

  static std::string Usr(const std::string& path) { return root->file("dest/usr/" + path); }
  // The installed command line, with a home of its own.
  static Result Cli(const test::TempDir& dir, const std::string& args) {
    return Shell("cd '" + dir.str() + "' && HOME='" + dir.file("home") + "' XDG_CONFIG_HOME= " +
                 "XDG_DATA_HOME= '" + Usr("bin/plinthwick-cli") + "' " + args + " </dev/null");
  }

  static inline std::unique_ptr<test::TempDir> root;
  static inline bool installed = false;
  static inline std::string installLog;
};

TEST_F(Installed, EveryPieceIsInItsPlace) {
  const std::string id = "org.plinthwick.Plinthwick";
  std::vector<std::string> files = {
      "bin/plinthwick",
      "bin/plinthwick-cli",
      "lib/plinthwick/plinthwick-mdb-reader",
      "lib/plinthwick/plinthwick-office-agent.so",
      "share/applications/" + id + ".desktop",
      "share/metainfo/" + id + ".metainfo.xml",
      "share/icons/hicolor/scalable/apps/" + id + ".svg",
      "share/man/man1/plinthwick-cli.1.gz",
  };
  for (const int size : {16, 24, 32, 48, 64, 128, 256})
    files.push_back("share/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) +
                    "/apps/" + id + ".png");
  for (const std::string& file : files) {
    EXPECT_TRUE(fs::is_regular_file(Usr(file))) << file;
    if (file.ends_with(".png")) {
      EXPECT_EQ(ReadFile(Usr(file)).substr(1, 3), "PNG") << file;
    }
  }
  // Every library the programs link is found where they are installed.
  for (const std::string program :
       {"bin/plinthwick", "bin/plinthwick-cli", "lib/plinthwick/plinthwick-mdb-reader"}) {
    const Result ldd = Shell("ldd '" + Usr(program) + "'");
    EXPECT_EQ(ldd.status, 0) << program << "\n" << ldd.out;
    EXPECT_EQ(ldd.out.find("not found"), std::string::npos) << program << "\n" << ldd.out;
  }
  // The menu entry starts the installed window with the installed icon.
  const std::string desktop = ReadFile(Usr("share/applications/" + id + ".desktop"));
  EXPECT_NE(desktop.find("\nExec=plinthwick\n"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("\nIcon=" + id + "\n"), std::string::npos) << desktop;
  if (HasProgram("desktop-file-validate")) {
    const Result r =
        Shell("desktop-file-validate '" + Usr("share/applications/" + id + ".desktop") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  }
  if (HasProgram("appstreamcli")) {
    const Result r = Shell("appstreamcli validate --no-net '" +
                           Usr("share/metainfo/" + id + ".metainfo.xml") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
  }
}

// The manual page tells of every option --help lists.
TEST_F(Installed, TheManualPageCoversEveryOption) {
  test::TempDir dir;
  const Result help = Cli(dir, "--help");
  ASSERT_EQ(help.status, 0) << help.out;
  const Result page = Shell("gzip -dc '" + Usr("share/man/man1/plinthwick-cli.1.gz") + "'");
  ASSERT_EQ(page.status, 0) << page.out;
  // In the page's source a hyphen is written "\-".
  const std::string text = std::regex_replace(page.out, std::regex(R"(\\-)"), "-");
  std::set<std::string> options;
  const std::regex option(R"(--[a-z][a-z-]*)");
  for (auto it = std::sregex_iterator(help.out.begin(), help.out.end(), option);
       it != std::sregex_iterator(); ++it)
    options.insert(it->str());
  EXPECT_GT(options.size(), 20u);
  for (const std::string& name : options)
    EXPECT_NE(text.find(name), std::string::npos) << name << " is missing from the manual page";
}

// The installed command line merges text, and reads databases through the
// reading program in its own helper folder; it keeps its files in the
// user's folders, never beside itself, though that folder is writable.
TEST_F(Installed, TheInstalledCommandLineRunsAndKeepsItsFolderClean) {
  test::TempDir dir;
  WriteFile(dir.file("a.txt"), "A\n");
  WriteFile(dir.file("b.txt"), "B\n");
  const Result merge = Cli(dir, "merge txt -o merged a.txt b.txt");
  EXPECT_EQ(merge.status, 0) << merge.out;
  EXPECT_EQ(ReadFile(dir.file("merged.txt")), "A\nB\n");

  db::CreateDatabaseFile(dir.file("x.mdb"), 64);
  {
    db::JetWriter w(dir.file("x.mdb"));
    w.CreateTable("T", "name");
    w.AppendRecord("T", {std::string("one")});
    w.AppendRecord("T", {std::string("two")});
  }
  const Result db = Cli(dir, "merge mdb --format mdb -o joined x.mdb");
  EXPECT_EQ(db.status, 0) << db.out;
  EXPECT_TRUE(fs::exists(dir.file("joined.mdb"))) << db.out;

  std::set<std::string> bin;
  for (const auto& entry : fs::directory_iterator(Usr("bin")))
    bin.insert(entry.path().filename().string());
  EXPECT_EQ(bin, (std::set<std::string>{"plinthwick", "plinthwick-cli"}));
}

// The Debian package holds the installed copy under /usr and declares what it
// needs at run time beyond the libraries it links.
TEST_F(Installed, TheDebianPackageCarriesTheCopyAndItsDependencies) {
  if (!HasProgram("cpack") || !HasProgram("dpkg-deb")) GTEST_SKIP() << "cpack or dpkg-deb missing";
  test::TempDir dir;
  const Result pack = Shell("cd '" + dir.str() +
                            "' && cpack -G DEB --config '" PW_BUILD_DIR "/CPackConfig.cmake' -B '" +
                            dir.str() + "'");
  ASSERT_EQ(pack.status, 0) << pack.out;
  std::string deb;
  for (const auto& entry : fs::directory_iterator(dir.str()))
    if (entry.path().extension() == ".deb") deb = entry.path().string();
  ASSERT_NE(deb, "") << pack.out;
  EXPECT_TRUE(fs::path(deb).filename().string().starts_with("plinthwick_")) << deb;
  const Result contents = Shell("dpkg-deb -c '" + deb + "'");
  for (const std::string file :
       {"./usr/bin/plinthwick-cli", "./usr/lib/plinthwick/plinthwick-mdb-reader",
        "./usr/lib/plinthwick/plinthwick-office-agent.so",
        "./usr/share/applications/org.plinthwick.Plinthwick.desktop"})
    EXPECT_NE(contents.out.find(" " + file + "\n"), std::string::npos) << file << contents.out;
  const Result depends = Shell("dpkg-deb -f '" + deb + "' Depends");
  for (const std::string package : {"libreoffice-writer", "libreoffice-calc", "qt6-qpa-plugins",
                                    "libmdb3", "libqt6widgets6", "libzip4", "libexpat1"})
    EXPECT_NE(depends.out.find(package), std::string::npos) << package << "\n" << depends.out;
  // The -nogui builds of LibreOffice abort on any document with a comment.
  EXPECT_EQ(depends.out.find("nogui"), std::string::npos) << depends.out;
}

}  // namespace
}  // namespace pw
