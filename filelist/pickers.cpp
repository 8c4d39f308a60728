#include "filelist/pickers.h"

#include "batch/run.h"
#include "ops/spreadsheet/geometry.h"
#include "ops/spreadsheet/xls_office.h"
#include "platform/database/engine.h"

namespace pw {

std::vector<std::string> SheetNamesOf(const std::string& path) {
  OfficeXlsConverter xls;
  SheetServer server(&xls);
  ServerWorkbook& book = server.Open(path);
  std::vector<std::string> names;
  for (int i = 1; i <= book.Count(); ++i) {
    ServerSheet& sheet = book.Worksheets(i);
    sheet.Activate();
    if (!IsSheetBlank(sheet)) names.push_back(sheet.Name());
  }
  server.close();
  return names;
}

std::vector<std::string> TableNamesOf(const std::string& path) {
  try {
    db::Connection connection;
    db::OpenDatabase(connection, path);
    return db::ListTables(connection);
  } catch (const db::DatabaseError& e) {
    throw RunError(RunError::Kind::Failure, path, e.what());
  }
}

}  // namespace pw
