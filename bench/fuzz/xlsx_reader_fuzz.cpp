// libFuzzer target: the .xlsx reader must refuse bad input with RunError,
// never crash, hang or leak. With PW_FUZZ_WRITE set, whatever it reads is
// also written and read back, which must then succeed. Built and run by
// bench/fuzz-xlsx-reader.sh.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "batch/run.h"
#include "platform/spreadsheet/xlsx_reader.h"
#include "platform/spreadsheet/xlsx_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool roundTrip = std::getenv("PW_FUZZ_WRITE") != nullptr;
  std::unique_ptr<pw::xl::Workbook> book;
  try {
    book = pw::xl::ReadXlsxBytes(data, size, "fuzz.xlsx");
  } catch (const pw::RunError&) {
    return 0;
  }
  if (!roundTrip) return 0;
  const std::string out = "/tmp/pw-fuzz-" + std::to_string(::getpid()) + ".xlsx";
  try {
    pw::xl::WriteXlsx(*book, out);
  } catch (const pw::RunError&) {
    return 0;  // refused with a message (a name or text the format cannot hold)
  }
  const auto back = pw::xl::ReadXlsx(out);  // what we wrote must read back
  std::remove(out.c_str());
  if (back->sheets.size() != book->sheets.size()) std::abort();
  return 0;
}
