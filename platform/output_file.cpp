#include "platform/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/errors.h"
#include "platform/run_errors.h"

namespace pw {
namespace {

// ".~pw<pid>-<n>-<final name>": hidden, owned by a process, extension kept.
constexpr char kPrefix[] = ".~pw";
constexpr std::size_t kMaxName = 255;

std::atomic<unsigned> counter{0};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

int SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int rc = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return rc;
}

}  // namespace

int SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int rc = ::fsync(fd) == 0 || errno == EINVAL ? 0 : errno;
  ::close(fd);
  return rc;
}

PendingOutput::PendingOutput(std::string finalPath) : final_(std::move(finalPath)) {
  const std::string folder = FolderOf(final_);
  SweepStalePendingOutputs(folder);
  const std::string tag =
      kPrefix + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)) + "-";
  std::string name = NameOf(final_);
  if (tag.size() + name.size() > kMaxName) {
    // Too long with the tag: keep the name's end, which holds the extension.
    name = name.substr(name.size() - (kMaxName - tag.size()));
  }
  temp_ = (final_.find('/') == std::string::npos ? std::string() : folder + "/") + tag + name;
}

PendingOutput::~PendingOutput() {
  Discard();
}

PendingOutput::PendingOutput(PendingOutput&& other) noexcept
    : final_(std::move(other.final_)), temp_(std::move(other.temp_)), committed_(other.committed_) {
  other.temp_.clear();
  other.committed_ = true;
}

PendingOutput& PendingOutput::operator=(PendingOutput&& other) noexcept {
  if (this != &other) {
    Discard();
    final_ = std::move(other.final_);
    temp_ = std::move(other.temp_);
    committed_ = other.committed_;
    other.temp_.clear();
    other.committed_ = true;
  }
  return *this;
}

void PendingOutput::Commit() {
  if (committed_) return;
  if (const int err = SyncFile(temp_); err != 0)
    throw RunError(RunError::Kind::Failure, final_, FileErrorText("写入", final_, err));
  if (::rename(temp_.c_str(), final_.c_str()) != 0) {
    const int err = errno;
    throw RunError(RunError::Kind::Failure, final_, FileErrorText("保存", final_, err));
  }
  committed_ = true;
  if (const int err = SyncFolder(FolderOf(final_)); err != 0)
    throw RunError(RunError::Kind::Failure, final_, FileErrorText("写入", final_, err));
}

void CommitTogether(std::vector<PendingOutput>& outputs) {
  std::vector<PendingOutput*> open;
  for (PendingOutput& out : outputs)
    if (!out.committed_) open.push_back(&out);
  if (open.empty()) return;
  if (open.size() == 1) {
    open.front()->Commit();
    return;
  }
  const std::string& first = open.front()->final_;
  const int dir = ::open(FolderOf(first).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const int err = dir < 0 ? errno : ::syncfs(dir) == 0 ? 0 : errno;
  if (dir >= 0) ::close(dir);
  if (err != 0) throw RunError(RunError::Kind::Failure, first, FileErrorText("写入", first, err));
  std::set<std::string> folders;
  for (PendingOutput* out : open) {
    if (::rename(out->temp_.c_str(), out->final_.c_str()) != 0) {
      const int renameErr = errno;
      throw RunError(RunError::Kind::Failure, out->final_,
                     FileErrorText("保存", out->final_, renameErr));
    }
    out->committed_ = true;
    folders.insert(FolderOf(out->final_));
  }
  for (const std::string& folder : folders)
    if (const int syncErr = SyncFolder(folder); syncErr != 0)
      throw RunError(RunError::Kind::Failure, first, FileErrorText("写入", first, syncErr));
}

void PendingOutput::Discard() {
  if (!committed_ && !temp_.empty()) ::unlink(temp_.c_str());
}

bool IsPendingOutputName(const std::string& fileName) {
  if (fileName.rfind(kPrefix, 0) != 0) return false;
  std::size_t i = sizeof kPrefix - 1;
  const std::size_t digits = i;
  while (i < fileName.size() && fileName[i] >= '0' && fileName[i] <= '9') ++i;
  return i > digits && i < fileName.size() && fileName[i] == '-';
}

void SweepStalePendingOutputs(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> swept;
  {
    std::lock_guard lock(mutex);
    if (!swept.insert(folder).second) return;
  }
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  const pid_t self = ::getpid();
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsPendingOutputName(name)) continue;
    const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, nullptr, 10);
    if (pid <= 0 || pid == self) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;  // still running
    struct stat st {};
    const std::string path = folder + "/" + name;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

int OpenUnnamedFile(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    std::string name = folder + "/.~pw" + std::to_string(::getpid()) + "-tmp-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
  }
  return fd;
}

}  // namespace pw
