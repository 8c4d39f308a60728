#include <algorithm>
#include <cctype>
#include <filesystem>
#include <future>
#include <iterator>
#include <map>
#include <optional>

#include "batch/contract.h"
#include "ops/spreadsheet/geometry.h"
#include "ops/spreadsheet/save.h"
#include "ops/spreadsheet/workbook_ops.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

constexpr std::uint32_t kHeaderScanRows = 5;
constexpr std::uint32_t kSliceRows = 1024;  // rows merged between two write-outs

// The merged workbook's path: OutputBase, with ".xlsx" unless it names a workbook already.
std::string MergedPath(const std::string& base) {
  std::string lower = base;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto endsWith = [&](const std::string& ext) {
    return lower.size() > ext.size() &&
           lower.compare(lower.size() - ext.size(), ext.size(), ext) == 0;
  };
  return endsWith(".xlsx") || endsWith(".xls") ? base : base + ".xlsx";
}

bool IsXlsName(const std::string& path) {
  std::string lower = path.substr(path.size() >= 4 ? path.size() - 4 : 0);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower == ".xls";
}

// Sheet names compare as the spreadsheet applications compare them: letter case aside.
std::string NameKey(const std::string& name) {
  std::string key = TrimText(name);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

ServerSheet& ChooseTarget(ServerWorkbook& target, ServerSheet& source, int index,
                          WorkbookMergeOptions::Match match) {
  switch (match) {
    case WorkbookMergeOptions::Match::Name: {
      const std::string name = TrimText(source.Name());
      for (int t = 1; t <= target.Count(); ++t) {
        if (NameKey(target.Worksheets(t).Name()) == NameKey(name)) {
          target.Worksheets(t).Activate();
          return target.Worksheets(t);
        }
      }
      ServerSheet& added = target.add();
      try {
        added.Name(name);
      } catch (const SheetNameRefused&) {
        // A name no suffix can mend (from a damaged file) keeps the new sheet's own.
        for (int n = 2; n < 100; ++n) {
          try {
            added.Name(name.substr(0, 25) + "(" + std::to_string(n) + ")");
            break;
          } catch (const SheetNameRefused&) {
          }
        }
      }
      return added;
    }
    case WorkbookMergeOptions::Match::Position:
      if (target.Count() >= index) {
        target.Worksheets(index).Activate();
        return target.Worksheets(index);
      }
      return target.add();
    case WorkbookMergeOptions::Match::Any:
      break;
  }
  return target.ActiveSheet();
}

std::string NothingMerged() {
  return Translate("ops", "没有生成合并后的工作簿。");
}
const char* const kSourceHeader = "来源";

void PutText(ServerSheet& sheet, std::uint32_t row, std::uint32_t col, const std::string& text) {
  xl::Cell& cell = sheet.Model().Put(row, col);
  cell.kind = xl::CellKind::Text;
  cell.text = sheet.Workbook().Model().AddText(text);
  cell.formula = 0;
}

// A header as columns are matched by it: trimmed, letter case aside. A
// column without a header text is matched by its position.
std::string HeaderKey(ServerSheet& sheet, std::uint32_t row, std::uint32_t col) {
  const CellValue v = sheet.Cells(row, col).Value();
  if (v.IsBlank()) return "\x01" + std::to_string(col);
  return NameKey(v.Text());
}

// The header row of a target sheet, and the column of each header in it.
struct TargetHeaders {
  std::uint32_t row = 1;
  std::map<std::string, std::uint32_t> columns;
  std::uint32_t next = 1;  // the column a header not seen before takes
};

TargetHeaders HeaderColumns(ServerSheet& sheet, std::uint32_t row, std::uint32_t first) {
  TargetHeaders known;
  known.row = row;
  const std::uint32_t last = std::max(UsedColumns(sheet), first);
  for (std::uint32_t c = first; c <= last; ++c) known.columns.emplace(HeaderKey(sheet, row, c), c);
  known.next = last + 1;
  return known;
}

// Merges every source into one workbook and writes it under a temporary
// name for `output`. Answers nothing when a stop came first.
std::optional<PendingOutput> MergeAndSave(RunState& run, const WorkbookMergeOptions& options,
                                          RunReporter& reporter, XlsConverter* xls,
                                          const std::string& output, std::uint32_t givenHeader) {
  SheetServer server(xls);
  ServerWorkbook& target = server.Add();
  KeepTextsOnDisk(target, output);
  const std::uint32_t lead = options.sourceColumn ? 1 : 0;  // column A names the source
  const bool byHeader = options.columns == WorkbookMergeOptions::Columns::Header &&
                        options.headers != WorkbookMergeOptions::Headers::Keep;
  std::map<const xl::Sheet*, TargetHeaders> headers;
  const bool spillable = !IsXlsName(output);
  // The next source is read on the second core while this one is merged;
  // only a small one, so that two large ones are never held at once.
  constexpr std::uintmax_t kReadAheadBytes = 4 << 20;
  std::future<std::unique_ptr<xl::Workbook>> next;
  auto readAhead = [&](std::size_t f) {
    std::error_code ec;
    if (f < run.WorkList.size() && !IsXlsName(run.WorkList[f]) &&
        std::filesystem::file_size(run.WorkList[f], ec) <= kReadAheadBytes && !ec)
      next = std::async(std::launch::async,
                        [path = run.WorkList[f]] { return xl::ReadXlsxPaged(path); });
  };
  readAhead(0);
  // The .xls sources are converted ahead in the background, and the office
  // server for an .xls result starts now rather than at the end.
  if (xls != nullptr) {
    std::vector<std::string> legacy;
    std::copy_if(run.WorkList.begin(), run.WorkList.end(), std::back_inserter(legacy), IsXlsName);
    if (!legacy.empty() || !spillable) xls->Ahead(legacy, !spillable, run.StopFlag);
  }
  for (std::size_t f = 0; f < run.WorkList.size(); ++f) {
    const std::string path = run.WorkList[f];
    reporter.Status(Translate("ops", "正在合并") + DisplayText(FileNamePart(path)));
    ServerWorkbook* opened = nullptr;
    try {
      opened = next.valid() ? &server.Open(path, next.get()) : &server.Open(path);
    } catch (const RunError&) {
      if (run.StopRequested()) return std::nullopt;  // a stop ended its conversion
      throw;
    }
    ServerWorkbook& source = *opened;
    readAhead(f + 1);
    for (int i = 1; i <= source.Count(); ++i) {
      if (run.StopRequested()) break;
      ServerSheet& sheet = source.Worksheets(i);
      sheet.Activate();
      if (IsSheetBlank(sheet)) continue;
      ServerSheet& into = ChooseTarget(target, sheet, i, options.match);
      ScanState scan;
      DetectHeaderRow(sheet, kHeaderScanRows, scan);
      const std::uint32_t width = std::max(scan.ScanWidth, UsedColumns(sheet));
      // Every source sheet leaves out its own title block, whatever the
      // sheets before it had.
      std::uint32_t startRow = 1, header = 0;
      std::uint32_t below = 0;  // the target's row above the data; 0: below what it holds
      if (options.headers != WorkbookMergeOptions::Headers::Keep) {
        header = givenHeader != 0 ? givenHeader : scan.ScanRow;
        startRow = header + 1;
        if (IsSheetBlank(into)) {
          sheet.Range("A1:" + ColumnLetters(width) + std::to_string(header)).select();
          server.Copy();
          into.Cells(1, 1 + lead).select();
          into.paste();
          below = header;
          if (lead != 0) PutText(into, header, 1, kSourceHeader);
          if (byHeader) headers[&into.Model()] = HeaderColumns(into, header, lead + 1);
        }
      }
      ScanState used;
      FindUsedRows(sheet, used);
      if (startRow > used.ScanRow) continue;  // a sheet of titles only adds nothing more
      if (below == 0) {
        ScanState held;
        FindUsedRows(into, held);
        below = held.ScanRow;
      }
      if (below + 1 + (used.ScanRow - startRow) > xl::kMaxRows)
        throw RunError(RunError::Kind::Failure, path,
                       Arg(Translate("ops",
                                     "合并结果超出了工作表的最大行数（1048576 行），“%1”"
                                     "无法并入工作表“%2”。"),
                           {DisplayText(path), into.Name()}));
      // The rows go over in slices, each written out to disk once in place,
      // so that merged rows never pile up in memory. A slice never cuts a
      // merged range of the source (a paste would cut it in two).
      const std::string label = FileNamePart(path) + " / " + sheet.Name();
      const auto known = headers.find(&into.Model());
      for (std::uint32_t first = startRow; first <= used.ScanRow;) {
        const std::uint32_t last = SliceEnd(sheet.Model(), first, kSliceRows, used.ScanRow);
        const std::uint32_t to = below + 1 + (first - startRow);
        const std::string span = std::to_string(first) + ":";
        if (byHeader && known != headers.end()) {
          // Column by column, each under the target's column of the same header.
          TargetHeaders& cols = known->second;
          for (std::uint32_t c = 1; c <= width; ++c) {
            const auto [at, added] = cols.columns.emplace(HeaderKey(sheet, header, c), cols.next);
            if (added) {
              ++cols.next;
              sheet.Cells(header, c).select();
              server.Copy();
              into.Cells(cols.row, at->second).select();
              into.paste();
            }
            const std::string column = ColumnLetters(c);
            sheet.Range(column + span + column + std::to_string(last)).select();
            server.Copy();
            into.Cells(to, at->second).select();
            into.paste();
          }
        } else {
          sheet.Range("A" + span + ColumnLetters(width) + std::to_string(last)).select();
          server.Copy();
          into.Cells(to, 1 + lead).select();
          into.paste();
        }
        if (lead != 0) {
          const xl::Workbook& book = source.Model();
          sheet.Model().ForEachRow(first, last, [&](const xl::Row& row) {
            if (std::any_of(row.cells.begin(), row.cells.end(),
                            [&](const xl::Cell& c) { return !IsCellBlank(book, c); }))
              PutText(into, below + 1 + (row.index - startRow), 1, label);
          });
        }
        if (spillable)
          SpillFinishedRows(into, known == headers.end() ? 0 : known->second.row, output);
        first = last + 1;
      }
    }
    source.Close();
    // Rows merged so far go to disk: memory holds one source at a time, not
    // the whole merged workbook. An .xls is converted whole: its rows stay.
    for (int t = 1; spillable && t <= target.Count(); ++t) {
      ServerSheet& sheet = target.Worksheets(t);
      const auto known = headers.find(&sheet.Model());
      SpillFinishedRows(sheet, known == headers.end() ? 0 : known->second.row, output);
    }
    reporter.Counter(static_cast<int>(f));
    reporter.StepProgress();
    if (run.StopRequested()) return std::nullopt;
  }
  reporter.Status(Translate("ops", "正在保存") + DisplayText(FileNamePart(output)));
  PendingOutput merged = SaveWorkbook(target, output);
  if (run.StopRequested()) return std::nullopt;  // asked for while saving: that goes too
  return merged;
}

}  // namespace

