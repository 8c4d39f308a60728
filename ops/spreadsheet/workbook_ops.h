#pragma once
// Workbook merge and split.

#include <string>
#include <vector>

#include "batch/run.h"
#include "platform/spreadsheet/server.h"

namespace pw {

struct WorkbookMergeOptions {
  enum class Match { Any, Name, Position };  // which target sheet takes a source sheet
  enum class Headers { Keep, Auto, Row };    // title-and-header rows of later sheets
  Match match = Match::Name;
  Headers headers = Headers::Auto;
  std::string headerRowText;  // the last header row when `headers` is Row
  // A first column naming the file and sheet of every data row ("来源" in
  // the header row when the title block is left out of later sheets).
  bool sourceColumn = false;
  // How a source's columns find theirs in the target: by position, or by
  // header text (trimmed, letter case aside; a header not seen before gets a
  // new column at the right). Headers count only when title blocks are left
  // out; with titles kept, columns go by position.
  enum class Columns { Position, Header };
  Columns columns = Columns::Position;
};

struct WorkbookSplitOptions {
  // PerValue: one workbook per distinct value of the column `column`.
  enum class Way { Parts, Rows, PerSheet, PerValue };
  Way way = Way::Parts;
  std::string partsText = "2";  // number of output workbooks per source
  std::string rowsText = "2";   // data rows per output workbook
  bool singleSheet = false;     // Parts and Rows take only the sheet named `sheetName`
  std::string sheetName;
  bool repeatTitle = true;  // every slice starts with its sheet's title-and-header rows
  // For PerValue: a header text (trimmed, letter case aside) or column letters.
  std::string column;
};

// Merges every workbook of the run into one new workbook at run.OutputBase
// (".xlsx" added unless it names .xls or .xlsx). Sources are removed, and
// rows leave the list, only once the merged workbook is saved. `xls` opens
// and saves .xls workbooks; without it they are refused.
void MergeWorkbooks(RunState& run, const WorkbookMergeOptions& options, const CommonOptions& common,
                    RunReporter& reporter, XlsConverter* xls = nullptr);

// Splits every workbook of the run into workbooks beside it, named
// <source>_<k or sheet name><source extension>. An output too large for .xls
// is written as .xlsx instead, and the status says so.
void SplitWorkbooks(RunState& run, const WorkbookSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter, XlsConverter* xls = nullptr);

}  // namespace pw
