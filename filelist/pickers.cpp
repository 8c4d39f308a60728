#include "filelist/pickers.h"

#include "batch/run.h"
#include "platform/database/engine.h"
#include "platform/spreadsheet/xls_office.h"

namespace pw {

std::vector<std::string> SheetNamesOf(const std::string& path) {
  OfficeXlsConverter xls;
  return SheetsHoldingData(path, &xls);
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
