#include "ops/spreadsheet/save.h"

#include <cctype>

#include "batch/contract.h"

namespace pw {

std::string SaveWorkbook(ServerWorkbook& book, const std::string& path) {
  std::string ext = path.substr(path.size() >= 4 ? path.size() - 4 : 0);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".xls") {
    bool fits = true;
    for (const auto& s : book.Model().sheets)
      if (s->LastRow() > kXlsMaxRows || s->LastColumn() > kXlsMaxCols) fits = false;
    if (!fits) {
      const std::string wide = ChangeExtension(path, ".xlsx");
      book.SaveAs(wide);
      return wide;
    }
  }
  book.SaveAs(path);
  return path;
}

}  // namespace pw
