#include "platform/trash.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

TEST(Trash, SourceGoesToTheTrashWithItsOriginalPathEvenWhenNotUtf8) {
  test::TempDir dir;
  const std::string data = dir.file("data");
  fs::create_directories(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  const std::string gbkName = dir.file("\xB1\xA8\xB8\xE6.txt");
  test::WriteFile(gbkName, "keep me");
  test::WriteFile(dir.file("twin/\xB1\xA8\xB8\xE6.txt"), "second");

  EXPECT_EQ(RemoveSourceFile(gbkName), RemoveOutcome::Trashed);
  EXPECT_EQ(RemoveSourceFile(dir.file("twin/\xB1\xA8\xB8\xE6.txt")), RemoveOutcome::Trashed);
  EXPECT_FALSE(fs::exists(gbkName));

  EXPECT_EQ(test::ReadFile(data + "/Trash/files/\xB1\xA8\xB8\xE6.txt"), "keep me");
  EXPECT_EQ(test::ReadFile(data + "/Trash/files/\xB1\xA8\xB8\xE6.2.txt"), "second");
  const std::string info = test::ReadFile(data + "/Trash/info/\xB1\xA8\xB8\xE6.txt.trashinfo");
  EXPECT_NE(info.find("Path=" + dir.str() + "/%B1%A8%B8%E6.txt\n"), std::string::npos) << info;
  EXPECT_NE(info.find("DeletionDate="), std::string::npos);
  ::unsetenv("XDG_DATA_HOME");
}

TEST(Trash, MissingFileIsAFailure) {
  test::TempDir dir;
  EXPECT_EQ(RemoveSourceFile(dir.file("nothing.txt")), RemoveOutcome::Failed);
}

}  // namespace
}  // namespace pw
