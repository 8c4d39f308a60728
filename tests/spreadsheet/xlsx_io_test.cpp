#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "batch/run.h"
#include "platform/spreadsheet/formula.h"
#include "platform/spreadsheet/server.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/spreadsheet/xlsx_writer.h"
#include "tests/spreadsheet/sheet_support.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using xl::CellKind;

// A package as openpyxl writes it: absolute part names, inline strings,
// plus what other writers do: shared formulas, phonetic runs, rich text,
// error cells, cells without addresses, theme and indexed colours.
std::map<std::string, std::string> HandMadePackage() {
  return {
      {"[Content_Types].xml", "<Types/>"},
      {"_rels/.rels",
       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
       R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="/xl/workbook.xml"/></Relationships>)"},
      {"xl/workbook.xml",
       R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
       R"(<workbookPr date1904="1"/><sheets><sheet name="数据" sheetId="7" r:id="rId2"/><sheet name="Hidden" sheetId="1" state="hidden" r:id="rId3"/></sheets></workbook>)"},
      {"xl/_rels/workbook.xml.rels",
       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
       R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/a.xml"/>)"
       R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/../worksheets/b.xml"/>)"
       R"(<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="/xl/strings.xml"/>)"
       R"(<Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
       R"(<Relationship Id="rId6" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/></Relationships>)"},
      {"xl/theme/theme1.xml",
       R"(<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"><a:themeElements><a:clrScheme name="x">)"
       R"(<a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1><a:lt1><a:sysClr val="window" lastClr="FFFFFF"/></a:lt1>)"
       R"(<a:dk2><a:srgbClr val="1F497D"/></a:dk2><a:lt2><a:srgbClr val="EEECE1"/></a:lt2><a:accent1><a:srgbClr val="4472C4"/></a:accent1>)"
       R"(</a:clrScheme></a:themeElements></a:theme>)"},
      {"xl/styles.xml",
       R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
       R"(<numFmts count="1"><numFmt numFmtId="170" formatCode="yyyy&quot;年&quot;m&quot;月&quot;d&quot;日&quot;"/></numFmts>)"
       R"(<fonts count="2"><font><sz val="12"/><name val="宋体"/><charset val="134"/></font>)"
       R"(<font><b/><i val="0"/><sz val="9"/><color theme="4"/><name val="Arial"/></font></fonts>)"
       R"(<fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill>)"
       R"(<fill><patternFill patternType="solid"><fgColor indexed="10"/><bgColor indexed="64"/></patternFill></fill></fills>)"
       R"(<borders count="2"><border/><border><left style="thin"><color rgb="FF000000"/></left><bottom style="double"><color theme="1" tint="0.5"/></bottom></border></borders>)"
       R"(<cellXfs count="3"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/>)"
       R"(<xf numFmtId="170" fontId="1" fillId="2" borderId="1"><alignment horizontal="center" vertical="top" wrapText="1"/></xf>)"
       R"(<xf numFmtId="49" fontId="0" fillId="0" borderId="0"/></cellXfs></styleSheet>)"},
      {"xl/strings.xml",
       R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><t>0012</t></si>)"
       R"(<si><t>東京</t><rPh sb="0" eb="2"><t>トウキョウ</t></rPh><phoneticPr fontId="1"/></si>)"
       R"(<si><r><t xml:space="preserve">plain </t></r><r><rPr><b/><color rgb="FFFF0000"/><rFont val="Arial"/></rPr><t>bold</t></r></si>)"
       R"(<si><t>a_x000D_b</t></si></sst>)"},
      {"xl/worksheets/a.xml",
       R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetViews><sheetView>)"
       R"(<pane xSplit="1" ySplit="2" topLeftCell="B3" state="frozen"/></sheetView></sheetViews>)"
       R"(<cols><col min="2" max="3" width="20.7109375" customWidth="1"/></cols><sheetData>)"
       R"(<row r="1" ht="30" customHeight="1"><c r="A1" t="s" s="2"><v>0</v></c><c t="s"><v>1</v></c><c r="D1" t="s"><v>2</v></c></row>)"
       R"(<row r="2"><c r="A2"><v>0.30000000000000004</v></c><c r="B2" t="inlineStr"><is><t>inline</t></is></c>)"
       R"(<c r="C2" t="e"><v>#N/A</v></c><c r="D2" t="b"><v>1</v></c><c r="E2" s="1"><v>1</v></c></row>)"
       R"(<row r="3"><c r="A3"><f t="shared" ref="A3:A5" si="0">SUM($A$1:A2)+B3</f><v>1</v></c><c r="B3" t="str"><f>"x"&amp;A1</f><v>x0012</v></c></row>)"
       R"(<row r="4"><c r="A4"><f t="shared" si="0"/><v>2</v></c><c r="B4" t="e"><f>1/0</f><v>#DIV/0!</v></c></row>)"
       R"(<row r="5"><c r="A5"><f t="shared" si="0"/><v>3</v></c><c r="B5" t="b"><f>A5&gt;1</f><v>1</v></c><c r="C5" t="s"><v>3</v></c></row>)"
       R"(<row r="9"><c r="XFD9"><v>-1E-300</v></c></row>)"
       R"(</sheetData><mergeCells count="1"><mergeCell ref="D1:E1"/></mergeCells></worksheet>)"},
      {"xl/worksheets/b.xml",
       R"(<x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData>)"
       R"(<x:row r="1048576"><x:c r="A1048576"><x:v>5</x:v></x:c></x:row></x:sheetData></x:worksheet>)"},
  };
}

