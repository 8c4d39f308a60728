// Databases we write: sound by our checker, and read back identically by
// libmdb, mdb-export and mdb-reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/database/jet_check.h"
#include "platform/database/jet_writer.h"
#include "tests/database/db_readers.h"
#include "tests/support/tempdir.h"

namespace pw::db {
namespace {

using Values = std::vector<std::optional<std::string>>;

void ExpectSound(const std::string& path) {
  const CheckReport report = CheckDatabase(path, true);
  EXPECT_TRUE(report.ok()) << path << ": " << (report.faults.empty() ? "" : report.faults[0]);
}

struct Format {
  NewFormat format;
  const char* name;
  JetVersion version;
};
const Format kFormats[] = {{NewFormat::Jet4, "new.mdb", JetVersion::Jet4},
                           {NewFormat::Ace12, "new.accdb", JetVersion::Ace}};

TEST(JetWriter, NewDatabasesAreSoundAndEmpty) {
  for (const Format& f : kFormats) {
    pw::test::TempDir dir;
    const std::string path = dir.file(f.name);
    JetWriter::Create(path, f.format);
    ExpectSound(path);
    MdbFile read(path);
    EXPECT_EQ(read.version(), f.version);
    EXPECT_TRUE(read.TableNames().empty());
    EXPECT_THROW(JetWriter::Create(path, f.format), DatabaseError);  // never over a file
  }
}

// Values that test the text encoding: compressed, plain, empty, full width.
Values Record(int i) {
  static const std::vector<std::string> texts = {
      "Chai",
      "三川实业有限公司",
      "",
      std::string(250, 'x'),
      "\xEF\xBB\xBF"
      "starts with a byte order mark",
      "line one\r\nline two",
      "mixed 中文 and Latin é",
      "emoji 😀",
      "ab",
  };
  Values v;
  v.push_back(std::to_string(i));
  v.push_back(texts[i % texts.size()]);
  if (i % 4 == 0)
    v.push_back(std::nullopt);
  else
    v.push_back(std::string(250, static_cast<char>('a' + i % 26)));
  return v;
}

TEST(JetWriter, RecordsReadBackIdenticallyThroughThreeReaders) {
  for (const Format& f : kFormats) {
    pw::test::TempDir dir;
    const std::string path = dir.file(f.name);
    JetWriter::Create(path, f.format);
    const int first = 1500, later = 40;
    {
      JetWriter w(path);
      w.CreateTable("Order Details", "Order No");
      w.AddColumn("Order Details", "名称");
      w.AddColumn("Order Details", "Remark");
      for (int i = 0; i < first; ++i) w.AppendRecord("Order Details", Record(i));
      w.CreateTable("客户", "姓名");
      w.AppendRecord("客户", {"张三"});
    }
    ExpectSound(path);
    {
      JetWriter w(path);  // reopened: widened, more records
      EXPECT_EQ(w.TableNames(), (std::vector<std::string>{"Order Details", "客户"}));
      w.AddColumn("Order Details", "Note");
      for (int i = first; i < first + later; ++i) {
        Values v = Record(i);
        v.push_back("note " + std::to_string(i));
        w.AppendRecord("Order Details", v);
      }
    }
    ExpectSound(path);
    std::vector<Values> expected;
    for (int i = 0; i < first + later; ++i) {
      Values v = Record(i);
      for (auto& s : v)
        if (s && s->empty()) s.reset();  // empty text is stored as no value
      v.push_back(i < first ? std::nullopt
                            : std::optional<std::string>("note " + std::to_string(i)));
      expected.push_back(v);
    }

    const TableData ours = MdbFile(path).ReadTable("Order Details");
    ASSERT_EQ(ours.rows.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r)
      for (std::size_t c = 0; c < 4; ++c)
        ASSERT_EQ(ours.rows[r][c], expected[r][c].value_or("")) << f.name << " row " << r;

    const auto exported = test::ReadWithMdbExport(path, "Order Details");
    ASSERT_EQ(exported.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
      // mdb-export splits lines at CR LF and knows no characters beyond U+FFFF.
      if (expected[r][1] && (expected[r][1]->find('\n') != std::string::npos ||
                             expected[r][1]->find('\xF0') != std::string::npos))
        continue;
      ASSERT_EQ(exported[r].size(), 4u);
      for (std::size_t c = 0; c < 4; ++c)
        ASSERT_EQ(exported[r][c], expected[r][c].value_or("")) << f.name << " row " << r;
    }

    if (!test::MdbReaderMissing().empty()) {
      std::printf("[  SKIP    ] mdb-reader comparison: %s\n", test::MdbReaderMissing().c_str());
      continue;
    }
    const test::SeenDatabase seen = test::ReadWithMdbReader(path);
    ASSERT_EQ(seen.size(), 2u);
    const test::SeenTable& t = seen.at("Order Details");
    EXPECT_EQ(t.columns, (std::vector<std::string>{"Order No", "名称", "Remark", "Note"}));
    ASSERT_EQ(t.rows.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r)
      ASSERT_EQ(t.rows[r], expected[r]) << f.name << " row " << r;
    EXPECT_EQ(seen.at("客户").rows, (std::vector<Values>{{"张三"}}));
  }
}

TEST(JetWriter, EachCallLeavesASoundFileOnDisk) {
  pw::test::TempDir dir;
  const std::string path = dir.file("live.mdb");
  JetWriter::Create(path, NewFormat::Jet4);
  JetWriter w(path);
  w.CreateTable("T", "A");
  ExpectSound(path);
  for (int i = 0; i < 600; ++i) w.AppendRecord("T", {std::to_string(i)});
  ExpectSound(path);  // what a reader sees while the writer is still open
  w.Flush();
  ExpectSound(path);
  EXPECT_EQ(MdbFile(path).ReadTable("T").rows.size(), 600u);
}

// Past 512 pages the inline maps grow; past the inline limit (lowered here
// to 200 pages) they become reference maps with bitmap pages of their own.
TEST(JetWriter, FilesBeyondTheFirstUsageMapStaySound) {
  for (const std::uint32_t limit : {16384u, 200u}) {
    JetWriter::SetInlineMapLimit(limit);
    pw::test::TempDir dir;
    const std::string path = dir.file("big.mdb");
    JetWriter::Create(path, NewFormat::Jet4);
    for (int round = 0; round < 2; ++round) {  // the second round reopens the maps
      JetWriter w(path);
      if (round == 0) {
        w.CreateTable("Big", "A");
        w.AddColumn("Big", "B");
      }
      for (int i = 0; i < 6000; ++i)  // about 400 pages a round
        w.AppendRecord("Big",
                       {std::to_string(i), std::string(250, static_cast<char>('a' + i % 26))});
      w.CreateTable("Late" + std::to_string(round), "A");  // pages past the first 512
      w.AppendRecord("Late" + std::to_string(round), {"late"});
    }
    JetWriter::SetInlineMapLimit(16384);
    EXPECT_GT(std::filesystem::file_size(path), 512u * 4096u);
    ExpectSound(path);
    EXPECT_EQ(test::ReadWithMdbExport(path, "Big").size(), 12000u) << limit;
    EXPECT_EQ(test::ReadWithMdbExport(path, "Late1").size(), 1u) << limit;
    if (!test::MdbReaderMissing().empty()) GTEST_SKIP() << test::MdbReaderMissing();
    const test::SeenDatabase seen = test::ReadWithMdbReader(path);
    EXPECT_EQ(seen.at("Big").rows.size(), 12000u) << limit;
    EXPECT_EQ(seen.at("Late1").rows.size(), 1u) << limit;
  }
}

TEST(JetWriter, ManyTablesSpreadTheCatalogIndexesOverLeaves) {
  pw::test::TempDir dir;
  const std::string path = dir.file("many.accdb");
  JetWriter::Create(path, NewFormat::Ace12);
  auto name = [](int i) { return "Quarterly report table " + std::to_string(i); };
  {
    JetWriter w(path);
    for (int i = 0; i < 250; ++i) w.CreateTable(name(i), "A");
  }
  ExpectSound(path);
  {
    JetWriter w(path);  // reopened over a node page and its leaves
    for (int i = 250; i < 400; ++i) {
      w.CreateTable(name(i), "A");
      w.AppendRecord(name(i), {std::to_string(i)});
    }
  }
  ExpectSound(path);
  const MdbFile read(path);
  ASSERT_EQ(read.TableNames().size(), 400u);
  EXPECT_EQ(read.ReadTable(name(399)).rows.at(0).at(0), "399");
  if (!test::MdbReaderMissing().empty()) GTEST_SKIP() << test::MdbReaderMissing();
  EXPECT_EQ(test::ReadWithMdbReader(path).size(), 400u);
}

TEST(JetWriter, LimitsAndBadNamesFailClearly) {
  pw::test::TempDir dir;
  const std::string path = dir.file("limits.mdb");
  JetWriter::Create(path, NewFormat::Jet4);
  JetWriter w(path);
  w.CreateTable("Wide", "C0");
  for (int i = 1; i < 255; ++i)
    w.AddColumn("Wide", "A rather long column name " + std::to_string(i));
  EXPECT_THROW(w.AddColumn("Wide", "one too many"), DatabaseError);
  EXPECT_THROW(w.AppendRecord("Wide", Values(256, "x")), RecordError);
  // Longer than a text column: the column becomes long text, the value whole.
  w.AppendRecord("Wide", {std::string(251, 'x')});
  // Eight full columns of Chinese text, with the 255 columns' offsets, are
  // wider than a page: text columns become long text until the record fits.
  Values tooLong(8);
  for (auto& v : tooLong) {
    v = std::string();
    for (int i = 0; i < 250; ++i) *v += "中";
  }
  w.AppendRecord("Wide", tooLong);
  tooLong.resize(7);
  w.AppendRecord("Wide", tooLong);
  const std::vector<ColumnKind> kinds = w.ColumnKinds("Wide");
  EXPECT_EQ(kinds[0], ColumnKind::Memo);
  EXPECT_EQ(kinds[254], ColumnKind::Text);
  EXPECT_THROW(w.CreateTable("wide", "x"), DatabaseError);  // names ignore case
  EXPECT_THROW(w.AddColumn("Wide", "c0"), DatabaseError);
  for (const char* bad : {"", " lead", "a.b", "a!b", "a[b]", "tab\there"})
    EXPECT_THROW(w.CreateTable(bad, "x"), DatabaseError) << bad;
  EXPECT_THROW(w.AppendRecord("Missing", {"x"}), DatabaseError);
  w.Flush();
  ExpectSound(path);
  const TableData t = MdbFile(path).ReadTable("Wide");
  EXPECT_EQ(t.columns.size(), 255u);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0][0], std::string(251, 'x'));
  for (std::size_t c = 0; c < 8; ++c) EXPECT_EQ(t.rows[1][c], *tooLong[0]) << c;
  EXPECT_EQ(t.rows[2][6], *tooLong[6]);
}

