#include "platform/filekind.h"

#include "platform/translate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace pw {
namespace {

class File {
 public:
  explicit File(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  int fd() const { return fd_; }
  // Reads up to `n` bytes at `offset`; answers how many.
  std::size_t Read(void* buf, std::size_t n, std::uint64_t offset) const {
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r =
          ::pread(fd_, static_cast<char*>(buf) + got, n - got, static_cast<off_t>(offset + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    return got;
  }

 private:
  int fd_;
};

std::uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// Compound file (OLE2): the names of the directory's streams tell Word from Excel.
FileContent SniffCompound(const File& f, const unsigned char* header) {
  const unsigned shift = U16(header + 0x1E);
  if (shift != 9 && shift != 12) return FileContent::Unknown;
  const std::size_t sectorSize = std::size_t{1} << shift;
  const std::size_t perSector = sectorSize / 4;
  auto offsetOf = [&](std::uint32_t sector) {
    return (static_cast<std::uint64_t>(sector) + 1) << shift;
  };
  // The FAT sectors: 109 in the header, more in the DIFAT chain.
  std::vector<std::uint32_t> fatSectors;
  const std::uint32_t fatCount = U32(header + 0x2C);
  for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
    fatSectors.push_back(U32(header + 0x4C + 4 * i));
  std::uint32_t difat = U32(header + 0x44);
  std::vector<unsigned char> sector(sectorSize);
  for (int guard = 0; difat < 0xFFFFFFFA && fatSectors.size() < fatCount && guard < 100000;
       ++guard) {
    if (f.Read(sector.data(), sectorSize, offsetOf(difat)) != sectorSize) break;
    for (std::size_t i = 0; i + 1 < perSector && fatSectors.size() < fatCount; ++i)
      fatSectors.push_back(U32(sector.data() + 4 * i));
    difat = U32(sector.data() + 4 * (perSector - 1));
  }
  auto next = [&](std::uint32_t s) -> std::uint32_t {
    const std::size_t index = s / perSector;
    if (index >= fatSectors.size()) return 0xFFFFFFFE;
    unsigned char entry[4];
    if (f.Read(entry, 4, offsetOf(fatSectors[index]) + 4 * (s % perSector)) != 4) return 0xFFFFFFFE;
    return U32(entry);
  };
  bool word = false, workbook = false, other = false, encrypted = false;
  std::uint32_t dir = U32(header + 0x30);
  for (int guard = 0; dir < 0xFFFFFFFA && guard < 4096; ++guard) {
    if (f.Read(sector.data(), sectorSize, offsetOf(dir)) != sectorSize) break;
    for (std::size_t e = 0; e + 128 <= sectorSize; e += 128) {
      const unsigned char* entry = sector.data() + e;
      const std::size_t bytes = std::min<std::size_t>(U16(entry + 0x40), 64);
      std::string name;
      for (std::size_t i = 0; i + 1 < bytes; i += 2) {
        const std::uint16_t c = U16(entry + i);
        if (c == 0) break;
        name += c < 128 ? static_cast<char>(c) : '?';
      }
      if (name == "WordDocument") word = true;
      if (name == "Workbook" || name == "Book") workbook = true;
      if (name == "PowerPoint Document" || name == "VisioDocument") other = true;
      if (name == "EncryptedPackage") encrypted = true;
    }
    dir = next(dir);
  }
  if (word) return FileContent::WordDocument;
  if (workbook) return FileContent::Workbook;
  if (encrypted) return FileContent::Encrypted;
  return other ? FileContent::OtherOffice : FileContent::Unknown;
}

std::string ReadZipEntry(zip_t* zip, const char* name, std::size_t limit) {
  zip_file_t* entry = zip_fopen(zip, name, ZIP_FL_NOCASE);
  if (entry == nullptr) return {};
  std::string text(limit, '\0');
  const zip_int64_t got = zip_fread(entry, text.data(), limit);
  zip_fclose(entry);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// Office Open XML by the content type of its main part; OpenDocument by its mimetype.
FileContent SniffZip(int fd) {
  const int copy = ::dup(fd);
  if (copy < 0) return FileContent::Unknown;
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_filep_create(::fdopen(copy, "rb"), 0, -1, &error);
  zip_error_fini(&error);
  if (source == nullptr) {
    ::close(copy);
    return FileContent::Unknown;
  }
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, nullptr);
  if (zip == nullptr) {
    zip_source_free(source);
    return FileContent::Unknown;
  }
  FileContent content = FileContent::Unknown;
  const std::string types = ReadZipEntry(zip, "[Content_Types].xml", 1 << 20);
  auto has = [&](std::string_view what) { return types.find(what) != std::string::npos; };
  if (has("wordprocessingml.document.main") || has("wordprocessingml.template.main") ||
      has("ms-word.document.macroEnabled.main") || has("ms-word.template.macroEnabledTemplate"))
    content = FileContent::WordDocument;
  else if (has("spreadsheetml.sheet.main") || has("spreadsheetml.template.main") ||
           has("ms-excel.sheet.macroEnabled.main") || has("ms-excel.sheet.binary.macroEnabled") ||
           has("ms-excel.template.macroEnabled"))
    content = FileContent::Workbook;
  else if (has("presentationml") || has("ms-powerpoint") || has("drawingml.diagram"))
    content = FileContent::OtherOffice;
  if (content == FileContent::Unknown && types.empty()) {
    const std::string mime = ReadZipEntry(zip, "mimetype", 200);
    if (mime.starts_with("application/vnd.oasis.opendocument.text"))
      content = FileContent::WordDocument;
    else if (mime.starts_with("application/vnd.oasis.opendocument."))
      content = FileContent::OtherOffice;
  }
  zip_close(zip);
  return content;
}

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

FileContent SniffFileContent(const std::string& path, int& err) {
  err = 0;
  File f(path);
  if (f.fd() < 0) {
    err = errno;
    return FileContent::Unknown;
  }
  struct stat st {};
  if (::fstat(f.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return FileContent::Unknown;
  }
  // Enough for a compound file's header, and for the opening tag of an XML
  // document with its many namespaces.
  std::array<unsigned char, 8192> header{};
  const std::size_t got = f.Read(header.data(), header.size(), 0);
  static constexpr unsigned char kCompound[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (got >= 512 && std::memcmp(header.data(), kCompound, 8) == 0)
    return SniffCompound(f, header.data());
  if (got >= 4 && header[0] == 'P' && header[1] == 'K' && header[2] == 3 && header[3] == 4)
    return SniffZip(f.fd());
  const std::string_view head(reinterpret_cast<const char*>(header.data()), got);
  if (got >= 20 &&
      (head.substr(4, 15) == "Standard Jet DB" || head.substr(4, 15) == "Standard ACE DB"))
    return FileContent::Database;
  // Excel 2 to 4 worksheets: a bare stream of records opening with BOF.
  if (got >= 4 && header[0] == 0x09 &&
      (header[1] == 0x00 || header[1] == 0x02 || header[1] == 0x04) && header[3] == 0x00 &&
      header[2] >= 4 && header[2] <= 16)
    return FileContent::Workbook;
  // Word 2 files, and the text forms Word opens as documents.
  if (got >= 2 && header[0] == 0xDB && (header[1] == 0xA5 || header[1] == 0xA6))
    return FileContent::WordDocument;
  std::string_view text = head;
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                           text.front() == '\n'))
    text.remove_prefix(1);
  if (text.starts_with("{\\rtf")) return FileContent::WordDocument;
  const std::string lower = LowerAscii(text);
  if (lower.starts_with("<?xml") &&
      lower.find("application/vnd.oasis.opendocument.spreadsheet") != std::string::npos)
    return FileContent::Workbook;
  if (lower.starts_with("<html") || lower.starts_with("<!doctype html") ||
      (lower.starts_with("<?xml") && lower.find("word.document") != std::string::npos) ||
      (lower.starts_with("<?xml") &&
       lower.find("application/vnd.oasis.opendocument.text") != std::string::npos) ||
      lower.starts_with("mime-version:"))
    return FileContent::WordDocument;
  return FileContent::Unknown;
}

std::string ContentName(FileContent content) {
  switch (content) {
    case FileContent::WordDocument:
      return Translate("filekind", "Word 文档");
    case FileContent::Workbook:
      return Translate("filekind", "Excel 工作簿");
    case FileContent::Database:
      return Translate("filekind", "Access 数据库");
    case FileContent::OtherOffice:
      return Translate("filekind", "其他类型的 Office 文件");
    case FileContent::Encrypted:
      return Translate("filekind", "设有打开密码的加密文件");
    case FileContent::Unknown:
      break;
  }
  return Translate("filekind", "无法识别的内容");
}

}  // namespace pw
