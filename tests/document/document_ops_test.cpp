#include "ops/document/document_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/document/XRedlinesSupplier.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextFieldsSupplier.hpp>
#include <com/sun/star/text/XTextFrame.hpp>
#include <com/sun/star/text/XTextFramesSupplier.hpp>
#include <com/sun/star/text/XTextGraphicObjectsSupplier.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <ostream>

#include "platform/office/word.h"
#include "platform/office/word_state.h"
#include "tests/office/flat_docs.h"
#include "tests/office/linked_docs.h"
#include "tests/office/loopback_http.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

using test::ReadFile;
using test::ReadZipPart;
using test::TempDir;
using test::WriteFile;
using test::WriteZip;

struct Recorder : RunReporter {
  std::vector<std::string> statuses;
  std::vector<int> counters, removedRows, trashed;
  int steps = 0;
  bool ended = false;
  std::function<void(const std::string&)> onStatus;  // e.g. asks for a stop at a chosen step
  void Status(const std::string& text) override {
    statuses.push_back(text);
    if (onStatus) onStatus(text);
  }
  void Counter(int finished) override { counters.push_back(finished); }
  void BeginProgress(int) override {}
  void StepProgress() override { ++steps; }
  void EndProgress() override { ended = true; }
  void RemoveRow(int i) override { removedRows.push_back(i); }
  void SourceRemoved(int i, RemoveOutcome) override { trashed.push_back(i); }
};

RunState MakeRun(const std::vector<std::string>& files, const std::string& outputBase) {
  RunState run;
  for (std::size_t i = 0; i < files.size(); ++i) {
    run.WorkList.push_back(files[i]);
    run.WorkRowIndexes.push_back(static_cast<int>(i));
  }
  run.OutputBase = outputBase;
  return run;
}

// Pages "page 1" ... "page n", each on a page of its own.
std::string Pages(int n, const std::string& word = "page ") {
  std::vector<std::string> pieces;
  for (int i = 1; i <= n; ++i) pieces.push_back((i > 1 ? "\f" : "") + (word + std::to_string(i)));
  return test::SimpleFodt(pieces);
}

// Real .docx files at the given paths, written by the office server from flat documents.
void MakeDocx(const std::vector<std::pair<std::string, std::string>>& files) {
  OfficeServer server;
  word::WordApplication app(server);
  for (const auto& [path, fodt] : files) {
    WriteFile(path + ".fodt", fodt);
    word::WordDocument& d = app.Documents().Open(path + ".fodt");
    d.SaveAs(path);
    d.Close();
    std::filesystem::remove(path + ".fodt");
  }
}

DocumentSplitOptions ByPages(int pages) {
  DocumentSplitOptions options;
  options.way = DocumentSplitOptions::Way::Pages;
  options.pagesText = std::to_string(pages);
  return options;
}

std::string FirstDifference(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  const std::size_t from = i > 40 ? i - 40 : 0;
  return "at " + std::to_string(i) + ": [" + a.substr(from, 100) + "] vs [" + b.substr(from, 100) +
         "]";
}

