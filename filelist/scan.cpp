#include "filelist/scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {
namespace {

std::string Unknown() {
  return Translate("filelist", "未知");
}

std::atomic<std::uint64_t> nextId{1};

std::string Join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string ExtensionOf(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return {};
  std::string ext = name.substr(dot);
  while (!ext.empty() && static_cast<unsigned char>(ext.back()) <= ' ') ext.pop_back();
  return LowerAscii(ext);
}

// Name order as a user reads it: letters without regard to case, then bytes.
bool NameLess(const std::string& a, const std::string& b) {
  const std::string la = LowerAscii(a), lb = LowerAscii(b);
  return la != lb ? la < lb : a < b;
}

struct Walker {
  const ScanOptions& options;
  const std::function<void(FileRecord&&)>& found;
  const std::atomic<bool>* cancel;
  ScanResult result;
  std::set<std::pair<dev_t, ino_t>> visited;

  bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }

  bool Walk(const std::string& folder) {
    struct stat self {};
    if (::stat(folder.c_str(), &self) != 0 || !S_ISDIR(self.st_mode)) return false;
    if (!visited.insert({self.st_dev, self.st_ino}).second) return true;  // a loop
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return false;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      // A run's unfinished output is never offered as a source.
      if (name != "." && name != ".." && !IsPendingOutputName(name)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NameLess);
    for (const std::string& name : names) {
      if (Cancelled()) return true;
      const std::string path = Join(folder, name);
      struct stat st {};
      if (::stat(path.c_str(), &st) != 0) continue;  // dangling link, vanished entry
      if (S_ISDIR(st.st_mode)) {
        if (!options.recursive || name.front() == '.') continue;
        if (!Walk(path)) ++result.unreadableFolders;
      } else if (S_ISREG(st.st_mode) && ExtensionMatches(name, options.extensions)) {
        found(MakeRecord(folder, name));
        ++result.listed;
      }
    }
    return true;
  }
};

std::string TimeText(const statx_timestamp& t, bool present) {
  if (!present || (t.tv_sec == 0 && t.tv_nsec == 0)) return Unknown();
  return TimeTextOf(static_cast<std::time_t>(t.tv_sec));
}

}  // namespace

bool ExtensionMatches(const std::string& name, const std::string& extensions) {
  const std::string ext = ExtensionOf(name);
  return !ext.empty() && extensions.find(ext) != std::string::npos;
}

int KindNumber(const std::string& name) {
  const std::string ext = ExtensionOf(name);
  if (ext == ".doc" || ext == ".docx") return 1;
  if (ext == ".xls" || ext == ".xlsx") return 2;
  if (ext == ".ppt" || ext == ".pptx") return 3;
  if (ext == ".mdb" || ext == ".accdb") return 4;
  if (ext == ".txt") return 6;
  return 0;
}

std::string SizeTextOf(std::uint64_t n) {
  if (n < 1024) return std::to_string(n) + "Byte";
  if (n < 1048576) return std::to_string(n / 1024) + "K";
  return std::to_string(n / 1048576) + "M";
}

std::string TimeTextOf(std::time_t seconds) {
  std::tm tm{};
  if (localtime_r(&seconds, &tm) == nullptr) return Unknown();
  std::string text = std::to_string(tm.tm_year + 1900) + "/" + std::to_string(tm.tm_mon + 1) + "/" +
                     std::to_string(tm.tm_mday);
  if (tm.tm_hour != 0 || tm.tm_min != 0 || tm.tm_sec != 0) {
    char clock[16];
    std::snprintf(clock, sizeof clock, " %d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    text += clock;
  }
  return text;
}

FileRecord MakeRecord(const std::string& folder, const std::string& name) {
  FileRecord record;
  record.FullPath = Join(folder, name);
  const std::size_t dot = name.find_last_of('.');
  record.BaseName = DisplayText(dot == std::string::npos ? name : name.substr(0, dot));
  record.KindIcon = KindNumber(name);
  record.Id = nextId.fetch_add(1);
  struct statx sx {};
  const bool known = ::statx(AT_FDCWD, record.FullPath.c_str(), 0,
                             STATX_SIZE | STATX_MTIME | STATX_BTIME, &sx) == 0;
  record.SizeText = Translate("filelist", "大小：") +
                    (known && (sx.stx_mask & STATX_SIZE) ? SizeTextOf(sx.stx_size) : Unknown());
  record.TimesText = Arg(Translate("filelist", "修改：%1     创建：%2"),
                         {TimeText(sx.stx_mtime, known && (sx.stx_mask & STATX_MTIME)),
                          TimeText(sx.stx_btime, known && (sx.stx_mask & STATX_BTIME))});
  return record;
}

ScanResult ScanFolder(const std::string& folder, const ScanOptions& options,
                      const std::function<void(FileRecord&&)>& found,
                      const std::atomic<bool>* cancel) {
  Walker walker{options, found, cancel, {}, {}};
  walker.result.ok = walker.Walk(folder);
  return walker.result;
}

}  // namespace pw
