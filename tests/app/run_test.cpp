#include <gtest/gtest.h>
#include <QProgressBar>
#include <algorithm>
#include <cstdlib>

#include "tests/app/window_harness.h"

namespace pw {
namespace {

using test::ReadFile;
using test::WindowHarness;

class WindowRun : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* n : {"a", "b", "c", "d"})
      test::WriteFile(files.file(std::string(n) + ".txt"), std::string(n) + "\n");
  }
  std::vector<std::string> names() {
    std::vector<std::string> out;
    for (const std::string& p : h.listedPaths()) out.push_back(p.substr(files.str().size() + 1));
    return out;
  }
  test::TempDir files;
  WindowHarness h;
};

TEST_F(WindowRun, MergeFollowsTheListOrderAndFinishedRowsLeave) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.clickRow(2);
  h.click("Image12");                  // c above b
  h.clickRow(0, Qt::ControlModifier);  // a, c chosen; b, d not
  h.runAndWait();
  EXPECT_EQ(ReadFile(files.file("新文档.txt")), "a\nc\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"b.txt", "d.txt"}));
  EXPECT_EQ(h.status(), "2 个文件合并生成新文件：" + files.str() + "/新文档.txt");
  EXPECT_FALSE(h.find("RzPanel11")->isVisible());
  EXPECT_FALSE(h.find("StopButton")->isVisible());
  EXPECT_TRUE(h.find("Image11")->isEnabled());
  EXPECT_TRUE(h.messages.empty());
}

TEST_F(WindowRun, RowsStayWhenTheRemoveBoxIsUnticked) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.click("CheckBox12");
  h.click("Image14");
  h.runAndWait();
  EXPECT_EQ(ReadFile(files.file("新文档.txt")), "a\nb\nc\nd\n");
  EXPECT_EQ(names().size(), 4u);
}

TEST_F(WindowRun, NothingChosenIsRefusedAndSplitWritesPartsBesideTheSource) {
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  h.click("Image11");
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_EQ(h.messages[0], "请先选中需操作的文档，可多选！");
  test::WriteFile(files.file("a.txt"), "title\n1\n2\n3\n");
  h.clickRow(0);
  h.runAndWait();
  EXPECT_EQ(ReadFile(files.file("a1.txt")), "title\r\n1\r\n");
  EXPECT_EQ(ReadFile(files.file("a2.txt")), "title\r\n2\r\n3\r\n");
  EXPECT_EQ(h.status(), "1 个文件已被分割，并生成了新文件！");
}

TEST_F(WindowRun, MergeOntoItsOwnSourceIsRefusedWithTheFileNamed) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.find<QLineEdit>("Edit3")->setText("a");
  h.click("Image14");
  h.runAndWait();
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].find("a.txt"), std::string::npos) << h.messages[0];
  EXPECT_EQ(ReadFile(files.file("a.txt")), "a\n");
  EXPECT_EQ(names().size(), 4u);
  EXPECT_EQ(h.status(), h.messages[0]);  // why it was refused, not a file in progress
}

TEST_F(WindowRun, AFileGoneSinceTheScanIsNamedBeforeAnythingIsWritten) {
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  std::filesystem::remove(files.file("c.txt"));
  h.click("Image14");
  h.runAndWait();
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].find("c.txt"), std::string::npos) << h.messages[0];
  EXPECT_FALSE(std::filesystem::exists(files.file("新文档.txt")));
  EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));
  EXPECT_FALSE(h.window().StopFlag);
}

TEST_F(WindowRun, AFailureNamesTheFileKeepsFinishedWorkAndRowsInStep) {
  // The second file cannot be split (UTF-16) after the first one's parts are written.
  test::WriteFile(files.file("b.txt"), std::string("\xFF\xFEt\0\n\0", 6));
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  h.click("Image14");
  h.runAndWait();
  ASSERT_EQ(h.messages.size(), 1u);
  EXPECT_NE(h.messages[0].find("b.txt"), std::string::npos) << h.messages[0];
  EXPECT_EQ(h.status(), h.messages[0]);  // not the file it was at
  EXPECT_TRUE(std::filesystem::exists(files.file("a1.txt")));
  EXPECT_FALSE(std::filesystem::exists(files.file("b1.txt")));
  EXPECT_EQ(names(), (std::vector<std::string>{"b.txt", "c.txt", "d.txt"}));
  EXPECT_FALSE(h.window().StopFlag);
}

