#pragma once
// Small flat-XML office documents (.fodt, .fods) that the office server opens
// like any other document, so tests need no binary fixtures.

#include <string>
#include <vector>

namespace pw::test {

inline std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

// A further page style: its name, the raw content of its header, and the
// style the pages after its first take (empty: itself).
struct FlatMaster {
  std::string name, headerXml, next;
};

struct FlatText {
  // Paragraphs in order; "\f" first: a page break before it; "\v" first: centred;
  // "\a" and a digit k first: a new page in the page style masters[k];
  // "|a|b\n|c|d": a table; "||h|i\n|a|b": one whose first row is its heading.
  std::vector<std::string> pieces;
  std::string font = "Liberation Serif";
  std::string size = "12pt";
  std::string paragraphLook;  // attributes of every paragraph's look, e.g. fo:margin-top="1cm"
  std::string pageWidth = "21cm";
  std::string pageHeight = "29.7cm";
  std::string headerText;
  std::string headerXml;  // raw content of the header, used instead of headerText
  std::string headerLeftXml, headerFirstXml;  // left-page and first-page headers, if any
  std::vector<FlatMaster> masters;
  std::string next;  // the page style after the first page (empty: the same)
};

inline std::string MakeFodt(const FlatText& doc) {
  std::string x =
      R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:font-face-decls><style:font-face style:name=")" +
      doc.font + R"(" svg:font-family=")" + doc.font +
      R"(" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"/></office:font-face-decls>
<office:styles>
<style:style style:name="Standard" style:family="paragraph">)" +
      (doc.paragraphLook.empty() ? "" : "<style:paragraph-properties " + doc.paragraphLook + "/>") +
      R"(<style:text-properties style:font-name=")" + doc.font + R"(" fo:font-size=")" + doc.size +
      R"("/></style:style>
</office:styles>
<office:automatic-styles>
<style:style style:name="PB" style:family="paragraph" style:parent-style-name="Standard"><style:paragraph-properties fo:break-before="page"/></style:style>
<style:style style:name="PC" style:family="paragraph" style:parent-style-name="Standard"><style:paragraph-properties fo:text-align="center"/></style:style>
)";
  for (std::size_t k = 0; k < doc.masters.size(); ++k)
    x += "<style:style style:name=\"PM" + std::to_string(k) +
         "\" style:family=\"paragraph\" style:parent-style-name=\"Standard\" "
         "style:master-page-name=\"" +
         doc.masters[k].name + "\"/>";
  x +=
      R"(<style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width=")" +
      doc.pageWidth + R"(" fo:page-height=")" + doc.pageHeight +
      R"(" fo:margin-top="2cm" fo:margin-bottom="2cm" fo:margin-left="2cm" fo:margin-right="2cm"/></style:page-layout>
</office:automatic-styles>
<office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1")";
  if (!doc.next.empty()) x += " style:next-style-name=\"" + doc.next + "\"";
  x += ">";
  if (!doc.headerXml.empty()) {
    x += "<style:header>" + doc.headerXml + "</style:header>";
  } else if (!doc.headerText.empty()) {
    // '#' stands for a page number field.
    std::string header = Escape(doc.headerText);
    if (const std::size_t at = header.find('#'); at != std::string::npos)
      header.replace(at, 1, "<text:page-number text:select-page=\"current\"/>");
    x += "<style:header><text:p>" + header + "</text:p></style:header>";
  }
  if (!doc.headerLeftXml.empty())
    x += "<style:header-left>" + doc.headerLeftXml + "</style:header-left>";
  if (!doc.headerFirstXml.empty())
    x += "<loext:header-first xmlns:loext=\"urn:org:documentfoundation:names:experimental:office:"
         "xmlns:loext:1.0\">" +
         doc.headerFirstXml + "</loext:header-first>";
  x += "</style:master-page>";
  for (const FlatMaster& m : doc.masters)
    x += "<style:master-page style:name=\"" + m.name + "\" style:page-layout-name=\"pm1\"" +
         (m.next.empty() ? std::string() : " style:next-style-name=\"" + m.next + "\"") +
         "><style:header>" + m.headerXml + "</style:header></style:master-page>";
  x += R"(</office:master-styles>
