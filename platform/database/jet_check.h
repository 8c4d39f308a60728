#pragma once
// A structural check of a Jet 4 / ACE database: header, usage maps against
// pages, table definitions, rows, row counts and index entries.

#include <string>
#include <vector>

namespace pw::db {

struct CheckReport {
  std::vector<std::string> faults;  // the file is not sound
  std::vector<std::string> notes;   // counts Access itself keeps loosely
  bool ok() const { return faults.empty(); }
};

// `exactCounts`: stored row counts and unique-key counts must be exact
// (true for what we write; Access's own files are not always exact).
CheckReport CheckDatabase(const std::string& path, bool exactCounts);

}  // namespace pw::db
