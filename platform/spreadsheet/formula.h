#pragma once
// Moving the relative references of a formula, as a paste or a shared
// formula does.

#include <functional>
#include <string>
#include <string_view>

#include "platform/spreadsheet/workbook.h"

namespace pw::xl {

// `formula` (without the leading "=") with every relative row moved by
// `rows` and every relative column by `cols`; "$" parts stay. A reference
// pushed off the sheet becomes #REF!, as the application does.
std::string ShiftFormula(std::string_view formula, long rows, long cols);

// A reference of a formula to cells of its own sheet. Whole columns span
// every row, whole rows every column. A "$" counts for a dimension only when
// both ends of a range carry it; `mixedRow`/`mixedCol` say the ends differ.
struct LocalReference {
  Rect area;
  bool absRow = false, absCol = false, mixedRow = false, mixedCol = false;
};

// Calls `local` for every reference of `formula` (without the leading "=")
// to its own sheet. Answers false as soon as `local` does, and when the
// formula reads anything else: another sheet, another workbook, a defined
// name, a table, a function of a macro or an add-in, or a reference already
// lost (#REF!).
bool ForEachLocalReference(std::string_view formula,
                           const std::function<bool(const LocalReference&)>& local);

}  // namespace pw::xl