TEST_F(WindowRun, StopEndsTheRunWithRowsAndRecordsInStep) {
  const std::string block(4 << 20, 'x');
  for (int i = 0; i < 24; ++i)
    test::WriteFile(files.file("big" + std::to_string(10 + i) + ".txt"), block);
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  const auto before = h.listedPaths();
  h.click("Image14");
  h.click("Image11");
  EXPECT_TRUE(h.find("StopButton")->isVisible());
  EXPECT_FALSE(h.find("Image9")->isEnabled());
  h.click("StopButton");
  EXPECT_TRUE(test::WaitUntil([&] { return !h.window().runInProgress(); }));
  EXPECT_FALSE(h.window().StopFlag);
  EXPECT_TRUE(h.find("Image9")->isEnabled());
  // Every file that left the list is in the output, whole, in list order;
  // every file still listed is not.
  const auto left = h.listedPaths();
  std::string expected;
  std::size_t merged = 0;
  for (const std::string& p : before)
    if (std::find(left.begin(), left.end(), p) == left.end()) {
      expected += ReadFile(p);
      ++merged;
    }
  EXPECT_TRUE(ReadFile(files.file("新文档.txt")) == expected);
  EXPECT_LT(merged, 28u);
}

}  // namespace
}  // namespace pw

namespace pw {
namespace {

TEST_F(WindowRun, FileNamesThatAreNotUtf8AreListedAndProcessedIntact) {
  const std::string gbk = files.file("\xB1\xA8\xB8\xE6.txt");  // 报告 in GBK
  test::WriteFile(gbk, "title\nx\ny\n");
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  const auto paths = h.listedPaths();
  ASSERT_NE(std::find(paths.begin(), paths.end(), gbk), paths.end());
  const int row = static_cast<int>(std::find(paths.begin(), paths.end(), gbk) - paths.begin());
  EXPECT_EQ(h.window().FileRecords().record(row).BaseName, "报告");
  h.clickRow(row);
  h.runAndWait();
  EXPECT_TRUE(h.messages.empty());
  // Three lines in two parts: one line, then the rest with the title repeated.
  EXPECT_EQ(ReadFile(files.file("\xB1\xA8\xB8\xE6"
                                "1.txt")),
            "title\r\n");
  EXPECT_EQ(ReadFile(files.file("\xB1\xA8\xB8\xE6"
                                "2.txt")),
            "title\r\nx\r\ny\r\n");
}

// The command line and the window run the same code: same inputs and options,
// same bytes out.
TEST_F(WindowRun, CommandLineGivesByteIdenticalResults) {
  const std::string text = "head\r\n\none\ntwo\nthree\nfour\nfive";
  test::TempDir other;
  std::filesystem::remove(files.file("c.txt"));
  std::filesystem::remove(files.file("d.txt"));
  for (const std::string& dir : {files.str(), other.str()}) {
    test::WriteFile(dir + "/a.txt", text);
    test::WriteFile(dir + "/b.txt",
                    "\xEF\xBB\xBF"
                    "bom\n");
  }
  h.openFolder("RzPanel74", "RzPanel82", files.str());
  h.click("Edit10");
  h.find<QLineEdit>("Edit10")->setText("2");
  h.click("CheckBox9");  // no repeated title
  h.clickRow(0);
  h.runAndWait();
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  h.find<QLineEdit>("Edit3")->setText("joined");
  h.click("Image14");
  h.runAndWait();

  const std::string cli = PW_CLI_PATH;
  const std::string o = other.str();
  ASSERT_EQ(
      std::system(
          (cli + " split txt --lines 2 --no-repeat-title " + o + "/a.txt 2>/dev/null").c_str()),
      0);
  ASSERT_EQ(
      std::system((cli + " merge txt -o " + o + "/joined " + o + "/a.txt " + o + "/a1.txt " + o +
                   "/a2.txt " + o + "/a3.txt " + o + "/a4.txt " + o + "/b.txt 2>/dev/null")
                      .c_str()),
      0);
  for (const char* name : {"a1.txt", "a2.txt", "a3.txt", "a4.txt", "joined.txt"})
    EXPECT_EQ(ReadFile(files.file(name)), ReadFile(other.file(name))) << name;
  EXPECT_FALSE(ReadFile(other.file("joined.txt")).empty());
}

}  // namespace
}  // namespace pw

namespace pw {
namespace {

// Linux names may end in a blank; the path must reach the operation as it is.
TEST_F(WindowRun, NamesEndingInABlankAreProcessedAsTheyAre) {
  std::filesystem::remove(files.file("b.txt"));
  std::filesystem::remove(files.file("c.txt"));
  std::filesystem::remove(files.file("d.txt"));
  test::WriteFile(files.file("e.txt "), "e\n");
  h.openFolder("RzPanel74", "RzPanel81", files.str());
  ASSERT_EQ(names(), (std::vector<std::string>{"a.txt", "e.txt "}));
  h.click("Image14");
  h.runAndWait();
  EXPECT_TRUE(h.messages.empty()) << h.messages.front();
  EXPECT_EQ(ReadFile(files.file("新文档.txt")), "a\ne\n");
}

}  // namespace
}  // namespace pw
