#include "platform/settings.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/textcodec.h"

namespace pw {
namespace {

std::mutex fileMutex;

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

struct IniText {
  std::vector<std::string> lines;
  bool crlf = false;
};

IniText Load(const std::string& file) {
  IniText ini;
  std::ifstream in(file, std::ios::binary);
  if (!in) return ini;
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string bytes = buffer.str();
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
  if (!IsValidUtf8(bytes)) {
    std::string converted;
    if (GbkToUtf8(bytes, converted)) bytes = std::move(converted);
  }
  ini.crlf = bytes.find("\r\n") != std::string::npos;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.lines.push_back(std::move(line));
    start = end + 1;
  }
  return ini;
}

// Section name of a "[name]" line, or nothing.
bool SectionOf(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  if (value.size() >= 2 && ((value.front() == '"' && value.back() == '"') ||
                            (value.front() == '\'' && value.back() == '\'')))
    value = value.substr(1, value.size() - 2);
  return !key.empty();
}

bool WriteWhole(const std::string& file, const std::string& bytes, std::string* error) {
  const std::string temp = file + ".tmp" + std::to_string(getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto fail = [&](int err) {
    if (error != nullptr) *error = FileErrorText("写入设置文件", file, err);
    return false;
  };
  if (fd < 0) return fail(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return fail(err);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return fail(err);
  }
  if (::rename(temp.c_str(), file.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return fail(err);
  }
  return true;
}

}  // namespace

std::string ClipSettingValue(const std::string& value) {
  // Cut before the first lead byte past the limit: never inside a character.
  std::size_t i = 0, chars = 0;
  for (; i < value.size(); ++i) {
    if ((static_cast<unsigned char>(value[i]) & 0xC0) == 0x80) continue;
    if (chars == kMaxSettingChars) break;
    ++chars;
  }
  return value.substr(0, i);
}

std::string ReadIniValue(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) {
  std::lock_guard lock(fileMutex);
  const IniText ini = Load(file);
  bool inSection = false;
  for (const std::string& line : ini.lines) {
    std::string name, k, v;
    if (SectionOf(line, name)) {
      inSection = SameName(name, section);
    } else if (inSection && KeyOf(line, k, v) && SameName(k, key)) {
      return ClipSettingValue(v);
    }
  }
  return fallback;
}

bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value, std::string* error) {
  std::string clean = ClipSettingValue(value);
  for (char& c : clean)
    if (c == '\r' || c == '\n') c = ' ';
  std::lock_guard lock(fileMutex);
  IniText ini = Load(file);
  const std::string newLine = key + "=" + clean;
  bool inSection = false, sectionSeen = false, written = false;
  std::size_t insertAt = 0;
  for (std::size_t i = 0; i < ini.lines.size() && !written; ++i) {
    std::string name, k, v;
    if (SectionOf(ini.lines[i], name)) {
      if (inSection) break;  // the section ended without the key
      inSection = SameName(name, section);
      if (inSection) {
        sectionSeen = true;
        insertAt = i + 1;
      }
    } else if (inSection) {
      if (KeyOf(ini.lines[i], k, v) && SameName(k, key)) {
        ini.lines[i] = k + "=" + clean;  // the key keeps its stored spelling
        written = true;
      } else if (!Trim(ini.lines[i]).empty()) {
        insertAt = i + 1;
      }
    }
  }
  if (!written) {
    if (sectionSeen) {
      ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    } else {
      while (!ini.lines.empty() && Trim(ini.lines.back()).empty()) ini.lines.pop_back();
      if (!ini.lines.empty()) ini.lines.push_back("");
      ini.lines.push_back("[" + section + "]");
      ini.lines.push_back(newLine);
    }
  }
  const char* eol = ini.crlf ? "\r\n" : "\n";
  std::string bytes;
  for (const std::string& line : ini.lines) {
    if (&line == &ini.lines.back() && line.empty()) break;
    bytes += line;
    bytes += eol;
  }
  return WriteWhole(file, bytes, error);
}

std::string ReadSetting(const std::string& section, const std::string& key,
                        const std::string& fallback) {
  return ReadIniValue(SettingsFile(), section, key, fallback);
}

bool WriteSetting(const std::string& section, const std::string& key, const std::string& value,
                  std::string* error) {
  return WriteIniValue(SettingsFile(), section, key, value, error);
}

}  // namespace pw
