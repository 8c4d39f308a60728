#pragma once
// Saving an output workbook without losing rows to the .xls limits.

#include <string>

#include "platform/spreadsheet/server.h"

namespace pw {

// Saves `book` at `path`. When `path` is an .xls and the workbook does not
// fit that format, it is saved as .xlsx beside it instead. Answers the path written.
std::string SaveWorkbook(ServerWorkbook& book, const std::string& path);

}  // namespace pw
