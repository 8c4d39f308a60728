// Workbook merge and split at scale, and where the time goes.
//   workbook_bench make DIR          100 workbooks of a title, a 10-column header and
//                                    2,000 rows in DIR/in, one of 200,000 rows at DIR/big.xlsx
//                                    and one of 1,000,000 rows at DIR/huge.xlsx
//   workbook_bench merge DIR OUT     merges DIR/in/*.xlsx into OUT(.xlsx)
//   workbook_bench split FILE ROWS   splits FILE into workbooks of ROWS data rows
//   workbook_bench parts FILE        reading, copying and writing FILE, timed apart
//   workbook_bench make-xls DIR      5 legacy .xls workbooks of 5,000 rows in DIR/xls
//   workbook_bench merge-xls DIR OUT merges DIR/xls/*.xls into OUT (.xls or .xlsx)
//   workbook_bench merge-xls-serial DIR OUT
//                                    the same, each file converted only when it is opened
//   workbook_bench xls-parts DIR     office server start, each .xls read and the merged
//                                    workbook's .xls write, timed apart
//   workbook_bench make-values DIR   DIR/values.xlsx: 1,000,000 rows whose column "列3"
//                                    holds 200 values, interleaved
//   workbook_bench split-values FILE COLUMN
//                                    splits FILE into one workbook per value of COLUMN

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ops/spreadsheet/workbook_ops.h"
#include "platform/office/office_server.h"
#include "platform/spreadsheet/xls_office.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/spreadsheet/xlsx_writer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Quiet : pw::RunReporter {
  void Status(const std::string& t) override { last = t; }
  void Counter(int) override {}
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int, pw::RemoveOutcome) override {}
  std::string last;
};

// The styles of the header and of the date column.
std::pair<std::uint32_t, std::uint32_t> AddTableStyles(pw::xl::Workbook& book) {
  pw::xl::Style bold;
  bold.font.bold = true;
  bold.fill = {1, pw::xl::Rgb(0xDDEBF7), 0};
  pw::xl::Style date;
  date.numFmtId = 14;
  date.numFmt = "mm-dd-yy";
  return {book.AddStyle(bold), book.AddStyle(date)};
}

// The table of MakeTable (below; one title), row by row through the streaming writer: no
// sheet of a million rows is held. With `values`, column 3 holds that many texts, each
// row another than the row before.
void MakeTableStreamed(const std::string& path, int rows, int values = 0) {
  using namespace pw::xl;
  Workbook book;
  const auto [head, dateStyle] = AddTableStyles(book);
  Sheet layout;
  layout.name = "数据";
  XlsxStreamWriter out(book, path, path);
  const Rect used{1, 1, static_cast<std::uint32_t>(rows + 2), 10};
  out.BeginSheet(layout, &used);
  Row row;
  auto text = [&](std::uint32_t col, const std::string& t, std::uint32_t style) {
    Cell& c = row.cells.emplace_back();
    c.col = col;
    c.kind = CellKind::Text;
    c.text = book.AddText(t);
    c.style = style;
  };
  row.index = 1;
  text(1, "销售明细 0", 0);
  out.WriteRow(row);
  row.index = 2;
  row.cells.clear();
  for (std::uint32_t c = 1; c <= 10; ++c) text(c, "列" + std::to_string(c), head);
  out.WriteRow(row);
  for (int r = 0; r < rows; ++r) {
    row.index = static_cast<std::uint32_t>(r + 3);
    row.cells.clear();
    text(1, "C" + std::to_string(r), 0);
    for (std::uint32_t c = 2; c <= 10; ++c) {
      if (c == 3 && values > 0) {
        text(c, "地区" + std::to_string(r * 7 % values), 0);
        continue;
      }
      Cell& cell = row.cells.emplace_back();
      cell.col = c;
      cell.kind = CellKind::Number;
      cell.number = c == 2 ? 44000 + r % 365 : (r * 31 + c * 7) / 7.0;
      if (c == 2) cell.style = dateStyle;
    }
    out.WriteRow(row);
  }
  out.EndSheet({{1, 1, 1, 10}});
  out.Finish();
}

