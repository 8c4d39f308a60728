#pragma once
// Saving an output workbook without losing rows to the .xls limits.

#include <string>

#include "platform/output_file.h"
#include "platform/spreadsheet/server.h"

namespace pw {

// Writes `book` for `path` under a temporary name and answers it, not yet
// committed: nothing appears under the final name until the caller commits.
// When `path` is an .xls and the workbook does not fit that format, the
// output is an .xlsx beside it instead; finalPath() says which was written.
PendingOutput SaveWorkbook(ServerWorkbook& book, const std::string& path);

// Lets the texts of `book`, an output bound for `path`, go to a nameless
// scratch file beside it (see xl::Workbook::KeepTextsOnDisk): a large
// output then never holds them all. Where none can be made, they stay in
// memory.
void KeepTextsOnDisk(ServerWorkbook& book, const std::string& path);

}  // namespace pw
