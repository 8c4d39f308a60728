#pragma once
// Documents that point at content elsewhere (pictures, style sheets, sections
// and fields that name a web address), in the kinds a source may be: .docx,
// a web page saved as ".doc", and ODF text.

#include <filesystem>
#include <map>
#include <string>

#include "tests/support/zip_parts.h"

namespace pw::test {

// A .docx with a picture linked (not embedded) from `base` + "/d.png", and
// fields that include a picture and a text from there.
inline void WriteLinkedDocx(const std::string& path, const std::string& base) {
  const std::string rels = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  WriteZip(
      path,
      {{"[Content_Types].xml",
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>)"},
       {"_rels/.rels",
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type=")" +
            rels + R"(/officeDocument" Target="word/document.xml"/></Relationships>)"},
       {"word/_rels/document.xml.rels",
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId5" Type=")" +
            rels + R"(/image" Target=")" + base +
            R"(/d.png" TargetMode="External"/></Relationships>)"},
       {"word/document.xml",
        R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r=")" +
            rels +
            R"(" xmlns:wp="http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing" xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" xmlns:pic="http://schemas.openxmlformats.org/drawingml/2006/picture"><w:body>
<w:p><w:r><w:t>linked picture</w:t></w:r></w:p>
<w:p><w:r><w:drawing><wp:inline><wp:extent cx="952500" cy="952500"/><wp:docPr id="1" name="Picture 1"/><a:graphic><a:graphicData uri="http://schemas.openxmlformats.org/drawingml/2006/picture"><pic:pic><pic:nvPicPr><pic:cNvPr id="1" name="d.png"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:link="rId5"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x="0" y="0"/><a:ext cx="952500" cy="952500"/></a:xfrm><a:prstGeom prst="rect"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>
<w:p><w:fldSimple w:instr=" INCLUDEPICTURE &quot;)" +
            base + R"(/f.png&quot; \d "><w:r><w:t>picture field</w:t></w:r></w:fldSimple></w:p>
<w:p><w:fldSimple w:instr=" INCLUDETEXT &quot;)" +
            base + R"(/t.docx&quot; "><w:r><w:t>text field</w:t></w:r></w:fldSimple></w:p>
<w:p><w:r><w:br w:type="page"/><w:t>second page</w:t></w:r></w:p>
</w:body></w:document>)"}});
}

// A web page as Word saves it under ".doc", with a picture, a style sheet
// and a frame from `base`.
inline std::string LinkedHtml(const std::string& base) {
  return "<html><head><link rel=\"stylesheet\" href=\"" + base +
         "/s.css\"></head><body><p>web page</p><img src=\"" + base +
         "/h.png\" width=\"20\" height=\"20\"><iframe src=\"" + base +
         "/i.html\"></iframe><p style=\"page-break-before: always\">second page</p></body></html>";
}

// ODF text with a linked picture and a section linked from `base`.
inline std::string LinkedFodt(const std::string& base) {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:xlink="http://www.w3.org/1999/xlink" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.text">
<office:automatic-styles><style:style style:name="PB" style:family="paragraph"><style:paragraph-properties fo:break-before="page"/></style:style></office:automatic-styles>
<office:body><office:text>
<text:p>odf text<draw:frame draw:name="pic" text:anchor-type="as-char" svg:width="1cm" svg:height="1cm"><draw:image xlink:href=")" +
         base +
         R"(/o.png" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame></text:p>
<text:section text:name="linked"><text:section-source xlink:href=")" +
         base + R"(/sec.odt" xlink:type="simple"/><text:p>section</text:p></text:section>
<text:p text:style-name="PB">second page</text:p>
</office:text></office:body></office:document>)";
}

}  // namespace pw::test
