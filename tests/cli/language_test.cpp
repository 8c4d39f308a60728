// plinthwick-cli speaks the language PLINTHWICK_LANG or the locale chooses.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/database/engine.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

// Chinese characters, or the full-width punctuation that comes with them (UTF-8).
bool HasChinese(const std::string& text) {
  for (std::size_t i = 0; i + 2 < text.size(); ++i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    const auto b2 = static_cast<unsigned char>(text[i + 2]);
    if ((b0 & 0xF0) != 0xE0) continue;
    const unsigned cp = ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu);
    if ((cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3000 && cp <= 0x303F) ||
        (cp >= 0xFF00 && cp <= 0xFFEF))
      return true;
  }
  return false;
}

TEST(CliLanguage, HelpMessagesAndOutcomesFollowTheChoice) {
  // No locale of the test's own machine leaks in: every case sets all of them.
  const std::string none = "LANGUAGE= LC_ALL= LC_MESSAGES= LANG= PLINTHWICK_LANG=";
  struct Case {
    std::string env;
    std::string args;
    int status;
    std::string says;  // on standard output or standard error
    bool english;      // nothing Chinese in either
  };
  const std::vector<Case> cases = {
      {"PLINTHWICK_LANG=en", "--help", 0, "Usage:", true},
      {"PLINTHWICK_LANG=en", "merge txt missing.txt", 1, "missing.txt”: no such file or folder",
       true},
      {"LANG=en_US.UTF-8", "split txt --lines 0 a.txt", 2,
       "--lines needs a whole number above 0 (digits 0-9 only), not “0”", true},
      {"LC_ALL=en_GB.UTF-8 LANG=zh_CN.UTF-8", "split txt --lines 2 day.txt", 0,
       "1 file(s) split into new files!", true},
      {"PLINTHWICK_LANG=en", "split txt --lines 2 --dry-run day.txt", 0, "2 line(s)", true},
      {"PLINTHWICK_LANG=en", "merge xls a.txt", 1,
       "is not an Excel workbook: its content is not recognised", true},
      {"PLINTHWICK_LANG=en", "split mdb short.accdb", 1,
       "short.accdb” is not an Access database file (the file is too short)", true},
      // Refused by the reading program, a process of its own.
      {"PLINTHWICK_LANG=en", "split mdb torn.mdb", 1, "its list of tables cannot be read", true},
      {"PLINTHWICK_LANG=zh_CN LANG=en_US.UTF-8", "merge txt missing.txt", 1, "文件或文件夹不存在",
       false},
      {"", "--help", 0, "用法：", false},  // no locale at all: the program's own Chinese
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::WriteFile(dir.file("a.txt"), "A\n");
    test::WriteFile(dir.file("day.txt"), "T\nx\ny\nz");
    // An Access signature on a file too short to hold a database page.
    test::WriteFile(dir.file("short.accdb"), std::string("\0\1\0\0Standard ACE DB\0", 20));
    // A database whose header is sound and whose table catalog is torn.
    db::CreateDatabaseFile(dir.file("torn.mdb"), 64);
    {
      std::string bytes = test::ReadFile(dir.file("torn.mdb"));
      std::fill(bytes.begin() + 4096, bytes.begin() + 3 * 4096, '\xAB');
      test::WriteFile(dir.file("torn.mdb"), bytes);
    }
    const std::string command = "cd '" + dir.str() + "' && " + none + " " + c.env + " '" +
                                PW_CLI_PATH + "' " + c.args + " >out.log 2>err.log </dev/null";
    const int status = std::system(command.c_str());
    const std::string said =
        test::ReadFile(dir.file("out.log")) + test::ReadFile(dir.file("err.log"));
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.status) << c.env << " " << c.args;
    EXPECT_NE(said.find(c.says), std::string::npos) << c.env << " " << c.args << "\n" << said;
    if (c.english) {
      EXPECT_FALSE(HasChinese(said)) << c.env << " " << c.args << "\n" << said;
    }
  }
}

}  // namespace
}  // namespace pw