std::string Words(const std::string& text) {
  std::string out;
  for (char c : text)
    if (static_cast<unsigned char>(c) > ' ') out += c;
  return out;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Opened {
  int pages;
  std::string text;
  int images = 0;
};

std::vector<Opened> OpenAll(const std::vector<std::string>& files) {
  OfficeServer server;
  word::WordApplication app(server);
  std::vector<Opened> out;
  for (const std::string& f : files) {
    word::WordDocument& d = app.Documents().Open(f);
    out.push_back({d.PageCount(), d.Text(), d.ImageCount()});
    d.Close();
  }
  return out;
}

TEST(DocumentMerge, JoinsDocumentsInOrderWithTheChosenSeparators) {
  struct Case {
    bool pageBreak, paragraph;
    int pages;
    const char* text;
  };
  // b has two pages; a break follows the last document too, leaving an empty last page.
  const Case cases[] = {
      {true, false, 5, "a1\nb1\nb2\nc1\n\n\n"},
      {false, false, 2, "a1\nb1\nb2\nc1\n\n"},
      {false, true, 2, "a1\n\nb1\nb2\n\nc1\n\n\n"},
      {true, true, 5, "a1\n\n\nb1\nb2\n\n\nc1\n\n\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.pageBreak) + std::to_string(c.paragraph));
    TempDir dir;
    WriteFile(dir.file("a.fodt"), test::SimpleFodt({"a1"}));
    WriteFile(dir.file("b.fodt"), test::SimpleFodt({"b1", "\fb2"}));
    WriteFile(dir.file("c.fodt"), test::SimpleFodt({"c1"}));
    RunState run =
        MakeRun({dir.file("a.fodt"), dir.file("b.fodt"), dir.file("c.fodt")}, dir.file("新文档"));
    Recorder rec;
    MergeDocuments(run, {c.pageBreak, c.paragraph}, CommonOptions{}, rec);
    EXPECT_EQ(run.OutputBase, dir.file("新文档.docx"));
    EXPECT_EQ(rec.counters, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(rec.ended);
    EXPECT_EQ(rec.statuses.back(), "3 个文件合并生成新文件：" + dir.file("新文档.docx"));
    const auto merged = OpenAll({run.OutputBase});
    EXPECT_EQ(merged[0].text, c.text);
    EXPECT_EQ(merged[0].pages, c.pages);
  }
}

TEST(DocumentMerge, FailureOrStopWritesNothingAndKeepsEverySource) {
  TempDir dir;
  WriteFile(dir.file("a.fodt"), test::SimpleFodt({"a"}));
  WriteFile(dir.file("bad.docx"), std::string("PK\x03\x04", 4) + "broken");
  WriteFile(dir.file("c.fodt"), test::SimpleFodt({"c"}));
  const CommonOptions deleting{true, true};
  {
    RunState run =
        MakeRun({dir.file("a.fodt"), dir.file("bad.docx"), dir.file("c.fodt")}, dir.file("out"));
    Recorder rec;
    try {
      MergeDocuments(run, {}, deleting, rec);
      FAIL() << "a damaged document must end the run";
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Failure);
      EXPECT_EQ(e.file(), dir.file("bad.docx"));
      EXPECT_NE(std::string(e.what()).find("bad.docx"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(rec.removedRows.empty());
    EXPECT_TRUE(rec.trashed.empty());
    EXPECT_TRUE(rec.ended);
  }
  {
    std::atomic<bool> stop{true};
    RunState run = MakeRun({dir.file("a.fodt"), dir.file("c.fodt")}, dir.file("out"));
    run.StopFlag = &stop;
    Recorder rec;
    MergeDocuments(run, {}, deleting, rec);
    EXPECT_EQ(rec.statuses.back(), "用户强行退出，合并操作未完成！没有写入任何文件。");
    EXPECT_TRUE(rec.removedRows.empty());
    EXPECT_TRUE(rec.trashed.empty());
  }
  {
    // A stop while the merged document is being saved: the saved file goes.
    std::atomic<bool> stop{false};
    RunState run = MakeRun({dir.file("a.fodt"), dir.file("c.fodt")}, dir.file("out"));
    run.StopFlag = &stop;
    Recorder rec;
    rec.onStatus = [&](const std::string& text) {
      if (text.find("合并操作已完成") != std::string::npos) stop = true;
    };
    MergeDocuments(run, {}, deleting, rec);
    EXPECT_EQ(rec.statuses.back(), "用户强行退出，合并操作未完成！没有写入任何文件。");
    EXPECT_TRUE(rec.removedRows.empty());
  }
  EXPECT_EQ(FilesIn(dir.str()), (std::vector<std::string>{"a.fodt", "bad.docx", "c.fodt"}));
  EXPECT_FALSE(std::filesystem::exists(dir.file("out.docx")));
  for (const char* name : {"a.fodt", "bad.docx", "c.fodt"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
}

TEST(DocumentSplit, CutsByPartsPagesAndCharactersWithoutLosingText) {
  struct Case {
    const char* name;
    std::string source;
    DocumentSplitOptions options;
    std::size_t parts;
    std::vector<int> pages;  // per part; empty: not checked
  };
  std::string text1200;
  for (int i = 0; i < 12; ++i) text1200 += std::string(99, static_cast<char>('a' + i)) + " ";
  const Case cases[] = {
      {"ten-into-3", Pages(10), {DocumentSplitOptions::Way::Parts, "3", "", ""}, 3, {3, 3, 4}},
      {"ten-into-1", Pages(10), {DocumentSplitOptions::Way::Parts, "1", "", ""}, 1, {10}},
      {"two-into-5", Pages(2), {DocumentSplitOptions::Way::Parts, "5", "", ""}, 5, {}},
      {"twelve-by-5", Pages(12), {DocumentSplitOptions::Way::Pages, "", "5", ""}, 3, {5, 5, 2}},
      {"ten-by-5", Pages(10), {DocumentSplitOptions::Way::Pages, "", "5", ""}, 2, {5, 5}},
      {"chars-by-500",
       test::SimpleFodt({text1200}),
       {DocumentSplitOptions::Way::Characters, "", "", "500"},
       3,
       {1, 1, 1}},
  };
  // Real .docx sources, written by the office server from the flat documents.
  TempDir sources;
  {
    OfficeServer server;
    word::WordApplication app(server);
    for (const Case& c : cases) {
      WriteFile(sources.file(std::string(c.name) + ".fodt"), c.source);
      std::filesystem::create_directories(sources.file(c.name));
      word::WordDocument& d = app.Documents().Open(sources.file(std::string(c.name) + ".fodt"));
      d.SaveAs(sources.file(std::string(c.name) + "/report.docx"));
      d.Close();
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string source = sources.file(std::string(c.name) + "/report.docx");
    const std::string before = ReadFile(source);
    RunState run = MakeRun({source}, dir.file("report.docx"));
    Recorder rec;
    SplitDocuments(run, c.options, CommonOptions{}, rec);
    EXPECT_EQ(ReadFile(source), before);  // never saved
    std::vector<std::string> parts;
    for (int k = 1; std::filesystem::exists(dir.file("report_" + std::to_string(k) + ".docx")); ++k)
      parts.push_back(dir.file("report_" + std::to_string(k) + ".docx"));
    EXPECT_EQ(run.OutputBase, parts.empty() ? dir.file("report.docx") : parts.back());
    const auto opened = OpenAll(parts);
    std::string joined;
    std::vector<int> pages;
    for (const Opened& o : opened) {
      joined += o.text;
      pages.push_back(o.pages);
    }
    const auto original = OpenAll({source});
    EXPECT_EQ(Words(joined), Words(original[0].text));
    EXPECT_EQ(pages.size(), c.parts);
    if (!c.pages.empty()) {
      EXPECT_EQ(pages, c.pages);
    }
    EXPECT_EQ(rec.statuses.back(), "1 个文件已被分割，并生成了新文件！");
  }
}

// Split by pages cuts where the pages end: every part holds exactly its
// pages (the last one what is left), a table running across a page is cut
// into two tables there (the second repeating the heading rows when the table
// repeats them), and a paragraph running across a page goes on in the next
// part without spacing above it or a first-line indent.
TEST(DocumentSplit, EveryPartHoldsExactlyItsPages) {
  auto table = [](bool heading, int rows) {
    std::string t = heading ? "||Head|H2" : "|top|row";
    for (int i = 1; i <= rows; ++i) t += "\n|r" + std::to_string(i) + "|x";
    return t;
  };
  std::string prose;
  for (int i = 0; i < 60; ++i) prose += "word" + std::to_string(i) + " lorem ipsum dolor sit amet ";
  test::FlatText paragraphs;
  paragraphs.paragraphLook = R"(fo:margin-top="0.8cm" fo:text-indent="2cm")";
  for (int i = 0; i < 14; ++i) paragraphs.pieces.push_back(prose);
  // Short paragraphs kept whole start every page, which shows no spacing
  // above them there.
  test::FlatText kept;
  kept.paragraphLook = R"(fo:margin-top="4cm" fo:keep-together="always")";
  for (int i = 0; i < 40; ++i) kept.pieces.push_back(prose.substr(0, 400));
  // A table that starts a page of its own: the part before ends above it.
  std::string breaking = test::SimpleFodt({"intro", table(false, 100), "outro"});
  breaking.replace(breaking.find("<table:table table:name=\"T1\">"),
                   std::string("<table:table table:name=\"T1\">").size(),
                   "<table:table table:name=\"T1\" table:style-name=\"TB\">");
  breaking.insert(
      breaking.find("<office:automatic-styles>") + std::string("<office:automatic-styles>").size(),
      "<style:style style:name=\"TB\" style:family=\"table\"><style:table-properties "
      "style:width=\"17cm\" fo:break-before=\"page\"/></style:style>");
  // A row under a short one, side by side cells of their own words running
  // over several pages: the row is cut at each page, each cell where its text
  // does.
  std::string tall = "|short|row\n";
  for (int col = 1; col <= 2; ++col) {
    tall += "|";
    for (int i = 0; i < 700 * col; ++i)
      tall += "c" + std::to_string(col) + "w" + std::to_string(i) + " ";
  }
  struct Case {
    const char* name;
    std::string source;
    int pagesPerPart;
    const char* repeated;  // words every part after the first starts with, when not ""
    bool rowsCut = false;  // cells' text is cut side by side: words compared as a set
  };
  const Case cases[] = {
      {"heading-table", test::SimpleFodt({"intro", table(true, 120), "outro"}), 1, "HeadH2"},
      {"plain-table", test::SimpleFodt({"intro", table(false, 230), "outro"}), 2, ""},
      {"table-on-a-new-page", breaking, 1, ""},
      {"paragraphs", test::MakeFodt(paragraphs), 1, ""},
      {"whole-paragraphs", test::MakeFodt(kept), 1, ""},
      {"tall-row", test::SimpleFodt({"intro", tall, "outro"}), 1, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string source = dir.file(std::string(c.name) + ".fodt");
    WriteFile(source, c.source);
    std::filesystem::create_directories(dir.file("out"));
    RunState run = MakeRun({source}, dir.file("out/x"));
    Recorder rec;
    SplitDocuments(run, ByPages(c.pagesPerPart), CommonOptions{}, rec);
    std::vector<std::string> parts;
    for (const std::string& name : FilesIn(dir.file("out")))
      parts.push_back(dir.file("out/" + name));
    const Opened original = OpenAll({source})[0];
    ASSERT_GE(original.pages, 3);
    const int wanted = (original.pages + c.pagesPerPart - 1) / c.pagesPerPart;
    ASSERT_EQ(parts.size(), static_cast<std::size_t>(wanted));
    std::string joined;
    int total = 0;
    const auto opened = OpenAll(parts);
    for (std::size_t k = 0; k < opened.size(); ++k) {
      SCOPED_TRACE(parts[k]);
      total += opened[k].pages;
      if (k + 1 < opened.size()) {
        EXPECT_EQ(opened[k].pages, c.pagesPerPart);
      } else {
        EXPECT_LE(opened[k].pages, c.pagesPerPart);
      }
      std::string words = Words(opened[k].text);
      if (k > 0 && *c.repeated != '\0') {
        EXPECT_EQ(words.rfind(c.repeated, 0), 0u) << words.substr(0, 40);
        words.erase(0, std::string(c.repeated).size());
      }
      joined += words;
    }
    EXPECT_EQ(total, original.pages);
    if (c.rowsCut) {
      auto tokens = [](const std::string& text) {
        std::istringstream in(text);
        std::multiset<std::string> all{std::istream_iterator<std::string>(in), {}};
        return all;
      };
      std::string texts;
      for (const Opened& o : opened) texts += o.text + "\n";
      EXPECT_EQ(tokens(texts), tokens(original.text));
      continue;
    }
    EXPECT_TRUE(joined == Words(original.text)) << FirstDifference(joined, Words(original.text));
  }
}

// A table holding a drawing anchored in a cell is not cut between rows (the
// drawing would stay behind): the pages it covers stay with the part its
// first page is in. No part comes out empty, nothing goes to two parts, and
// the run says how many pages were joined. A picture set in a cell's text as
// a character goes with its row: that table is cut at every page.
TEST(DocumentSplit, PagesInsideATableThatCannotBeCutJoinThePartBefore) {
  std::string rows = "|top|row";
  for (int i = 1; i <= 200; ++i) rows += "\n|r" + std::to_string(i) + "|x";
  const std::string plain = test::SimpleFodt({"intro", rows, "outro"});
  const std::string cell = "<text:p>r3</text:p>";
  const std::size_t at = plain.find(cell);
  ASSERT_NE(at, std::string::npos);
  const std::string ns =
      "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" ";
  struct Case {
    const char* name;
    std::string drawing;
    bool joins;
  };
  const Case cases[] = {
      {"anchored",
       "<draw:rect " + ns +
           "text:anchor-type=\"paragraph\" svg:x=\"0cm\" svg:y=\"0cm\" "
           "svg:width=\"1cm\" svg:height=\"0.3cm\"/>",
       true},
      {"as-character",
       "<draw:frame " + ns +
           "text:anchor-type=\"as-char\" svg:width=\"1cm\" svg:height=\"0.3cm\"><draw:image>"
           "<office:binary-data>"
           "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGA"
           "hKmMIQAAAABJRU5ErkJggg==</office:binary-data></draw:image></draw:frame>",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string source = plain;
    source.replace(at, cell.size(), "<text:p>r3" + c.drawing + "</text:p>");
    TempDir dir;
    WriteFile(dir.file("drawing.fodt"), source);
    std::filesystem::create_directories(dir.file("out"));
    RunState run = MakeRun({dir.file("drawing.fodt")}, dir.file("out/x"));
    Recorder rec;
    SplitDocuments(run, ByPages(1), CommonOptions{}, rec);
    const Opened original = OpenAll({dir.file("drawing.fodt")})[0];
    ASSERT_GE(original.pages, 4);
    std::vector<std::string> parts;
    for (const std::string& name : FilesIn(dir.file("out")))
      parts.push_back(dir.file("out/" + name));
    if (c.joins) {
      EXPECT_LT(parts.size(), static_cast<std::size_t>(original.pages));
    } else {
      EXPECT_EQ(parts.size(), static_cast<std::size_t>(original.pages));
    }
    std::string joined;
    int images = 0;
    const auto opened = OpenAll(parts);
    for (std::size_t k = 0; k < opened.size(); ++k) {
      EXPECT_FALSE(Words(opened[k].text).empty()) << parts[k];
      joined += Words(opened[k].text);
      images += opened[k].images;
    }
    EXPECT_TRUE(joined == Words(original.text)) << FirstDifference(joined, Words(original.text));
    EXPECT_EQ(images, original.images);
    const bool said =
        std::find_if(rec.statuses.begin(), rec.statuses.end(), [](const std::string& s) {
          return s.find("已并入前一部分") != std::string::npos;
        }) != rec.statuses.end();
    EXPECT_EQ(said, c.joins);
  }
}

// The header each page of a document shows, by the rules of its page style:
// the first-page one on the first page, the left-page one on even pages.
std::vector<std::string> HeadersShown(const std::string& file) {
  using namespace css;
  OfficeServer server;
  word::WordApplication app(server);
  word::WordDocument& doc = app.Documents().Open(file);
  word::DocumentState& d = doc.state();
  const uno::Reference<container::XNameAccess> styles(
      uno::Reference<style::XStyleFamiliesSupplier>(d.model, uno::UNO_QUERY_THROW)
          ->getStyleFamilies()
          ->getByName("PageStyles"),
      uno::UNO_QUERY_THROW);
  std::vector<std::string> shown;
  const int pages = doc.PageCount();
  for (int page = 1; page <= pages; ++page) {
    app.Selection().GoTo(word::wdGoToPage, word::wdGoToAbsolute, std::to_string(page));
    OUString name;
    uno::Reference<beans::XPropertySet>(d.view, uno::UNO_QUERY_THROW)
        ->getPropertyValue("PageStyleName") >>= name;
    uno::Reference<beans::XPropertySet> style(styles->getByName(name), uno::UNO_QUERY_THROW);
    bool firstShared = true, shared = true;
    style->getPropertyValue("FirstIsShared") >>= firstShared;
    style->getPropertyValue("HeaderIsShared") >>= shared;
    const char* key = page == 1 && !firstShared  ? "HeaderTextFirst"
                      : page % 2 == 0 && !shared ? "HeaderTextLeft"
                                                 : "HeaderText";
    shown.push_back(
        FromOU(uno::Reference<text::XText>(style->getPropertyValue(OUString::createFromAscii(key)),
                                           uno::UNO_QUERY_THROW)
                   ->getString()));
  }
  doc.Close();
  return shown;
}

// Each page of a part shows the header its page showed in the source: the
// first-page header only on the part holding the first page, the left-page
// header on the source's even pages.
TEST(DocumentSplit, PartsShowTheHeadersTheirPagesShowedInTheSource) {
  TempDir dir;
  test::FlatText book;
  book.headerXml = "<text:p>RIGHT</text:p>";
  book.headerLeftXml = "<text:p>LEFT</text:p>";
  book.headerFirstXml = "<text:p>FIRST</text:p>";
  book.pieces = {"body1", "\fbody2", "\fbody3", "\fbody4", "\fbody5"};
  WriteFile(dir.file("book.fodt"), test::MakeFodt(book));
  ASSERT_EQ(HeadersShown(dir.file("book.fodt")),
            (std::vector<std::string>{"FIRST", "LEFT", "RIGHT", "LEFT", "RIGHT"}));
  const std::vector<std::vector<std::string>> onePage = {
      {"FIRST"}, {"LEFT"}, {"RIGHT"}, {"LEFT"}, {"RIGHT"}};
  const std::vector<std::vector<std::string>> twoPages = {
      {"FIRST", "LEFT"}, {"RIGHT", "LEFT"}, {"RIGHT"}};
  for (const auto& [pages, expected] : {std::pair{1, onePage}, std::pair{2, twoPages}}) {
    SCOPED_TRACE(pages);
    const std::string out = dir.file("out" + std::to_string(pages));
    std::filesystem::create_directories(out);
    RunState run = MakeRun({dir.file("book.fodt")}, out + "/x");
    Recorder rec;
    SplitDocuments(run, ByPages(pages), CommonOptions{}, rec);
    const std::vector<std::string> parts = FilesIn(out);
    ASSERT_EQ(parts.size(), expected.size());
    for (std::size_t k = 0; k < parts.size(); ++k)
      EXPECT_EQ(HeadersShown(out + "/" + parts[k]), expected[k]) << parts[k];
  }
}

// A page the layout leaves blank, so that a chapter starts on a right-hand
// page, is no page of the document: one page per part gives no empty part
// and no part a page late.
TEST(DocumentSplit, BlankPagesTheLayoutAddsAreNotCountedOrCut) {
  TempDir dir;
  std::string body = "<text:p>one</text:p>";
  for (const char* word : {"two", "three"})
    body += std::string("<text:p text:style-name=\"R\">") + word + "</text:p>";
  WriteFile(dir.file("in/book.fodt"),
            R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles><style:style style:name="R" style:family="paragraph" style:master-page-name="Right"/>
<style:page-layout style:name="pl" style:page-usage="right"/></office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard"/><style:master-page style:name="Right" style:page-layout-name="pl"/></office:master-styles>
<office:body><office:text>)" +
                body + "</office:text></office:body></office:document>");
  std::filesystem::create_directories(dir.file("out"));
  const DocumentSplitOptions byPage = ByPages(1);
  RunState run = MakeRun({dir.file("in/book.fodt")}, dir.file("out/x"));
  Recorder rec;
  SplitDocuments(run, byPage, CommonOptions{}, rec);
  std::vector<std::string> parts;
  for (const std::string& name : FilesIn(dir.file("out"))) parts.push_back(dir.file("out/" + name));
  ASSERT_EQ(parts.size(), 3u);
  const auto opened = OpenAll(parts);
  const char* const words[] = {"one", "two", "three"};
  for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(Words(opened[k].text), words[k]) << parts[k];
}

TEST(DocumentSplit, AnEmptyZeroOrWrongCountIsRefusedBeforeAnythingIsWritten) {
  struct Case {
    DocumentSplitOptions options;
    const char* message;
  };
  const Case cases[] = {
      {{DocumentSplitOptions::Way::Parts, " ", "5", "500"}, "请填写分割数量，只接受阿拉伯数字！"},
      {{DocumentSplitOptions::Way::Pages, "2", "", "500"}, "请填写新文档页数，只接受阿拉伯数字！"},
      {{DocumentSplitOptions::Way::Characters, "2", "5", ""},
       "请填写新文档总字数，只接受阿拉伯数字！"},
      {{DocumentSplitOptions::Way::Parts, "0", "5", "500"}, "大于 0"},
      {{DocumentSplitOptions::Way::Characters, "2", "5", "-3"}, "大于 0"},
      {{DocumentSplitOptions::Way::Pages, "2", "五", "500"}, "只接受阿拉伯数字"},
  };
  TempDir dir;
  WriteFile(dir.file("a.fodt"), test::SimpleFodt({"a"}));
  for (const Case& c : cases) {
    RunState run = MakeRun({dir.file("a.fodt")}, dir.file("a.fodt"));
    Recorder rec;
    try {
      SplitDocuments(run, c.options, CommonOptions{true, true}, rec);
      ADD_FAILURE() << "accepted " << c.message;
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Validation);
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_TRUE(rec.removedRows.empty());
  }
  int files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.str())) ++files;
  EXPECT_EQ(files, 1);
}

TEST(DocumentSafety, NothingADocumentLinksToIsFetched) {
  test::LoopbackHttp web;
  ASSERT_TRUE(web.listening());
  const std::string base = web.url("");
  TempDir dir;
  test::WriteLinkedDocx(dir.file("in/linked.docx"), base);
  WriteFile(dir.file("in/page.doc"), test::LinkedHtml(base));
  WriteFile(dir.file("in/linked.odt.fodt"), test::LinkedFodt(base));
  const std::vector<std::string> sources = {dir.file("in/linked.docx"), dir.file("in/page.doc"),
                                            dir.file("in/linked.odt.fodt")};
  std::filesystem::create_directories(dir.file("out"));
  Recorder rec;
  RunState merge = MakeRun(sources, dir.file("out/merged"));
  MergeDocuments(merge, {}, CommonOptions{}, rec);
  DocumentSplitOptions halves;
  halves.partsText = "2";
  RunState split = MakeRun(sources, dir.file("out/x"));
  SplitDocuments(split, halves, CommonOptions{}, rec);
  EXPECT_EQ(FilesIn(dir.file("out")).size(), 7u);  // merged, and two parts of each
  EXPECT_EQ(web.connections(), 0) << web.requests();
}

TEST(DocumentSplit, AStopBetweenPartsUndoesTheSourceBeingCut) {
  TempDir dir;
  MakeDocx({{dir.file("in/a.docx"), Pages(4)}, {dir.file("in/b.docx"), Pages(10)}});
  std::filesystem::create_directories(dir.file("out"));
  DocumentSplitOptions byTwo;
  byTwo.way = DocumentSplitOptions::Way::Pages;
  byTwo.pagesText = "2";
  byTwo.servers = 1;  // one server: the parts come in a known order
  std::atomic<bool> stop{false};
  RunState run = MakeRun({dir.file("in/a.docx"), dir.file("in/b.docx")}, dir.file("out/x"));
  run.StopFlag = &stop;
  Recorder rec;
  int parts = 0;  // a's two, then three of b's five
  rec.onStatus = [&](const std::string& text) {
    if (text.find("新文件已生成") != std::string::npos && ++parts == 5) stop = true;
  };
  SplitDocuments(run, byTwo, CommonOptions{}, rec);
  EXPECT_EQ(parts, 5);
  EXPECT_EQ(FilesIn(dir.file("out")), (std::vector<std::string>{"a_1.docx", "a_2.docx"}));
  EXPECT_EQ(rec.statuses.back(), "用户强行退出，操作未完成！已撤销“b.docx”已生成的 3 个新文件。");
  EXPECT_EQ(rec.removedRows, (std::vector<int>{0}));  // a is finished, b is not
  EXPECT_EQ(run.OutputBase, dir.file("out/a_2.docx"));
}

TEST(DocumentSplit, AFailureBetweenPartsUndoesTheSourceBeingCut) {
  TempDir dir;
  MakeDocx({{dir.file("in/a.docx"), Pages(4)}, {dir.file("in/b.docx"), Pages(6)}});
  // b's second part cannot take its name: a folder holds it.
  std::filesystem::create_directories(dir.file("out/b_2.docx"));
  DocumentSplitOptions byTwo;
  byTwo.way = DocumentSplitOptions::Way::Pages;
  byTwo.pagesText = "2";
  RunState run = MakeRun({dir.file("in/a.docx"), dir.file("in/b.docx")}, dir.file("out/x"));
  Recorder rec;
  EXPECT_THROW(SplitDocuments(run, byTwo, CommonOptions{}, rec), RunError);
  EXPECT_EQ(FilesIn(dir.file("out")),
            (std::vector<std::string>{"a_1.docx", "a_2.docx", "b_2.docx"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("out/b_2.docx")));
  EXPECT_EQ(rec.removedRows, (std::vector<int>{0}));
}

TEST(DocumentSplit, SameNamedSourcesFromOtherFoldersKeepEveryPart) {
  TempDir dir;
  // The third source's own name is the one the second one's parts took.
  MakeDocx({{dir.file("one/report.docx"), Pages(4, "one")},
            {dir.file("two/report.docx"), Pages(6, "two")},
            {dir.file("three/report(2).docx"), Pages(2, "three")}});
  std::filesystem::create_directories(dir.file("out"));
  DocumentSplitOptions byTwo;
  byTwo.way = DocumentSplitOptions::Way::Pages;
  byTwo.pagesText = "2";
  RunState run = MakeRun(
      {dir.file("one/report.docx"), dir.file("two/report.docx"), dir.file("three/report(2).docx")},
      dir.file("out/x"));
  Recorder rec;
  SplitDocuments(run, byTwo, CommonOptions{}, rec);
  struct Part {
    const char* name;
    const char* words;
  };
  const Part parts[] = {
      {"report(2)(2)_1.docx", "three1three2"}, {"report(2)_1.docx", "two1two2"},
      {"report(2)_2.docx", "two3two4"},        {"report(2)_3.docx", "two5two6"},
      {"report_1.docx", "one1one2"},           {"report_2.docx", "one3one4"},
  };
  std::vector<std::string> names, files;
  for (const Part& p : parts) {
    names.push_back(p.name);
    files.push_back(dir.file(std::string("out/") + p.name));
  }
  ASSERT_EQ(FilesIn(dir.file("out")), names);
  const std::vector<Opened> opened = OpenAll(files);
  for (std::size_t i = 0; i < opened.size(); ++i) {
    EXPECT_EQ(Words(opened[i].text), parts[i].words) << parts[i].name;
    // Saved under a temporary name, but in the format of the final one.
    EXPECT_NE(ReadFile(files[i]).find("[Content_Types].xml"), std::string::npos) << parts[i].name;
  }
  for (const char* said : {"“report.docx”与之前的文件同名，新文件名加上“(2)”",
                           "“report(2).docx”与之前的文件同名，新文件名加上“(2)”"})
    EXPECT_NE(std::find(rec.statuses.begin(), rec.statuses.end(), said), rec.statuses.end())
        << said;
}

// The office processes this test program started.
std::vector<pid_t> OwnOffices() {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat;
    std::getline(std::ifstream(e.path() / "stat"), stat);
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos || stat.find("(soffice.bin)") == std::string::npos) continue;
    int ppid = 0;
    char state = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) != 2) continue;
    if (ppid != ::getpid()) continue;
    found.push_back(static_cast<pid_t>(std::stoi(name)));
  }
  return found;
}

// Kills (-9) every office process this test program started.
int KillOwnOffice() {
  int killed = 0;
  for (const pid_t pid : OwnOffices())
    if (::kill(pid, SIGKILL) == 0) ++killed;
  return killed;
}

// Where the office goes down on a file, a split reports that file and cuts
// the others with a fresh server; a merge merges again with a fresh server.
TEST(DocumentRobustness, TheOfficeGoingDownOnAFileEndsNeitherTheBatchNorTheMerge) {
  TempDir dir;
  WriteFile(dir.file("in/a.fodt"), Pages(2, "a"));
  WriteFile(dir.file("in/b.fodt"), Pages(3, "b"));
  WriteFile(dir.file("in/c.fodt"), Pages(2, "c"));
  const std::vector<std::string> sources = {dir.file("in/a.fodt"), dir.file("in/b.fodt"),
                                            dir.file("in/c.fodt")};
  std::filesystem::create_directories(dir.file("out"));
  {
    SCOPED_TRACE("split");
    DocumentSplitOptions byPage = ByPages(1);
    byPage.servers = 1;  // the one server killed is the one cutting b
    RunState run = MakeRun(sources, dir.file("out/x"));
    Recorder rec;
    int kills = 0;
    rec.onStatus = [&](const std::string& text) {
      if (text.find("b_2.fodt") != std::string::npos)
        kills += KillOwnOffice();  // b's third page is next
    };
    try {
      SplitDocuments(run, byPage, CommonOptions{}, rec);
      ADD_FAILURE() << "a file the office went down on must be named";
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Failure);
      EXPECT_EQ(e.file(), dir.file("in/b.fodt"));
      EXPECT_NE(std::string(e.what()).find("b.fodt"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("LibreOffice 意外退出"), std::string::npos) << e.what();
    }
    EXPECT_EQ(kills, 1);
    EXPECT_EQ(FilesIn(dir.file("out")),
              (std::vector<std::string>{"a_1.fodt.docx", "a_2.fodt.docx", "c_1.fodt.docx",
                                        "c_2.fodt.docx"}));
    EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 2}));
    const auto parts = OpenAll({dir.file("out/c_1.fodt.docx"), dir.file("out/c_2.fodt.docx")});
    EXPECT_EQ(Words(parts[0].text + parts[1].text), "c1c2");
  }
  for (const std::string& name : FilesIn(dir.file("out")))
    std::filesystem::remove(dir.file("out/" + name));
  {
    SCOPED_TRACE("merge");
    RunState run = MakeRun(sources, dir.file("out/merged"));
    Recorder rec;
    int kills = 0;
    rec.onStatus = [&](const std::string& text) {
      if (text.find("正在合并文件： c.fodt") != std::string::npos && kills == 0)
        kills += KillOwnOffice();
    };
    MergeDocuments(run, {true, false}, CommonOptions{}, rec);
    EXPECT_EQ(kills, 1);
    EXPECT_EQ(rec.counters, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 1, 2}));
    const auto merged = OpenAll({run.OutputBase});
    EXPECT_EQ(Words(merged[0].text), "a1a2b1b2b3c1c2");
    EXPECT_EQ(merged[0].pages, 8);  // the break after the last document makes an empty page
  }
}

