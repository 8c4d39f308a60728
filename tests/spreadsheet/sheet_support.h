#pragma once
// Helpers for the workbook tests: small packages made by hand, and cell
// listings to compare with an independent reader.

#include <zip.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/spreadsheet/workbook.h"
#include "tests/support/zip_parts.h"

namespace pw::xl {

inline std::ostream& operator<<(std::ostream& o, const Font& f) {
  return o << "{" << f.name << " " << f.size << " b" << f.bold << " i" << f.italic << " s"
           << f.strike << " u" << int(f.underline) << " v" << int(f.vertAlign) << " fam"
           << int(f.family) << " #" << std::hex << f.color << std::dec << "}";
}
inline std::ostream& operator<<(std::ostream& o, const Fill& f) {
  return o << "{fill " << int(f.pattern) << " " << std::hex << f.fg << " " << f.bg << std::dec
           << "}";
}
inline std::ostream& operator<<(std::ostream& o, const BorderLine& l) {
  return o << int(l.style) << ":" << std::hex << l.color << std::dec;
}
inline std::ostream& operator<<(std::ostream& o, const Border& b) {
  return o << "{border " << b.left << " " << b.right << " " << b.top << " " << b.bottom << " "
           << b.diagonal << " " << b.diagonalUp << b.diagonalDown << "}";
}
inline std::ostream& operator<<(std::ostream& o, const Alignment& a) {
  return o << "{align " << int(a.horizontal) << " " << int(a.vertical) << " w" << a.wrap << " s"
           << a.shrink << " i" << int(a.indent) << " r" << a.rotation << "}";
}
inline std::ostream& operator<<(std::ostream& o, const Style& s) {
  return o << "{" << s.numFmtId << " '" << s.numFmt << "' " << s.font << s.fill << s.border
           << s.align << " l" << s.locked << " h" << s.hidden << "}";
}

}  // namespace pw::xl

namespace pw::test {

inline std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\t')
      out += "\\t";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

// One line per non-empty cell: "C sheet ref type value", numbers as shortest round-trip text.
inline std::map<std::string, std::string> CellLines(const xl::Workbook& book) {
  std::map<std::string, std::string> lines;
  for (const auto& sheet : book.sheets) {
    for (const xl::Row& row : sheet->rows) {
      for (const xl::Cell& c : row.cells) {
        std::string type, value;
        char buf[64];
        switch (c.kind) {
          case xl::CellKind::Blank:
            continue;
          case xl::CellKind::Number:
            type = "n";
            std::snprintf(buf, sizeof buf, "%.17g", c.number);
            value = buf;
            break;
          case xl::CellKind::Text:
            type = "s";
            value = book.Text(c.text);
            break;
          case xl::CellKind::Bool:
            type = "b";
            value = c.number != 0 ? "1" : "0";
            break;
          case xl::CellKind::Error:
            type = "e";
            value = book.Text(c.text);
            break;
        }
        lines[Escape(sheet->name) + "\t" + xl::CellRef(row.index, c.col)] =
            type + "\t" + Escape(value);
      }
    }
  }
  return lines;
}

inline std::set<std::string> MergeLines(const xl::Workbook& book) {
  std::set<std::string> lines;
  for (const auto& sheet : book.sheets)
    for (const xl::Rect& m : sheet->merges)
      lines.insert("M\t" + Escape(sheet->name) + "\t" + xl::CellRef(m.r1, m.c1) + ":" +
                   xl::CellRef(m.r2, m.c2));
  return lines;
}

struct OpenpyxlView {
  bool ok = false;
  std::map<std::string, std::string> cells;  // as CellLines; dates have type "d"
  std::set<std::string> merges;
  std::map<std::string, std::string> formats;  // "sheet\tref" -> number format
};

// What openpyxl reads from `path`; numbers normalised like CellLines, dates
// turned back into serials. `ok` is false when openpyxl cannot read the file.
inline OpenpyxlView ReadWithOpenpyxl(const std::string& path) {
  OpenpyxlView view;
  const std::string cmd =
      std::string(PW_DEBIAN_PYTHON) + " " + PW_DUMP_SCRIPT + " '" + path + "' 2>/dev/null";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return view;
  std::string out;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  view.ok = ::pclose(p) == 0;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::vector<std::string> f;
    std::size_t start = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', start);
      f.push_back(line.substr(start, tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    if (f[0] == "C" && f.size() == 5) {
      if (f[3] == "n" || f[3] == "d") {
        char nb[64];
        std::snprintf(nb, sizeof nb, "%.17g", std::strtod(f[4].c_str(), nullptr));
        f[4] = nb;
      }
      view.cells[f[1] + "\t" + f[2]] = f[3] + "\t" + f[4];
    } else if (f[0] == "F" && f.size() == 4) {
      view.formats[f[1] + "\t" + f[2]] = f[3];
    } else if (f[0] == "M" && f.size() == 3) {
      view.merges.insert(line);
    }
  }
  return view;
}

// Every cell openpyxl sees must be ours with the same type and value (dates
// within a millisecond, as openpyxl rounds them), and we may not see more.
inline std::vector<std::string> CompareCells(const std::map<std::string, std::string>& ours,
                                             const std::map<std::string, std::string>& theirs) {
  std::vector<std::string> faults;
  // An empty text is a blank cell to us; openpyxl keeps some and drops others.
  for (const auto& [key, value] : theirs) {
    if (value == "s\t") continue;
    auto it = ours.find(key);
    if (it == ours.end()) {
      faults.push_back("missing " + key + " = " + value);
      continue;
    }
    if (value.rfind("d\t", 0) == 0 && it->second.rfind("n\t", 0) == 0) {
      if (std::abs(std::strtod(value.c_str() + 2, nullptr) -
                   std::strtod(it->second.c_str() + 2, nullptr)) < 1.0 / 86400000)
        continue;
    }
    if (value != it->second) faults.push_back(key + ": ours " + it->second + ", openpyxl " + value);
  }
  for (const auto& [key, value] : ours)
    if (!theirs.count(key) && value != "s\t") faults.push_back("extra " + key + " = " + value);
  return faults;
}

}  // namespace pw::test