double Number(const xl::Sheet& s, const char* ref) {
  std::uint32_t r = 0, c = 0;
  xl::ParseCellRef(ref, r, c);
  const xl::Cell* cell = s.Find(r, c);
  return cell != nullptr ? cell->number : -12345;
}

std::string Text(const xl::Workbook& b, const xl::Sheet& s, const char* ref) {
  std::uint32_t r = 0, c = 0;
  xl::ParseCellRef(ref, r, c);
  const xl::Cell* cell = s.Find(r, c);
  return cell != nullptr ? b.Text(cell->text) : "<none>";
}

const xl::Cell& At(const xl::Sheet& s, const char* ref) {
  std::uint32_t r = 0, c = 0;
  xl::ParseCellRef(ref, r, c);
  static const xl::Cell kNone;
  const xl::Cell* cell = s.Find(r, c);
  return cell != nullptr ? *cell : kNone;
}

// Reading `path` fails, and the message names the file.
void ExpectRefusedNaming(const std::string& path, const std::string& name) {
  try {
    xl::ReadXlsx(path);
    ADD_FAILURE() << "read without complaint";
  } catch (const RunError& e) {
    EXPECT_EQ(e.file(), path);
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
  }
}

TEST(XlsxReader, ReadsWhatRealWritersPutInAPackage) {
  test::TempDir dir;
  const std::string path = dir.file("hand.xlsx");
  test::WriteZip(path, HandMadePackage());
  const auto book = xl::ReadXlsx(path);

  ASSERT_EQ(book->sheets.size(), 2u);
  EXPECT_TRUE(book->date1904);
  EXPECT_EQ(book->DefaultFont().name, "宋体");
  EXPECT_EQ(book->DefaultFont().size, 12);
  const xl::Sheet& s = *book->sheets[0];
  EXPECT_EQ(s.name, "数据");
  EXPECT_EQ(book->sheets[1]->state, xl::SheetState::Hidden);
  EXPECT_EQ(Number(*book->sheets[1], "A1048576"), 5);

  EXPECT_EQ(Text(*book, s, "A1"), "0012");
  EXPECT_EQ(At(s, "A1").kind, CellKind::Text);
  EXPECT_EQ(book->styles[At(s, "A1").style].numFmtId, 49);
  EXPECT_EQ(Text(*book, s, "B1"), "東京") << "phonetic runs are not text";
  EXPECT_EQ(Text(*book, s, "D1"), "plain bold");
  const auto* runs = book->Runs(At(s, "D1").text);
  ASSERT_NE(runs, nullptr);
  ASSERT_EQ(runs->size(), 2u);
  EXPECT_TRUE((*runs)[1].font.bold);
  EXPECT_EQ((*runs)[1].font.color, xl::Rgb(0xFF0000));
  EXPECT_EQ(Text(*book, s, "C5"), "a\rb");

  EXPECT_EQ(Number(s, "A2"), 0.1 + 0.2);
  EXPECT_EQ(Text(*book, s, "B2"), "inline");
  EXPECT_EQ(At(s, "C2").kind, CellKind::Error);
  EXPECT_EQ(Text(*book, s, "C2"), "#N/A");
  EXPECT_EQ(At(s, "D2").kind, CellKind::Bool);
  EXPECT_EQ(Number(s, "XFD9"), -1e-300);

  const xl::Style& st = book->styles[At(s, "E2").style];
  EXPECT_EQ(st.numFmtId, xl::kCustomFormat);
  EXPECT_EQ(st.numFmt, "yyyy\"年\"m\"月\"d\"日\"");
  EXPECT_TRUE(xl::IsDateFormat(st.numFmtId, st.numFmt));
  EXPECT_EQ(st.font.name, "Arial");
  EXPECT_TRUE(st.font.bold);
  EXPECT_FALSE(st.font.italic);
  EXPECT_EQ(st.font.color, xl::Rgb(0x4472C4)) << "theme colour resolved";
  EXPECT_EQ(st.fill.pattern, 1);
  EXPECT_EQ(st.fill.fg, xl::Rgb(0xFF0000)) << "indexed colour resolved";
  EXPECT_EQ(st.border.left.style, 1);
  EXPECT_EQ(st.border.left.color, xl::Rgb(0x000000)) << "black is a colour, not 'unset'";
  EXPECT_EQ(st.border.bottom.style, 6);
  EXPECT_EQ(st.border.bottom.color, xl::Rgb(0x808080)) << "tint applied";
  EXPECT_EQ(st.align.horizontal, 2);
  EXPECT_EQ(st.align.vertical, 1);
  EXPECT_TRUE(st.align.wrap);

  // Shared formulas expanded, each cell keeping its cached result.
  EXPECT_EQ(book->Formula(At(s, "A3")), "SUM($A$1:A2)+B3");
  EXPECT_EQ(book->Formula(At(s, "A4")), "SUM($A$1:A3)+B4");
  EXPECT_EQ(book->Formula(At(s, "A5")), "SUM($A$1:A4)+B5");
  EXPECT_EQ(Number(s, "A5"), 3);
  EXPECT_EQ(Text(*book, s, "B3"), "x0012");
  EXPECT_EQ(At(s, "B4").kind, CellKind::Error);
  EXPECT_EQ(At(s, "B5").kind, CellKind::Bool);

  EXPECT_EQ(s.merges, (std::vector<xl::Rect>{{1, 4, 1, 5}}));
  EXPECT_EQ(s.freezeRows, 2u);
  EXPECT_EQ(s.freezeCols, 1u);
  EXPECT_EQ(s.columns.at(2).width, 20.7109375);
  EXPECT_EQ(s.columns.at(3).width, 20.7109375);
  EXPECT_EQ(s.FindRow(1)->height, 30);
}

