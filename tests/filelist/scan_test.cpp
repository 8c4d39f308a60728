#include "filelist/scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

TEST(Scan, ExtensionTestIsTheSetSubstringTest) {
  struct Case {
    const char* name;
    const char* set;
    bool listed;
  } cases[] = {
      {"a.doc", ".doc.docx", true},   {"a.DOCX", ".doc.docx", true}, {"a.do", ".doc.docx", true},
      {"a.xlsx", ".doc.docx", false}, {"a.accdb", ".mdb", false},    {"a.MDB", ".mdb", true},
      {"noext", ".txt", false},       {"a.txt ", ".txt", true},      {"a.tx", ".txt", true},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtensionMatches(c.name, c.set), c.listed) << c.name;
}

TEST(Scan, SizeAndKindTexts) {
  EXPECT_EQ(SizeTextOf(0), "0Byte");
  EXPECT_EQ(SizeTextOf(1023), "1023Byte");
  EXPECT_EQ(SizeTextOf(1024), "1K");
  EXPECT_EQ(SizeTextOf(1535), "1K");
  EXPECT_EQ(SizeTextOf(1048575), "1023K");
  EXPECT_EQ(SizeTextOf(1048576), "1M");
  EXPECT_EQ(SizeTextOf(5ULL << 32), "20480M");  // beyond 32 bits
  EXPECT_EQ(KindNumber("a.DOCX"), 1);
  EXPECT_EQ(KindNumber("a.xls"), 2);
  EXPECT_EQ(KindNumber("a.accdb"), 4);
  EXPECT_EQ(KindNumber("a.txt"), 6);
  EXPECT_EQ(KindNumber("a.bin"), 0);
}

TEST(Scan, TimesShowDateAndTimeOrJustTheDateAtMidnight) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  EXPECT_EQ(TimeTextOf(0), "1970/1/1");  // before 1980, still a real date
  EXPECT_EQ(TimeTextOf(1709647629), "2024/3/5 14:07:09");
}

TEST(Scan, RecordCarriesNameSizeTimesAndPath) {
  test::TempDir dir;
  test::WriteFile(dir.file("报告.final.txt"), std::string(1536, 'x'));
  const FileRecord r = MakeRecord(dir.str(), "报告.final.txt");
  EXPECT_EQ(r.BaseName, "报告.final");
  EXPECT_EQ(r.SizeText, "大小：1K");
  EXPECT_EQ(r.FullPath, dir.str() + "/报告.final.txt");
  EXPECT_EQ(r.TimesText.rfind("修改：", 0), 0u);
  EXPECT_NE(r.TimesText.find("     创建："), std::string::npos);
  const FileRecord gone = MakeRecord(dir.str(), "missing.txt");
  EXPECT_EQ(gone.SizeText, "大小：未知");
  EXPECT_EQ(gone.TimesText, "修改：未知     创建：未知");
}

class ScanTree : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir.file("b.txt"), "b");
    test::WriteFile(dir.file("A.TXT"), "a");
    test::WriteFile(dir.file("c.doc"), "c");
    test::WriteFile(dir.file("sub/d.txt"), "d");
    test::WriteFile(dir.file("sub/deeper/e.txt"), "e");
    test::WriteFile(dir.file(".hidden/f.txt"), "f");
    fs::create_directories(dir.file("folder.txt"));                 // a folder, not a file
    test::WriteFile(dir.file("\xB1\xA8\xB8\xE6.txt"), "gbk name");  // 报告 in GBK
    fs::create_directory_symlink(dir.str(), dir.file("sub/loop"));  // a link back up
    ::mkfifo(dir.file("pipe.txt").c_str(), 0600);                   // never opened
  }

  std::vector<std::string> Scan(bool recursive) {
    std::vector<std::string> found;
    const ScanResult result = ScanFolder(dir.str(), {".txt", recursive}, [&](FileRecord&& r) {
      found.push_back(r.FullPath.substr(dir.str().size() + 1));
    });
    EXPECT_TRUE(result.ok);
    return found;
  }

  test::TempDir dir;
};

TEST_F(ScanTree, ListsFilesDepthFirstInNameOrderWithoutFoldersHiddenFoldersOrLoops) {
  EXPECT_EQ(Scan(true), (std::vector<std::string>{"A.TXT", "b.txt", "sub/d.txt", "sub/deeper/e.txt",
                                                  "\xB1\xA8\xB8\xE6.txt"}));
}

TEST_F(ScanTree, UntickedSubfoldersBoxKeepsToTheChosenFolder) {
  EXPECT_EQ(Scan(false), (std::vector<std::string>{"A.TXT", "b.txt", "\xB1\xA8\xB8\xE6.txt"}));
}

TEST_F(ScanTree, MissingFolderIsReportedAndCancelStops) {
  EXPECT_FALSE(ScanFolder(dir.file("nope"), {".txt", true}, [](FileRecord&&) {}).ok);
  std::atomic<bool> cancel{true};
  int count = 0;
  ScanFolder(
      dir.str(), {".txt", true}, [&](FileRecord&&) { ++count; }, &cancel);
  EXPECT_EQ(count, 0);
}

TEST_F(ScanTree, UnreadableSubfolderIsSkippedAndCounted) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every folder";
  fs::permissions(dir.file("sub"), fs::perms::none);
  std::vector<std::string> found;
  const ScanResult result = ScanFolder(dir.str(), {".txt", true}, [&](FileRecord&&) {});
  fs::permissions(dir.file("sub"), fs::perms::owner_all);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.unreadableFolders, 1);
}

}  // namespace
}  // namespace pw
