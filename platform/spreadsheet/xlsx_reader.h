#pragma once
// Reads an .xlsx workbook into the in-memory model. Sheets are streamed
// part by part; a sheet's XML is never held whole.

#include <cstddef>
#include <memory>
#include <string>

#include "platform/spreadsheet/workbook.h"

namespace pw::xl {

// Throws pw::RunError (Failure) naming `path` when the file cannot be read,
// is not a regular file, is damaged, encrypted, or is not an .xlsx workbook
// (whatever its name says: the package's main part must be a workbook).
std::unique_ptr<Workbook> ReadXlsx(const std::string& path);

// The same, keeping the rows of each large sheet on disk (Sheet::pages) in a
// nameless file beside `path`, or in the temporary folder when that folder
// takes none: memory holds a few blocks of rows at a time, whatever the
// size of the sheet.
std::unique_ptr<Workbook> ReadXlsxPaged(const std::string& path);

// The same for a file already in memory; `path` only names it in messages.
std::unique_ptr<Workbook> ReadXlsxBytes(const void* data, std::size_t size,
                                        const std::string& path);

// Opens `path` for reading without blocking on a pipe or a device. Throws
// pw::RunError naming it when it cannot be opened or is not a regular file.
// Answers the descriptor, which the caller closes.
int OpenRegularFile(const std::string& path);

}  // namespace pw::xl