TEST(XlsxReader, DamagedOrForeignFilesFailNamingTheFile) {
  test::TempDir dir;
  const std::string good = dir.file("good.xlsx");
  test::WriteZip(good, HandMadePackage());
  const std::string goodBytes = test::ReadFile(good);
  auto broken = HandMadePackage();
  broken["xl/worksheets/a.xml"] = "<worksheet><sheetData><row><c r=\"A1\"><v>1</v></row>";
  auto badRef = HandMadePackage();
  badRef["xl/worksheets/a.xml"] =
      "<worksheet><sheetData><row><c r=\"A0\"><v>1</v></c></row></sheetData></worksheet>";
  auto badString = HandMadePackage();
  badString["xl/worksheets/a.xml"] =
      "<worksheet><sheetData><row><c r=\"A1\" t=\"s\"><v>99</v></c></row></sheetData></worksheet>";
  auto noBook = HandMadePackage();
  noBook.erase("xl/workbook.xml");

  struct Case {
    const char* name;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {"empty.xlsx", ""},
      {"text.xlsx", "just some text, not a workbook"},
      {"ole.xlsx", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0')},
      {"truncated.xlsx", goodBytes.substr(0, goodBytes.size() / 2)},
  };
  for (const Case& c : cases) test::WriteFile(dir.file(c.name), c.bytes);
  test::WriteZip(dir.file("brokenxml.xlsx"), broken);
  test::WriteZip(dir.file("badref.xlsx"), badRef);
  test::WriteZip(dir.file("badstring.xlsx"), badString);
  test::WriteZip(dir.file("nobook.xlsx"), noBook);

  for (const char* name :
       {"empty.xlsx", "text.xlsx", "ole.xlsx", "truncated.xlsx", "brokenxml.xlsx", "badref.xlsx",
        "badstring.xlsx", "nobook.xlsx", "missing.xlsx"}) {
    SCOPED_TRACE(name);
    ExpectRefusedNaming(dir.file(name), name);
  }
}

// A sheet far longer than one read comes through whole whether its entry is
// deflated or stored; a deflated entry whose data, checksum or recorded size
// was damaged is refused, naming the file.
TEST(XlsxReader, SheetEntriesReadWholeAndDamagedOnesAreRefused) {
  test::TempDir dir;
  const std::string sheet = "xl/worksheets/a.xml";
  auto parts = HandMadePackage();
  std::string xml =
      R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>)";
  for (int r = 1; r <= 20000; ++r) {
    const std::string n = std::to_string(r);
    xml += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + std::to_string(r * 3) +
           "</v></c><c r=\"B" + n + "\" t=\"inlineStr\"><is><t>row " + n + "</t></is></c></row>";
  }
  parts[sheet] = xml + "</sheetData></worksheet>";
  auto write = [&](const std::string& path, zip_int32_t method) {
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, content] : parts) {
      const zip_int64_t i =
          zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), 0);
      ASSERT_GE(i, 0);
      zip_set_file_compression(z, static_cast<zip_uint64_t>(i), method, 0);
    }
    ASSERT_EQ(zip_close(z), 0);
  };

  for (const zip_int32_t method : {ZIP_CM_DEFLATE, ZIP_CM_STORE}) {
    SCOPED_TRACE(method);
    const std::string path = dir.file("whole.xlsx");
    write(path, method);
    const auto book = xl::ReadXlsx(path);
    const xl::Sheet& s = *book->sheets[0];
    EXPECT_EQ(Number(s, "A1"), 3);
    EXPECT_EQ(Number(s, "A20000"), 60000);
    EXPECT_EQ(Text(*book, s, "B12345"), "row 12345");
  }

  const std::string good = dir.file("good.xlsx");
  write(good, ZIP_CM_DEFLATE);
  const std::string bytes = test::ReadFile(good);
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at]) |
                                    static_cast<unsigned char>(bytes[at + 1]) << 8);
  };
  // The sheet's local and central headers: its name right after each.
  std::size_t local = 0, entry = 0;
  for (std::size_t at = bytes.find(sheet); at != std::string::npos;
       at = bytes.find(sheet, at + 1)) {
    if (at >= 30 && bytes.compare(at - 30, 4, std::string("PK\3\4", 4)) == 0) local = at - 30;
    if (at >= 46 && bytes.compare(at - 46, 4, std::string("PK\1\2", 4)) == 0) entry = at - 46;
  }
  ASSERT_TRUE(local > 0 && entry > local);
  ASSERT_EQ(u16(local + 8), 8u) << "deflated";
  const std::size_t data = local + 30 + u16(local + 26) + u16(local + 28);
  // Both headers carry checksum and sizes: damage both alike.
  auto both = [&](std::string b, std::size_t field, char delta) {
    b[local + field] = static_cast<char>(b[local + field] + delta);
    b[entry + field + 2] = static_cast<char>(b[entry + field + 2] + delta);
    return b;
  };
  std::string flipped = bytes;
  flipped[data + 5000] = static_cast<char>(flipped[data + 5000] ^ 0x10);
  const std::vector<std::pair<std::string, std::string>> damaged = {
      {"flipped.xlsx", flipped},
      {"checksum.xlsx", both(bytes, 14, 1)},
      {"size.xlsx", both(bytes, 22, 1)},
  };
  for (const auto& [name, content] : damaged) {
    SCOPED_TRACE(name);
    test::WriteFile(dir.file(name), content);
    ExpectRefusedNaming(dir.file(name), name);
  }
}

