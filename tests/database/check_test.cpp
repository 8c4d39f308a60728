// The structural checker accepts every database Access made.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/database/jet_check.h"
#include "platform/database/jet_writer.h"
#include "tests/support/tempdir.h"

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

// Long values whose field, page or chain is damaged are found.
TEST(CheckDatabase, FindsDamagedLongValues) {
  struct Damage {
    const char* what;
    std::string from, to;  // first occurrence in the file
  };
  const std::string single("\xBA\x0B\x00\x40", 4);  // 3002 bytes on one long-value page
  const std::vector<Damage> cases = {
      {"stated length", single, std::string("\xBB\x0B\x00\x40", 4)},
      {"page tag", "LVAL", "LVAX"},
      {"chain length", std::string("\x10\x27\x00\x00", 4), std::string("\x11\x27\x00\x00", 4)},
  };
  for (const Damage& d : cases) {
    pw::test::TempDir dir;
    const std::string path = dir.file("long.mdb");
    JetWriter::Create(path, NewFormat::Jet4);
    {
      JetWriter w(path);
      w.CreateTable("T", "Id");
      w.AddColumn("T", "Body", ColumnKind::Memo);
      w.AddColumn("T", "Photo", ColumnKind::Binary);
      w.AppendRecord("T", {"1", std::string(3000, 'a'), std::string(3000, 'p')});
      w.AppendRecord("T", {"2", std::string(9998, 'b'), std::nullopt});  // 10000 bytes stored
    }
    ASSERT_TRUE(CheckDatabase(path, true).ok()) << d.what;
    std::string file = pw::test::ReadFile(path);
    const std::size_t at = file.find(d.from);
    ASSERT_NE(at, std::string::npos) << d.what;
    file.replace(at, d.to.size(), d.to);
    pw::test::WriteFile(path, file);
    EXPECT_FALSE(CheckDatabase(path, true).ok()) << d.what;
  }
}

}  // namespace
}  // namespace pw::db
