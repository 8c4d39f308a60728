// .xls sources converted ahead on two office servers while earlier ones are
// merged: the same cells as one conversion at a time, and a run that ends
// early (a damaged source, a stop) leaves no temporary file and no server.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "batch/contract.h"
#include "ops/spreadsheet/workbook_ops.h"
#include "platform/spreadsheet/xls_office.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/spreadsheet/xlsx_writer.h"
#include "tests/spreadsheet/run_support.h"
#include "tests/support/tempdir.h"

namespace pw {
namespace {

namespace fs = std::filesystem;

// `count` workbooks s1.xls, s2.xls, ... in `dir`: a merged title, a header,
// and rows of a text, a date and a number, each file its own.
std::vector<std::string> MakeSources(const std::string& dir, int count) {
  OfficeXlsConverter office(1);
  std::vector<std::string> paths;
  for (int i = 1; i <= count; ++i) {
    xl::Workbook book;
    xl::Sheet& s = book.AddSheet("数据");
    xl::Style dateStyle;
    dateStyle.numFmtId = 14;
    const std::uint32_t date = book.AddStyle(dateStyle);
    const auto text = [&](std::uint32_t r, std::uint32_t c, const std::string& t) {
      xl::Cell& cell = s.Put(r, c);
      cell.kind = xl::CellKind::Text;
      cell.text = book.AddText(t);
    };
    text(1, 1, "清单 " + std::to_string(i));
    s.merges.push_back({1, 1, 1, 3});
    text(2, 1, "名称");
    text(2, 2, "日期");
    text(2, 3, "数量");
    for (std::uint32_t r = 3; r < 300; ++r) {
      text(r, 1, "s" + std::to_string(i) + "-" + std::to_string(r));
      xl::Cell& d = s.Put(r, 2);
      d.kind = xl::CellKind::Number;
      d.number = 44000 + r;
      d.style = date;
      xl::Cell& n = s.Put(r, 3);
      n.kind = xl::CellKind::Number;
      n.number = i * 1000 + r / 4.0;
    }
    const std::string base = dir + "/s" + std::to_string(i);
    xl::WriteXlsx(book, base + ".xlsx");
    office.FromXlsx(base + ".xlsx", base + ".xls", base + ".xls");
    fs::remove(base + ".xlsx");
    paths.push_back(base + ".xls");
  }
  return paths;
}

// Every cell of every sheet, with its number format, one line each.
std::string Cells(const std::string& path) {
  const auto book = xl::ReadXlsx(path);
  std::string out;
  for (const auto& sheet : book->sheets) {
    out += "[" + sheet->name + "]\n";
    for (const xl::Row& row : sheet->rows)
      for (const xl::Cell& c : row.cells) {
        out += std::to_string(row.index) + "," + std::to_string(c.col) + " " +
               std::to_string(static_cast<int>(c.kind)) + " " + book->styles[c.style].numFmt + " " +
               (c.kind == xl::CellKind::Number ? std::to_string(c.number) : book->Text(c.text)) +
               "\n";
      }
    for (const xl::Rect& m : sheet->merges)
      out += "merge " + std::to_string(m.r1) + "," + std::to_string(m.c1) + ":" +
             std::to_string(m.r2) + "," + std::to_string(m.c2) + "\n";
  }
  return out;
}

// The office server's conversions one at a time, as they are asked for.
class OneAtATime : public XlsConverter {
 public:
  void ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) override {
    office_.ToXlsx(xlsPath, xlsxPath);
  }
  void FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                const std::string& shownAs) override {
    office_.FromXlsx(xlsxPath, xlsPath, shownAs);
  }

 private:
  OfficeXlsConverter office_{1};
};

RunState MergeRun(const std::vector<std::string>& sources, const std::string& out) {
  RunState run;
  run.WorkList = sources;
  for (std::size_t i = 0; i < sources.size(); ++i)
    run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = out;
  return run;
}

// What this process's conversions and servers left in the temporary folder.
std::vector<std::string> Leftovers() {
  const std::string pid = std::to_string(::getpid());
  std::vector<std::string> found;
  for (const auto& e : fs::directory_iterator(fs::temp_directory_path())) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("pw-xls-" + pid + "-") || name.starts_with("pw-office-" + pid + "-") ||
        name.find("_pw-office-" + pid + "-") != std::string::npos)
      found.push_back(name);
  }
  return found;
}

TEST(XlsAhead, ManySourcesGiveTheSameCellsAsOneConversionAtATime) {
  test::TempDir dir;
  const std::vector<std::string> sources = MakeSources(dir.str(), 7);
  CommonOptions common;
  common.removeFinished = false;
  test::Quiet quiet;
  {
    OneAtATime office;
    RunState run = MergeRun(sources, dir.file("one.xlsx"));
    MergeWorkbooks(run, WorkbookMergeOptions{}, common, quiet, &office);
  }
  {
    OfficeXlsConverter office;
    RunState run = MergeRun(sources, dir.file("ahead.xlsx"));
    MergeWorkbooks(run, WorkbookMergeOptions{}, common, quiet, &office);
  }
  const std::string one = Cells(dir.file("one.xlsx"));
  for (const char* each : {"s1-3", "s4-150", "s7-299", "m/d/yyyy"})
    ASSERT_NE(one.find(each), std::string::npos) << each << " is missing from\n" << one;
  EXPECT_EQ(Cells(dir.file("ahead.xlsx")), one);
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
}

// A run cut short while later sources are being converted: the damaged one
// is refused by name, a stop stops; either way no output, no temporary
// file and no office process remain.
TEST(XlsAhead, ARunEndedEarlyLeavesNoFileAndNoServer) {
  struct Case {
    const char* name;
    bool damaged;  // the third source is damaged; otherwise a stop at the second
  };
  for (const Case& c : {Case{"damaged source", true}, Case{"stop", false}}) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    std::vector<std::string> sources = MakeSources(dir.str(), 6);
    if (c.damaged)
      test::WriteFile(sources[2],
                      std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4096, 'x'));
    std::atomic<bool> stop{false};
    std::vector<pid_t> servers;
    struct StopAt : test::Quiet {
      std::function<void(const std::string&)> on;
      void Status(const std::string& text) override {
        status = text;
        on(text);
      }
    } reporter;
    std::optional<RunError> error;
    {
      OfficeXlsConverter office;
      reporter.on = [&](const std::string& text) {
        if (text.find("s2.xls") == std::string::npos) return;
        servers = office.ServerProcesses();
        if (!c.damaged) stop = true;
      };
      RunState run = MergeRun(sources, dir.file("merged.xls"));
      run.StopFlag = &stop;
      CommonOptions common;
      common.removeFinished = false;
      try {
        MergeWorkbooks(run, WorkbookMergeOptions{}, common, reporter, &office);
      } catch (const RunError& e) {
        error = e;
      }
    }
    if (c.damaged) {
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->file(), sources[2]);
    } else {
      EXPECT_FALSE(error.has_value()) << error->what();
    }
    EXPECT_FALSE(servers.empty()) << "servers were converting ahead";
    for (pid_t pid : servers)
      EXPECT_TRUE(::kill(pid, 0) != 0 && errno == ESRCH) << "office process " << pid << " remains";
    EXPECT_EQ(Leftovers(), std::vector<std::string>{});
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.str()))
      files.push_back(e.path().filename().string());
    EXPECT_EQ(files.size(), sources.size()) << "only the sources remain";
  }
}

}  // namespace
}  // namespace pw
