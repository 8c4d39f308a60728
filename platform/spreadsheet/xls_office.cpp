#include "platform/spreadsheet/xls_office.h"

#include "platform/office/office_server.h"
#include "platform/run_errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

OfficeXlsConverter::OfficeXlsConverter() = default;

OfficeXlsConverter::~OfficeXlsConverter() {
  if (server_) {
    try {
      server_->Shutdown();
    } catch (...) {
      // The process is gone either way; nothing of the user's depends on it.
    }
  }
}

void OfficeXlsConverter::Convert(const std::string& from, const std::string& to,
                                 const std::string& filter, const std::string& named) {
  try {
    if (!server_) server_ = std::make_unique<OfficeServer>();
    server_->ConvertSpreadsheet(from, to, filter);
  } catch (const OfficeError& e) {
    throw RunError(
        RunError::Kind::Failure, named,
        Arg(Translate("office", "无法%1“%2”：%3"), {e.action(), DisplayText(named), e.cause()}));
  }
}

void OfficeXlsConverter::ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) {
  Convert(xlsPath, xlsxPath, "Calc MS Excel 2007 XML", xlsPath);
}

void OfficeXlsConverter::FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                                  const std::string& shownAs) {
  Convert(xlsxPath, xlsPath, "MS Excel 97", shownAs);
}

}  // namespace pw
