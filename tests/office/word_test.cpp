#include "platform/office/word.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <random>

#include <filesystem>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/style/ParagraphAdjust.hpp>
#include <com/sun/star/style/XStyleFamiliesSupplier.hpp>
#include <com/sun/star/table/BorderLine2.hpp>
#include <com/sun/star/text/XParagraphCursor.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextCursor.hpp>
#include <com/sun/star/text/XTextTable.hpp>
#include <com/sun/star/text/XTextTablesSupplier.hpp>

#include "platform/office/word_state.h"
#include "tests/office/flat_docs.h"
#include "tests/support/tempdir.h"

namespace pw::word {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(Word, OpensCountsSavesAndReopens) {
  TempDir dir;
  const std::string src = dir.file("three.fodt");
  WriteFile(src, test::SimpleFodt({"alpha", "|a|b\n|c|d", "\fbeta", "\fgamma"}));
  OfficeServer server;
  WordApplication app(server);
  WordDocument& doc = app.Documents().Open(src);
  EXPECT_EQ(doc.PageCount(), 3);
  EXPECT_EQ(doc.TableCount(), 1);
  EXPECT_EQ(doc.Text(), "alpha\na\nb\nc\nd\nbeta\ngamma\n");
  EXPECT_EQ(doc.CharacterCount(), 18);
  EXPECT_EQ(app.Selection().Information(wdNumberOfPagesInDocument), 3);
  EXPECT_EQ(doc.SaveAs(dir.file("out")), dir.file("out.docx"));
  EXPECT_EQ(doc.SaveAs(dir.file("out.doc")), dir.file("out.doc"));
  doc.Close();
  EXPECT_EQ(app.Documents().Count(), 0);
  for (const char* name : {"out.docx", "out.doc"}) {
    SCOPED_TRACE(name);
    WordDocument& again = app.Documents().Open(dir.file(name));
    EXPECT_EQ(again.PageCount(), 3);
    EXPECT_EQ(again.TableCount(), 1);
    EXPECT_EQ(again.Text(), "alpha\na\nb\nc\nd\nbeta\ngamma\n");
    again.Close();
  }
}

// A copy of `from` saved with a password, made through the server itself.
void SaveWithPassword(OfficeServer& server, const std::string& from, const std::string& to) {
  auto& impl = server.impl();
  auto doc = impl.Load(from);
  impl.Call(from, "保存", [&] {
    css::uno::Reference<css::frame::XStorable> storable(doc, css::uno::UNO_QUERY_THROW);
    storable->storeToURL(FileUrl(to), Props({Prop("FilterName", css::uno::Any(OUString("writer8"))),
                                             Prop("Password", css::uno::Any(OUString("secret")))}));
  });
  impl.CloseDocument(doc);
}

TEST(Word, PathsThatAreNotUtf8OpenAndSave) {
  TempDir dir;
  const std::string folder = dir.file("\xB1\xA8\xB8\xE6");    // "报告" in GBK
  const std::string src = folder + "/\xCE\xC4\xB5\xB5.fodt";  // "文档"
  WriteFile(src, test::SimpleFodt({"bytes"}));
  OfficeServer server;
  WordApplication app(server);
  WordDocument& doc = app.Documents().Open(src);
  EXPECT_EQ(doc.Text(), "bytes\n");
  const std::string out = doc.SaveAs(folder + "/\xD0\xC2.docx");
  EXPECT_EQ(out, folder + "/\xD0\xC2.docx");
  doc.Close();
  EXPECT_EQ(app.Documents().Open(out).Text(), "bytes\n");
}

TEST(Word, DocumentsThatDoNotOpenFailClearlyAndTheServerGoesOn) {
  TempDir dir;
  WriteFile(dir.file("good.fodt"), test::SimpleFodt({"fine"}));
  WriteFile(dir.file("damaged.docx"), std::string("PK\x03\x04", 4) + std::string(300, 'x'));
  WriteFile(dir.file("damaged.doc"),
            std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(2000, '\0'));
  WriteFile(dir.file("empty.docx"), "");
  WriteFile(dir.file("sheet.docx"), test::MakeFods({{0, 0, "cell"}}));
  // Bytes of no document kind, which the office would read as plain text.
  std::string noise(20000, '\0');
  std::mt19937 random(7);
  for (char& c : noise) c = static_cast<char>(random());
  WriteFile(dir.file("noise.docx"), noise);
  WriteFile(dir.file("notes.doc"), "plain text\nlines of it\n");
  WriteFile(dir.file("table.docx"), "a,b,c\n1,2,3\n");
  // A web page saved by Word as ".doc" is a document all the same.
  WriteFile(dir.file("web.doc"), "<html><body><p>from the web</p></body></html>");
  OfficeServer server;
  WordApplication app(server);
  SaveWithPassword(server, dir.file("good.fodt"), dir.file("locked.odt"));

  struct Case {
    const char* name;
    const char* cause;
  };
  const Case cases[] = {
      {"locked.odt", "密码"},           {"damaged.docx", "损坏"},
      {"damaged.doc", "损坏"},          {"empty.docx", "空"},
      {"missing.docx", "不存在"},       {"sheet.docx", "不是 Word 文档"},
      {"noise.docx", "不是 Word 文档"}, {"notes.doc", "不是 Word 文档"},
      {"table.docx", "不是 Word 文档"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      app.Documents().Open(dir.file(c.name));
      ADD_FAILURE() << "should not open";
    } catch (const OfficeError& e) {
      EXPECT_EQ(e.file(), dir.file(c.name));
      EXPECT_EQ(e.action(), "打开");
      EXPECT_NE(e.cause().find(c.cause), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos) << e.what();
    }
    EXPECT_EQ(app.Documents().Count(), 0);
  }
  EXPECT_EQ(app.Documents().Open(dir.file("good.fodt")).Text(), "fine\n");
  EXPECT_EQ(app.Documents().Open(dir.file("web.doc")).Text(), "from the web\n");
}

// Once the merged document is saved, a server that went down meanwhile takes
// nothing more: closing what it held and quitting do not fail.
TEST(Word, AServerGoneAfterSavingFailsNeitherCloseNorQuit) {
  TempDir dir;
  WriteFile(dir.file("a.fodt"), test::SimpleFodt({"alpha"}));
  OfficeServer server;
  WordApplication app(server);
  WordDocument& result = app.Documents().Add();
  WordDocument& source = app.Documents().Open(dir.file("a.fodt"));
  app.Selection().WholeStory();
  app.Selection().Copy();
  source.Close();
  app.Selection().Paste();
  EXPECT_EQ(result.SaveAs(dir.file("out.docx")), dir.file("out.docx"));
  ::kill(server.ProcessId(), SIGKILL);
  EXPECT_NO_THROW(result.Close());
  EXPECT_NO_THROW(app.Quit());
  EXPECT_FALSE(server.Running());
}

// Inside the office process through the agent, and call by call without it.
class WordBothWays : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(Word, WordBothWays, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Agent" : "CallByCall"; });

TEST_P(WordBothWays, PositionsPagesAndSpansFollowTheText) {
  TempDir dir;
  const std::string src = dir.file("pages.fodt");
  // Positions: "one"=0..3, "two"=4..7, table cells "ab"/"c" with ends, then page 2.
  WriteFile(src, test::SimpleFodt({"one", "two", "|ab|c", "\fthree", "four", "\ffive"}));
  OfficeOptions options;
  options.agent = GetParam();
  OfficeServer server(options);
  WordApplication app(server);
  ASSERT_EQ(server.impl().agent.is(), GetParam());
  WordDocument& doc = app.Documents().Open(src);
  WordSelection& sel = app.Selection();
  EXPECT_EQ(sel.Start(), 0);
  EXPECT_EQ(sel.Information(wdNumberOfPagesInDocument), 3);
  const int tableEnd = 8 + 3 + 2 + 1;  // two cells with their ends, one row end
  EXPECT_EQ(doc.Length(), tableEnd + 6 + 5 + 5);
  sel.GoTo(wdGoToPage, wdGoToAbsolute, "2");
  EXPECT_EQ(sel.Start(), tableEnd);
  sel.GoTo(wdGoToPage, wdGoToAbsolute, "3");
  EXPECT_EQ(sel.Start(), tableEnd + 11);
  sel.GoTo(wdGoToPage, wdGoToAbsolute, "9");  // past the last page: the end
  EXPECT_EQ(sel.Start(), doc.Length() - 1);

  struct Case {
    int start, end;
    const char* text;
  };
  const Case cases[] = {
      {0, 4, "one\n\n"},           // a whole paragraph and its end
      {1, 6, "ne\ntw\n"},          // across a paragraph end
      {4, 10, "two\nab\nc\n\n"},   // into the table: the whole table comes along
      {10, tableEnd + 2, "th\n"},  // from inside the table: starts after it
      {tableEnd + 6, doc.Length(), "four\nfive\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + "-" + std::to_string(c.end));
    doc.Range(c.start, c.end).Select();
    sel.Copy();
    WordDocument& part = app.Documents().Add();
    sel.EndKey();
    sel.Paste();
    EXPECT_EQ(part.Text(), c.text);
    part.Close();
    EXPECT_EQ(&app.ActiveDocument(), &doc);
  }
}

TEST(Word, PasteAppendsWholeDocumentsWithBreaksBetween) {
  TempDir dir;
  WriteFile(dir.file("a.fodt"), test::SimpleFodt({"first", "\fsecond page"}));
  WriteFile(dir.file("b.fodt"), test::SimpleFodt({"|x|y", "after table"}));
  OfficeServer server;
  WordApplication app(server);
  WordDocument& merged = app.Documents().Add();
  for (const char* name : {"a.fodt", "b.fodt"}) {
    WordDocument& src = app.Documents().Open(dir.file(name));
    app.Selection().WholeStory();
    app.Selection().Copy();
    src.Close();  // content stays available until pasted
    app.Selection().EndKey();
    app.Selection().Paste();
    app.Selection().EndKey();
    app.Selection().InsertBreak();
    app.Selection().TypeParagraph();
  }
  // Each whole story brings its closing paragraph mark, as in a word processor;
  // a table that opens a document comes after an empty paragraph.
  EXPECT_EQ(merged.Text(), "first\nsecond page\n\n\n\nx\ny\nafter table\n\n\n\n");
  EXPECT_EQ(merged.TableCount(), 1);
  EXPECT_EQ(merged.PageCount(), 4);
  EXPECT_EQ(app.Documents().Count(), 1);
}

// What one paragraph of `doc` looks like: its font size, and the page style in
// force there with that style's width and header text.
struct Look {
  float size = 0;
  sal_Int32 pageWidth = 0;
  std::string header;
  int headerFields = 0;
  bool numberedAnew = false;  // page numbers start again there
  bool centred = false;
  sal_Int32 headerDistance = 0;  // from the header to the text
  bool headerRuled = false;      // a header paragraph has a line under it
};

Look LookAt(WordDocument& doc, const std::string& paragraphText) {
  using namespace css;
  DocumentState& d = doc.state();
  uno::Reference<text::XTextCursor> c = d.body->createTextCursor();
  c->gotoStart(false);
  uno::Reference<text::XParagraphCursor> pc(c, uno::UNO_QUERY_THROW);
  do {
    pc->gotoEndOfParagraph(true);
    if (FromOU(c->getString()) == paragraphText) break;
    c->collapseToStart();
  } while (pc->gotoNextParagraph(false));
  uno::Reference<beans::XPropertySet> props(c, uno::UNO_QUERY_THROW);
  Look look;
  props->getPropertyValue("CharHeight") >>= look.size;
  look.numberedAnew = props->getPropertyValue("PageNumberOffset").hasValue();
  sal_Int16 adjust = 0;  // a style::ParagraphAdjust, held as a number
  props->getPropertyValue("ParaAdjust") >>= adjust;
  look.centred = adjust == static_cast<sal_Int16>(style::ParagraphAdjust_CENTER);
  OUString pageStyle;
  props->getPropertyValue("PageStyleName") >>= pageStyle;
  uno::Reference<container::XNameAccess> families =
      uno::Reference<style::XStyleFamiliesSupplier>(d.model, uno::UNO_QUERY_THROW)
          ->getStyleFamilies();
  uno::Reference<container::XNameAccess> pages(families->getByName("PageStyles"),
                                               uno::UNO_QUERY_THROW);
  uno::Reference<beans::XPropertySet> page(pages->getByName(pageStyle), uno::UNO_QUERY_THROW);
  page->getPropertyValue("Width") >>= look.pageWidth;
  bool headerOn = false;
  page->getPropertyValue("HeaderIsOn") >>= headerOn;
  if (headerOn) {
    page->getPropertyValue("HeaderBodyDistance") >>= look.headerDistance;
    uno::Reference<text::XText> header(page->getPropertyValue("HeaderText"), uno::UNO_QUERY_THROW);
    look.header = FromOU(header->getString());
    auto paragraphs = uno::Reference<container::XEnumerationAccess>(header, uno::UNO_QUERY_THROW)
                          ->createEnumeration();
    while (paragraphs->hasMoreElements()) {
      uno::Reference<container::XEnumerationAccess> paragraph(paragraphs->nextElement(),
                                                              uno::UNO_QUERY);
      uno::Reference<lang::XServiceInfo> kind(paragraph, uno::UNO_QUERY);
      if (!kind.is() || !kind->supportsService("com.sun.star.text.Paragraph")) continue;
      table::BorderLine2 under;
      uno::Reference<beans::XPropertySet>(paragraph, uno::UNO_QUERY_THROW)
          ->getPropertyValue("BottomBorder") >>= under;
      look.headerRuled = look.headerRuled || under.OuterLineWidth > 0;
      auto portions = paragraph->createEnumeration();
      while (portions->hasMoreElements()) {
        uno::Reference<beans::XPropertySet> portion(portions->nextElement(), uno::UNO_QUERY_THROW);
        OUString type;
        portion->getPropertyValue("TextPortionType") >>= type;
        if (type == "TextField") ++look.headerFields;
      }
    }
  }
  return look;
}

// The font size of the table cell of `doc` that holds `text`, 0 when none does.
float CellSize(WordDocument& doc, const std::string& text) {
  using namespace css;
  uno::Reference<container::XIndexAccess> tables(
      uno::Reference<text::XTextTablesSupplier>(doc.state().model, uno::UNO_QUERY_THROW)
          ->getTextTables(),
      uno::UNO_QUERY_THROW);
  for (sal_Int32 i = 0; i < tables->getCount(); ++i) {
    uno::Reference<text::XTextTable> table(tables->getByIndex(i), uno::UNO_QUERY_THROW);
    for (const OUString& name : table->getCellNames()) {
      uno::Reference<text::XText> cell(table->getCellByName(name), uno::UNO_QUERY_THROW);
      if (FromOU(cell->getString()) != text) continue;
      float size = 0;
      uno::Reference<beans::XPropertySet>(cell->createTextCursor(), uno::UNO_QUERY_THROW)
          ->getPropertyValue("CharHeight") >>= size;
      return size;
    }
  }
  return 0;
}

TEST_P(WordBothWays, PastedDocumentsKeepTheirOwnStylesAndPageSetup) {
  TempDir dir;
  test::FlatText a;
  a.pieces = {"from a", "more a", "|cell of a|x"};
  a.size = "20pt";
  a.headerText = "header of a";
  test::FlatText b;
  b.pieces = {"from b", "\vcentred b"};  // its own centring outlives its style's new name
  b.size = "9pt";
  b.pageWidth = "29.7cm";
  b.pageHeight = "21cm";
  b.headerText = "header of b, page #";
  WriteFile(dir.file("a.fodt"), test::MakeFodt(a));
  WriteFile(dir.file("b.fodt"), test::MakeFodt(b));
  OfficeOptions options;
  options.agent = GetParam();
  OfficeServer server(options);
  WordApplication app(server);
  ASSERT_EQ(server.impl().agent.is(), GetParam());
  WordDocument& merged = app.Documents().Add();
  for (const char* name : {"a.fodt", "b.fodt", "a.fodt"}) {
    WordDocument& src = app.Documents().Open(dir.file(name));
    app.Selection().WholeStory();
    app.Selection().Copy();
    src.Close();
    app.Selection().Paste();
    app.Selection().InsertBreak();
  }
  {
    // The second copy of a takes the page and paragraph styles made for the first.
    using namespace css;
    uno::Reference<container::XNameAccess> families =
        uno::Reference<style::XStyleFamiliesSupplier>(merged.state().model, uno::UNO_QUERY_THROW)
            ->getStyleFamilies();
    for (const char* family : {"PageStyles", "ParagraphStyles"}) {
      uno::Reference<container::XNameAccess> styles(
          families->getByName(OUString::createFromAscii(family)), uno::UNO_QUERY_THROW);
      int made = 0;
      for (const OUString& name : styles->getElementNames())
        if (name.startsWith("Standard (")) ++made;
      EXPECT_EQ(made, 2) << family;
    }
  }
  const std::string out = merged.SaveAs(dir.file("merged.docx"));
  merged.Close();
  WordDocument& again = app.Documents().Open(out);
  EXPECT_EQ(again.PageCount(), 4);
  const Look first = LookAt(again, "from a");
  const Look second = LookAt(again, "from b");
  EXPECT_FLOAT_EQ(first.size, 20.0f);
  EXPECT_FLOAT_EQ(second.size, 9.0f);
  const Look centred = LookAt(again, "centred b");
  EXPECT_FLOAT_EQ(centred.size, 9.0f);
  EXPECT_TRUE(centred.centred);
  EXPECT_FALSE(second.centred);
  EXPECT_FLOAT_EQ(CellSize(again, "cell of a"), 20.0f);  // table cells keep their style too
  EXPECT_EQ(first.header, "header of a");
  EXPECT_EQ(second.header.rfind("header of b, page ", 0), 0u) << second.header;
  EXPECT_EQ(second.headerFields, 1);  // the page number stays a field
  EXPECT_NEAR(first.pageWidth, 21000, 20);
  EXPECT_NEAR(second.pageWidth, 29700, 20);
}

// A part that lays out a hair longer than the pages it took ends on them:
// its last page gives up a little of its bottom margin, and the part still
// ends there once saved and opened again. So does one running up to a line
// over (a repeated table heading is drawn shorter on the source's page); one
// running further over keeps its margin and says it does not fit.
TEST(Word, APartRunningAHairOverItsPagesEndsOnThem) {
  struct Case {
    const char* name;
    const char* line;  // exact line height of each of ten paragraphs on a 10 cm body
    bool fits;
  };
  const Case cases[] = {
      {"hair", "10.01mm", true}, {"line", "10.6mm", true}, {"lines", "11mm", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    test::FlatText text;
    text.pageHeight = "14cm";
    text.paragraphLook =
        std::string(R"(fo:margin-top="0cm" fo:margin-bottom="0cm" fo:line-height=")") + c.line +
        "\"";
    for (int i = 0; i < 10; ++i) text.pieces.push_back("line " + std::to_string(i));
    WriteFile(dir.file("part.fodt"), test::MakeFodt(text));
    OfficeServer server;
    WordApplication app(server);
    WordDocument& doc = app.Documents().Open(dir.file("part.fodt"));
    ASSERT_EQ(doc.PageCount(), 2);
    EXPECT_EQ(doc.EndOnPages(1), c.fits);
    EXPECT_EQ(doc.PageCount(), c.fits ? 1 : 2);
    doc.SaveAs(dir.file("part.docx"));
    doc.Close();
    WordDocument& again = app.Documents().Open(dir.file("part.docx"));
    EXPECT_EQ(again.PageCount(), c.fits ? 1 : 2);
    again.Close();
  }
}

TEST(Word, APartTakesThePageSetupInForceWhereItStarts) {
  TempDir dir;
  // Page 1 is portrait; page 2 starts a landscape page style, whose header
  // stands 1.5 cm above the text and is ruled off by its paragraph style.
  WriteFile(dir.file("mixed.fodt"), R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:styles><style:default-style style:family="paragraph"><style:paragraph-properties fo:orphans="0" fo:widows="0" style:tab-stop-distance="1.5cm"/></style:default-style><style:style style:name="Header" style:family="paragraph"><style:paragraph-properties fo:border-bottom="0.5pt solid #000000" fo:padding="0.05cm"/></style:style></office:styles>
<office:automatic-styles>
<style:style style:name="W" style:family="paragraph" style:master-page-name="Wide"/>
<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="21cm" fo:page-height="29.7cm"/></style:page-layout>
<style:page-layout style:name="pm2"><style:page-layout-properties fo:page-width="29.7cm" fo:page-height="21cm" style:print-orientation="landscape"/><style:header-style><style:header-footer-properties fo:min-height="0.5cm" fo:margin-bottom="1.5cm"/></style:header-style></style:page-layout>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"/><style:master-page style:name="Wide" style:page-layout-name="pm2"><style:header><text:p text:style-name="Header">wide header</text:p></style:header></style:master-page></office:master-styles>
<office:body><office:text><text:p>tall text</text:p><text:p text:style-name="W">wide text</text:p></office:text></office:body></office:document>
)");
  OfficeServer server;
  WordApplication app(server);
  WordDocument& doc = app.Documents().Open(dir.file("mixed.fodt"));
  ASSERT_EQ(doc.PageCount(), 2);
  // Its tab stops count from the margin, as in a Word document.
  auto settings = [](WordDocument& d) {
    return css::uno::Reference<css::beans::XPropertySet>(
        css::uno::Reference<css::lang::XMultiServiceFactory>(d.state().model,
                                                             css::uno::UNO_QUERY_THROW)
            ->createInstance("com.sun.star.document.Settings"),
        css::uno::UNO_QUERY_THROW);
  };
  settings(doc)->setPropertyValue("TabsRelativeToIndent", css::uno::Any(false));
  WordSelection& sel = app.Selection();
  sel.GoTo(wdGoToPage, wdGoToAbsolute, "2");
  doc.Range(sel.Start(), doc.Length()).Select();
  sel.Copy();
  WordDocument& part = app.Documents().Add();
  sel.Paste();
  const Look wide = LookAt(part, "wide text");
  EXPECT_NEAR(wide.pageWidth, 29700, 20);
  EXPECT_EQ(wide.header, "wide header");
  EXPECT_NEAR(wide.headerDistance, 1500, 20);
  EXPECT_TRUE(wide.headerRuled);
  bool relative = true;
  settings(part)->getPropertyValue("TabsRelativeToIndent") >>= relative;
  EXPECT_FALSE(relative);
  // So do the defaults its styles build on: no widow or orphan control, as
  // in the source, and its default tab stops.
  css::uno::Reference<css::beans::XPropertySet> defaults(
      css::uno::Reference<css::lang::XMultiServiceFactory>(part.state().model,
                                                           css::uno::UNO_QUERY_THROW)
          ->createInstance("com.sun.star.text.Defaults"),
      css::uno::UNO_QUERY_THROW);
  sal_Int8 widows = -1;
  sal_Int32 tabs = 0;
  defaults->getPropertyValue("ParaWidows") >>= widows;
  defaults->getPropertyValue("TabStopDistance") >>= tabs;
  EXPECT_EQ(widows, 0);
  EXPECT_NEAR(tabs, 1500, 20);
}

// A part that starts inside a paragraph shows the rest of that paragraph as
// the source page does: with the paragraph's style (and the list that
// indents it) and its own indents, not the look of the empty paragraph of a
// new document it lands in.
TEST(Word, APartStartingInsideAParagraphKeepsThatParagraphsLook) {
  TempDir dir;
  WriteFile(dir.file("runs-on.fodt"), R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:styles>
<style:style style:name="Listed" style:family="paragraph" style:list-style-name="Dots"/>
<style:style style:name="Quote" style:family="paragraph"><style:paragraph-properties fo:margin-bottom="0.4cm"/></style:style>
<text:list-style style:name="Dots"><text:list-level-style-bullet text:level="1" text:bullet-char="-"><style:list-level-properties text:list-level-position-and-space-mode="label-alignment"><style:list-level-label-alignment text:label-followed-by="listtab" fo:text-indent="-0.5cm" fo:margin-left="2.5cm"/></style:list-level-properties></text:list-level-style-bullet></text:list-style>
</office:styles>
<office:automatic-styles><style:style style:name="Q" style:family="paragraph" style:parent-style-name="Quote"><style:paragraph-properties fo:margin-left="3cm"/></style:style></office:automatic-styles>
<office:body><office:text><text:list text:style-name="Dots"><text:list-item><text:p text:style-name="Listed">alpha beta gamma</text:p></text:list-item></text:list><text:p text:style-name="Q">one two three</text:p><text:p>end</text:p></office:text></office:body></office:document>
)");
  // Where the text of the paragraph starts: its own indent, or its list's.
  auto indent = [](const css::uno::Reference<css::beans::XPropertySet>& paragraph) {
    sal_Int32 left = 0;
    paragraph->getPropertyValue("ParaLeftMargin") >>= left;
    css::uno::Reference<css::container::XIndexAccess> rules(
        paragraph->getPropertyValue("NumberingRules"), css::uno::UNO_QUERY);
    sal_Int16 level = 0;
    paragraph->getPropertyValue("NumberingLevel") >>= level;
    css::uno::Sequence<css::beans::PropertyValue> props;
    if (rules.is()) rules->getByIndex(level) >>= props;
    for (const auto& p : props)
      if (p.Name == "IndentAt") p.Value >>= left;
    return left;
  };
  auto firstOf = [](WordDocument& d, const std::string& word) {
    css::uno::Reference<css::text::XTextCursor> c = d.state().body->createTextCursor();
    c->gotoStart(false);
    c->goRight(static_cast<sal_Int16>(d.Text().find(word)), false);
    return css::uno::Reference<css::beans::XPropertySet>(
        css::uno::Reference<css::beans::XPropertySet>(c, css::uno::UNO_QUERY_THROW)
            ->getPropertyValue("TextParagraph"),
        css::uno::UNO_QUERY_THROW);
  };
  struct Case {
    const char* from;   // the part starts at this word
    const char* style;  // the paragraph style it must show
    sal_Int32 indent;   // where its text starts
  };
  const Case cases[] = {{"beta", "Listed", 2500}, {"two", "Quote", 3000}};
  OfficeServer server;
  WordApplication app(server);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    WordDocument& doc = app.Documents().Open(dir.file("runs-on.fodt"));
    ASSERT_NEAR(indent(firstOf(doc, c.from)), c.indent, 20);
    doc.Range(static_cast<int>(doc.Text().find(c.from)), doc.Length()).Select();
    WordSelection& sel = app.Selection();
    sel.Copy();
    WordDocument& part = app.Documents().Add();
    sel.Paste();
    const auto paragraph = firstOf(part, c.from);
    OUString style;
    paragraph->getPropertyValue("ParaStyleName") >>= style;
    EXPECT_EQ(FromOU(style), c.style);
    EXPECT_NEAR(indent(paragraph), c.indent, 20);
    part.Close();
    doc.Close();
  }
}

// A link in a quiet style of its own, as those of a table of contents, does
// not come back underlined when its part is saved and opened again.
TEST(Word, QuietLinksStayQuietInASavedPart) {
  TempDir dir;
  WriteFile(dir.file("quiet.fodt"), R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:styles><style:style style:name="Quiet" style:family="text"><style:text-properties style:text-underline-style="none"/></style:style></office:styles>
<office:body><office:text><text:p>first words</text:p><text:p>body words <text:a xlink:type="simple" xlink:href="#here" text:style-name="Quiet" text:visited-style-name="Quiet">link words</text:a></text:p></office:text></office:body></office:document>
)");
  OfficeServer server;
  WordApplication app(server);
  WordDocument& doc = app.Documents().Open(dir.file("quiet.fodt"));
  doc.Range(static_cast<int>(doc.Text().find("words")), doc.Length()).Select();
  WordSelection& sel = app.Selection();
  sel.Copy();
  WordDocument& part = app.Documents().Add();
  sel.Paste();
  for (const char* name : {"part.docx", "part.doc"}) {
    SCOPED_TRACE(name);
    part.SaveAs(dir.file(name));
    WordDocument& again = app.Documents().Open(dir.file(name));
    ASSERT_NE(again.Text().find("link words"), std::string::npos);
    css::uno::Reference<css::text::XTextCursor> c = again.state().body->createTextCursor();
    c->gotoStart(false);
    c->goRight(static_cast<sal_Int16>(again.Text().find("link") + 1), false);
    sal_Int16 underline = -1;
    css::uno::Reference<css::beans::XPropertySet>(c, css::uno::UNO_QUERY_THROW)
        ->getPropertyValue("CharUnderline") >>= underline;
    EXPECT_EQ(underline, 0);
    again.Close();
  }
}

TEST(Word, PastedHeadersKeepTheirTablesAndPictures) {
  TempDir dir;
  const std::string pixel =
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+"
      "M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==";
  test::FlatText a;
  a.pieces = {"from a"};
  a.headerXml =
      "<table:table table:name=\"H1\"><table:table-column table:number-columns-repeated=\"2\"/>"
      "<table:table-row><table:table-cell><text:p>left cell</text:p></table:table-cell>"
      "<table:table-cell><text:p>right cell</text:p></table:table-cell></table:table-row>"
      "</table:table><text:p>logo "
      "<draw:frame xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "draw:name=\"logo\" text:anchor-type=\"as-char\" svg:width=\"1cm\" svg:height=\"1cm\">"
      "<draw:image><office:binary-data>" +
      pixel + "</office:binary-data></draw:image></draw:frame></text:p>";
  test::FlatText b;
  b.pieces = {"from b", "\vcentred b"};  // its own centring outlives its style's new name
  b.pageWidth = "29.7cm";
  b.pageHeight = "21cm";
  b.headerText = "header of b";
  WriteFile(dir.file("a.fodt"), test::MakeFodt(a));
  WriteFile(dir.file("b.fodt"), test::MakeFodt(b));
  OfficeServer server;
  WordApplication app(server);
  {
    WordDocument& alone = app.Documents().Open(dir.file("a.fodt"));
    ASSERT_EQ(alone.TableCount(), 1);
    ASSERT_EQ(alone.ImageCount(), 1);
    alone.Close();
  }
  WordDocument& merged = app.Documents().Add();
  for (const char* name : {"b.fodt", "a.fodt"}) {
    WordDocument& src = app.Documents().Open(dir.file(name));
    app.Selection().WholeStory();
    app.Selection().Copy();
    src.Close();
    app.Selection().Paste();
    app.Selection().InsertBreak();
  }
  const std::string out = merged.SaveAs(dir.file("merged.docx"));
  merged.Close();
  WordDocument& again = app.Documents().Open(out);
  EXPECT_EQ(again.TableCount(), 1);
  EXPECT_EQ(again.ImageCount(), 1);
  const Look first = LookAt(again, "from b");
  const Look second = LookAt(again, "from a");
  EXPECT_EQ(first.header, "header of b");
  EXPECT_NE(second.header.find("logo"), std::string::npos) << second.header;
  EXPECT_NEAR(second.pageWidth, 21000, 20);
}

// Header objects on their way into a merged document or a cut-out part: each
// case pastes documents made here and counts the tables and pictures that the
// saved result keeps, and what the header over one paragraph says.
TEST(Word, HeaderObjectsComeOverWithEveryPageStyleTheContentUses) {
  const std::string picture =
      "<draw:frame xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" "
      "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" "
      "text:anchor-type=\"as-char\" svg:width=\"1cm\" svg:height=\"1cm\"><draw:image>"
      "<office:binary-data>iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+"
      "M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==</office:binary-data></draw:image></draw:frame>";
  const std::string table =
      "<table:table><table:table-column table:number-columns-repeated=\"2\"/><table:table-row>"
      "<table:table-cell><text:p>left cell</text:p></table:table-cell>"
      "<table:table-cell><text:p>right cell</text:p></table:table-cell></table:table-row>"
      "</table:table>";
  auto doc = [](std::vector<std::string> pieces, std::string headerXml,
                std::vector<test::FlatMaster> masters = {}, std::string next = {}) {
    test::FlatText d;
    d.pieces = std::move(pieces);
    d.headerXml = std::move(headerXml);
    d.masters = std::move(masters);
    d.next = std::move(next);
    return d;
  };
  struct Case {
    const char* name;
    std::vector<test::FlatText> docs;  // merged in order; one alone: pages 2 on are cut out
    int tables, images;
    // Paragraphs, and how the header over each begins.
    std::vector<std::pair<const char*, const char*>> headers;
  };
  const Case cases[] = {
      {"a header that is nothing but a table",
       {doc({"plain"}, "<text:p>words</text:p>"), doc({"tabled"}, table)},
       1,
       0,
       {}},
      {"the same header words around other pictures",
       {doc({"one picture"}, "<text:p>logo " + picture + "</text:p>"),
        doc({"two pictures"}, "<text:p>logo " + picture + picture + "</text:p>")},
       0,
       3,
       {{"two pictures", "logo"}}},
      {"a first page style followed by another",
       {doc({"plain"}, "<text:p>words</text:p>"),
        doc({"cover", "\flater page"}, "<text:p>title page</text:p>",
            {{"Later", "<text:p>later pages</text:p>" + table, ""}}, "Later")},
       1,
       0,
       {{"cover", "title page"}, {"later page", "later pages"}}},
      {"left-page and first-page headers with objects of their own",
       {[&] {
          test::FlatText d = doc({"first page", "\fsecond page", "\fthird page"},
                                 "<text:p>right pages " + picture + "</text:p>");
          d.headerLeftXml = table + "<text:p>left pages</text:p>";
          d.headerFirstXml = "<text:p>first " + picture + "</text:p>";
          return d;
        }(),
        doc({"plain"}, "<text:p>words</text:p>")},
       1,
       2,
       {{"first page", "first"}, {"third page", "right pages"}}},
      {"a part cut from pages in another page style",
       {doc({"first page", "\a0second page"}, "<text:p>words</text:p>",
            {{"Second", table + "<text:p>second " + picture + "</text:p>", ""}})},
       1,
       1,
       {{"second page", "second"}}},
  };
  OfficeServer server;
  WordApplication app(server);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WordDocument* result = nullptr;
    int tables = 0, images = 0;
    for (std::size_t k = 0; k < c.docs.size(); ++k) {
      const std::string file = dir.file(std::to_string(k) + ".fodt");
      WriteFile(file, test::MakeFodt(c.docs[k]));
      WordDocument& src = app.Documents().Open(file);
      tables += src.TableCount();
      images += src.ImageCount();
      if (c.docs.size() == 1) {
        app.Selection().GoTo(wdGoToPage, wdGoToAbsolute, "2");
        src.Range(app.Selection().Start(), src.Length()).Select();
      } else {
        app.Selection().WholeStory();
      }
      app.Selection().Copy();
      if (!result) result = &app.Documents().Add();
      src.Close();
      app.Selection().EndKey();
      app.Selection().Paste();
      app.Selection().InsertBreak();
    }
    ASSERT_EQ(tables, c.tables);  // the sources hold them all
    ASSERT_EQ(images, c.images);
    const std::string out = result->SaveAs(dir.file("result.docx"));
    result->Close();
    WordDocument& again = app.Documents().Open(out);
    EXPECT_EQ(again.TableCount(), c.tables);
    EXPECT_EQ(again.ImageCount(), c.images);
    for (const auto& [paragraph, header] : c.headers) {
      const Look look = LookAt(again, paragraph);
      EXPECT_EQ(look.header.rfind(header, 0), 0u) << paragraph << ": " << look.header;
      EXPECT_FALSE(look.numberedAnew) << paragraph;
    }
    again.Close();
  }
}

}  // namespace
}  // namespace pw::word
