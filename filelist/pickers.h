#pragma once
// The names a one-sheet or one-table split can be restricted to.

#include <string>
#include <vector>

namespace pw {

// The sheets of a workbook that hold anything, in workbook order. Throws
// RunError naming the file when it cannot be read.
std::vector<std::string> SheetNamesOf(const std::string& path);

// The user tables of a database, in the catalog's order. Throws RunError
// naming the file when it cannot be read.
std::vector<std::string> TableNamesOf(const std::string& path);

}  // namespace pw
