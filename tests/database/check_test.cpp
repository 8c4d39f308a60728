// The structural checker accepts every database Access made.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/database/jet_check.h"

namespace pw::db {
namespace {

TEST(CheckDatabase, AcceptsEveryAccessMadeFixture) {
  const std::filesystem::path dir = std::string(PW_FIXTURES_DIR) + "/mdb";
  if (!std::filesystem::exists(dir)) GTEST_SKIP() << "fixtures absent: " << dir;
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("jet4_", 0) != 0 && name.rfind("ace12_", 0) != 0) continue;
    const CheckReport report = CheckDatabase(entry.path().string(), false);
    EXPECT_TRUE(report.ok()) << name << ": " << (report.faults.empty() ? "" : report.faults[0]);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST(CheckDatabase, FindsADamagedIndexEntryCount) {
  const std::string source = std::string(PW_FIXTURES_DIR) + "/mdb/jet4_empty_jet_engine.mdb";
  if (!std::filesystem::exists(source)) GTEST_SKIP() << "fixture absent: " << source;
  const std::string copy = ::testing::TempDir() + "/pw-check-damaged.mdb";
  std::filesystem::copy_file(source, copy, std::filesystem::copy_options::overwrite_existing);
  {
    // Stored row count of MSysObjects (tdef page 2, offset 16): 8 becomes 9.
    std::FILE* f = std::fopen(copy.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 2 * 4096 + 16, SEEK_SET);
    std::fputc(9, f);
    std::fclose(f);
  }
  EXPECT_FALSE(CheckDatabase(copy, true).ok());
  EXPECT_TRUE(CheckDatabase(copy, false).ok());
  std::filesystem::remove(copy);
}

}  // namespace
}  // namespace pw::db