// A package whose main part is `mainPart` with `mainXml`, declared as
// `mainType` (no declaration when empty), reached by `relType`.
std::map<std::string, std::string> MainPartPackage(const std::string& mainPart,
                                                   const std::string& mainXml,
                                                   const std::string& mainType,
                                                   const std::string& relType) {
  std::map<std::string, std::string> parts = {
      {"_rels/.rels",
       R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
       R"(<Relationship Id="rId1" Type=")" +
           relType + R"(" Target=")" + mainPart + R"("/></Relationships>)"},
      {mainPart, mainXml}};
  parts["[Content_Types].xml"] =
      R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
      R"(<Default Extension="xml" ContentType="application/xml"/>)" +
      (mainType.empty()
           ? std::string()
           : R"(<Override PartName="/)" + mainPart + R"(" ContentType=")" + mainType + R"("/>)") +
      "</Types>";
  return parts;
}

// What a file holds decides, not its name: a document renamed .xlsx is
// refused, naming the file, before anything is made of it; every kind of
// workbook package still reads.
TEST(XlsxReader, ContentDecidesWhetherAFileIsAWorkbook) {
  test::TempDir dir;
  const std::string transitional =
      "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument";
  const std::string strict =
      "http://purl.oclc.org/ooxml/officeDocument/relationships/officeDocument";
  const std::string book =
      R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheets/></workbook>)";
  const std::string strictBook =
      R"(<workbook xmlns="http://purl.oclc.org/ooxml/spreadsheetml/main"><sheets/></workbook>)";
  const std::string doc =
      R"(<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body/></w:document>)";
  const std::string wordType =
      "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml";
  struct Case {
    const char* name;
    std::map<std::string, std::string> parts;  // empty: `bytes` as they are
    std::string bytes;
    const char* refusal;  // nullptr: reads
  };
  const std::vector<Case> cases = {
      {"word.xlsx",
       MainPartPackage("word/document.xml", doc, wordType, transitional),
       {},
       "不是 Excel 工作簿文件：它的内容是 Word 文档"},
      // Undeclared: the main part's own content tells.
      {"undeclared.xlsx",
       MainPartPackage("word/document.xml", doc, "", transitional),
       {},
       "不是 Excel 工作簿文件"},
      {"slides.xlsx",
       MainPartPackage("ppt/presentation.xml", "<p:presentation xmlns:p=\"p\"/>",
                       "application/vnd.openxmlformats-officedocument.presentationml.presentation."
                       "main+xml",
                       transitional),
       {},
       "不是 Excel 工作簿文件：它的内容是演示文稿"},
      {"plain.xlsx", {{"notes.txt", "a zip of something else"}}, {}, "不是 Excel 工作簿文件"},
      {"random.xlsx",
       {},
       "\x13\x37 random bytes \x01\x02\x03 that are no package",
       "不是 Excel 工作簿文件"},
      {"binary.xlsx",
       MainPartPackage("xl/workbook.bin", "\x83\x01",
                       "application/vnd.ms-excel.sheet.binary.macroEnabled.main", transitional),
       {},
       ".xlsb"},
      {"ok.xlsx",
       MainPartPackage("xl/workbook.xml", book,
                       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
                       transitional),
       {},
       nullptr},
      {"macros.xlsm",
       MainPartPackage("xl/workbook.xml", book,
                       "application/vnd.ms-excel.sheet.macroEnabled.main+xml", transitional),
       {},
       nullptr},
      {"template.xltx",
       MainPartPackage(
           "xl/workbook.xml", book,
           "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml",
           transitional),
       {},
       nullptr},
      {"strict.xlsx",
       MainPartPackage("xl/workbook.xml", strictBook,
                       "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml",
                       strict),
       {},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file(c.name);
    if (c.parts.empty())
      test::WriteFile(path, c.bytes);
    else
      test::WriteZip(path, c.parts);
    try {
      xl::ReadXlsx(path);
      EXPECT_EQ(c.refusal, nullptr) << "read without complaint";
    } catch (const RunError& e) {
      ASSERT_NE(c.refusal, nullptr) << e.what();
      EXPECT_EQ(e.file(), path);
      EXPECT_NE(std::string(e.what()).find(std::string("“") + path + "”"), std::string::npos)
          << e.what();
      EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
    }
  }
}

