#include "platform/office/word.h"

#include <gtest/gtest.h>

#include <filesystem>

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

}  // namespace
}  // namespace pw::word