// Parts in `folder` named after `stem` ("a" -> a_1.fodt.docx, a_2.fodt.docx...).
std::vector<std::string> PartsOf(const std::string& folder, const std::string& stem) {
  std::vector<std::string> parts;
  for (const std::string& name : FilesIn(folder))
    if (name.rfind(stem + "_", 0) == 0) parts.push_back(folder + "/" + name);
  return parts;
}

// Sources of a batch split by one page, each of its own words ("a1", "a2"...).
struct Batch {
  TempDir dir;
  std::vector<std::string> names, sources;
  std::vector<int> pages;
  explicit Batch(const std::vector<std::pair<std::string, int>>& docs) {
    for (const auto& [name, n] : docs) {
      names.push_back(name);
      pages.push_back(n);
      sources.push_back(dir.file("in/" + name + ".fodt"));
      WriteFile(sources.back(), Pages(n, name));
    }
    std::filesystem::create_directories(dir.file("out"));
  }
  std::string out() const { return dir.file("out"); }
  // Source k is split whole: a part for each page, holding that page.
  void ExpectSplit(std::size_t k) const {
    const std::vector<std::string> parts = PartsOf(out(), names[k]);
    ASSERT_EQ(parts.size(), static_cast<std::size_t>(pages[k])) << names[k];
    const std::vector<Opened> opened = OpenAll(parts);
    std::string words;
    for (const Opened& o : opened) words += Words(o.text);
    std::string expected;
    for (int p = 1; p <= pages[k]; ++p) expected += names[k] + std::to_string(p);
    EXPECT_EQ(words, expected) << names[k];
  }
};