// A named pipe among the sources would block a plain open until something
// writes to it: it is refused at once, .xlsx and .xls alike.
TEST(XlsxReader, ANamedPipeIsRefusedAtOnce) {
  test::TempDir dir;
  struct NeverCalled : XlsConverter {
    void ToXlsx(const std::string&, const std::string&) override { ADD_FAILURE() << "converted"; }
    void FromXlsx(const std::string&, const std::string&, const std::string&) override {}
  } converter;
  for (const char* name : {"pipe.xlsx", "pipe.xls"}) {
    SCOPED_TRACE(name);
    const std::string fifo = dir.file(name);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto opening = std::async(std::launch::async, [&] {
      try {
        SheetServer server(&converter);
        server.Open(fifo);
        return std::string("opened");
      } catch (const RunError& e) {
        return std::string(e.what());
      }
    });
    if (opening.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      // Let the blocked open through so the test ends.
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
      ADD_FAILURE() << "opening a named pipe blocked";
    }
    EXPECT_EQ(opening.get(), "无法打开“" + fifo + "”：这不是一个普通文件");
  }
}

TEST(Formula, RelativeReferencesMoveAsAPasteMovesThem) {
  struct Case {
    const char* in;
    long rows, cols;
    const char* out;
  };
  const Case cases[] = {
      {"A1+$B$2+C$3+$D4", 2, 1, "B3+$B$2+D$3+$D6"},
      {"SUM(A1:B2)*Sheet2!C3", 10, 0, "SUM(A11:B12)*Sheet2!C13"},
      {"'My Sheet'!A1&\"A1 stays\"", 1, 1, "'My Sheet'!B2&\"A1 stays\""},
      {"LOG10(A1)+ATAN2(1,2)+1.5E+3", 1, 0, "LOG10(A2)+ATAN2(1,2)+1.5E+3"},
      {"SUM(A:A)+SUM(3:4)+SUM($C:D)", 1, 1, "SUM(B:B)+SUM(4:5)+SUM($C:E)"},
      {"Table1[[#This Row],[A1]]+_xlfn.XLOOKUP(A1,B:B,C:C)", 1, 0,
       "Table1[[#This Row],[A1]]+_xlfn.XLOOKUP(A2,B:B,C:C)"},
      {"A1+B2", -1, 0, "#REF!+B1"},
      {"XFD1+A1048576", 1, 1, "#REF!+#REF!"},
      {"TRUE+AB12!A1", 0, 1, "TRUE+AB12!B1"},
  };
  for (const Case& c : cases) EXPECT_EQ(xl::ShiftFormula(c.in, c.rows, c.cols), c.out) << c.in;
}

// A font as the writer can keep it: the library writes an automatic colour
// as the theme's text colour (black) and an unknown family as 2.
xl::Font Written(xl::Font f) {
  if (f.color == 0) f.color = xl::Rgb(0);
  if (f.family == 0) f.family = 2;
  return f;
}