void MakeTable(const std::string& path, int rows, int seed) {
  using namespace pw::xl;
  Workbook book;
  Sheet& s = book.AddSheet("数据");
  const auto [head, dateStyle] = AddTableStyles(book);
  Cell& title = s.Put(1, 1);
  title.kind = CellKind::Text;
  title.text = book.AddText("销售明细 " + std::to_string(seed));
  s.merges.push_back({1, 1, 1, 10});
  for (std::uint32_t c = 1; c <= 10; ++c) {
    Cell& h = s.Put(2, c);
    h.kind = CellKind::Text;
    h.text = book.AddText("列" + std::to_string(c));
    h.style = head;
  }
  for (int r = 0; r < rows; ++r) {
    const auto row = static_cast<std::uint32_t>(r + 3);
    for (std::uint32_t c = 1; c <= 10; ++c) {
      Cell& cell = s.Put(row, c);
      if (c == 1) {
        cell.kind = CellKind::Text;
        cell.text = book.AddText("C" + std::to_string(seed * 1000000 + r));
      } else if (c == 2) {
        cell.kind = CellKind::Number;
        cell.number = 44000 + r % 365;
        cell.style = dateStyle;
      } else {
        cell.kind = CellKind::Number;
        cell.number = (r * 31 + c * 7 + seed) / 7.0;
      }
    }
  }
  WriteXlsx(book, path);
}

// The workbooks of `dir` ending in `ext`, sorted, as a run's list.
pw::RunState ListRun(const std::string& dir, const std::string& ext, const std::string& out) {
  pw::RunState run;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ext) run.WorkList.push_back(e.path().string());
  std::sort(run.WorkList.begin(), run.WorkList.end());
  for (std::size_t i = 0; i < run.WorkList.size(); ++i)
    run.WorkRowIndexes.push_back(static_cast<int>(i));
  run.OutputBase = out;
  return run;
}

void Merge(pw::RunState run, pw::XlsConverter* xls) {
  Quiet q;
  pw::CommonOptions common;
  common.removeFinished = false;
  pw::MergeWorkbooks(run, pw::WorkbookMergeOptions{}, common, q, xls);
  std::printf("%s\n", q.last.c_str());
}

void MakeXls(const std::string& dir) {
  fs::create_directories(dir + "/xls");
  pw::OfficeXlsConverter office;
  for (int i = 1; i <= 5; ++i) {
    const std::string name = dir + "/xls/book" + std::to_string(i);
    MakeTable(name + ".xlsx", 5000, i);
    office.FromXlsx(name + ".xlsx", name + ".xls", name + ".xls");
    fs::remove(name + ".xlsx");
  }
}

