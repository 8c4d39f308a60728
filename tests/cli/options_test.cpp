#include "cli/options.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/tempdir.h"

namespace pw::cli {
namespace {

using Way = TextSplitOptions::Way;

CommandLine Parse(const std::string& line, const std::string& cwd = "/w") {
  std::vector<std::string> words{"plinthwick-cli"};
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), cwd);
}

// What a command line should come to, written as one comparable line.
std::string Describe(const CommandLine& cl) {
  std::string s = cl.mode == TaskMode::Merge ? "merge" : "split";
  s += cl.kind == TaskKind::Text ? " txt" : cl.kind == TaskKind::Document ? " doc" : " ?";
  for (const std::string& f : cl.files) s += " " + f;
  s += " -> " + cl.outputFolder + " | " + cl.newDocumentName;
  const TextSplitOptions& t = cl.options.textSplit;
  s += std::string(" | ") + (t.way == Way::Parts   ? "parts "
                             : t.way == Way::Lines ? "lines "
                                                   : "size ");
  s += t.partsText + "/" + t.linesText + "/" + t.sizeText;
  if (!t.repeatTitle) s += " no-title";
  if (cl.options.common.deleteSources) s += " delete";
  return s;
}

TEST(CommandLine, MapsOptionsAsThePanelsWould) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"merge txt a.txt sub/b.txt",
       "merge txt /w/a.txt /w/sub/b.txt -> /w | 新文档 | parts 2/25/10"},
      {"merge txt -o out/all ./b.txt", "merge txt /w/b.txt -> /w/out | all | parts 2/25/10"},
      {"merge txt --output=/x/y.txt b.txt --delete-sources",
       "merge txt /w/b.txt -> /x | y.txt | parts 2/25/10 delete"},
      {"merge txt -o/x//y b.txt", "merge txt /w/b.txt -> /x | y | parts 2/25/10"},
      {"merge txt -o /x/ b.txt", "merge txt /w/b.txt -> /x | 新文档 | parts 2/25/10"},
      {"split txt /d/a.txt", "split txt /d/a.txt -> /d |  | parts 2/25/10"},
      {"split txt --lines 30 --no-repeat-title a.txt",
       "split txt /w/a.txt -> /w |  | lines 2/30/10 no-title"},
      {"split txt a.txt --size=5", "split txt /w/a.txt -> /w |  | size 2/25/5"},
      {"split txt --parts 4 -- -odd.txt", "split txt /w/-odd.txt -> /w |  | parts 4/25/10"},
      {"merge doc a.doc", "merge doc /w/a.doc -> /w | 新文档 | parts 2/25/10"},
  };
  for (const auto& [line, want] : cases) {
    try {
      EXPECT_EQ(Describe(Parse(line)), want) << line;
    } catch (const UsageError& e) {
      ADD_FAILURE() << line << ": " << e.what();
    }
  }
}

// The options of the other kinds, each written as the fields it sets.
std::string DescribeKindOptions(const CommandLine& cl) {
  const TaskOptions& o = cl.options;
  std::string s;
  switch (cl.kind) {
    case TaskKind::Document:
      s = std::string(o.documentMerge.pageBreak ? "break" : "no-break") +
          (o.documentMerge.paragraph ? " para" : "") + " way" +
          std::to_string(static_cast<int>(o.documentSplit.way)) + " " + o.documentSplit.partsText +
          "/" + o.documentSplit.pagesText + "/" + o.documentSplit.charactersText;
      break;
    case TaskKind::Workbook:
      s = "match" + std::to_string(static_cast<int>(o.workbookMerge.match)) + " headers" +
          std::to_string(static_cast<int>(o.workbookMerge.headers)) +
          o.workbookMerge.headerRowText + " way" +
          std::to_string(static_cast<int>(o.workbookSplit.way)) + " " + o.workbookSplit.partsText +
          "/" + o.workbookSplit.rowsText +
          (o.workbookSplit.singleSheet ? " sheet=" + o.workbookSplit.sheetName : "") +
          (o.workbookSplit.repeatTitle ? "" : " no-title");
      break;
    case TaskKind::Database:
      s = (o.databaseMerge.intoOneTable ? "into=" + o.databaseMerge.newTableName : "by-name") +
          (o.databaseMerge.addNewFields ? "" : " no-fields") +
          (o.databaseMerge.access2007 ? " accdb" : " mdb") + " way" +
          std::to_string(static_cast<int>(o.databaseSplit.way)) + " " + o.databaseSplit.partsText +
          "/" + o.databaseSplit.rowsText +
          (o.databaseSplit.singleTable ? " table=" + o.databaseSplit.tableName : "") +
          (o.databaseMerge.keepTypes ? " merge-keeps-types" : "") +
          (o.databaseSplit.keepTypes ? " split-keeps-types" : "");
      break;
    default:
      break;
  }
  return s;
}