// A workbook with every kind of cell and the traps of the writer.
std::unique_ptr<xl::Workbook> BuildSample(bool date1904) {
  auto book = std::make_unique<xl::Workbook>();
  book->date1904 = date1904;
  xl::Font base;
  base.name = "宋体";
  base.size = 12;
  book->SetDefaultFont(base);
  xl::Sheet& s = book->AddSheet("销售 2024");
  auto put = [&](std::uint32_t r, std::uint32_t c) -> xl::Cell& { return s.Put(r, c); };

  xl::Style black;
  black.font = base;
  black.fill.pattern = 1;
  black.fill.fg = xl::Rgb(0x000000);
  black.font.color = xl::Rgb(0xFFFFFF);
  black.border.top = {2, xl::Rgb(0x000000)};
  black.align.horizontal = 2;
  black.align.vertical = 2;
  black.align.rotation = 135;
  const std::uint32_t blackStyle = book->AddStyle(black);
  xl::Style date;
  date.font = base;
  date.numFmtId = 14;
  date.numFmt = "mm-dd-yy";
  const std::uint32_t dateStyle = book->AddStyle(date);
  xl::Style custom;
  custom.font = base;
  custom.numFmtId = xl::kCustomFormat;
  custom.numFmt = "0.000_);[Red](0.000)";
  custom.fill.pattern = 11;
  custom.fill.fg = xl::Rgb(0x112233);
  custom.fill.bg = xl::Rgb(0x445566);
  const std::uint32_t customStyle = book->AddStyle(custom);

  xl::Cell& title = put(1, 1);
  title.kind = CellKind::Text;
  title.text = book->AddText("标题");
  title.style = blackStyle;
  put(1, 2).style = blackStyle;  // inside the merge, blank but bordered
  put(1, 3).style = blackStyle;
  s.merges.push_back({1, 1, 1, 3});
  s.merges.push_back({3, 5, 5, 6});  // spans rows written later
  xl::Cell& code = put(2, 1);
  code.kind = CellKind::Text;
  code.text = book->AddText("00123");
  xl::Cell& n = put(2, 2);
  n.kind = CellKind::Number;
  n.number = 0.1 + 0.2;
  n.style = customStyle;
  xl::Cell& d = put(2, 3);
  d.kind = CellKind::Number;
  d.number = 45000.25;
  d.style = dateStyle;
  xl::Cell& b = put(3, 1);
  b.kind = CellKind::Bool;
  b.number = 1;
  xl::Cell& e = put(3, 2);
  e.kind = CellKind::Error;
  e.text = book->AddText("#N/A");
  xl::Cell& fb = put(3, 3);
  fb.kind = CellKind::Bool;
  fb.formula = book->AddFormula("B2>0");
  xl::Cell& fe = put(3, 4);
  fe.kind = CellKind::Error;
  fe.text = book->AddText("#DIV/0!");
  fe.formula = book->AddFormula("1/0");
  xl::Cell& fs = put(4, 1);
  fs.kind = CellKind::Text;
  fs.text = book->AddText("00123x");
  fs.formula = book->AddFormula("A2&\"x\"");
  xl::Cell& fn = put(4, 2);
  fn.kind = CellKind::Number;
  fn.number = 1234567.8912345678;
  fn.formula = book->AddFormula("B2*4115226.297448559");
  xl::Cell& merged = put(3, 5);
  merged.kind = CellKind::Number;
  merged.number = 7;
  xl::RichRun plain{false, {}, "普通"};
  xl::Font red = base;
  red.color = xl::Rgb(0xFF0000);
  red.bold = true;
  xl::RichRun bold{true, red, "红色"};
  xl::Cell& rich = put(6, 1);
  rich.kind = CellKind::Text;
  rich.text = book->AddRichText({plain, bold});
  // Numbers at full precision: some need all 17 digits, some far fewer.
  const double numbers[] = {1.0 / 3,
                            2.0 / 3,
                            1e-300,
                            5e-324,
                            1.7976931348623157e308,
                            -1e21,
                            123456789012345678.0,
                            0.1,
                            100,
                            45000.000011574074};
  std::uint32_t nr = 10;
  for (double v : numbers) {
    xl::Cell& c = put(nr++, 8);
    c.kind = CellKind::Number;
    c.number = v;
  }
  xl::Cell& big = put(70000, 30);
  big.kind = CellKind::Number;
  big.number = -0.0001;

  s.columns[1] = {12.7109375, false};
  s.columns[2] = {30, false};
  s.columns[4] = {0, true};
  s.GetRow(1).height = 33;
  s.GetRow(5).hidden = true;
  s.freezeRows = 1;
  s.freezeCols = 2;
  book->AddSheet("Empty");
  return book;
}

