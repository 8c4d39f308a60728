#pragma once
// .xls workbooks read and written through the private office server, which
// starts at the first .xls of a run and ends with the run.

#include <memory>
#include <string>

#include "platform/spreadsheet/server.h"

namespace pw {

class OfficeServer;

class OfficeXlsConverter : public XlsConverter {
 public:
  OfficeXlsConverter();
  ~OfficeXlsConverter() override;
  void ToXlsx(const std::string& xlsPath, const std::string& xlsxPath) override;
  void FromXlsx(const std::string& xlsxPath, const std::string& xlsPath,
                const std::string& shownAs) override;

 private:
  void Convert(const std::string& from, const std::string& to, const std::string& filter,
               const std::string& named);
  std::unique_ptr<OfficeServer> server_;
};

}  // namespace pw