void XlsParts(const std::string& dir) {
  const pw::RunState run = ListRun(dir + "/xls", ".xls", {});
  auto t = Clock::now();
  pw::OfficeServer server;
  server.Start();
  std::printf("office server start %.2f s\n", Since(t));
  for (const std::string& path : run.WorkList) {
    t = Clock::now();
    server.ConvertSpreadsheet(path, dir + "/part.xlsx", "Calc MS Excel 2007 XML");
    const double convert = Since(t);
    t = Clock::now();
    const auto book = pw::xl::ReadXlsx(dir + "/part.xlsx");
    std::printf("%s: to .xlsx %.2f s, read %.2f s\n", fs::path(path).filename().c_str(), convert,
                Since(t));
  }
  t = Clock::now();
  server.ConvertSpreadsheet(dir + "/part.xlsx", dir + "/part.xls", "MS Excel 97");
  std::printf("one of them back to .xls %.2f s\n", Since(t));
  t = Clock::now();
  server.Shutdown();
  std::printf("office server end %.2f s\n", Since(t));
  fs::remove(dir + "/part.xlsx");
  fs::remove(dir + "/part.xls");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 2 && args[0] == "make") {
      fs::create_directories(args[1] + "/in");
      for (int i = 1; i <= 100; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/in/book%03d.xlsx", i);
        MakeTable(args[1] + name, 2000, i);
      }
      MakeTable(args[1] + "/big.xlsx", 200000, 0);
      MakeTableStreamed(args[1] + "/huge.xlsx", 1000000);
      return 0;
    }
    if (args.size() == 2 && args[0] == "make-values") {
      fs::create_directories(args[1]);
      MakeTableStreamed(args[1] + "/values.xlsx", 1000000, 200);
      return 0;
    }
    if (args.size() == 3 && args[0] == "merge") {
      Merge(ListRun(args[1] + "/in", ".xlsx", args[2]), nullptr);
      return 0;
    }
    if (args.size() == 2 && args[0] == "make-xls") {
      MakeXls(args[1]);
      return 0;
    }
    if (args.size() == 2 && args[0] == "xls-parts") {
      XlsParts(args[1]);
      return 0;
    }
    if (args.size() == 3 && (args[0] == "merge-xls" || args[0] == "merge-xls-serial")) {
      pw::OfficeXlsConverter office;
      // As before sources were converted ahead: one server, each file when it is opened.
      struct Serial : pw::XlsConverter {
        pw::OfficeXlsConverter office{1};
        void ToXlsx(const std::string& xls, const std::string& xlsx) override {
          office.ToXlsx(xls, xlsx);
        }
        void FromXlsx(const std::string& xlsx, const std::string& xls,
                      const std::string& shownAs) override {
          office.FromXlsx(xlsx, xls, shownAs);
        }
      } serial;
      Merge(ListRun(args[1] + "/xls", ".xls", args[2]),
            args[0] == "merge-xls" ? static_cast<pw::XlsConverter*>(&office) : &serial);
      return 0;
    }
    if (args.size() == 3 && (args[0] == "split" || args[0] == "split-values")) {
      pw::RunState run;
      run.WorkList = {args[1]};
      run.WorkRowIndexes = {0};
      run.OutputBase = args[1];
      pw::WorkbookSplitOptions opt;
      if (args[0] == "split") {
        opt.way = pw::WorkbookSplitOptions::Way::Rows;
        opt.rowsText = args[2];
      } else {
        opt.way = pw::WorkbookSplitOptions::Way::PerValue;
        opt.column = args[2];
      }
      Quiet q;
      pw::SplitWorkbooks(run, opt, pw::CommonOptions{}, q);
      std::printf("%s\n", q.last.c_str());
      return 0;
    }
    if (args.size() == 2 && args[0] == "parts") {
      auto t = Clock::now();
      const auto book = pw::xl::ReadXlsx(args[1]);
      const double read = Since(t);
      t = Clock::now();
      pw::xl::Workbook copy;
      pw::xl::Sheet& to = copy.AddSheet("copy");
      const pw::xl::Sheet& from = *book->sheets[0];
      pw::PasteBlock(*book, from, {1, 1, from.LastRow(), from.LastColumn()}, false, copy, to, 1, 1);
      const double paste = Since(t);
      t = Clock::now();
      pw::xl::WriteXlsx(copy, args[1] + ".copy.xlsx");
      const double write = Since(t);
      fs::remove(args[1] + ".copy.xlsx");
      std::printf("cells %zu: read %.2f s, paste %.2f s, write %.2f s\n", from.CellCount(), read,
                  paste, write);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr,
               "usage: workbook_bench make DIR | merge DIR OUT | split FILE ROWS | parts FILE |\n"
               "       make-xls DIR | merge-xls[-serial] DIR OUT | xls-parts DIR\n");
  return 2;
}