TEST(XlsxWriter, RoundTripKeepsValuesTypesStylesAndLayout) {
  test::TempDir dir;
  for (bool date1904 : {false, true}) {
    SCOPED_TRACE(date1904 ? "1904" : "1900");
    const auto book = BuildSample(date1904);
    const std::string path = dir.file(date1904 ? "s1904.xlsx" : "s1900.xlsx");
    xl::WriteXlsx(*book, path);
    const auto back = xl::ReadXlsx(path);

    auto expected = test::CellLines(*book);
    if (date1904) expected["销售 2024\tC2"] = "n\t46462.25";  // the same day in the 1900 system
    EXPECT_EQ(test::CellLines(*back), expected);
    EXPECT_EQ(test::MergeLines(*back), test::MergeLines(*book));
    EXPECT_FALSE(back->date1904);
    EXPECT_EQ(back->DefaultFont().name, "宋体");
    EXPECT_EQ(back->DefaultFont().size, 12);

    const xl::Sheet& s = *back->sheets[0];
    const xl::Sheet& o = *book->sheets[0];
    for (const xl::Row& row : o.rows)
      for (const xl::Cell& c : row.cells) {
        const xl::Cell* got = s.Find(row.index, c.col);
        ASSERT_NE(got, nullptr) << xl::CellRef(row.index, c.col);
        xl::Style have = back->styles[got->style], want = book->styles[c.style];
        have.font = Written(have.font);
        want.font = Written(want.font);
        EXPECT_EQ(have, want) << xl::CellRef(row.index, c.col);
        EXPECT_EQ(got->formula != 0, c.formula != 0);
        if (c.formula != 0) {
          EXPECT_EQ(back->Formula(*got), book->Formula(c));
        }
      }
    const auto* runs = back->Runs(s.Find(6, 1)->text);
    ASSERT_NE(runs, nullptr);
    EXPECT_EQ(Written(runs->at(1).font), Written(book->Runs(o.Find(6, 1)->text)->at(1).font));
    EXPECT_EQ(s.columns, o.columns);
    EXPECT_EQ(s.FindRow(1)->height, 33);
    EXPECT_TRUE(s.FindRow(5)->hidden);
    EXPECT_EQ(s.freezeRows, 1u);
    EXPECT_EQ(s.freezeCols, 2u);
    ASSERT_EQ(back->sheets.size(), 2u);
    EXPECT_EQ(back->sheets[1]->name, "Empty");
    // Readers that stream a sheet size it by its dimension.
    EXPECT_NE(
        test::ReadZipPart(path, "xl/worksheets/sheet1.xml").find("<dimension ref=\"A1:AD70000\"/>"),
        std::string::npos);

    // An independent reader sees the same cells, formats and merges.
    const test::OpenpyxlView view = test::ReadWithOpenpyxl(path);
    if (!view.ok) GTEST_SKIP() << "python3-openpyxl is not installed";
    const auto faults = test::CompareCells(test::CellLines(*back), view.cells);
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(view.merges.size(), 2u);
    EXPECT_EQ(view.formats.at("销售 2024\tB2"), "0.000_);[Red](0.000)");
    EXPECT_EQ(view.formats.at("销售 2024\tC2"), "mm-dd-yy");
  }
}

TEST(XlsxWriter, ExistingFileIsReplacedOnlyByACompleteWorkbook) {
  test::TempDir dir;
  const std::string path = dir.file("out.xlsx");
  test::WriteFile(path, "old");
  xl::Workbook book;
  book.AddSheet("bad[name]");
  EXPECT_THROW(xl::WriteXlsx(book, path), RunError);
  EXPECT_EQ(test::ReadFile(path), "old");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.str())) ++files;
  EXPECT_EQ(files, 1u) << "no temporary file left behind";
}

// Texts come back character for character, whatever XML or the format's own
// "_xHHHH_" escapes make of them; so do sheet names and formulas.
TEST(XlsxWriter, TextsNamesAndFormulasComeBackAsTheyWere) {
  test::TempDir dir;
  const std::string texts[] = {
      "_x0041_ is not an A",
      "a\rb\r\nc",
      "\x01\x1F control",
      "  spaces around  ",
      "<&>\"'",
      "tab\tand\nnewline",
      "_x00_ _x12345_ __x0041__",
      "\xF0\x9F\x98\x80 表情",
  };
  xl::Workbook book;
  xl::Sheet& s = book.AddSheet("R&D <1>");
  std::uint32_t r = 1;
  for (const std::string& t : texts) {
    xl::Cell& c = s.Put(r++, 1);
    c.kind = CellKind::Text;
    c.text = book.AddText(t);
  }
  xl::Cell& f = s.Put(1, 2);
  f.kind = CellKind::Text;
  f.text = book.AddText("x<y & _x0041_");
  f.formula = book.AddFormula("IF(A1<>\"\",\"x<y & _x0041_\",\"\")");
  // Every sheet hidden: the first one shows, as the application needs one.
  book.sheets[0]->state = xl::SheetState::Hidden;
  book.AddSheet("Hidden").state = xl::SheetState::VeryHidden;
  const std::string path = dir.file("texts.xlsx");
  xl::WriteXlsx(book, path);
  const auto back = xl::ReadXlsx(path);
  EXPECT_EQ(test::CellLines(*back), test::CellLines(book));
  EXPECT_EQ(back->Formula(*back->sheets[0]->Find(1, 2)), book.Formula(f));
  EXPECT_EQ(back->sheets[0]->name, "R&D <1>");
  EXPECT_EQ(back->sheets[0]->state, xl::SheetState::Visible);
  EXPECT_EQ(back->sheets[1]->state, xl::SheetState::VeryHidden);
}

