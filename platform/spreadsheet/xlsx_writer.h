#pragma once
// Writes the in-memory workbook as .xlsx.

#include <string>

#include "platform/spreadsheet/workbook.h"

namespace pw::xl {

// Writes `book` to `path` (replaced only once the new file is complete).
// Dates of a 1904 workbook are written in the 1900 system with the same
// meaning. Throws pw::RunError (Failure) naming `path`.
void WriteXlsx(const Workbook& book, const std::string& path);

// Writes `book` to `file` as it is: the caller's own temporary file, which
// it renames into place once whole and removes after a failure. Messages
// name `path`, the file the user will see.
void WriteXlsxInto(const Workbook& book, const std::string& file, const std::string& path);

}  // namespace pw::xl
