#pragma once
// Zip packages (.docx, .xlsx, ODF) written from and read into named parts.

#include <zip.h>

#include <filesystem>
#include <map>
#include <string>

namespace pw::test {

// Writes a zip holding `parts` (name -> content) at `path`, making its
// folder when needed.
inline void WriteZip(const std::string& path, const std::map<std::string, std::string>& parts) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder);
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  for (const auto& [name, content] : parts) {
    zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
    zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE);
  }
  zip_close(z);
}

// The content of the part `name` of the zip at `path`; empty when absent.
inline std::string ReadZipPart(const std::string& path, const std::string& name) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (z == nullptr) return {};
  std::string out;
  if (zip_file_t* f = zip_fopen(z, name.c_str(), 0)) {
    char buf[4096];
    zip_int64_t n = 0;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
    zip_fclose(f);
  }
  zip_discard(z);
  return out;
}

}  // namespace pw::test
