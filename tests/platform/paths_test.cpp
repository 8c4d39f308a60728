#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/tempdir.h"

namespace pw {
namespace {

// Which executable folders keep "Info.ini" and "Error.txt" beside them.
TEST(AppFiles, OnlyABuildTreeOrAPortableCopyKeepsThemBesideTheExecutable) {
  struct Case {
    std::string exeFolder;           // under the test's folder
    std::vector<std::string> marks;  // files made there first
    bool beside;
  };
  const Case cases[] = {
      {"usr/bin", {}, false},  // an installed copy, writable or not
      {"usr/bin", {"usr/bin/Info.ini"}, false},
      {"opt/pw", {"opt/pw/portable"}, true},
      {"build/cli", {"build/CMakeCache.txt"}, true},
      {"build/tests/app", {"build/CMakeCache.txt"}, true},
      {"deep/a/b/c", {"deep/CMakeCache.txt"}, false},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file(c.exeFolder));
    for (const std::string& mark : c.marks) test::WriteFile(dir.file(mark), "");
    EXPECT_EQ(AppFilesBesideExecutable(dir.file(c.exeFolder) + "/"), c.beside) << c.exeFolder;
  }
  EXPECT_FALSE(AppFilesBesideExecutable(""));
  if (::geteuid() != 0) {  // root may write anywhere
    test::TempDir dir;
    test::WriteFile(dir.file("ro/portable"), "");
    std::filesystem::permissions(
        dir.file("ro"), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(AppFilesBesideExecutable(dir.file("ro")));
  }
}

}  // namespace
}  // namespace pw
