#include "platform/spreadsheet/formula.h"

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

// Tries a reference at s[i]: a cell, a cell range, a column range or a row
// range. On success appends the moved text and answers the end.
std::size_t TryReference(std::string_view s, std::size_t i, long rows, long cols,
                         std::string& out) {
  const bool digitFirst = IsDigit(s[i]) || (s[i] == '$' && i + 1 < s.size() && IsDigit(s[i + 1]));
  for (int shape = 0; shape < 3; ++shape) {
    // shape 0: cells (A1 or A1:B2); 1: columns (A:B); 2: rows (1:2)
    if (digitFirst != (shape == 2)) continue;
    const bool wantCol = shape != 2, wantRow = shape != 1;
    Part a, b;
    std::size_t end = ReadPart(s, i, wantCol, wantRow, a);
    if (end == std::string_view::npos) continue;
    bool range = false;
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
  return std::string_view::npos;
}

}  // namespace

std::string ShiftFormula(std::string_view s, long rows, long cols) {
  std::string out;
  out.reserve(s.size() + 8);
  std::size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (j < s.size()) {
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      j = j < s.size() ? j + 1 : j;
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

}  // namespace pw::xl