TEST(CommandLine, MapsEveryKindsOptionsAsThePanelsWould) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"merge doc a.doc", "break way0 2/5/500"},
      {"merge doc --no-page-break --paragraph a.doc", "no-break para way0 2/5/500"},
      {"split doc --pages 3 a.docx", "break way1 2/3/500"},
      {"split doc --chars 900 a.docx", "break way2 2/5/900"},
      {"merge xls a.xlsx", "match1 headers1 way0 2/2"},
      {"merge xls --match any --headers keep a.xlsx", "match0 headers0 way0 2/2"},
      {"merge xls --match position --headers 3 a.xlsx", "match2 headers23 way0 2/2"},
      {"split xls --rows 100 --sheet 数据 --no-repeat-title a.xls",
       "match1 headers1 way1 2/100 sheet=数据 no-title"},
      {"split xls --per-sheet a.xls", "match1 headers1 way2 2/2"},
      {"merge mdb a.mdb", "by-name accdb way0 2/10"},
      {"merge mdb --into-table 全部 --no-new-fields --format mdb a.mdb",
       "into=全部 no-fields mdb way0 2/10"},
      {"split mdb --rows 50 --table Orders a.mdb", "by-name accdb way1 2/50 table=Orders"},
      {"split mdb --per-table a.mdb", "by-name accdb way2 2/10"},
      {"merge mdb --keep-types a.mdb",
       "by-name accdb way0 2/10 merge-keeps-types split-keeps-types"},
      {"split mdb --keep-types --rows 5 a.accdb",
       "by-name accdb way1 2/5 merge-keeps-types split-keeps-types"},
  };
  for (const auto& [line, want] : cases) {
    try {
      EXPECT_EQ(DescribeKindOptions(Parse(line)), want) << line;
    } catch (const UsageError& e) {
      ADD_FAILURE() << line << ": " << e.what();
    }
  }
}

TEST(CommandLine, AnExistingFolderAsOutputGetsTheDefaultName) {
  test::TempDir dir;
  const CommandLine cl = Parse("merge txt -o " + dir.str() + " a.txt");
  EXPECT_EQ(cl.outputFolder, dir.str());
  EXPECT_EQ(cl.newDocumentName, "新文档");
}

TEST(CommandLine, HelpWinsAndDocumentsEveryOption) {
  EXPECT_TRUE(Parse("--help").help);
  EXPECT_TRUE(Parse("split txt --parts 0 -h").help);
  const std::string usage = UsageText();
  for (const char* option : {"-o", "--parts", "--lines", "--size", "--no-repeat-title",
                             "--delete-sources", "doc", "xls", "mdb", "txt"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(CommandLine, RejectsWhatCannotBeCarriedOut) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "缺少操作"},
      {"join txt a", "未知的操作"},
      {"merge pdf a", "未知的文件类型"},
      {"merge txt", "没有给出要处理的文件"},
      {"merge txt a -o", "-o 后面缺少"},
      {"merge txt -o x -o y a", "只能给出一次"},
      {"merge txt --parts 3 a", "只用于 split"},
      {"split txt -o x a", "不接受 -o"},
      {"split txt --parts 2 --lines 3 a", "不能与"},
      {"split txt --parts 0 a", "大于 0"},
      {"split txt --parts -1 a", "大于 0"},
      {"split txt --parts abc a", "大于 0"},
      {"split txt --size 99999999999 a", "大于 0"},
      {"split txt a --lines", "缺少"},
      {"merge txt --frobnicate a", "未知的选项"},
      {"split txt --no-repeat-title=1 a", "不带参数"},
  };
  for (const auto& [line, says] : cases) {
    try {
      Parse(line);
      ADD_FAILURE() << "accepted: " << line;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << line << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace pw::cli
