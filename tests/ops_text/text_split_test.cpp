#include <gtest/gtest.h>
#include <iconv.h>
#include <stdlib.h>

#include <filesystem>
#include <random>

#include "batch/contract.h"
#include "ops/text/text_io.h"
#include "ops/text/text_ops.h"
#include "tests/ops_text/folder_names.h"
#include "tests/ops_text/recording_reporter.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;
using test::Names;
using test::ReadFile;
using test::RecordingReporter;
using test::WriteFile;
using Way = TextSplitOptions::Way;

// Lines "L<a>" to "L<b>", each ended by `end`.
std::string Lines(int a, int b, const std::string& end = "\r\n") {
  std::string s;
  for (int k = a; k <= b; ++k) s += "L" + std::to_string(k) + end;
  return s;
}
const std::string T = "L1\r\n";  // the title line of those

TextSplitOptions Options(Way way, const std::string& value, bool repeatTitle = true) {
  TextSplitOptions o;
  o.way = way;
  (way == Way::Parts ? o.partsText : way == Way::Lines ? o.linesText : o.sizeText) = value;
  o.repeatTitle = repeatTitle;
  return o;
}

// The part files day1.txt, day2.txt, ... that exist, in order.
std::vector<std::string> Parts(const test::TempDir& dir, const std::string& stem = "day") {
  std::vector<std::string> parts;
  for (int k = 1; fs::exists(dir.file(stem + std::to_string(k) + ".txt")); ++k)
    parts.push_back(ReadFile(dir.file(stem + std::to_string(k) + ".txt")));
  return parts;
}

struct SplitCase {
  const char* what;
  std::string source;
  TextSplitOptions options;
  std::vector<std::string> parts;
};

std::vector<SplitCase> SplitCases() {
  std::string sized;  // 100 lines of 350 bytes: 35,000 bytes
  for (int k = 1; k <= 100; ++k) {
    const std::string n = std::to_string(k);
    sized += n + std::string(348 - n.size(), 'x') + "\r\n";
  }
  const std::string line1 = sized.substr(0, 350);
  std::vector<std::string> sizedParts = {
      sized.substr(0, 33 * 350), line1 + sized.substr(33 * 350, 33 * 350),
      line1 + sized.substr(66 * 350, 33 * 350), line1 + sized.substr(99 * 350)};
  const std::string longTitle(70000, 't');
  return {
      {"even 10 lines into 3",
       Lines(1, 10, "\n"),
       Options(Way::Parts, "3"),
       {Lines(1, 3), T + Lines(4, 6), T + Lines(7, 10)}},
      {"even into 1", Lines(1, 10, "\n"), Options(Way::Parts, "1"), {Lines(1, 10)}},
      {"even 2 lines into 5", Lines(1, 2, "\n"), Options(Way::Parts, "5"), {Lines(1, 2)}},
      {"by 5 of 10 lines",
       Lines(1, 10),
       Options(Way::Lines, "5"),
       {Lines(1, 5), T + Lines(6, 10), T}},
      {"by 5 of 10 lines, title not repeated",
       Lines(1, 10),
       Options(Way::Lines, "5", false),
       {Lines(1, 5), Lines(6, 10), ""}},
      {"by 5 of 12 lines",
       Lines(1, 12),
       Options(Way::Lines, "5"),
       {Lines(1, 5), T + Lines(6, 10), T + Lines(11, 12)}},
      {"by 1 line",
       Lines(1, 3),
       Options(Way::Lines, "1"),
       {Lines(1, 1), T + Lines(2, 2), T + Lines(3, 3), T}},
      {"by size, 35,000 bytes of 100 lines, 10 KB", sized, Options(Way::Size, "10"), sizedParts},
      {"title after blank lines, trimmed; mixed line ends; no final line end",
       "\n \t\r\n  Title  \r\nA\nB\rx\nC",
       Options(Way::Lines, "2"),
       {"\r\n \t\r\n", "Title\r\n  Title  \r\nA\r\n", "Title\r\nB\rx\r\nC\r\n", "Title\r\n"}},
      {"no title at all: an empty title line",
       "\n\n",
       Options(Way::Lines, "1"),
       {"\r\n", "\r\n\r\n", "\r\n"}},
      {"empty source, even", "", Options(Way::Parts, "2"), {""}},
      {"empty source, by lines", "", Options(Way::Lines, "25"), {""}},
      {"a title too long to hold",
       longTitle + "\nsecond",
       Options(Way::Lines, "1"),
       {longTitle + "\r\n", longTitle + "\r\nsecond\r\n", longTitle + "\r\n"}},
  };
}

