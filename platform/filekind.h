#pragma once
// What a file holds, told from its content rather than its name.

#include <string>

namespace pw {

enum class FileContent {
  Unknown,       // none of the kinds below (plain text, random bytes, ...)
  WordDocument,  // Word 97-2003 or 95/6, .docx, RTF, OpenDocument text, Word's web-page .doc
  Workbook,      // Excel 97-2003 (or 5/95), .xlsx and its macro/template variants
  Database,      // Jet 3/4 or ACE database
  OtherOffice,   // an office file of another kind (presentation, drawing, ...)
  Encrypted,     // an Office Open XML file locked by a password
};

// Reads as little of `path` as it can to tell its kind. Answers errno in
// `err` (0 when the file could be read).
FileContent SniffFileContent(const std::string& path, int& err);

// "Word 文档", "Excel 工作簿", "Access 数据库", ... for messages.
std::string ContentName(FileContent content);

}  // namespace pw