// A text column widened after thousands of records, most of them already
// on disk: they are written again in place, page by page, whether the new
// form needs more pages than the old (short records) or as many (records of
// half a page), and all read back.
TEST(JetWriter, AColumnWidenedLateKeepsEveryRecordOfALargeTable) {
  struct Case {
    const char* what;
    std::size_t width;  // of each of the two text values
    int records;
  };
  const Case cases[] = {{"short records", 12, 3000}, {"records of half a page", 249, 600}};
  for (const Case& c : cases) {
    pw::test::TempDir dir;
    const std::string path = dir.file("late.mdb");
    JetWriter::Create(path, NewFormat::Jet4);
    std::vector<Values> expected;
    auto value = [&](int i, char fill) {
      std::string v = std::to_string(i) + fill;
      v.resize(c.width, fill);
      return v;
    };
    {
      JetWriter w(path);
      w.CreateTable("T", "Id");
      for (const char* name : {"A", "B", "C", "D", "E", "F", "G", "H"}) w.AddColumn("T", name);
      for (int i = 0; i < c.records; ++i) {
        Values v = {std::to_string(i)};
        for (char fill = 'a'; fill < 'i'; ++fill) v.push_back(value(i, fill));
        expected.push_back(v);
        w.AppendRecord("T", v);
      }
      expected.push_back({"late", std::string(600, 'L')});
      w.AppendRecord("T", expected.back());
      EXPECT_EQ(w.ColumnKinds("T")[1], ColumnKind::Memo) << c.what;
      expected.push_back({"after", "x", "y"});
      w.AppendRecord("T", expected.back());
    }
    ExpectSound(path);
    const TableData ours = MdbFile(path).ReadTable("T");
    const auto exported = test::ReadWithMdbExport(path, "T");
    ASSERT_EQ(ours.rows.size(), expected.size()) << c.what;
    ASSERT_EQ(exported.size(), expected.size()) << c.what;
    for (std::size_t r = 0; r < expected.size(); ++r)
      for (std::size_t col = 0; col < 9; ++col) {
        const std::string want =
            col < expected[r].size() && expected[r][col] ? *expected[r][col] : "";
        ASSERT_EQ(ours.rows[r][col], want) << c.what << " row " << r << " column " << col;
        ASSERT_EQ(exported[r][col], want) << c.what << " row " << r << " column " << col;
      }
  }
}

