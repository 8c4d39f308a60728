#include "platform/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace pw {
namespace {

namespace fs = std::filesystem;

std::string PercentEncode(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : path) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
        c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool DeviceOf(const std::string& path, dev_t& dev) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  dev = st.st_dev;
  return true;
}

bool MakeDirs(const std::string& dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  struct stat st {};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HomeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home == nullptr) return {};
  return std::string(home) + "/.local/share/Trash";
}

// The top folder of the mount holding `path`.
std::string MountTop(const std::string& path, dev_t dev) {
  fs::path p = fs::path(path).parent_path();
  while (p.has_parent_path() && p != p.parent_path()) {
    dev_t parentDev{};
    if (!DeviceOf(p.parent_path().string(), parentDev) || parentDev != dev) break;
    p = p.parent_path();
  }
  return p.string();
}

// A trash folder on the same file system as the file, or empty.
std::string TrashFor(const std::string& path, dev_t fileDev, bool& absolutePaths) {
  absolutePaths = true;
  const std::string home = HomeTrash();
  if (!home.empty()) {
    std::string probe = home;
    dev_t dev{};
    while (!DeviceOf(probe, dev)) {
      const std::string parent = fs::path(probe).parent_path().string();
      if (parent == probe || parent.empty()) break;
      probe = parent;
    }
    if (DeviceOf(probe, dev) && dev == fileDev && MakeDirs(home + "/files") &&
        MakeDirs(home + "/info"))
      return home;
  }
  const std::string top = MountTop(path, fileDev);
  const std::string uid = std::to_string(::getuid());
  absolutePaths = false;
  struct stat st {};
  const std::string shared = top + "/.Trash";
  if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
    const std::string mine = shared + "/" + uid;
    if (MakeDirs(mine + "/files") && MakeDirs(mine + "/info")) return mine;
  }
  const std::string own = top + "/.Trash-" + uid;
  if (MakeDirs(own + "/files") && MakeDirs(own + "/info")) return own;
  return {};
}

std::string Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
  return buf;
}

enum class Moved { Yes, No, NotThatFile };

FileIdentity IdentityOf(const struct stat& st) {
  return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino), true};
}

Moved MoveToTrash(const std::string& path, const FileIdentity& expected) {
  std::error_code ec;
  const std::string absolute = fs::absolute(path, ec).lexically_normal().string();
  if (ec) return Moved::No;
  dev_t dev{};
  if (!DeviceOf(absolute, dev)) return Moved::No;
  bool absolutePaths = true;
  const std::string trash = TrashFor(absolute, dev, absolutePaths);
  if (trash.empty()) return Moved::No;
  std::string recorded = absolute;
  if (!absolutePaths) {
    const std::string top = fs::path(trash).parent_path().string();
    const std::string topDir =
        top.ends_with("/.Trash") ? fs::path(top).parent_path().string() : top;
    recorded = fs::path(absolute).lexically_relative(topDir).string();
  }
  const std::string base = fs::path(absolute).filename().string();
  const std::string stem = fs::path(base).stem().string();
  const std::string ext = fs::path(base).extension().string();
  for (int n = 0; n < 10000; ++n) {
    const std::string name = n == 0 ? base : stem + "." + std::to_string(n + 1) + ext;
    const std::string info = trash + "/info/" + name + ".trashinfo";
    const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return Moved::No;
    }
    const std::string body =
        "[Trash Info]\nPath=" + PercentEncode(recorded) + "\nDeletionDate=" + Now() + "\n";
    const bool wrote = ::write(fd, body.data(), body.size()) == static_cast<ssize_t>(body.size());
    ::close(fd);
    const std::string target = trash + "/files/" + name;
    struct stat st {};
    if (!wrote || ::lstat(target.c_str(), &st) == 0 ||
        ::rename(absolute.c_str(), target.c_str()) != 0) {
      ::unlink(info.c_str());
      if (wrote && ::lstat(target.c_str(), &st) == 0) continue;
      return Moved::No;
    }
    // The name may have been taken over by another file since it was
    // checked: what went to the trash must be the file processed.
    if (expected.known && (::lstat(target.c_str(), &st) != 0 || IdentityOf(st) != expected)) {
      if (::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, absolute.c_str(), RENAME_NOREPLACE) == 0)
        ::unlink(info.c_str());
      return Moved::NotThatFile;
    }
    return Moved::Yes;
  }
  return Moved::No;
}

}  // namespace

FileIdentity IdentifyFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return IdentityOf(st);
}

RemoveOutcome RemoveSourceFile(const std::string& path, const FileIdentity& expected) {
  FileIdentity check = expected;
  if (expected.known) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return RemoveOutcome::Failed;
    if (IdentityOf(st) != expected) return RemoveOutcome::Replaced;
    // A link goes to the trash itself; what it points at was checked above.
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) check = {};
  }
  switch (MoveToTrash(path, check)) {
    case Moved::Yes:
      return RemoveOutcome::Trashed;
    case Moved::NotThatFile:
      return RemoveOutcome::Replaced;
    case Moved::No:
      break;
  }
  if (::unlink(path.c_str()) == 0) return RemoveOutcome::Deleted;
  return RemoveOutcome::Failed;
}

}  // namespace pw