// Two servers cut a batch at once; the run still hears of each source in list
// order, as the window removes its rows and counts them.
TEST(DocumentSplitInParallel, EveryPartIsWrittenAndSourcesAreReportedInListOrder) {
  // The first source is the longest: the other server finishes the next ones
  // before it.
  Batch batch({{"a", 6}, {"b", 1}, {"c", 2}, {"d", 1}});
  RunState run = MakeRun(batch.sources, batch.dir.file("out/x"));
  Recorder rec;
  std::size_t servers = 0;
  rec.onStatus = [&](const std::string&) { servers = std::max(servers, OwnOffices().size()); };
  SplitDocuments(run, ByPages(1), CommonOptions{}, rec);
  EXPECT_EQ(servers, 2u);
  EXPECT_EQ(rec.counters, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(rec.steps, 4);
  EXPECT_EQ(run.OutputBase, batch.dir.file("out/d_1.fodt.docx"));
  EXPECT_EQ(rec.statuses.back(), "4 个文件已被分割，并生成了新文件！");
  EXPECT_EQ(FilesIn(batch.out()).size(), 10u);  // no temporary file is left either
  for (std::size_t k = 0; k < batch.names.size(); ++k) batch.ExpectSplit(k);
  EXPECT_TRUE(OwnOffices().empty());
}

// A stop while both servers cut: the sources reported finished keep every
// part, every other source keeps none, and both servers end.
TEST(DocumentSplitInParallel, AStopLeavesNoPartOfAnUnfinishedSource) {
  for (const int stopAt : {1, 4, 7}) {
    SCOPED_TRACE("stop at part " + std::to_string(stopAt));
    Batch batch({{"a", 3}, {"b", 3}, {"c", 3}, {"d", 3}});
    std::atomic<bool> stop{false};
    RunState run = MakeRun(batch.sources, batch.dir.file("out/x"));
    run.StopFlag = &stop;
    Recorder rec;
    int parts = 0;
    rec.onStatus = [&](const std::string& text) {
      if (text.find("新文件已生成") != std::string::npos && ++parts == stopAt) stop = true;
    };
    SplitDocuments(run, ByPages(1), CommonOptions{}, rec);
    EXPECT_EQ(rec.statuses.back().rfind("用户强行退出，操作未完成！", 0), 0u)
        << rec.statuses.back();
    EXPECT_EQ(rec.counters, rec.removedRows);
    ASSERT_LT(rec.removedRows.size(), batch.names.size());
    for (std::size_t k = 0; k < batch.names.size(); ++k) {
      if (k < rec.removedRows.size()) {
        EXPECT_EQ(rec.removedRows[k], static_cast<int>(k));
        batch.ExpectSplit(k);
      } else {
        EXPECT_TRUE(PartsOf(batch.out(), batch.names[k]).empty()) << batch.names[k];
      }
    }
    for (const std::string& name : FilesIn(batch.out()))
      EXPECT_NE(name[0], '.') << "a temporary file is left: " << name;
    EXPECT_TRUE(OwnOffices().empty());
  }
}

// The office going down under both servers: the sources they were cutting are
// reported failed with no part left, fresh servers cut the rest. Going down
// once the last part is written fails nothing.
TEST(DocumentSplitInParallel, TheOfficeGoingDownFailsOnlyTheSourcesBeingCut) {
  struct Case {
    const char* killAt;  // the part whose report kills every office
    int servers;
    bool failsA;
  };
  const Case cases[] = {{"a_2.", 2, true}, {"d_3.", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.killAt);
    Batch batch({{"a", 6}, {"b", 3}, {"c", 3}, {"d", 3}});
    RunState run = MakeRun(batch.sources, batch.dir.file("out/x"));
    Recorder rec;
    int kills = 0;
    rec.onStatus = [&](const std::string& text) {
      if (kills == 0 && text.find(c.killAt) != std::string::npos) kills += KillOwnOffice();
    };
    DocumentSplitOptions byPage = ByPages(1);
    byPage.servers = c.servers;
    std::vector<std::string> failed;
    try {
      SplitDocuments(run, byPage, CommonOptions{}, rec);
    } catch (const RunError& e) {
      EXPECT_NE(std::string(e.what()).find("LibreOffice 意外退出"), std::string::npos) << e.what();
      for (std::size_t k = 0; k < batch.names.size(); ++k)
        if (std::string(e.what()).find(batch.names[k] + ".fodt") != std::string::npos)
          failed.push_back(batch.names[k]);
    }
    EXPECT_EQ(kills, c.servers);
    EXPECT_EQ(!failed.empty() && failed[0] == "a", c.failsA);
    EXPECT_LE(failed.size(), 2u);  // at most the two being cut
    std::vector<int> expectRows;
    for (std::size_t k = 0; k < batch.names.size(); ++k) {
      if (std::find(failed.begin(), failed.end(), batch.names[k]) != failed.end()) {
        EXPECT_TRUE(PartsOf(batch.out(), batch.names[k]).empty()) << batch.names[k];
      } else {
        expectRows.push_back(static_cast<int>(k));
        batch.ExpectSplit(k);
      }
    }
    EXPECT_EQ(rec.removedRows, expectRows);
    EXPECT_EQ(rec.counters, expectRows);
    EXPECT_TRUE(OwnOffices().empty());
  }
}

// A .docx as Word writes one, with `notes` commented paragraphs, one a page:
// each paragraph "Para k" carries the comment "notek".
void WriteCommentedDocx(const std::string& path, int notes) {
  const std::string w = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";
  const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string body, comments;
  for (int i = 0; i < notes; ++i) {
    const std::string k = std::to_string(i);
    body += std::string("<w:p>") + (i > 0 ? R"(<w:r><w:br w:type="page"/></w:r>)" : "") +
            R"(<w:commentRangeStart w:id=")" + k + R"("/><w:r><w:t>Para )" + k +
            R"(</w:t></w:r><w:commentRangeEnd w:id=")" + k +
            R"("/><w:r><w:commentReference w:id=")" + k + R"("/></w:r></w:p>)";
    comments += R"(<w:comment w:id=")" + k +
                R"(" w:author="Bob" w:date="2024-01-02T03:04:05Z"><w:p><w:r><w:t>note)" + k +
                "</w:t></w:r></w:p></w:comment>";
  }
  const std::string head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
  WriteZip(
      path,
      {{"[Content_Types].xml",
        head +
            R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/comments.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.comments+xml"/></Types>)"},
       {"_rels/.rels",
        head +
            R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type=")" +
            rels + R"(/officeDocument" Target="word/document.xml"/></Relationships>)"},
       {"word/_rels/document.xml.rels",
        head +
            R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type=")" +
            rels + R"(/comments" Target="comments.xml"/></Relationships>)"},
       {"word/document.xml",
        head + "<w:document " + w + "><w:body>" + body + "<w:sectPr/></w:body></w:document>"},
       {"word/comments.xml", head + "<w:comments " + w + ">" + comments + "</w:comments>"}});
}

