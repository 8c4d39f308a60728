#pragma once
// Walking a folder for the files of a task.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "filelist/record.h"

namespace pw {

struct ScanOptions {
  std::string extensions;  // ".doc.docx", ".xls.xlsx", ".mdb" or ".txt"
  bool recursive = true;   // enter sub-folders
};

struct ScanResult {
  bool ok = false;            // the folder exists and could be read
  int unreadableFolders = 0;  // sub-folders that could not be read and were left out
  std::uint64_t listed = 0;
};

// Lists, depth first and in name order, every regular file under `folder`
// whose extension (from the last dot, lower-cased) occurs in the extension
// set. Folders are never listed; hidden folders (".name") are not entered;
// links to folders are followed but never into a loop. Stops early when
// `cancel` becomes true.
ScanResult ScanFolder(const std::string& folder, const ScanOptions& options,
                      const std::function<void(FileRecord&&)>& found,
                      const std::atomic<bool>* cancel = nullptr);

// True when the lower-cased extension of `name` occurs in `extensions`.
bool ExtensionMatches(const std::string& name, const std::string& extensions);

// Picture number of a file by its extension.
int KindNumber(const std::string& name);

// "123Byte", "1K", "5M" (64-bit sizes).
std::string SizeTextOf(std::uint64_t bytes);

// Local date and time "2024/3/5 14:07:09"; the time is left out at exactly midnight.
std::string TimeTextOf(std::time_t seconds);

// The record of one file: size and times from the file system, "未知" for
// what cannot be read.
FileRecord MakeRecord(const std::string& folder, const std::string& name);

}  // namespace pw
