#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "batch/contract.h"
#include "ops/text/text_io.h"
#include "ops/text/text_ops.h"
#include "platform/errors.h"
#include "platform/textcodec.h"

namespace pw {

namespace {

bool IsWriteError(int err) {
  return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

// Appends the whole source to the output. Answers false when a stop request
// arrived before the source was complete.
class Appender {
 public:
  Appender(int out, const std::string& outPath) : out_(out), outPath_(outPath) {}

  bool Append(int src, std::int64_t size, const std::string& srcPath, const RunState& run) {
    std::int64_t copied = 0;
    if (kernelCopy_) {
      const std::size_t chunk = textio::BlockSize() * 32;
      while (copied < size) {
        if (copied > 0 && run.StopRequested()) return false;
        const ssize_t n = ::copy_file_range(src, nullptr, out_, nullptr, chunk, 0);
        if (n > 0) {
          copied += n;
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && IsWriteError(errno)) textio::Fail("写入", outPath_, errno);
        if (n < 0 && copied > 0 && errno != EINVAL && errno != EXDEV && errno != EOPNOTSUPP &&
            errno != ENOSYS)
          textio::Fail("读取", srcPath, errno);
        // Not supported between these two files (or a file system that reports
        // nothing to copy): the plain loop below takes over where this stopped.
        if (n < 0) kernelCopy_ = false;
        break;
      }
    }
    if (!buffer_) buffer_ = std::make_unique<char[]>(textio::BlockSize());
    for (;;) {
      const std::size_t n = textio::ReadSome(src, buffer_.get(), textio::BlockSize(), srcPath);
      if (n == 0) break;
      if (copied > 0 && run.StopRequested()) return false;
      textio::WriteAll(out_, buffer_.get(), n, outPath_);
      copied += static_cast<std::int64_t>(n);
    }
    return true;
  }

 private:
  int out_;
  const std::string& outPath_;
  bool kernelCopy_ = true;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace

void MergeTextFiles(RunState& run, const CommonOptions& common, RunReporter& reporter) {
  const std::size_t count = run.WorkList.size();
  textio::ProgressScope progress(reporter, count);
  run.OutputBase = ChangeExtension(run.OutputBase, ".txt");
  const std::string output = run.OutputBase;
  RefuseOutputOverSource(output, run);

  textio::Fd out = textio::CreateOutput(output);
  Appender appender(out.get(), output);
  std::int64_t outSize = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string path = run.WorkList[i];
    reporter.Status("正在合并第 " + std::to_string(i) + " 个文件： " +
                    DisplayText(FileNamePart(path)));
    std::int64_t size = 0;
    textio::Fd src = textio::OpenSource(path, size);
    bool whole = false;
    try {
      whole = appender.Append(src.get(), size, path, run);
    } catch (...) {
      // A source that fails half way leaves none of its bytes behind.
      [[maybe_unused]] const int ignored = ::ftruncate(out.get(), outSize);
      throw;
    }
    if (!whole) {
      // The unfinished file leaves nothing behind: the output ends with the last whole file.
      if (::ftruncate(out.get(), outSize) != 0) textio::Fail("写入", output, errno);
      out.Close(output);
      reporter.Status(textio::kStopText);
      return;
    }
    src.Reset();
    const off_t end = ::lseek(out.get(), 0, SEEK_CUR);
    if (end < 0) textio::Fail("写入", output, errno);
    outSize = end;
    // A source is only let go once its bytes are safely on disk.
    if (common.deleteSources && ::fdatasync(out.get()) != 0) textio::Fail("写入", output, errno);
    if (FinishEntry(run, common, reporter, static_cast<int>(i))) {
      out.Close(output);
      reporter.Status(textio::kStopText);
      return;
    }
  }
  out.Close(output);
  reporter.Status("合并操作已完成，正在清理内存... ");
  progress.End();
  reporter.Status(std::to_string(count) + " 个文件合并生成新文件：" + DisplayText(output));
}

}  // namespace pw