// The same as a flat ODF text.
std::string CommentedFodt(int notes) {
  std::string body;
  for (int i = 0; i < notes; ++i) {
    const std::string k = std::to_string(i);
    body += std::string(i > 0 ? R"(<text:p text:style-name="PB">)" : "<text:p>") + "Para " + k +
            "<office:annotation><dc:creator>Bob</dc:creator><text:p>note" + k +
            "</text:p></office:annotation></text:p>";
  }
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text"><office:automatic-styles><style:style style:name="PB" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style></office:automatic-styles><office:body><office:text>)" +
         body + "</office:text></office:body></office:document>";
}

// The comments of a .docx as its XML holds them: the words of each, in order.
std::vector<std::string> CommentsInXml(const std::string& docx) {
  const std::string xml = ReadZipPart(docx, "word/comments.xml");
  std::vector<std::string> notes;
  for (std::size_t at = xml.find("<w:comment "); at != std::string::npos;) {
    const std::size_t next = xml.find("<w:comment ", at + 1);
    const std::string one = xml.substr(at, next == std::string::npos ? next : next - at);
    std::string words;
    for (std::size_t t = one.find("<w:t"); t != std::string::npos; t = one.find("<w:t", t + 1)) {
      const std::size_t open = one.find('>', t);
      if (one.compare(t, 5, "<w:t>") != 0 && one.compare(t, 5, "<w:t ") != 0) continue;
      words += one.substr(open + 1, one.find("</w:t>", open) - open - 1);
    }
    notes.push_back(words);
    at = next;
  }
  return notes;
}