TEST(TextSplit, CutsAsTabled) {
  // Tiny blocks put line ends (and CR LF pairs) across block boundaries.
  for (const std::size_t block : {std::size_t{0}, std::size_t{3}}) {
    textio::SetBlockSizeForTesting(block);
    for (const SplitCase& c : SplitCases()) {
      test::TempDir dir;
      WriteFile(dir.file("day.txt"), c.source);
      RecordingReporter reporter;
      RunState run = test::MakeRun({dir.file("day.txt")}, dir.file("day.txt"), &reporter.stop);
      SplitTextFiles(run, c.options, CommonOptions{}, reporter);
      EXPECT_EQ(Parts(dir), c.parts) << c.what << ", block " << block;
      EXPECT_EQ(run.OutputBase, dir.file("day" + std::to_string(c.parts.size()) + ".txt"));
      EXPECT_EQ(ReadFile(dir.file("day.txt")), c.source) << c.what;
    }
  }
  textio::SetBlockSizeForTesting(0);
}

// The parts of a split by `perPart` lines without the title: every line ends
// with CR LF, a line feed alone gains a CR, and a new part begins after every
// `perPart` lines.
std::vector<std::string> PartsByLines(const std::string& text, std::size_t perPart) {
  std::vector<std::string> parts(1);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t lf = text.find('\n', at);
    std::string line = text.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
    at = lf == std::string::npos ? text.size() : lf + 1;
    parts.back() += line + (lf != std::string::npos && line.ends_with('\r') ? "\n" : "\r\n");
    if (++lines % perPart == 0) parts.emplace_back();
  }
  return parts;
}

TEST(TextSplit, MixedLineEndsCutTheSameWhateverTheBlocksTheyAreReadIn) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 20; ++round) {
    // Long runs without a line end, CR LF, a lone LF or CR, CRs before CR LF.
    std::string text;
    const std::size_t size = random() % 3000;
    while (text.size() < size) {
      switch (random() % 10) {
        case 0:
          text += "\r\n";
          break;
        case 1:
          text += '\n';
          break;
        case 2:
          text += '\r';
          break;
        case 3:
          text += std::string(random() % 200, 'x');
          break;
        default:
          text += static_cast<char>('a' + random() % 26);
          break;
      }
    }
    const std::size_t perPart = 1 + random() % 12;
    for (const std::size_t block :
         {std::size_t{0}, std::size_t{1}, std::size_t{17}, std::size_t{100}}) {
      textio::SetBlockSizeForTesting(block);
      test::TempDir dir;
      WriteFile(dir.file("day.txt"), text);
      RecordingReporter reporter;
      RunState run = test::MakeRun({dir.file("day.txt")}, {}, &reporter.stop);
      SplitTextFiles(run, Options(Way::Lines, std::to_string(perPart), false), CommonOptions{},
                     reporter);
      ASSERT_EQ(Parts(dir), PartsByLines(text, perPart))
          << "round " << round << ", block " << block << ", " << perPart << " lines a part";
    }
  }
  textio::SetBlockSizeForTesting(0);
}

TEST(TextSplit, EachSourceUsesItsOwnTitleAndTheContractHoldsInOrder) {
  test::TempDir dir;
  const std::string data = dir.file("data");
  fs::create_directories(data);
  ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  WriteFile(dir.file("a.txt"), "TitleA\nx\n");
  WriteFile(dir.file("b"), "TitleB\ny\n");  // no extension: parts b1.txt, b2.txt
  RecordingReporter reporter;
  RunState run =
      test::MakeRun({dir.file("a.txt"), dir.file("b")}, dir.file("a.txt"), &reporter.stop);
  CommonOptions common;
  common.deleteSources = true;
  SplitTextFiles(run, Options(Way::Parts, "2"), common, reporter);
  RemoveFinishedSources(run, reporter);  // as the runner does after a whole run
  ::unsetenv("XDG_DATA_HOME");

  EXPECT_EQ(Parts(dir, "a"), (std::vector<std::string>{"TitleA\r\n", "TitleA\r\nx\r\n"}));
  EXPECT_EQ(Parts(dir, "b"), (std::vector<std::string>{"TitleB\r\n", "TitleB\r\ny\r\n"}));
  EXPECT_FALSE(fs::exists(dir.file("a.txt")));
  EXPECT_EQ(ReadFile(data + "/Trash/files/b"), "TitleB\ny\n");
  const std::vector<std::string> want = {
      "begin 50",
      "status 正在分割文件： a.txt",
      "remove 0",
      "counter 0",
      "step",
      "status 正在分割文件： b",
      "remove 1",
      "counter 1",
      "step",
      "status 合并操作已完成，正在清理内存... ",
      "end",
      "status 2 个文件已被分割，并生成了新文件！",
      "source 0 trashed",
      "source 1 trashed",
  };
  EXPECT_EQ(reporter.events, want);
}

