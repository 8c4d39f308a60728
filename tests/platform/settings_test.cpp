#include "platform/settings.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::WriteFile;

TEST(Settings, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  EXPECT_EQ(ReadIniValue(ini, "main", "chr", "1"), "1");
  ASSERT_TRUE(WriteIniValue(ini, "main", "chr", "0"));
  EXPECT_EQ(ReadIniValue(ini, "main", "chr", "1"), "0");
  EXPECT_EQ(ReadFile(ini), "[main]\nchr=0\n");
}

TEST(Settings, SectionsAndKeysIgnoreCase) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  ASSERT_TRUE(WriteIniValue(ini, "Main", "Yanshi", "1"));
  ASSERT_TRUE(WriteIniValue(ini, "main", "yanshi", "2"));  // replaces, no second section
  ASSERT_TRUE(WriteIniValue(ini, "main", "cle", "0"));
  EXPECT_EQ(ReadIniValue(ini, "MAIN", "YANSHI", "0"), "2");
  EXPECT_EQ(ReadFile(ini), "[Main]\nYanshi=2\ncle=0\n");
}

TEST(Settings, WriteKeepsOtherLinesSectionsAndLineEnds) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  WriteFile(ini, "; note\r\n[Other]\r\nx = 1\r\n\r\n[main]\r\nchr=1\r\n\r\n[Last]\r\ny=2\r\n");
  ASSERT_TRUE(WriteIniValue(ini, "main", "delyuan", "1"));
  ASSERT_TRUE(WriteIniValue(ini, "other", "X", "5"));
  EXPECT_EQ(
      ReadFile(ini),
      "; note\r\n[Other]\r\nx=5\r\n\r\n[main]\r\nchr=1\r\ndelyuan=1\r\n\r\n[Last]\r\ny=2\r\n");
  EXPECT_EQ(ReadIniValue(ini, "other", "x", ""), "5");
  EXPECT_EQ(ReadIniValue(ini, "last", "y", ""), "2");
}

TEST(Settings, ValuesAreTrimmedButKeepTheirEqualsSigns) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  WriteFile(ini, "[main]\nlink1 =  https://example.invalid/a?b=c  \nshow1=\" quoted \"\n");
  EXPECT_EQ(ReadIniValue(ini, "main", "link1", ""), "https://example.invalid/a?b=c");
  EXPECT_EQ(ReadIniValue(ini, "main", "show1", ""), " quoted ");
  EXPECT_EQ(ReadIniValue(ini, "nosuch", "show1", "d"), "d");
}

TEST(Settings, GbkFileReadsAsUtf8) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  // "[main]\nshow1=合并" with the two characters in GBK.
  WriteFile(ini, "[main]\nshow1=\xBA\xCF\xB2\xA2\n");
  EXPECT_EQ(ReadIniValue(ini, "main", "show1", ""), "合并");
  ASSERT_TRUE(WriteIniValue(ini, "main", "chr", "1"));
  EXPECT_EQ(ReadIniValue(ini, "main", "show1", ""), "合并");
}

TEST(Settings, LongValuesAreCutAt2047Characters) {
  test::TempDir dir;
  const std::string ini = dir.file("Info.ini");
  std::string longText;
  for (int i = 0; i < 3000; ++i) longText += "字";
  ASSERT_TRUE(WriteIniValue(ini, "main", "show1", longText));
  EXPECT_EQ(ReadIniValue(ini, "main", "show1", ""), longText.substr(0, 2047 * 3));
}

TEST(Settings, AFileThatCannotBeWrittenFailsWithItsNameAndKeepsTheOldOne) {
  test::TempDir dir;
  std::string error;
  EXPECT_FALSE(WriteIniValue(dir.file("no/such/folder/Info.ini"), "main", "chr", "0", &error));
  EXPECT_NE(error.find("Info.ini"), std::string::npos) << error;
  // A folder standing where the file should be: the write fails, the folder stays.
  const std::string blocked = dir.file("Info.ini");
  std::filesystem::create_directories(blocked + "/keep");
  EXPECT_FALSE(WriteIniValue(blocked, "main", "chr", "0", &error));
  EXPECT_TRUE(std::filesystem::is_directory(blocked + "/keep"));
}

}  // namespace
}  // namespace pw
