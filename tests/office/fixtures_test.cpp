// The real-world documents of the shared fixture set, when present.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/office/word.h"
#include "tests/support/tempdir.h"

namespace pw::word {
namespace {

// The text without its blanks: saving may change line-end characters and
// trailing spaces, never the words.
std::string Words(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= ' ') continue;
    if (c == 0xC2 && i + 1 < text.size() && text[i + 1] == '\xA0') {  // no-break space
      ++i;
      continue;
    }
    if (c == 0xE2 && i + 2 < text.size() && text[i + 1] == '\x80' &&
        static_cast<unsigned char>(text[i + 2]) <= 0x8B) {  // the typographic spaces
      i += 2;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::vector<std::string> FixtureDocuments() {
  std::vector<std::string> files;
  for (const char* kind : {"docx", "doc"}) {
    const std::filesystem::path dir = std::filesystem::path(PW_FIXTURES) / kind;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
      if (entry.is_regular_file()) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(WordFixtures, EveryDocumentOpensAndSurvivesSavingInItsOwnFormat) {
  const std::vector<std::string> files = FixtureDocuments();
  if (files.empty()) GTEST_SKIP() << "no documents under " << PW_FIXTURES << "/docx or /doc";
  test::TempDir dir;
  OfficeServer server;
  WordApplication app(server);
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    WordDocument& doc = app.Documents().Open(file);
    const int pages = doc.PageCount();
    const std::string text = doc.Text();
    const int tables = doc.TableCount(), images = doc.ImageCount();
    EXPECT_GT(pages, 0);
    EXPECT_FALSE(text.empty());
    const std::string name = std::filesystem::path(file).filename().string();
    const std::string saved = doc.SaveAs(dir.file(name));
    EXPECT_EQ(saved, dir.file(name));
    doc.Close();
    WordDocument& again = app.Documents().Open(saved);
    EXPECT_EQ(again.TableCount(), tables);
    EXPECT_GE(again.ImageCount(), images);  // the writer may split a drawing
    EXPECT_EQ(Words(again.Text()), Words(text));
    again.Close();
  }
}

}  // namespace
}  // namespace pw::word
