// libFuzzer target: the .xlsx reader must refuse bad input with RunError,
// never crash, hang or leak. Built and run by bench/fuzz-xlsx-reader.sh.

#include <cstddef>
#include <cstdint>

#include "batch/run.h"
#include "platform/spreadsheet/xlsx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto book = pw::xl::ReadXlsxBytes(data, size, "fuzz.xlsx");
    (void)book->sheets.size();
  } catch (const pw::RunError&) {
  }
  return 0;
}
