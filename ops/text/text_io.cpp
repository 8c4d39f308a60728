#include "ops/text/text_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "batch/contract.h"
#include "platform/errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::textio {

namespace {
constexpr std::size_t kDefaultBlock = 128 * 1024;
std::size_t blockSize = kDefaultBlock;
}  // namespace

ProgressScope::ProgressScope(RunReporter& reporter, std::size_t count) : reporter_(reporter) {
  reporter_.BeginProgress(ProgressStep(count));
}

void ProgressScope::End() {
  if (open_) reporter_.EndProgress();
  open_ = false;
}

std::size_t BlockSize() {
  return blockSize;
}
void SetBlockSizeForTesting(std::size_t bytes) {
  blockSize = bytes == 0 ? kDefaultBlock : bytes;
}

std::string StopText() {
  return Translate("ops", "用户强行退出，合并操作未完成！");
}

std::string StopTextUndoing(const std::string& path) {
  return StopText() +
         Arg(Translate("ops", "已撤销正在处理的“%1”。"), {DisplayText(FileNamePart(path))});
}

void Fail(const std::string& action, const std::string& file, int err) {
  throw RunError(RunError::Kind::Failure, file, FileErrorText(action, file, err));
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

int Fd::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void Fd::Close(const std::string& file) {
  const int fd = Release();
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) Fail("写入", file, errno);
}

Fd OpenSource(const std::string& path, std::int64_t& size) {
  // Non-blocking so that a named pipe given by mistake cannot hang the run.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (fd.get() < 0) Fail("打开", path, errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) Fail("读取", path, errno);
  if (S_ISDIR(st.st_mode)) Fail("打开", path, EISDIR);
  if (!S_ISREG(st.st_mode))
    throw RunError(
        RunError::Kind::Failure, path,
        Arg(Translate("batch", "无法打开“%1”：这不是一个普通文件"), {DisplayText(path)}));
  ::fcntl(fd.get(), F_SETFL, 0);
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  size = st.st_size;
  return fd;
}

Fd CreateOutput(const std::string& path, const std::string& shownAs) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
  if (fd.get() < 0) Fail("创建", shownAs, errno);
  return fd;
}

void StartWriteback(int fd, std::int64_t from, std::int64_t to) {
  if (to > from) ::sync_file_range(fd, from, to - from, SYNC_FILE_RANGE_WRITE);
}

std::size_t ReadSome(int fd, char* buf, std::size_t n, const std::string& file) {
  for (;;) {
    const ssize_t got = ::read(fd, buf, n);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) Fail("读取", file, errno);
  }
}

void ReadAt(int fd, char* buf, std::size_t n, std::int64_t offset, const std::string& file) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, buf, n, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Fail("读取", file, errno);
    if (got == 0) Fail("读取", file, EIO);  // the file shrank under us
    buf += got;
    n -= static_cast<std::size_t>(got);
    offset += got;
  }
}

void WriteAll(int fd, const char* data, std::size_t n, const std::string& file) {
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) Fail("写入", file, errno);
    if (put == 0) Fail("写入", file, ENOSPC);
    data += put;
    n -= static_cast<std::size_t>(put);
  }
}

}  // namespace pw::textio
