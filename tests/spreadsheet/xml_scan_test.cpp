#include "platform/spreadsheet/xml_scan.h"

#include <expat.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <string>
#include <vector>

namespace pw {
namespace {

// What a parser reported, as one line per event; adjacent text pieces are
// joined, since both parsers may split text anywhere.
class Record {
 public:
  std::string log;

  void Start(const char* name, const char** attrs) {
    Flush();
    log += "<" + std::string(name);
    for (int i = 0; attrs[i] != nullptr; i += 2)
      log += " " + std::string(attrs[i]) + "=[" + attrs[i + 1] + "]";
    log += ">\n";
  }
  void End(const char* name) {
    Flush();
    log += "</" + std::string(name) + ">\n";
  }
  void Text(const char* s, std::size_t n) { text_.append(s, n); }
  void Flush() {
    if (!text_.empty()) log += "[" + text_ + "]\n";
    text_.clear();
  }

 private:
  std::string text_;
};

struct Outcome {
  bool ok = false;
  std::string log;
};

Outcome WithExpat(const std::string& doc) {
  Record rec;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &rec);
  XML_SetElementHandler(
      parser,
      [](void* r, const XML_Char* name, const XML_Char** attrs) {
        static_cast<Record*>(r)->Start(name, attrs);
      },
      [](void* r, const XML_Char* name) { static_cast<Record*>(r)->End(name); });
  XML_SetCharacterDataHandler(parser, [](void* r, const XML_Char* s, int n) {
    static_cast<Record*>(r)->Text(s, static_cast<std::size_t>(n));
  });
  const bool ok = XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  rec.Flush();
  return {ok, rec.log};
}

class ScanRecord final : public xl::XmlEvents, public Record {
 public:
  void Start(std::string_view name, const char** attrs) override {
    EXPECT_EQ(name.data()[name.size()], '\0');
    Record::Start(name.data(), attrs);
  }
  void End(std::string_view name) override {
    EXPECT_EQ(name.data()[name.size()], '\0');
    Record::End(name.data());
  }
  void Text(const char* s, std::size_t n) override { Record::Text(s, n); }
};

// The document given to the scanner in pieces of `piece` bytes.
xl::XmlScanner::Status WithScanner(const std::string& doc, std::size_t piece, std::string& log) {
  ScanRecord rec;
  xl::XmlScanner scanner(rec);
  auto status = xl::XmlScanner::Status::Ok;
  for (std::size_t at = 0; at < doc.size() && status == xl::XmlScanner::Status::Ok; at += piece) {
    const std::size_t n = std::min(piece, doc.size() - at);
    doc.copy(scanner.Buffer(n), n, at);
    status = scanner.Parsed(n, false);
  }
  if (status == xl::XmlScanner::Status::Ok) status = scanner.Parsed(0, true);
  rec.Flush();
  log = rec.log;
  return status;
}

// The scanner takes what expat takes, reporting the same, and refuses what
// expat refuses, however the document is cut into pieces.
TEST(XmlScanner, AcceptsAndReportsExactlyWhatExpatDoes) {
  const std::vector<std::string> docs = {
      // taken
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<a x=\"1\" y='2'><b/>text &amp; &lt;&gt;&quot;&apos; &#65;&#x4e2d;&#x1F600;</a>",
      "\xEF\xBB\xBF<r>\xE4\xB8\xAD\xF0\x9F\x98\x80 <![CDATA[<x> & ]] \r\n]]></r>",
      "<r a=\"l1\nl2\tt\r\nx &#10;&#x9;&#13;\" b=\"'\" c='\"&gt;'/>",
      "<r>a\r\nb\rc\n\t</r>\n",
      "<!-- c --><r><?pi data?><!----><s:t xmlns:s=\"u\" s:v=\"1\">v</s:t></r><!-- end -->\n",
      "<r  a = \"1\"\n  ></r >",
      "<r>a]]b] ]</r>",
      "<?xml version='1.0' encoding='utf-8'?><r/>",
      "<x:r><x:c r=\"A1\" t=\"s\"><x:v>1</x:v></x:c><c r=\"B1\"><v>2.5E-3</v></c></x:r>",
      "<\xE6\x95\xB0 \xE5\x80\xBC=\"1\"/>",
      // refused
      "",
      "   ",
      "<a><b></a></b>",
      "<a>",
      "<a></a><b/>",
      "text<a/>",
      "<a/>text",
      "<a>&foo;</a>",
      "<a>&amp</a>",
      "<a>& b</a>",
      "<a>&#0;</a>",
      "<a>&#xD800;</a>",
      "<a>&#x110000;</a>",
      "<a>&#12a;</a>",
      "<a>\x01</a>",
      "<a>\xFF</a>",
      "<a>\xC0\x80</a>",
      "<a>\xED\xA0\x80</a>",
      "<a>\xEF\xBF\xBE</a>",
      "<a>\xE4\xB8</a>",
      "<a b=\"1\" b=\"2\"/>",
      "<a b=\"<\"/>",
      "<a b=1/>",
      "<a b=\"1\"c=\"2\"/>",
      "<a b/>",
      "<a>]]></a>",
      "<a><!-- x -- y --></a>",
      "<a><?xml version=\"1.0\"?></a>",
      " <?xml version=\"1.0\"?><a/>",
      "<1a/>",
      "<a\xFF/>",
      "<a b\xC0\x80=\"1\"/>",
      "<a\xE4\xB8/>",
      "<a></ a>",
      "<a/ >",
      "<a><![CDATA[x</a>",
      "<a><!-- x</a>",
      "<a b=\"1",
      "<![CDATA[x]]><a/>",
  };
  for (const std::string& doc : docs) {
    SCOPED_TRACE(doc);
    const Outcome expat = WithExpat(doc);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, doc.size() + 1}) {
      SCOPED_TRACE(piece);
      std::string log;
      const auto status = WithScanner(doc, piece, log);
      EXPECT_EQ(status, expat.ok ? xl::XmlScanner::Status::Ok : xl::XmlScanner::Status::Error);
      if (expat.ok) {
        EXPECT_EQ(log, expat.log);
      }
    }
  }
}

