#pragma once
// One listed file, as the scan found it.

#include <cstdint>
#include <string>

namespace pw {

struct FileRecord {
  std::string BaseName;   // file name without extension, UTF-8 for display
  std::string SizeText;   // "大小：" + size text
  std::string TimesText;  // "修改：" + modified + five blanks + "创建：" + created
  std::string FullPath;   // the file's path, bytes as the file system has them
  int KindIcon = 0;       // picture number by extension (1 document, 2 workbook, ...)
  std::uint64_t Id = 0;   // unique for the life of the program
};

}  // namespace pw