// Values of every length in every kind of column, in a Jet 4 and an ACE
// file: inline, on one long-value page, on a chain of them; a text column
// widened after hundreds of records; a file reopened and written on.
TEST(JetWriter, LongValuesReadBackWholeThroughThreeReaders) {
  std::string bytes;
  for (int i = 0; i < 9000; ++i) bytes.push_back(static_cast<char>(i * 7 % 256));
  std::string chinese;
  for (int i = 0; i < 3000; ++i) chinese += i % 2 ? "长" : "文";
  auto record = [&](int i) -> Values {
    switch (i % 6) {
      case 0:
        return {std::to_string(i), "short note", bytes.substr(0, 10), "t"};
      case 1:
        return {std::to_string(i), std::string(3000, 'a'), bytes.substr(0, 3000), std::nullopt};
      case 2:
        return {std::to_string(i), std::string(9000, 'b') + " end", bytes, "t"};
      case 3:
        return {std::to_string(i), chinese, std::string("\0\xFF\0", 3), std::nullopt};
      case 4:
        return {std::to_string(i), std::nullopt, std::nullopt, "t"};
      default:
        return {std::to_string(i), std::string(4070, 'c'), bytes.substr(0, 4076), "t"};
    }
  };
  for (const Format& f : kFormats) {
    pw::test::TempDir dir;
    const std::string path = dir.file(f.name);
    JetWriter::Create(path, f.format);
    std::vector<Values> expected;
    {
      JetWriter w(path);
      w.CreateTable("Notes", "Id");
      w.AddColumn("Notes", "Body", ColumnKind::Memo);
      w.AddColumn("Notes", "Photo", ColumnKind::Binary);
      w.AddColumn("Notes", "Title");
      for (int i = 0; i < 300; ++i) {
        expected.push_back(record(i));
        w.AppendRecord("Notes", expected.back());
      }
      // The text column meets a long value after 300 records: they stay.
      expected.push_back({"300", "x", std::nullopt, std::string(600, 'T')});
      w.AppendRecord("Notes", expected.back());
      EXPECT_EQ(w.ColumnKinds("Notes")[3], ColumnKind::Memo);
    }
    ExpectSound(path);
    {
      JetWriter w(path);
      for (int i = 301; i < 320; ++i) {
        expected.push_back(record(i));
        w.AppendRecord("Notes", expected.back());
      }
    }
    ExpectSound(path);
    auto shown = [&](const Values& v, std::size_t c) {
      if (!v[c]) return std::string();
      return c == 2 ? HexText(*v[c]) : *v[c];
    };

    const TableData ours = MdbFile(path).ReadTable("Notes");
    ASSERT_EQ(ours.rows.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r)
      for (std::size_t c = 0; c < 4; ++c)
        ASSERT_EQ(c == 2 && !ours.rows[r][c].empty() ? HexText(ours.rows[r][c]) : ours.rows[r][c],
                  shown(expected[r], c))
            << f.name << " row " << r << " column " << c;

    const auto exported = test::ReadWithMdbExport(path, "Notes");
    ASSERT_EQ(exported.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r) {
      const auto& row = exported[r];
      ASSERT_EQ(row.size(), 4u) << f.name << " row " << r;
      for (std::size_t c = 0; c < 4; ++c)
        ASSERT_EQ(c == 2 && !row[c].empty() ? "0x" + row[c] : row[c], shown(expected[r], c))
            << f.name << " row " << r << " column " << c;
    }

    if (!test::MdbReaderMissing().empty()) {
      std::printf("[  SKIP    ] mdb-reader comparison: %s\n", test::MdbReaderMissing().c_str());
      continue;
    }
    const test::SeenTable seen = test::ReadWithMdbReader(path).at("Notes");
    ASSERT_EQ(seen.rows.size(), expected.size());
    for (std::size_t r = 0; r < expected.size(); ++r)
      for (std::size_t c = 0; c < 4; ++c)
        ASSERT_EQ(seen.rows[r][c].value_or(""), shown(expected[r], c))
            << f.name << " row " << r << " column " << c;
  }
}

TEST(JetWriter, RefusesFilesItDidNotMake) {
  pw::test::TempDir dir;
  pw::test::WriteFile(dir.file("junk.mdb"), std::string(19 * 4096, 'j'));
  EXPECT_THROW(JetWriter(dir.file("junk.mdb")), DatabaseError);
  EXPECT_THROW(JetWriter(dir.file("missing.mdb")), DatabaseError);
  const std::string access = std::string(PW_FIXTURES_DIR) + "/mdb/jet4_northwind_zh.mdb";
  if (!std::filesystem::exists(access)) GTEST_SKIP() << "fixture absent: " << access;
  std::filesystem::copy_file(access, dir.file("zh.mdb"));
  EXPECT_THROW(JetWriter(dir.file("zh.mdb")), DatabaseError);
}

}  // namespace
}  // namespace pw::db