// Saving keeps no file open: the library leaves the temporary file of a
// sheet without rows open, one lost per save, until a long run runs out.
TEST(XlsxWriter, SavesLeaveNoFileOpen) {
  test::TempDir dir;
  xl::Workbook book;
  book.AddSheet("Empty");
  xl::Cell& cell = book.AddSheet("Data").Put(1, 1);
  cell.kind = CellKind::Number;
  cell.number = 1;
  book.AddSheet("Empty too");
  auto openFiles = [] {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& fd : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  const std::size_t before = openFiles();
  for (int i = 0; i < 20; ++i) xl::WriteXlsx(book, dir.file("out.xlsx"));
  EXPECT_EQ(openFiles(), before);
  xl::Workbook none;
  xl::WriteXlsx(none, dir.file("none.xlsx"));  // no sheet: the library adds one
  EXPECT_EQ(openFiles(), before);
}

// Our cells as openpyxl can see them: it reads the hidden cells of a merged
// range as empty.
std::map<std::string, std::string> VisibleCells(const xl::Workbook& book) {
  auto lines = test::CellLines(book);
  for (const auto& sheet : book.sheets)
    for (const xl::Rect& m : sheet->merges)
      for (std::uint32_t r = m.r1; r <= m.r2; ++r)
        for (std::uint32_t c = m.c1; c <= m.c2; ++c)
          if (r != m.r1 || c != m.c1)
            lines.erase(test::Escape(sheet->name) + "\t" + xl::CellRef(r, c));
  return lines;
}

// The cells of `book` once written: dates of a 1904 workbook move to the 1900 system.
std::map<std::string, std::string> CellsAsWritten(const xl::Workbook& book) {
  auto lines = test::CellLines(book);
  if (!book.date1904) return lines;
  for (const auto& sheet : book.sheets)
    for (const xl::Row& row : sheet->rows)
      for (const xl::Cell& c : row.cells) {
        const xl::Style& s = book.styles[c.style];
        if (c.kind != CellKind::Number || !xl::IsDateFormat(s.numFmtId, s.numFmt)) continue;
        char buf[64];
        std::snprintf(buf, sizeof buf, "n\t%.17g", c.number + xl::kDate1904Offset);
        lines[test::Escape(sheet->name) + "\t" + xl::CellRef(row.index, c.col)] = buf;
      }
  return lines;
}

std::string FixtureDir() {
  return std::string(PW_FIXTURES_DIR) + "/xlsx";
}

// Every real workbook: our reader sees exactly the cells openpyxl sees; our
// output read back (by us and by openpyxl) has the same cells, styles and merges.
TEST(XlsxFixtures, EveryCellOfEveryRealWorkbookSurvivesReadAndWrite) {
  if (!fs::is_directory(FixtureDir())) GTEST_SKIP() << "no fixtures at " << FixtureDir();
  test::TempDir dir;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(FixtureDir())) {
    if (entry.path().extension() != ".xlsx") continue;
    ++files;
    const std::string path = entry.path().string();
    SCOPED_TRACE(path);
    const auto book = xl::ReadXlsx(path);
    const test::OpenpyxlView source = test::ReadWithOpenpyxl(path);
    if (source.ok) {
      const auto faults = test::CompareCells(VisibleCells(*book), source.cells);
      EXPECT_TRUE(faults.empty()) << faults.size() << " differences, first: " << faults.front();
    }
    const std::string out = dir.file(entry.path().filename().string());
    xl::WriteXlsx(*book, out);
    const auto back = xl::ReadXlsx(out);
    const auto lost = test::CompareCells(test::CellLines(*back), CellsAsWritten(*book));
    EXPECT_TRUE(lost.empty()) << lost.size() << " differences, first: " << lost.front();
    EXPECT_EQ(test::MergeLines(*back), test::MergeLines(*book));
    ASSERT_EQ(back->sheets.size(), book->sheets.size());
    for (std::size_t i = 0; i < book->sheets.size(); ++i) {
      const xl::Sheet& a = *book->sheets[i];
      const xl::Sheet& b = *back->sheets[i];
      EXPECT_EQ(a.name, b.name);
      EXPECT_EQ(a.freezeRows, b.freezeRows);
      EXPECT_EQ(a.freezeCols, b.freezeCols);
      for (const xl::Row& row : a.rows)
        for (const xl::Cell& c : row.cells) {
          const xl::Cell* got = b.Find(row.index, c.col);
          if (got == nullptr) continue;  // blank unstyled: nothing to keep
          const xl::Style& want = book->styles[c.style];
          const xl::Style& have = back->styles[got->style];
          EXPECT_EQ(have.numFmt, want.numFmt) << a.name << "!" << xl::CellRef(row.index, c.col);
          EXPECT_EQ(Written(have.font), Written(want.font))
              << a.name << "!" << xl::CellRef(row.index, c.col);
          EXPECT_EQ(have.fill, want.fill) << a.name << "!" << xl::CellRef(row.index, c.col);
          EXPECT_EQ(have.border, want.border) << a.name << "!" << xl::CellRef(row.index, c.col);
          EXPECT_EQ(have.align, want.align) << a.name << "!" << xl::CellRef(row.index, c.col);
        }
    }
    if (source.ok) {
      const test::OpenpyxlView written = test::ReadWithOpenpyxl(out);
      ASSERT_TRUE(written.ok) << "openpyxl cannot read our output";
      const auto faults = test::CompareCells(VisibleCells(*back), written.cells);
      EXPECT_TRUE(faults.empty()) << faults.size() << " differences, first: " << faults.front();
      EXPECT_EQ(written.merges, source.merges);
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace pw
