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
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {

bool IsWriteError(int err) {
  return err == ENOSPC || err == EDQUOT || err == EFBIG;
}

// Bytes written between two nudges of the disk's writeback.
constexpr std::int64_t kWritebackStep = 8 << 20;

// Appends whole sources to the output. Answers false when a stop request
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
          Advance(n);
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
      Advance(static_cast<std::int64_t>(n));
    }
    return true;
  }

  // The output's size: its end after the last whole source.
  std::int64_t end() const { return end_; }

  // Drops what was written after the last whole source.
  void Undo(std::int64_t to) {
    if (::ftruncate(out_, to) != 0) textio::Fail("写入", outPath_, errno);
    end_ = to;
  }

 private:
  void Advance(std::int64_t n) {
    end_ += n;
    if (end_ - flushed_ < kWritebackStep) return;
    textio::StartWriteback(out_, flushed_, end_);
    flushed_ = end_;
  }

  int out_;
  const std::string& outPath_;
  bool kernelCopy_ = true;
  std::unique_ptr<char[]> buffer_;
  std::int64_t end_ = 0;      // bytes written
  std::int64_t flushed_ = 0;  // of those, handed to the disk's writeback
};

}  // namespace

void MergeTextFiles(RunState& run, const CommonOptions& common, RunReporter& reporter) {
  const std::size_t count = run.WorkList.size();
  textio::ProgressScope progress(reporter, count);
  run.OutputBase = ChangeExtension(run.OutputBase, ".txt");
  const std::string output = run.OutputBase;
  RefuseOutputOverSource(output, run);

  // The output takes its name only when it is saved: a failure or a kill
  // leaves any file of that name as it was.
  PendingOutput pending(output);
  textio::Fd out = textio::CreateOutput(pending.tempPath(), output);
  Appender appender(out.get(), output);
  std::int64_t whole = 0;  // output bytes of the sources merged so far
  const auto save = [&] {
    out.Close(output);
    pending.Commit();
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::string path = run.WorkList[i];
    reporter.Status(
        Arg(Translate("ops", "正在合并第 %1 个文件： %2"), {i, DisplayText(FileNamePart(path))}));
    std::int64_t size = 0;
    textio::Fd src = textio::OpenSource(path, size);
    if (!appender.Append(src.get(), size, path, run)) {
      // A stop in the middle of a file: the output keeps the files merged
      // whole before it, and is saved only if there are any.
      appender.Undo(whole);
      if (i > 0) save();
      reporter.Status(textio::StopTextUndoing(path));
      return;
    }
    src.Reset();
    whole = appender.end();
    if (FinishEntry(run, common, reporter, static_cast<int>(i))) {
      save();
      reporter.Status(textio::StopText());
      return;
    }
  }
  save();
  reporter.Status(Translate("ops", "合并操作已完成，正在清理内存... "));
  progress.End();
  reporter.Status(
      Arg(Translate("ops", "%1 个文件合并生成新文件：%2"), {count, DisplayText(output)}));
}

}  // namespace pw