// The comments of any document as the office reads them: the words of each.
std::vector<std::string> CommentsInDocument(const std::string& file) {
  using namespace css;
  OfficeServer server;
  word::WordApplication app(server);
  word::WordDocument& doc = app.Documents().Open(file);
  std::vector<std::string> notes;
  uno::Reference<container::XEnumeration> fields =
      uno::Reference<text::XTextFieldsSupplier>(doc.state().model, uno::UNO_QUERY_THROW)
          ->getTextFields()
          ->createEnumeration();
  while (fields->hasMoreElements()) {
    uno::Reference<lang::XServiceInfo> field(fields->nextElement(), uno::UNO_QUERY_THROW);
    if (!field->supportsService("com.sun.star.text.textfield.Annotation")) continue;
    OUString content;
    uno::Reference<beans::XPropertySet>(field, uno::UNO_QUERY_THROW)
        ->getPropertyValue("Content") >>= content;
    notes.push_back(FromOU(content));
  }
  doc.Close();
  std::sort(notes.begin(), notes.end());
  return notes;
}

// The spacing above each paragraph of a document, in hundredths of a
// millimetre, by the paragraph's words.
std::map<std::string, int> SpacingAbove(const std::string& file) {
  using namespace css;
  OfficeServer server;
  word::WordApplication app(server);
  word::WordDocument& doc = app.Documents().Open(file);
  std::map<std::string, int> above;
  uno::Reference<container::XEnumeration> items =
      uno::Reference<container::XEnumerationAccess>(doc.state().body, uno::UNO_QUERY_THROW)
          ->createEnumeration();
  while (items->hasMoreElements()) {
    uno::Reference<text::XTextRange> paragraph(items->nextElement(), uno::UNO_QUERY);
    uno::Reference<beans::XPropertySet> props(paragraph, uno::UNO_QUERY);
    if (!paragraph.is() || !props.is() || paragraph->getString().isEmpty()) continue;
    sal_Int32 top = 0;
    props->getPropertyValue("ParaTopMargin") >>= top;
    above[FromOU(paragraph->getString())] = top;
  }
  doc.Close();
  return above;
}

// A Word document whose first paragraph has automatic spacing above shows
// none there, as the first paragraph of a document. Merged after another
// document it still starts its page without it; the paragraph after it keeps
// its automatic spacing.
TEST(DocumentMerge, APastedDocumentStartsItsPageAsItStartedItsFile) {
  TempDir dir;
  const std::string w = R"(xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main")";
  const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string head = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
  const std::string autoSpaced =
      R"(<w:pPr><w:spacing w:beforeAutospacing="1" w:afterAutospacing="1"/></w:pPr>)";
  WriteZip(
      dir.file("in/auto.docx"),
      {{"[Content_Types].xml",
        head +
            R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
       {"_rels/.rels",
        head +
            R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type=")" +
            rels + R"(/officeDocument" Target="word/document.xml"/></Relationships>)"},
       {"word/document.xml",
        head + "<w:document " + w + "><w:body><w:p>" + autoSpaced +
            "<w:r><w:t>Opening words</w:t></w:r></w:p><w:p>" + autoSpaced +
            "<w:r><w:t>Next words</w:t></w:r></w:p><w:sectPr/></w:body></w:document>"}});
  WriteFile(dir.file("in/plain.fodt"), test::SimpleFodt({"plain words"}));
  const std::map<std::string, int> alone = SpacingAbove(dir.file("in/auto.docx"));
  ASSERT_EQ(alone.at("Opening words"), 0);
  ASSERT_GT(alone.at("Next words"), 0);
  std::filesystem::create_directories(dir.file("out"));
  RunState run =
      MakeRun({dir.file("in/plain.fodt"), dir.file("in/auto.docx")}, dir.file("out/m.docx"));
  Recorder rec;
  MergeDocuments(run, {true, false}, CommonOptions{}, rec);
  const std::map<std::string, int> merged = SpacingAbove(run.OutputBase);
  EXPECT_EQ(merged.at("Opening words"), 0);
  EXPECT_EQ(merged.at("Next words"), alone.at("Next words"));
}

// Documents with comments (a .docx as Word writes them, a .doc and an ODF
// text) merge and split like any other, each comment with its words in the
// output, in the part holding the words it is about.
TEST(DocumentComments, CommentsComeAlongInMergesAndSplits) {
  TempDir dir;
  WriteCommentedDocx(dir.file("in/a.docx"), 3);
  MakeDocx({{dir.file("in/b.doc"), CommentedFodt(2)}});
  WriteFile(dir.file("in/c.fodt"), CommentedFodt(2));
  WriteFile(dir.file("in/plain.fodt"), Pages(2, "p"));
  const std::vector<std::string> sources = {dir.file("in/a.docx"), dir.file("in/b.doc"),
                                            dir.file("in/c.fodt"), dir.file("in/plain.fodt")};
  std::filesystem::create_directories(dir.file("out"));
  {
    SCOPED_TRACE("merge");
    RunState run = MakeRun(sources, dir.file("out/m.docx"));
    Recorder rec;
    MergeDocuments(run, {true, false}, CommonOptions{}, rec);
    EXPECT_EQ(
        CommentsInXml(run.OutputBase),
        (std::vector<std::string>{"note0", "note1", "note2", "note0", "note1", "note0", "note1"}));
    EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 1, 2, 3}));
  }
  for (const std::string& name : FilesIn(dir.file("out")))
    std::filesystem::remove(dir.file("out/" + name));
  {
    SCOPED_TRACE("split");
    const DocumentSplitOptions byPage = ByPages(1);
    RunState run = MakeRun(sources, dir.file("out/x"));
    Recorder rec;
    SplitDocuments(run, byPage, CommonOptions{}, rec);
    EXPECT_EQ(FilesIn(dir.file("out")),
              (std::vector<std::string>{"a_1.docx", "a_2.docx", "a_3.docx", "b_1.doc", "b_2.doc",
                                        "c_1.fodt.docx", "c_2.fodt.docx", "plain_1.fodt.docx",
                                        "plain_2.fodt.docx"}));
    for (int k = 0; k < 3; ++k)
      EXPECT_EQ(CommentsInXml(dir.file("out/a_" + std::to_string(k + 1) + ".docx")),
                (std::vector<std::string>{"note" + std::to_string(k)}));
    for (int k = 0; k < 2; ++k) {
      const std::string part = std::to_string(k + 1);
      const std::vector<std::string> note = {"note" + std::to_string(k)};
      EXPECT_EQ(CommentsInDocument(dir.file("out/b_" + part + ".doc")), note);
      EXPECT_EQ(CommentsInXml(dir.file("out/c_" + part + ".fodt.docx")), note);
    }
    EXPECT_EQ(rec.removedRows, (std::vector<int>{0, 1, 2, 3}));
  }
}

TEST(DocumentSafety, BytesOfNoDocumentKindAreRefusedAndNothingIsWritten) {
  TempDir dir;
  WriteFile(dir.file("in/a.fodt"), test::SimpleFodt({"a"}));
  std::string noise(50000, '\0');
  unsigned state = 12345;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 16);
  WriteFile(dir.file("in/noise.docx"), noise);
  std::filesystem::create_directories(dir.file("out"));
  const std::vector<std::string> sources = {dir.file("in/a.fodt"), dir.file("in/noise.docx")};
  for (const bool merge : {true, false}) {
    SCOPED_TRACE(merge ? "merge" : "split");
    RunState run = MakeRun(sources, dir.file("out/x"));
    Recorder rec;
    try {
      if (merge)
        MergeDocuments(run, {}, CommonOptions{}, rec);
      else
        SplitDocuments(run, {}, CommonOptions{}, rec);
      ADD_FAILURE() << "random bytes were taken for a document";
    } catch (const RunError& e) {
      EXPECT_EQ(e.file(), dir.file("in/noise.docx"));
      EXPECT_NE(std::string(e.what()).find("noise.docx"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("不是 Word 文档"), std::string::npos) << e.what();
    }
    // Nothing under a final name; a's parts from the split are whole files.
    for (const std::string& name : FilesIn(dir.file("out")))
      EXPECT_TRUE(!merge && name.rfind("a_", 0) == 0) << name;
  }
}