<office:body><office:text>
)";
  int tables = 0;
  for (std::string p : doc.pieces) {
    if (!p.empty() && p[0] == '|') {
      // "||" first: the first row is a heading row, repeated on every page.
      const bool heading = p.size() > 1 && p[1] == '|';
      if (heading) p.erase(0, 1);
      x += "<table:table table:name=\"T" + std::to_string(++tables) + "\">";
      std::size_t cols = 0;
      std::vector<std::vector<std::string>> rows;
      std::size_t b = 0;
      while (b <= p.size()) {
        std::size_t e = p.find('\n', b);
        if (e == std::string::npos) e = p.size();
        std::vector<std::string> cells;
        std::string line = p.substr(b, e - b);
        std::size_t c = 1;
        while (c <= line.size()) {
          std::size_t n = line.find('|', c);
          if (n == std::string::npos) n = line.size();
          cells.push_back(line.substr(c, n - c));
          c = n + 1;
        }
        cols = std::max(cols, cells.size());
        rows.push_back(cells);
        b = e + 1;
      }
      x += "<table:table-column table:number-columns-repeated=\"" + std::to_string(cols) + "\"/>";
      for (std::size_t r = 0; r < rows.size(); ++r) {
        if (r == 0 && heading) x += "<table:table-header-rows>";
        x += "<table:table-row>";
        for (auto& cell : rows[r])
          x += "<table:table-cell><text:p>" + Escape(cell) + "</text:p></table:table-cell>";
        x += "</table:table-row>";
        if (r == 0 && heading) x += "</table:table-header-rows>";
      }
      x += "</table:table>\n";
    } else if (p.size() > 1 && p[0] == '\a') {
      x += "<text:p text:style-name=\"PM" + p.substr(1, 1) + "\">" + Escape(p.substr(2)) +
           "</text:p>\n";
    } else if (!p.empty() && p[0] == '\v') {
      x += "<text:p text:style-name=\"PC\">" + Escape(p.substr(1)) + "</text:p>\n";
    } else if (!p.empty() && p[0] == '\f') {
      x += "<text:p text:style-name=\"PB\">" + Escape(p.substr(1)) + "</text:p>\n";
    } else {
      x += "<text:p text:style-name=\"Standard\">" + Escape(p) + "</text:p>\n";
    }
  }
  x += "</office:text></office:body></office:document>\n";
  return x;
}

inline std::string SimpleFodt(std::vector<std::string> pieces) {
  FlatText doc;
  doc.pieces = std::move(pieces);
  return MakeFodt(doc);
}

// A one-sheet spreadsheet with `cells` (row, column, value), 0-based.
struct Cell {
  int row, col;
  std::string value;
};

inline std::string MakeFods(const std::vector<Cell>& cells) {
  std::string x = R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:body><office:spreadsheet><table:table table:name="Data">
)";
  int row = 0;
  for (const Cell& c : cells) {  // sorted by row, one cell per row
    if (c.row > row)
      x += "<table:table-row table:number-rows-repeated=\"" + std::to_string(c.row - row) +
           "\"><table:table-cell/></table:table-row>";
    x += "<table:table-row>";
    if (c.col > 0)
      x += "<table:table-cell table:number-columns-repeated=\"" + std::to_string(c.col) + "\"/>";
    x += "<table:table-cell office:value-type=\"string\"><text:p>" + Escape(c.value) +
         "</text:p></table:table-cell></table:table-row>\n";
    row = c.row + 1;
  }
  x += "</table:table></office:spreadsheet></office:body></office:document>\n";
  return x;
}

}  // namespace pw::test