void MergeWorkbooks(RunState& run, const WorkbookMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter, XlsConverter* xls) {
  std::uint32_t givenHeader = 0;
  if (options.headers == WorkbookMergeOptions::Headers::Row) {
    if (TrimText(options.headerRowText).empty())
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "行号不能为空且必须为阿拉伯数字，请检查！"));
    const int row = ParseCount(options.headerRowText, {});
    if (row < 1 || row > static_cast<int>(xl::kMaxRows))
      throw RunError(RunError::Kind::Validation, {},
                     Translate("ops", "表头行号必须是 1 到 1048576 之间的整数，请检查！"));
    givenHeader = static_cast<std::uint32_t>(row);
  }
  const std::string output = MergedPath(run.OutputBase);
  RefuseOutputOverSource(output, run);

  reporter.BeginProgress(ProgressStep(run.WorkList.size()));
  std::optional<PendingOutput> merged;
  try {
    merged = MergeAndSave(run, options, reporter, xls, output, givenHeader);
    if (merged) merged->Commit();
  } catch (const RunError& e) {
    if (e.kind() != RunError::Kind::Failure) throw;
    throw RunError(e.kind(), e.file(), std::string(e.what()) + NothingMerged());
  }
  if (!merged) {
    // Nothing is saved, so every source stays where it is, and in the list.
    reporter.Status(Translate("ops", "用户强行退出，转换操作未完成！") + NothingMerged());
    reporter.EndProgress();
    return;
  }
  const std::string saved = merged->finalPath();
  std::string done = Arg(Translate("ops", "合并完毕！共合并 %1 个文件。"), {run.WorkList.size()});
  if (saved != output)
    done += Arg(Translate("ops", "结果超出 .xls 格式上限，已保存为“%1”。"), {DisplayText(saved)});
  reporter.Status(done);
  run.OutputBase = saved;
  for (std::size_t f = 0; f < run.WorkList.size(); ++f) {
    ReleaseEntry(run, common, reporter, static_cast<int>(f));
  }
  reporter.EndProgress();
}

}  // namespace pw