// A document with `n` paragraphs, each with a tracked insertion and a
// tracked deletion; with `formatted`, one tracked change of formatting too.
std::string TrackedFodt(int n, bool formatted = false) {
  const std::string info =
      "<office:change-info><dc:creator>Ann</dc:creator><dc:date>2020-01-01T10:00:00</dc:date>"
      "</office:change-info>";
  std::string regions, body;
  for (int i = 0; i < n; ++i) {
    const std::string k = std::to_string(i);
    regions += "<text:changed-region xml:id=\"i" + k + "\" text:id=\"i" + k +
               "\"><text:insertion>" + info + "</text:insertion></text:changed-region>";
    regions += "<text:changed-region xml:id=\"d" + k + "\" text:id=\"d" + k + "\"><text:deletion>" +
               info + "<text:p>gone" + k + " </text:p></text:deletion></text:changed-region>";
    body += "<text:p>Para " + k + " keeps <text:change-start text:change-id=\"i" + k + "\"/>added" +
            k + " <text:change-end text:change-id=\"i" + k +
            "\"/>and <text:change text:change-id=\"d" + k + "\"/>rest.</text:p>";
  }
  if (formatted) {
    regions += "<text:changed-region xml:id=\"f\" text:id=\"f\"><text:format-change>" + info +
               "</text:format-change></text:changed-region>";
    body +=
        "<text:p><text:change-start text:change-id=\"f\"/>bolder<text:change-end "
        "text:change-id=\"f\"/></text:p>";
  }
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text"><office:body><office:text><text:tracked-changes text:track-changes="false">)" +
         regions + "</text:tracked-changes>" + body +
         "</office:text></office:body></office:document>";
}

struct Changes {
  int insertions = 0, deletions = 0;
  std::string deleted, inserted;  // their words, in order
};

Changes ChangesIn(const std::vector<std::string>& files) {
  using namespace css;
  OfficeServer server;
  word::WordApplication app(server);
  Changes c;
  for (const std::string& f : files) {
    word::WordDocument& doc = app.Documents().Open(f);
    word::DocumentState& d = doc.state();
    uno::Reference<container::XEnumeration> all =
        uno::Reference<container::XEnumerationAccess>(
            uno::Reference<document::XRedlinesSupplier>(d.model, uno::UNO_QUERY_THROW)
                ->getRedlines(),
            uno::UNO_QUERY_THROW)
            ->createEnumeration();
    while (all->hasMoreElements()) {
      uno::Reference<beans::XPropertySet> r(all->nextElement(), uno::UNO_QUERY_THROW);
      OUString type, author;
      r->getPropertyValue("RedlineType") >>= type;
      r->getPropertyValue("RedlineAuthor") >>= author;
      EXPECT_EQ(FromOU(author), "Ann");
      uno::Reference<text::XTextRange> start(r->getPropertyValue("RedlineStart"), uno::UNO_QUERY),
          end(r->getPropertyValue("RedlineEnd"), uno::UNO_QUERY);
      uno::Reference<text::XTextCursor> span = d.body->createTextCursorByRange(start);
      span->gotoRange(end, true);
      if (type == "Insert") {
        ++c.insertions;
        c.inserted += Words(FromOU(span->getString()));
      } else if (type == "Delete") {
        ++c.deletions;
        c.deleted += Words(FromOU(span->getString()));
      }
    }
    doc.Close();
  }
  return c;
}

// Tracked insertions and deletions stay tracked, with their words, author
// and place, through a merge and a split; a kind that cannot is named.
TEST(DocumentChanges, TrackedInsertionsAndDeletionsSurviveMergeAndSplit) {
  TempDir dir;
  MakeDocx({{dir.file("in/a.docx"), TrackedFodt(6)}, {dir.file("in/b.doc"), TrackedFodt(4, true)}});
  std::string deleted, inserted;
  for (int i = 0; i < 6; ++i) deleted += "gone" + std::to_string(i);
  for (int i = 0; i < 6; ++i) inserted += "added" + std::to_string(i);
  const Changes sources = ChangesIn({dir.file("in/a.docx"), dir.file("in/b.doc")});
  ASSERT_EQ(sources.insertions, 10);
  ASSERT_EQ(sources.deletions, 10);
  std::filesystem::create_directories(dir.file("out"));
  {
    SCOPED_TRACE("merge");
    RunState run = MakeRun({dir.file("in/a.docx"), dir.file("in/b.doc")}, dir.file("out/m.docx"));
    Recorder rec;
    MergeDocuments(run, {}, CommonOptions{}, rec);
    const Changes merged = ChangesIn({run.OutputBase});
    EXPECT_EQ(merged.insertions, 10);
    EXPECT_EQ(merged.deletions, 10);
    EXPECT_EQ(merged.deleted, sources.deleted);
    EXPECT_EQ(merged.inserted, sources.inserted);
    const auto text = OpenAll({run.OutputBase});
    EXPECT_NE(Words(text[0].text).find("Para0keepsadded0andgone0rest."), std::string::npos)
        << text[0].text;
    // b's change of formatting arrives as if accepted, and the run says so.
    EXPECT_NE(std::find(rec.statuses.begin(), rec.statuses.end(),
                        "“b.doc”中有 1 处修订（格式、表格或页眉页脚中的修订）无法保留为修订，"
                        "已按接受修订写入"),
              rec.statuses.end());
  }
  {
    SCOPED_TRACE("split");
    DocumentSplitOptions halves;
    halves.partsText = "2";
    RunState run = MakeRun({dir.file("in/a.docx")}, dir.file("out/x"));
    Recorder rec;
    SplitDocuments(run, halves, CommonOptions{}, rec);
    const Changes parts = ChangesIn({dir.file("out/a_1.docx"), dir.file("out/a_2.docx")});
    EXPECT_EQ(parts.insertions, 6);
    EXPECT_EQ(parts.deletions, 6);
    EXPECT_EQ(parts.deleted, deleted);
    EXPECT_EQ(parts.inserted, inserted);
  }
}

