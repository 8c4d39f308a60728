#include "ops/spreadsheet/save.h"

#include <cctype>

#include "batch/contract.h"

namespace pw {

PendingOutput SaveWorkbook(ServerWorkbook& book, const std::string& path) {
  std::string ext = path.substr(path.size() >= 4 ? path.size() - 4 : 0);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string written = path;
  if (ext == ".xls") {
    bool fits = true;
    for (const auto& s : book.Model().sheets)
      if (s->LastRow() > kXlsMaxRows || s->LastColumn() > kXlsMaxCols) fits = false;
    if (!fits) written = ChangeExtension(path, ".xlsx");
  }
  PendingOutput out(written);
  book.SaveAs(out);
  return out;
}

void KeepTextsOnDisk(ServerWorkbook& book, const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const int fd = OpenUnnamedFile(slash == std::string::npos ? "." : path.substr(0, slash + 1));
  if (fd >= 0) book.Model().KeepTextsOnDisk(fd, path);
}

}  // namespace pw