// Documents in another encoding or with a document type are handed back
// before anything is reported; an error names its line.
TEST(XmlScanner, LeavesOtherDocumentsToExpatAndNamesTheLineOfAnError) {
  for (const std::string& doc :
       {std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xE9</a>"),
        std::string("<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>"),
        std::string("\xFF\xFE<\0a\0/\0>\0", 10), std::string("<\0a\0/\0>\0", 8)}) {
    SCOPED_TRACE(doc);
    std::string log;
    EXPECT_EQ(WithScanner(doc, doc.size(), log), xl::XmlScanner::Status::Unsupported);
    EXPECT_EQ(log, "");
  }
  ScanRecord rec;
  xl::XmlScanner scanner(rec);
  const std::string doc = "<a>\n<b a=\"1\n2\">\r\n</b>\n<c>\n</d></a>";
  doc.copy(scanner.Buffer(doc.size()), doc.size());
  ASSERT_EQ(scanner.Parsed(doc.size(), true), xl::XmlScanner::Status::Error);
  EXPECT_EQ(scanner.Line(), 6u);
  EXPECT_EQ(scanner.Error(), "mismatched tag");
}

// Every part of every real workbook in the fixtures reads the same through
// the scanner as through expat.
TEST(XmlScanner, ReadsEveryPartOfTheFixtureWorkbooksAsExpatDoes) {
  const std::filesystem::path root = PW_FIXTURES_DIR;
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "no fixtures at " << root;
  int parts = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (entry.path().extension() != ".xlsx") continue;
    int err = 0;
    zip_t* z = zip_open(entry.path().c_str(), ZIP_RDONLY, &err);
    if (z == nullptr) continue;
    for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
      const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
      if (!name.ends_with(".xml") && !name.ends_with(".rels")) continue;
      std::string doc;
      if (zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0)) {
        char buf[1 << 16];
        for (zip_int64_t n; (n = zip_fread(f, buf, sizeof buf)) > 0;)
          doc.append(buf, static_cast<std::size_t>(n));
        zip_fclose(f);
      }
      SCOPED_TRACE(entry.path().string() + ": " + name);
      const Outcome expat = WithExpat(doc);
      std::string log;
      const auto status = WithScanner(doc, 4093, log);
      if (status == xl::XmlScanner::Status::Unsupported) continue;
      ++parts;
      EXPECT_EQ(status, expat.ok ? xl::XmlScanner::Status::Ok : xl::XmlScanner::Status::Error);
      EXPECT_TRUE(log == expat.log) << "the two differ";
    }
    zip_discard(z);
  }
  if (parts == 0) GTEST_SKIP() << "no workbook parts under " << root;
}

}  // namespace
}  // namespace pw