std::vector<std::string> FixtureDocuments() {
  std::vector<std::string> files;
  for (const char* kind : {"docx", "doc"}) {
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator(std::string(PW_FIXTURES) + "/" + kind, ec))
      if (e.is_regular_file()) files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Words without digits: page-number fields and footnote marks rightly show
// other numbers once a document is merged or cut.
std::string Letters(const std::string& text) {
  std::string out;
  for (char c : Words(text))
    if (c < '0' || c > '9') out += c;
  return out;
}

// Tables and pictures by where they sit: the main text, or the headers and
// footers of one page style (found through the anchors of the pictures and
// the texts holding the tables, cells and frames followed outwards).
struct Objects {
  int tables = 0, images = 0;
  bool operator==(const Objects&) const = default;
};

struct Census {
  std::string words;
  std::string prose;                      // the letters of the main text outside tables, in order
  Objects body, headers;                  // headers: of every page style
  std::map<std::string, Objects> styles;  // by the page style holding them
  std::vector<std::string> firstStyles;   // the page style of each page's start
  // The words of the heading rows of a table the text starts with, when the
  // table repeats them: a part cut from inside a table repeats them too.
  std::string repeatedHeading;
};

std::ostream& operator<<(std::ostream& out, const Objects& o) {
  return out << o.tables << " tables, " << o.images << " images";
}

class Locator {
 public:
  explicit Locator(word::DocumentState& d) : d_(d) {
    using namespace css;
    const uno::Reference<container::XNameAccess> pages(
        uno::Reference<style::XStyleFamiliesSupplier>(d.model, uno::UNO_QUERY_THROW)
            ->getStyleFamilies()
            ->getByName("PageStyles"),
        uno::UNO_QUERY_THROW);
    Walk(d.body, "");
    for (const OUString& name : pages->getElementNames()) {
      uno::Reference<beans::XPropertySet> style(pages->getByName(name), uno::UNO_QUERY_THROW);
      for (const char* key : {"HeaderText", "HeaderTextLeft", "HeaderTextFirst", "FooterText",
                              "FooterTextLeft", "FooterTextFirst"}) {
        uno::Reference<text::XText> text(style->getPropertyValue(OUString::createFromAscii(key)),
                                         uno::UNO_QUERY);
        if (!text.is() || !headers_.emplace(text, FromOU(name)).second) continue;
        Walk(text, FromOU(name));
      }
    }
    uno::Reference<container::XIndexAccess> frames(
        uno::Reference<text::XTextFramesSupplier>(d.model, uno::UNO_QUERY_THROW)->getTextFrames(),
        uno::UNO_QUERY_THROW);
    for (sal_Int32 i = 0; i < frames->getCount(); ++i) {
      uno::Reference<text::XTextFrame> frame(frames->getByIndex(i), uno::UNO_QUERY_THROW);
      Walk(frame->getText(), Of(frame->getAnchor()));
    }
  }

  // "" for the main text, the page style's name for its headers and footers.
  std::string Of(const css::uno::Reference<css::text::XTextRange>& anchor, int depth = 0) {
    using namespace css;
    if (!anchor.is() || depth > 8) return "?";
    uno::Reference<text::XText> owner = anchor->getText();
    if (!owner.is()) return "?";
    if (owner == d_.body) return "";
    if (auto it = headers_.find(uno::Reference<uno::XInterface>(owner, uno::UNO_QUERY));
        it != headers_.end())
      return it->second;
    uno::Reference<beans::XPropertySet> at(owner->createTextCursorByRange(anchor->getStart()),
                                           uno::UNO_QUERY_THROW);
    uno::Reference<container::XNamed> table(at->getPropertyValue("TextTable"), uno::UNO_QUERY);
    if (table.is()) return OfTable(table->getName());
    uno::Reference<text::XTextContent> frame(at->getPropertyValue("TextFrame"), uno::UNO_QUERY);
    return frame.is() ? Of(frame->getAnchor(), depth + 1) : "?";
  }

  std::string OfTable(const OUString& name) const {
    auto it = tables_.find(FromOU(name));
    return it == tables_.end() ? "?" : it->second;
  }

 private:
  // Tables of a text, those in their cells included.
  void Walk(const css::uno::Reference<css::text::XText>& text, const std::string& place) {
    using namespace css;
    uno::Reference<container::XEnumeration> parts =
        uno::Reference<container::XEnumerationAccess>(text, uno::UNO_QUERY_THROW)
            ->createEnumeration();
    while (parts->hasMoreElements()) {
      uno::Reference<text::XTextTable> table(parts->nextElement(), uno::UNO_QUERY);
      if (!table.is()) continue;
      tables_[FromOU(uno::Reference<container::XNamed>(table, uno::UNO_QUERY_THROW)->getName())] =
          place;
      for (const OUString& cell : table->getCellNames())
        Walk(uno::Reference<text::XText>(table->getCellByName(cell), uno::UNO_QUERY_THROW), place);
    }
  }

  word::DocumentState& d_;
  std::map<css::uno::Reference<css::uno::XInterface>, std::string> headers_;
  std::map<std::string, std::string> tables_;
};

Census CensusOf(word::WordApplication& app, const std::string& file) {
  using namespace css;
  word::WordDocument& doc = app.Documents().Open(file);
  word::DocumentState& d = doc.state();
  Locator where(d);
  Census c;
  c.words = Letters(doc.Text());
  {
    uno::Reference<container::XEnumeration> items =
        uno::Reference<container::XEnumerationAccess>(d.body, uno::UNO_QUERY_THROW)
            ->createEnumeration();
    while (items->hasMoreElements()) {
      const uno::Any item = items->nextElement();
      if (uno::Reference<text::XTextTable>(item, uno::UNO_QUERY).is()) continue;
      c.prose += Letters(
          FromOU(uno::Reference<text::XTextRange>(item, uno::UNO_QUERY_THROW)->getString()));
    }
  }
  {
    uno::Reference<container::XEnumeration> items =
        uno::Reference<container::XEnumerationAccess>(d.body, uno::UNO_QUERY_THROW)
            ->createEnumeration();
    while (items->hasMoreElements()) {
      const uno::Any item = items->nextElement();
      uno::Reference<text::XTextTable> table(item, uno::UNO_QUERY);
      if (!table.is()) {
        if (uno::Reference<text::XTextRange>(item, uno::UNO_QUERY_THROW)->getString().isEmpty())
          continue;
        break;
      }
      bool repeat = false;
      sal_Int32 heading = 0;
      uno::Reference<beans::XPropertySet> props(table, uno::UNO_QUERY_THROW);
      props->getPropertyValue("RepeatHeadline") >>= repeat;
      props->getPropertyValue("HeaderRowCount") >>= heading;
      for (const OUString& name : table->getCellNames()) {
        const std::string n = FromOU(name);
        const std::size_t digits = n.find_first_of("0123456789");
        if (!repeat || digits == std::string::npos || std::stoi(n.substr(digits)) > heading) break;
        c.repeatedHeading += Letters(
            FromOU(uno::Reference<text::XText>(table->getCellByName(name), uno::UNO_QUERY_THROW)
                       ->getString()));
      }
      break;
    }
  }
  auto count = [&](const std::string& place, bool table) {
    Objects& o = place.empty() ? c.body : c.styles[place];
    (table ? o.tables : o.images)++;
    if (!place.empty()) (table ? c.headers.tables : c.headers.images)++;
  };
  for (const OUString& name :
       uno::Reference<text::XTextTablesSupplier>(d.model, uno::UNO_QUERY_THROW)
           ->getTextTables()
           ->getElementNames())
    count(where.OfTable(name), true);
  uno::Reference<container::XIndexAccess> pictures(
      uno::Reference<text::XTextGraphicObjectsSupplier>(d.model, uno::UNO_QUERY_THROW)
          ->getGraphicObjects(),
      uno::UNO_QUERY_THROW);
  for (sal_Int32 i = 0; i < pictures->getCount(); ++i)
    count(where.Of(uno::Reference<text::XTextContent>(pictures->getByIndex(i), uno::UNO_QUERY_THROW)
                       ->getAnchor()),
          false);
  const int pages = doc.PageCount();
  for (int page = 1; page <= pages; ++page) {
    app.Selection().GoTo(word::wdGoToPage, word::wdGoToAbsolute, std::to_string(page));
    OUString style;
    uno::Reference<beans::XPropertySet>(d.view, uno::UNO_QUERY_THROW)
        ->getPropertyValue("PageStyleName") >>= style;
    c.firstStyles.push_back(FromOU(style));
  }
  doc.Close();
  return c;
}

Objects HeaderObjects(const Census& c, const std::string& style) {
  auto it = c.styles.find(style);
  return it == c.styles.end() ? Objects{} : it->second;
}
TEST(DocumentFixtures, RealDocumentsMergeAndSplitWithTextTablesAndImagesIntact) {
  const std::vector<std::string> files = FixtureDocuments();
  if (files.empty()) GTEST_SKIP() << "no documents under " << PW_FIXTURES;
  TempDir dir;
  std::vector<Census> originals;
  {
    OfficeServer server;
    word::WordApplication app(server);
    for (const std::string& f : files) originals.push_back(CensusOf(app, f));
  }
  Census expected;
  for (const Census& c : originals) {
    expected.words += c.words;
    expected.body.tables += c.body.tables;
    expected.body.images += c.body.images;
    expected.headers.tables += c.headers.tables;
    expected.headers.images += c.headers.images;
  }

  // Run on, a document starts on the last page of the one before, under that
  // page's setup and headers, as pasting does in a word processor: only its
  // text and the objects in it are sure to come over. With a page break
  // before each, every header and footer comes over as well.
  RunState runOn = MakeRun(files, dir.file("run-on"));
  RunState paged = MakeRun(files, dir.file("paged"));
  Recorder rec;
  MergeDocuments(runOn, {}, CommonOptions{}, rec);
  MergeDocuments(paged, {true, false}, CommonOptions{}, rec);

  const DocumentSplitOptions byPage = ByPages(1);
  RunState split = MakeRun(files, dir.file("parts/x"));
  std::filesystem::create_directories(dir.file("parts"));
  SplitDocuments(split, byPage, CommonOptions{}, rec);

  OfficeServer server;
  word::WordApplication app(server);
  for (const RunState* run : {&runOn, &paged}) {
    SCOPED_TRACE(run->OutputBase);
    const Census merged = CensusOf(app, run->OutputBase);
    EXPECT_TRUE(merged.words == expected.words) << FirstDifference(merged.words, expected.words);
    EXPECT_EQ(merged.body, expected.body);
    if (run == &paged) {
      EXPECT_EQ(merged.headers, expected.headers);
    }
  }

  // Each part holds the objects of the pages it was cut from, and the
  // headers and footers its first page had there.
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const std::filesystem::path source(files[i]);
    const Census& original = originals[i];
    Census joined;
    for (int k = 1;; ++k) {
      const std::string part = dir.file("parts/" + source.stem().string() + "_" +
                                        std::to_string(k) + source.extension().string());
      if (!std::filesystem::exists(part)) break;
      SCOPED_TRACE(part);
      const Census c = CensusOf(app, part);
      // A table cut where the part starts repeats its heading rows here
      // (where the source's page starts with the table itself, they are its own).
      const std::string& heading = c.repeatedHeading;
      if (k > 1 && !heading.empty() && c.words.rfind(heading, 0) == 0 &&
          original.words.compare(joined.words.size(), heading.size(), heading) != 0)
        joined.words += c.words.substr(heading.size());
      else
        joined.words += c.words;
      joined.prose += c.prose;
      joined.body.tables += c.body.tables;
      joined.body.images += c.body.images;
      ASSERT_LE(static_cast<std::size_t>(k), original.firstStyles.size());
      EXPECT_EQ(HeaderObjects(c, c.firstStyles.at(0)),
                HeaderObjects(original, original.firstStyles[k - 1]));
    }
    // A row cut at a page gives the head of each of its cells to one part and
    // the rest to the next: side by side cells then read in another order,
    // but every letter is there once, and the text outside tables reads as
    // it did.
    auto sorted = [](std::string letters) {
      std::sort(letters.begin(), letters.end());
      return letters;
    };
    EXPECT_TRUE(joined.words == original.words || sorted(joined.words) == sorted(original.words))
        << FirstDifference(joined.words, original.words);
    EXPECT_TRUE(joined.prose == original.prose) << FirstDifference(joined.prose, original.prose);
    EXPECT_GE(joined.body.tables, original.body.tables);  // a table cut at a page stays whole
    EXPECT_EQ(joined.body.images, original.body.images);
  }
}

}  // namespace
}  // namespace pw
