#pragma once
// Moving the relative references of a formula, as a paste or a shared
// formula does.

#include <string>
#include <string_view>

namespace pw::xl {

// `formula` (without the leading "=") with every relative row moved by
// `rows` and every relative column by `cols`; "$" parts stay. A reference
// pushed off the sheet becomes #REF!, as the application does.
std::string ShiftFormula(std::string_view formula, long rows, long cols);

}  // namespace pw::xl