TEST(TextSplit, RefusesWhatCannotBeSplitAndWritesNothing) {
  const std::string empty = "请填写分割数量，只接受阿拉伯数字！";
  const std::string text = Lines(1, 10, "\n");
  const std::string utf16 = std::string("\xFF\xFEL\0\n\0M\0\n\0", 10);
  struct Case {
    TextSplitOptions options;
    std::string source;
    std::string says;
  };
  const std::vector<Case> cases = {
      {Options(Way::Parts, ""), text, empty},
      {Options(Way::Lines, "  "), text, empty},
      {Options(Way::Size, ""), text, empty},
      {Options(Way::Parts, "0"), text, "day.txt"},
      {Options(Way::Parts, "-2"), text, "day.txt"},
      {Options(Way::Lines, "0"), text, "day.txt"},
      {Options(Way::Size, "0"), text, "day.txt"},
      {Options(Way::Size, "1"), text, "day.txt"},  // 30 bytes: smaller than one chunk of 1000
      {Options(Way::Size, "1"), "", "day.txt"},
      {Options(Way::Parts, "3x"), text, "3x"},
      {Options(Way::Lines, "99999999999"), text, "99999999999"},
      {Options(Way::Lines, "1"), utf16, "UTF-16"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    WriteFile(dir.file("day.txt"), c.source);
    RecordingReporter reporter;
    RunState run = test::MakeRun({dir.file("day.txt")}, dir.file("day.txt"), &reporter.stop);
    try {
      SplitTextFiles(run, c.options, CommonOptions{}, reporter);
      ADD_FAILURE() << "no refusal for " << c.says;
    } catch (const RunError& e) {
      EXPECT_EQ(e.kind(), RunError::Kind::Validation) << c.says;
      EXPECT_EQ(e.file(), dir.file("day.txt"));
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(Parts(dir).empty()) << c.says;
    EXPECT_EQ(ReadFile(dir.file("day.txt")), c.source);
    EXPECT_EQ(std::count(reporter.events.begin(), reporter.events.end(), "counter 0"), 0);
  }
}

// `utf8` in `encoding` (UTF-16LE and UTF-16BE come without a byte-order mark).
std::string Encode(const std::string& utf8, const char* encoding) {
  iconv_t cd = ::iconv_open(encoding, "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* inp = in.data();
  char* outp = out.data();
  std::size_t inLeft = in.size(), outLeft = out.size();
  EXPECT_NE(::iconv(cd, &inp, &inLeft, &outp, &outLeft), static_cast<std::size_t>(-1));
  ::iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Splits `bytes` into one part; answers the refusal's text, or "" when it was split.
std::string SplitRefusal(const std::string& bytes) {
  test::TempDir dir;
  WriteFile(dir.file("day.txt"), bytes);
  RecordingReporter reporter;
  RunState run = test::MakeRun({dir.file("day.txt")}, {}, &reporter.stop);
  try {
    SplitTextFiles(run, Options(Way::Lines, "100000"), CommonOptions{}, reporter);
  } catch (const RunError& e) {
    EXPECT_EQ(e.kind(), RunError::Kind::Validation);
    EXPECT_EQ(Names(dir.str()), std::vector<std::string>{"day.txt"});
    return e.what();
  }
  EXPECT_TRUE(fs::exists(dir.file("day1.txt")));
  return {};
}

TEST(TextSplit, RefusesUtf16WithoutAByteOrderMarkButNotOneByteTextWithAStrayZero) {
  const std::string zh =
      "孙子曰：兵者，国之大事，死生之地，存亡之道，不可不察也。\r\n"
      "故经之以五事，校之以计，而索其情：一曰道，二曰天，三曰地，四曰将，五曰法。\r\n"
      "上下同欲者胜。\r\n";
  const std::string en = "The quick brown fox\r\njumps over the lazy dog.\r\nAgain, 1 2 3.\r\n";
  const std::string gbk = Encode(zh, "GBK");
  struct Case {
    const char* what;
    std::string bytes;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"Chinese, UTF-16LE", Encode(zh, "UTF-16LE"), true},
      {"Chinese, UTF-16BE", Encode(zh, "UTF-16BE"), true},
      {"English, UTF-16LE", Encode(en, "UTF-16LE"), true},
      {"English, UTF-16BE", Encode(en, "UTF-16BE"), true},
      {"Chinese with LF ends, UTF-16LE", Encode("第一行\n第二行\n", "UTF-16LE"), true},
      {"UTF-8, a zero byte within a line", zh.substr(0, 20) + '\0' + zh.substr(20), false},
      {"UTF-8, zero bytes after line ends", en.substr(0, 21) + '\0' + en.substr(21, 27) + '\0',
       false},
      {"GBK, zero bytes", gbk.substr(0, 10) + '\0' + gbk.substr(10, 40) + '\0' + gbk.substr(50),
       false},
      {"ASCII, a zero byte at an odd offset", "ab\ncd\0e\nfg\n" + en, false},
  };
  for (const Case& c : cases) {
    const std::string refusal = SplitRefusal(c.bytes);
    EXPECT_EQ(!refusal.empty(), c.refused) << c.what << ": " << refusal;
    if (c.refused) {
      EXPECT_NE(refusal.find("day.txt"), std::string::npos) << refusal;
      EXPECT_NE(refusal.find("UTF-16"), std::string::npos) << refusal;
    }
  }
}

TEST(TextSplit, RealTextsAreRefusedOnlyInUtf16) {
  const std::string fixtures = PW_FIXTURES_DIR "/txt/";
  if (!fs::exists(fixtures)) GTEST_SKIP() << "no text fixtures at " << fixtures;
  const std::string sunzi = ReadFile(fixtures + "sunzi-bingfa-simplified-utf-8.txt");
  const std::string gbk = ReadFile(fixtures + "sunzi-bingfa-simplified-gbk.txt");
  const std::string shakespeare = ReadFile(fixtures + "tinyshakespeare.txt");
  EXPECT_NE(SplitRefusal(Encode(sunzi, "UTF-16LE")), "");
  EXPECT_NE(SplitRefusal(Encode(sunzi, "UTF-16BE")), "");
  EXPECT_NE(SplitRefusal(Encode(shakespeare.substr(0, 100000), "UTF-16BE")), "");
  EXPECT_NE(SplitRefusal(ReadFile(fixtures + "uchardet_ko_utf-16le-bom.txt")), "");
  // One-byte encodings, a stray zero byte at an odd and at an even offset.
  for (const std::string& text :
       {sunzi, gbk, shakespeare.substr(0, 100000), ReadFile(fixtures + "candide-windows-1252.txt"),
        ReadFile(fixtures + "chardet_shift-jis_cr-only.txt")}) {
    std::string stray = text;
    stray[101] = '\0';
    stray[1000] = '\0';
    EXPECT_EQ(SplitRefusal(stray), "") << text.substr(0, 40);
  }
}

TEST(TextSplit, NeverWritesAPartOverASourceOfTheSameRun) {
  struct Case {
    const char* other;  // a second source beside day.txt
    TextSplitOptions options;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"day1.txt", Options(Way::Lines, "5"), true},
      {"day3.txt", Options(Way::Lines, "5"),
       true},  // 10 lines by 5: the third part holds the title
      {"day4.txt", Options(Way::Lines, "5"), false},  // only three parts
      {"day5.txt", Options(Way::Parts, "2"), false},
      {"day2.txt", Options(Way::Parts, "2"), true},
      {"day", Options(Way::Parts, "2"), true},  // would write day1.txt and day2.txt as well
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    WriteFile(dir.file("day.txt"), Lines(1, 10));
    WriteFile(dir.file(c.other), "precious");
    RecordingReporter reporter;
    RunState run = test::MakeRun({dir.file("day.txt"), dir.file(c.other)}, dir.file("day.txt"),
                                 &reporter.stop);
    CommonOptions common;
    common.removeFinished = false;
    if (c.refused) {
      try {
        SplitTextFiles(run, c.options, common, reporter);
        ADD_FAILURE() << c.other;
      } catch (const RunError& e) {
        EXPECT_EQ(e.kind(), RunError::Kind::Validation);
        EXPECT_NE(std::string(e.what()).find(c.other), std::string::npos) << e.what();
      }
      EXPECT_FALSE(
          fs::exists(dir.file(c.other == std::string("day1.txt") ? "day2.txt" : "day1.txt")));
    } else {
      SplitTextFiles(run, c.options, common, reporter);
      EXPECT_TRUE(fs::exists(dir.file("day1.txt")));
    }
    EXPECT_EQ(ReadFile(dir.file(c.other)), "precious") << c.other;
  }
}

TEST(TextSplit, APartThatIsASourceUnderAnotherNameIsNotWritten) {
  test::TempDir dir;
  WriteFile(dir.file("a.txt"), "one\ntwo\n");
  WriteFile(dir.file("b.txt"), "three\nfour\n");
  fs::create_hard_link(dir.file("a.txt"), dir.file("b1.txt"));
  RecordingReporter reporter;
  RunState run = test::MakeRun({dir.file("a.txt"), dir.file("b.txt")}, {}, &reporter.stop);
  EXPECT_THROW(SplitTextFiles(run, Options(Way::Parts, "2"), CommonOptions{}, reporter), RunError);
  EXPECT_EQ(ReadFile(dir.file("a.txt")), "one\ntwo\n");
  EXPECT_EQ(Parts(dir, "a").size(), 2u);
  EXPECT_FALSE(fs::exists(dir.file("b2.txt")));
}

TEST(TextSplit, AStopUndoesTheSourceInProgressAndKeepsThePartsOfFinishedOnes) {
  test::TempDir dir;
  textio::SetBlockSizeForTesting(4);
  WriteFile(dir.file("a.txt"), Lines(1, 4));
  WriteFile(dir.file("b.txt"), Lines(1, 40));
  WriteFile(dir.file("b2.txt"), "older");  // from an earlier run: stays as it was
  RecordingReporter reporter;
  reporter.stopOnStatus = "正在分割文件： b.txt";
  RunState run = test::MakeRun({dir.file("a.txt"), dir.file("b.txt")}, {}, &reporter.stop);
  SplitTextFiles(run, Options(Way::Lines, "2"), CommonOptions{}, reporter);
  textio::SetBlockSizeForTesting(0);

  EXPECT_EQ(Parts(dir, "a"), (std::vector<std::string>{Lines(1, 2), T + Lines(3, 4), T}));
  EXPECT_EQ(ReadFile(dir.file("b2.txt")), "older");
  EXPECT_EQ(Names(dir.str()),
            (std::vector<std::string>{"a.txt", "a1.txt", "a2.txt", "a3.txt", "b.txt", "b2.txt"}));
  EXPECT_EQ(reporter.events[reporter.events.size() - 2],
            "status 用户强行退出，合并操作未完成！已撤销正在处理的“b.txt”。");
  EXPECT_EQ(std::count(reporter.events.begin(), reporter.events.end(), "counter 1"), 0);
  EXPECT_EQ(ReadFile(dir.file("b.txt")), Lines(1, 40));
}

TEST(TextSplit, APartThatCannotBeCreatedIsNamedAndTheSourcesPartsGo) {
  test::TempDir dir;
  WriteFile(dir.file("day.txt"), Lines(1, 10));
  fs::create_directories(dir.file("day2.txt"));
  RecordingReporter reporter;
  RunState run = test::MakeRun({dir.file("day.txt")}, {}, &reporter.stop);
  try {
    SplitTextFiles(run, Options(Way::Lines, "5"), CommonOptions{}, reporter);
    FAIL() << "no failure";
  } catch (const RunError& e) {
    EXPECT_EQ(e.kind(), RunError::Kind::Failure);
    EXPECT_EQ(e.file(), dir.file("day2.txt"));
  }
  EXPECT_FALSE(fs::exists(dir.file("day1.txt")));
  EXPECT_EQ(ReadFile(dir.file("day.txt")), Lines(1, 10));
}

}  // namespace
}  // namespace pw
