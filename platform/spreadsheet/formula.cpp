#include "platform/spreadsheet/formula.h"

#include <algorithm>
#include <cctype>

#include "platform/spreadsheet/workbook.h"

namespace pw::xl {
namespace {

bool IsAlpha(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}
bool IsDigit(char c) {
  return std::isdigit(static_cast<unsigned char>(c)) != 0;
}
bool IsNameChar(char c) {
  return IsAlpha(c) || IsDigit(c) || c == '_' || c == '.' || c == '\\' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// One end of a reference: optional "$" + letters and/or optional "$" + digits.
struct Part {
  bool hasCol = false, hasRow = false, absCol = false, absRow = false;
  long col = 0, row = 0;
};

// Reads letters (when `wantCol`) and digits (when `wantRow`) at s[i]; answers the end or npos.
std::size_t ReadPart(std::string_view s, std::size_t i, bool wantCol, bool wantRow, Part& p) {
  if (wantCol) {
    if (i < s.size() && s[i] == '$') p.absCol = true, ++i;
    std::size_t start = i;
    while (i < s.size() && IsAlpha(s[i]) && i - start < 4) {
      p.col = p.col * 26 + (std::toupper(static_cast<unsigned char>(s[i])) - 'A' + 1);
      ++i;
    }
    if (i == start || i - start > 3 || p.col > static_cast<long>(kMaxCols))
      return std::string_view::npos;
    p.hasCol = true;
  }
  if (wantRow) {
    if (i < s.size() && s[i] == '$') p.absRow = true, ++i;
    std::size_t start = i;
    while (i < s.size() && IsDigit(s[i]) && i - start < 8) {
      p.row = p.row * 10 + (s[i] - '0');
      ++i;
    }
    if (i == start || p.row < 1 || p.row > static_cast<long>(kMaxRows))
      return std::string_view::npos;
    p.hasRow = true;
  }
  return i;
}

bool Move(Part& p, long rows, long cols) {
  if (p.hasCol && !p.absCol) p.col += cols;
  if (p.hasRow && !p.absRow) p.row += rows;
  return (!p.hasCol || (p.col >= 1 && p.col <= static_cast<long>(kMaxCols))) &&
         (!p.hasRow || (p.row >= 1 && p.row <= static_cast<long>(kMaxRows)));
}

void Emit(std::string& out, const Part& p) {
  if (p.hasCol) {
    if (p.absCol) out += '$';
    out += ColumnName(static_cast<std::uint32_t>(p.col));
  }
  if (p.hasRow) {
    if (p.absRow) out += '$';
    out += std::to_string(p.row);
  }
}

// Reads a reference at s[i]: a cell, a cell range, a column range or a row
// range. Answers its end, or npos when none starts there.
std::size_t ReadReference(std::string_view s, std::size_t i, Part& a, Part& b, bool& range) {
  const bool digitFirst = IsDigit(s[i]) || (s[i] == '$' && i + 1 < s.size() && IsDigit(s[i + 1]));
  for (int shape = 0; shape < 3; ++shape) {
    // shape 0: cells (A1 or A1:B2); 1: columns (A:B); 2: rows (1:2)
    if (digitFirst != (shape == 2)) continue;
    const bool wantCol = shape != 2, wantRow = shape != 1;
    a = Part{};
    b = Part{};
    range = false;
    std::size_t end = ReadPart(s, i, wantCol, wantRow, a);
    if (end == std::string_view::npos) continue;
    if (end < s.size() && s[end] == ':') {
      const std::size_t end2 = ReadPart(s, end + 1, wantCol, wantRow, b);
      if (end2 != std::string_view::npos) {
        range = true;
        end = end2;
      }
    }
    if (shape != 0 && !range) continue;
    if (end < s.size() &&
        (IsNameChar(s[end]) || s[end] == '(' || s[end] == '!' || s[end] == '[' || s[end] == '$'))
      continue;
    return end;
  }
  return std::string_view::npos;
}

// Tries a reference at s[i]; on success appends the moved text and answers the end.
std::size_t TryReference(std::string_view s, std::size_t i, long rows, long cols,
                         std::string& out) {
  Part a, b;
  bool range = false;
  const std::size_t end = ReadReference(s, i, a, b, range);
  if (end == std::string_view::npos) return end;
  const bool okA = Move(a, rows, cols);
  const bool okB = !range || Move(b, rows, cols);
  if (!okA || !okB) {
    out += "#REF!";
  } else {
    Emit(out, a);
    if (range) {
      out += ':';
      Emit(out, b);
    }
  }
  return end;
}

// The end of a quoted text starting at s[i] (a doubled quote stays inside).
std::size_t SkipQuoted(std::string_view s, std::size_t i) {
  const char q = s[i];
  std::size_t j = i + 1;
  while (j < s.size()) {
    if (s[j] == q) {
      if (j + 1 < s.size() && s[j + 1] == q) {
        j += 2;
        continue;
      }
      return j + 1;
    }
    ++j;
  }
  return j;
}

// The functions every spreadsheet application provides under their plain
// names (ECMA-376 Part 1, 18.17.7), sorted. Later functions are stored with
// the "_xlfn." prefix; any other name is a macro's or an add-in's, which an
// output does not carry.
constexpr std::string_view kBuiltinFunctions[] = {
    "ABS",
    "ACCRINT",
    "ACCRINTM",
    "ACOS",
    "ACOSH",
    "AMORDEGRC",
    "AMORLINC",
    "AND",
    "AREAS",
    "ASC",
    "ASIN",
    "ASINH",
    "ATAN",
    "ATAN2",
    "ATANH",
    "AVEDEV",
    "AVERAGE",
    "AVERAGEA",
    "AVERAGEIF",
    "AVERAGEIFS",
    "BAHTTEXT",
    "BESSELI",
    "BESSELJ",
    "BESSELK",
    "BESSELY",
    "BETADIST",
    "BETAINV",
    "BIN2DEC",
    "BIN2HEX",
    "BIN2OCT",
    "BINOMDIST",
    "CEILING",
    "CELL",
    "CHAR",
    "CHIDIST",
    "CHIINV",
    "CHITEST",
    "CHOOSE",
    "CLEAN",
    "CODE",
    "COLUMN",
    "COLUMNS",
    "COMBIN",
    "COMPLEX",
    "CONCATENATE",
    "CONFIDENCE",
    "CONVERT",
    "CORREL",
    "COS",
    "COSH",
    "COUNT",
    "COUNTA",
    "COUNTBLANK",
    "COUNTIF",
    "COUNTIFS",
    "COUPDAYBS",
    "COUPDAYS",
    "COUPDAYSNC",
    "COUPNCD",
    "COUPNUM",
    "COUPPCD",
    "COVAR",
    "CRITBINOM",
    "CUBEKPIMEMBER",
    "CUBEMEMBER",
    "CUBEMEMBERPROPERTY",
    "CUBERANKEDMEMBER",
    "CUBESET",
    "CUBESETCOUNT",
    "CUBEVALUE",
    "CUMIPMT",
    "CUMPRINC",
    "DATE",
    "DATEDIF",
    "DATEVALUE",
    "DAVERAGE",
    "DAY",
    "DAYS360",
    "DB",
    "DCOUNT",
    "DCOUNTA",
    "DDB",
    "DEC2BIN",
    "DEC2HEX",
    "DEC2OCT",
    "DEGREES",
    "DELTA",
    "DEVSQ",
    "DGET",
    "DISC",
    "DMAX",
    "DMIN",
    "DOLLAR",
    "DOLLARDE",
    "DOLLARFR",
    "DPRODUCT",
    "DSTDEV",
    "DSTDEVP",
    "DSUM",
    "DURATION",
    "DVAR",
    "DVARP",
    "ECMA.CEILING",
    "EDATE",
    "EFFECT",
    "EOMONTH",
    "ERF",
    "ERFC",
    "ERROR.TYPE",
    "EVEN",
    "EXACT",
    "EXP",
    "EXPONDIST",
    "FACT",
    "FACTDOUBLE",
    "FALSE",
    "FDIST",
    "FIND",
    "FINDB",
    "FINV",
    "FISHER",
    "FISHERINV",
    "FIXED",
    "FLOOR",
    "FORECAST",
    "FREQUENCY",
    "FTEST",
    "FV",
    "FVSCHEDULE",
    "GAMMADIST",
    "GAMMAINV",
    "GAMMALN",
    "GCD",
    "GEOMEAN",
    "GESTEP",
    "GETPIVOTDATA",
    "GROWTH",
    "HARMEAN",
    "HEX2BIN",
    "HEX2DEC",
    "HEX2OCT",
    "HLOOKUP",
    "HOUR",
    "HYPERLINK",
    "HYPGEOMDIST",
    "IF",
    "IFERROR",
    "IMABS",
    "IMAGINARY",
    "IMARGUMENT",
    "IMCONJUGATE",
    "IMCOS",
    "IMDIV",
    "IMEXP",
    "IMLN",
    "IMLOG10",
    "IMLOG2",
    "IMPOWER",
    "IMPRODUCT",
    "IMREAL",
    "IMSIN",
    "IMSQRT",
    "IMSUB",
    "IMSUM",
    "INDEX",
    "INDIRECT",
    "INFO",
    "INT",
    "INTERCEPT",
    "INTRATE",
    "IPMT",
    "IRR",
    "ISBLANK",
    "ISERR",
    "ISERROR",
    "ISEVEN",
    "ISLOGICAL",
    "ISNA",
    "ISNONTEXT",
    "ISNUMBER",
    "ISO.CEILING",
    "ISODD",
    "ISPMT",
    "ISREF",
    "ISTEXT",
    "JIS",
    "KURT",
    "LARGE",
    "LCM",
    "LEFT",
    "LEFTB",
    "LEN",
    "LENB",
    "LINEST",
    "LN",
    "LOG",
    "LOG10",
    "LOGEST",
    "LOGINV",
    "LOGNORMDIST",
    "LOOKUP",
    "LOWER",
    "MATCH",
    "MAX",
    "MAXA",
    "MDETERM",
    "MDURATION",
    "MEDIAN",
    "MID",
    "MIDB",
    "MIN",
    "MINA",
    "MINUTE",
    "MINVERSE",
    "MIRR",
    "MMULT",
    "MOD",
    "MODE",
    "MONTH",
    "MROUND",
    "MULTINOMIAL",
    "N",
    "NA",
    "NEGBINOMDIST",
    "NETWORKDAYS",
    "NETWORKDAYS.INTL",
    "NOMINAL",
    "NORMDIST",
    "NORMINV",
    "NORMSDIST",
    "NORMSINV",
    "NOT",
    "NOW",
    "NPER",
    "NPV",
    "OCT2BIN",
    "OCT2DEC",
    "OCT2HEX",
    "ODD",
    "ODDFPRICE",
    "ODDFYIELD",
    "ODDLPRICE",
    "ODDLYIELD",
    "OFFSET",
    "OR",
    "PEARSON",
    "PERCENTILE",
    "PERCENTRANK",
    "PERMUT",
    "PHONETIC",
    "PI",
    "PMT",
    "POISSON",
    "POWER",
    "PPMT",
    "PRICE",
    "PRICEDISC",
    "PRICEMAT",
    "PROB",
    "PRODUCT",
    "PROPER",
    "PV",
    "QUARTILE",
    "QUOTIENT",
    "RADIANS",
    "RAND",
    "RANDBETWEEN",
    "RANK",
    "RATE",
    "RECEIVED",
    "REPLACE",
    "REPLACEB",
    "REPT",
    "RIGHT",
    "RIGHTB",
    "ROMAN",
    "ROUND",
    "ROUNDDOWN",
    "ROUNDUP",
    "ROW",
    "ROWS",
    "RSQ",
    "RTD",
    "SEARCH",
    "SEARCHB",
    "SECOND",
    "SERIESSUM",
    "SIGN",
    "SIN",
    "SINH",
    "SKEW",
    "SLN",
    "SLOPE",
    "SMALL",
    "SQRT",
    "SQRTPI",
    "STANDARDIZE",
    "STDEV STDEVA",
    "STDEVP",
    "STDEVPA STEYX",
    "SUBSTITUTE",
    "SUBTOTAL",
    "SUM",
    "SUMIF",
    "SUMIFS",
    "SUMPRODUCT",
    "SUMSQ",
    "SUMX2MY2",
    "SUMX2PY2",
    "SUMXMY2",
    "SYD",
    "T",
    "TAN",
    "TANH",
    "TBILLEQ",
    "TBILLPRICE",
    "TBILLYIELD",
    "TDIST",
    "TEXT",
    "TIME",
    "TIMEVALUE",
    "TINV",
    "TODAY",
    "TRANSPOSE",
    "TREND",
    "TRIM",
    "TRIMMEAN",
    "TRUE ADDRESS",
    "TRUNC",
    "TTEST",
    "TYPE",
    "UPPER",
    "VALUE",
    "VAR",
    "VARA",
    "VARP",
    "VARPA",
    "VDB",
    "VLOOKUP",
    "WEEKDAY",
    "WEEKNUM",
    "WEIBULL",
    "WORKDAY ",
    "WORKDAY.INTL",
    "XIRR",
    "XNPV",
    "YEAR",
    "YEARFRAC",
    "YIELD",
    "YIELDDISC",
    "YIELDMAT",
    "ZTEST",
};

bool IsBuiltinFunction(std::string_view name) {
  if (name.substr(0, 6) == "_xlfn." || name.substr(0, 6) == "_XLFN.") return true;
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return std::binary_search(std::begin(kBuiltinFunctions), std::end(kBuiltinFunctions),
                            std::string_view(upper));
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

std::string ShiftFormula(std::string_view s, long rows, long cols) {
  std::string out;
  out.reserve(s.size() + 8);
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      const std::size_t j = SkipQuoted(s, i);
      out.append(s.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '[') {
      int depth = 0;
      std::size_t j = i;
      for (; j < s.size(); ++j) {
        if (s[j] == '[') ++depth;
        if (s[j] == ']' && --depth == 0) break;
      }
      j = j < s.size() ? j + 1 : j;
      out.append(s.substr(i, j - i));
      i = j;
      continue;
    }
    const bool startsName = IsNameChar(c) || c == '$';
    if (startsName && (i == 0 || !IsNameChar(s[i - 1]))) {
      const std::size_t end = TryReference(s, i, rows, cols, out);
      if (end != std::string_view::npos) {
        i = end;
        continue;
      }
      std::size_t j = i + 1;
      while (j < s.size() && IsNameChar(s[j])) ++j;
      out.append(s.substr(i, j - i));
      i = j;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

bool ForEachLocalReference(std::string_view s,
                           const std::function<bool(const LocalReference&)>& local) {
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      i = SkipQuoted(s, i);
      continue;
    }
    // A quoted sheet name, a sheet name's "!", another workbook or a table.
    if (c == '\'' || c == '!' || c == '[') return false;
    if (c == '#') {
      std::size_t j = i + 1;
      while (j < s.size() && (IsAlpha(s[j]) || IsDigit(s[j]) || s[j] == '/')) ++j;
      if (j < s.size() && (s[j] == '!' || s[j] == '?')) ++j;
      if (EqualsIgnoringCase(s.substr(i, j - i), "#REF!")) return false;
      i = j;
      continue;
    }
    const bool startsToken = (IsNameChar(c) || c == '$') && (i == 0 || !IsNameChar(s[i - 1]));
    if (!startsToken) {
      ++i;
      continue;
    }
    Part a, b;
    bool range = false;
    const std::size_t end = ReadReference(s, i, a, b, range);
    if (end != std::string_view::npos) {
      if (!range) b = a;
      LocalReference ref;
      ref.area = {a.hasRow ? static_cast<std::uint32_t>(std::min(a.row, b.row)) : 1,
                  a.hasCol ? static_cast<std::uint32_t>(std::min(a.col, b.col)) : 1,
                  a.hasRow ? static_cast<std::uint32_t>(std::max(a.row, b.row)) : kMaxRows,
                  a.hasCol ? static_cast<std::uint32_t>(std::max(a.col, b.col)) : kMaxCols};
      ref.absRow = a.absRow && b.absRow;
      ref.absCol = a.absCol && b.absCol;
      ref.mixedRow = a.absRow != b.absRow;
      ref.mixedCol = a.absCol != b.absCol;
      if (!local(ref)) return false;
      i = end;
      continue;
    }
    if (IsDigit(c) || c == '.') {  // a number, its exponent's sign read as an operator
      while (i < s.size() && (IsDigit(s[i]) || s[i] == '.' || s[i] == 'E' || s[i] == 'e')) ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < s.size() && IsNameChar(s[j])) ++j;
    const std::string_view name = s.substr(i, j - i);
    // A function's name is followed by its arguments; any other name is a
    // defined name or a table, or qualifies a sheet.
    if (j < s.size() && s[j] == '(') {
      if (!IsBuiltinFunction(name)) return false;
    } else if (!EqualsIgnoringCase(name, "TRUE") && !EqualsIgnoringCase(name, "FALSE")) {
      return false;
    }
    i = j;
  }
  return true;
}

}  // namespace pw::xl
