#pragma once
// What readers we did not write see in a database: libmdb's mdb-export and
// the npm package mdb-reader.

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pw::db::test {

struct SeenTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::optional<std::string>>> rows;  // nullopt: no value
};
using SeenDatabase = std::map<std::string, SeenTable>;

inline std::string Run(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}

inline std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep)
      out.emplace_back();
    else
      out.back().push_back(c);
  }
  return out;
}

inline std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

inline std::string NodeDir() {
  return std::string(PW_SOURCE_DIR) + "/tests/database/node";
}

// Empty when node or the installed package is missing.
inline std::string MdbReaderMissing() {
  if (Run("command -v node").empty()) return "node is not installed";
  if (!std::filesystem::exists(NodeDir() + "/node_modules/mdb-reader"))
    return "mdb-reader is not installed (scripts/test.sh runs npm ci)";
  return {};
}

// Several files in one run of node (it takes a while to start): by path.
inline std::map<std::string, SeenDatabase> ReadAllWithMdbReader(
    const std::vector<std::string>& paths) {
  std::string command = "node " + Quoted(NodeDir() + "/dump.mjs");
  for (const std::string& p : paths) command += " " + Quoted(p);
  const std::string out = Run(command);
  std::map<std::string, SeenDatabase> all;
  SeenDatabase* db = paths.size() == 1 ? &all[paths[0]] : nullptr;
  SeenTable* table = nullptr;
  bool header = false;
  for (const std::string& line : Split(out, '\x1C')) {
    if (line.rfind("\x1D"
                   "F",
                   0) == 0) {
      db = &all[line.substr(2)];
      table = nullptr;
    } else if (line.rfind("\x1DT", 0) == 0 && db != nullptr) {
      table = &(*db)[line.substr(2)];
      header = true;
    } else if (table != nullptr && header) {
      table->columns = Split(line, '\x1F');
      header = false;
    } else if (table != nullptr && !line.empty()) {
      std::vector<std::optional<std::string>> row;
      for (const std::string& v : Split(line, '\x1F'))
        row.push_back(v == "\x1E" ? std::nullopt : std::optional<std::string>(v));
      table->rows.push_back(row);
    }
  }
  return all;
}

inline SeenDatabase ReadWithMdbReader(const std::string& path) {
  return ReadAllWithMdbReader({path})[path];
}

// One table through mdb-export; no value and empty text both read as "".
// Bytes (OLE objects, binary fields) come as upper-case hex digits without
// "0x".
inline std::vector<std::vector<std::string>> ReadWithMdbExport(const std::string& path,
                                                               const std::string& table) {
  const std::string out =
      Run("mdb-export -b hex -H -Q -d \"$(printf '\\037')\" -R \"$(printf '\\035')\" " +
          Quoted(path) + " " + Quoted(table) + " 2>/dev/null");
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : Split(out, '\x1D'))
    if (!line.empty()) rows.push_back(Split(line, '\x1F'));
  return rows;
}

}  // namespace pw::db::test
