#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "batch/contract.h"
#include "ops/text/text_io.h"
#include "ops/text/text_ops.h"
#include "platform/textcodec.h"

namespace pw {

namespace {

using textio::Fd;

constexpr std::int64_t kTitleCacheLimit = 64 * 1024;

[[noreturn]] void Refuse(const std::string& file, const std::string& message) {
  throw RunError(RunError::Kind::Validation, file, message);
}

// Files of the run by identity, so that no part is ever written over one.
class SourceIds {
 public:
  explicit SourceIds(const RunState& run) {
    for (const std::string& entry : run.WorkList) {
      struct stat st {};
      if (::stat(entry.c_str(), &st) == 0) ids_.insert({st.st_dev, st.st_ino});
    }
  }
  bool Contains(const struct stat& st) const { return ids_.count({st.st_dev, st.st_ino}) != 0; }

 private:
  std::set<std::pair<dev_t, ino_t>> ids_;
};

std::string CollisionText(const std::string& source, const std::string& part) {
  return "无法分割“" + DisplayText(source) + "”：分割出的文件“" + DisplayText(FileNamePart(part)) +
         "”是本次待处理的源文件之一，写入会覆盖它。请先将该文件改名或移到别处。";
}

// What the first pass learns: the number of lines and where the title line lies.
struct Survey {
  std::int64_t lines = 0;
  bool hasTitle = false;
  std::int64_t titleOffset = 0;
  std::int64_t titleLength = 0;
};

// Reads from the start until the title is found, or to the end when `countLines`.
// Answers false when a stop request arrived meanwhile.
bool SurveySource(int fd, const std::string& path, bool countLines, const RunState& run, char* buf,
                  Survey& survey) {
  if (::lseek(fd, 0, SEEK_SET) != 0) textio::Fail("读取", path, errno);
  std::int64_t offset = 0;
  std::int64_t firstSolid = -1, lastSolid = -1;  // of the current line, before the title is found
  char last = '\n';
  for (bool first = true;; first = false) {
    const std::size_t n = textio::ReadSome(fd, buf, textio::BlockSize(), path);
    if (n == 0) break;
    if (!first && run.StopRequested()) return false;
    std::size_t i = 0;
    for (; i < n && !survey.hasTitle; ++i) {
      const unsigned char c = static_cast<unsigned char>(buf[i]);
      if (c == '\n') {
        ++survey.lines;
        if (firstSolid >= 0) {
          survey.hasTitle = true;
          survey.titleOffset = firstSolid;
          survey.titleLength = lastSolid - firstSolid + 1;
        }
      } else if (c > ' ') {
        if (firstSolid < 0) firstSolid = offset + static_cast<std::int64_t>(i);
        lastSolid = offset + static_cast<std::int64_t>(i);
      }
    }
    if (survey.hasTitle && !countLines) return true;
    std::int64_t feeds = 0;
    for (; i < n; ++i) feeds += buf[i] == '\n';
    survey.lines += feeds;
    last = buf[n - 1];
    offset += static_cast<std::int64_t>(n);
  }
  if (last != '\n') {
    ++survey.lines;
    if (!survey.hasTitle && firstSolid >= 0) {
      survey.hasTitle = true;
      survey.titleOffset = firstSolid;
      survey.titleLength = lastSolid - firstSolid + 1;
    }
  }
  return true;
}

// The parts of one source: part k of day.txt is day<k>.txt beside it.
class PartWriter {
 public:
  PartWriter(const std::string& source, const SourceIds& ids, RunState& run)
      : source_(source),
        stem_(ChangeExtension(source, "")),
        ids_(ids),
        run_(run),
        buf_(std::make_unique<char[]>(textio::BlockSize())),
        cap_(textio::BlockSize()) {}
  ~PartWriter() { fd_.Reset(); }
  PartWriter(const PartWriter&) = delete;
  PartWriter& operator=(const PartWriter&) = delete;

  std::string PartPath(std::int64_t k) const { return stem_ + std::to_string(k) + ".txt"; }

  // Closes the current part and creates the next one.
  void Next() {
    if (created_ > 0) Close(false);
    path_ = PartPath(created_ + 1);
    Fd fd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0) textio::Fail("创建", path_, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) textio::Fail("创建", path_, errno);
    if (ids_.Contains(st)) Refuse(source_, CollisionText(source_, path_));
    if (::ftruncate(fd.get(), 0) != 0) textio::Fail("写入", path_, errno);
    fd_ = std::move(fd);
    ++created_;
    run_.OutputBase = path_;
  }

  void Put(const char* data, std::size_t n) {
    if (used_ + n > cap_) Flush();
    if (n >= cap_) {
      textio::WriteAll(fd_.get(), data, n, path_);
    } else {
      std::memcpy(buf_.get() + used_, data, n);
      used_ += n;
    }
  }

  // Closes the last part; with `sync` everything written is on disk first.
  void Close(bool sync) {
    Flush();
    if (sync && ::syncfs(fd_.get()) != 0) textio::Fail("写入", path_, errno);
    fd_.Close(path_);
  }

  // Removes every part written so far (an unfinished source leaves nothing).
  void Discard() {
    fd_.Reset();
    used_ = 0;
    for (std::int64_t k = 1; k <= created_; ++k) ::unlink(PartPath(k).c_str());
    created_ = 0;
  }

 private:
  void Flush() {
    if (used_ > 0) textio::WriteAll(fd_.get(), buf_.get(), used_, path_);
    used_ = 0;
  }

  const std::string& source_;
  const std::string stem_;
  const SourceIds& ids_;
  RunState& run_;
  std::unique_ptr<char[]> buf_;
  const std::size_t cap_;
  std::size_t used_ = 0;
  Fd fd_;
  std::string path_;
  std::int64_t created_ = 0;
};

struct Cutting {
  std::int64_t perPart = 0;    // P; 0 puts everything into part 1
  std::int64_t partLimit = 0;  // N of the even split, 0 for none
  bool repeatTitle = true;
};

// The smallest k such that another source of the run is named like part k, or 0.
std::int64_t FirstSourceLikeAPart(const std::string& source, const RunState& run) {
  const std::string stem = ChangeExtension(source, "");
  std::int64_t first = 0;
  for (const std::string& entry : run.WorkList) {
    const std::string& other = entry;
    if (other.size() <= stem.size() + 4 || !other.starts_with(stem) || !other.ends_with(".txt"))
      continue;
    const std::string digits = other.substr(stem.size(), other.size() - stem.size() - 4);
    if (digits.size() > 18 || digits[0] == '0' ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
      continue;
    const std::int64_t k = std::stoll(digits);
    if (first == 0 || k < first) first = k;
  }
  return first;
}

std::int64_t PartCount(std::int64_t lines, const Cutting& cut) {
  if (cut.perPart <= 0) return 1;
  if (cut.partLimit > 0) return cut.partLimit;
  return lines / cut.perPart + 1;
}

class TitleLine {
 public:
  TitleLine(int fd, const std::string& path, const Survey& survey) : fd_(fd), path_(path) {
    if (!survey.hasTitle) return;
    offset_ = survey.titleOffset;
    length_ = survey.titleLength;
    if (length_ <= kTitleCacheLimit) {
      cached_.resize(static_cast<std::size_t>(length_));
      textio::ReadAt(fd, cached_.data(), cached_.size(), offset_, path);
      length_ = 0;
    }
  }
  // Writes the title and a line end. A very long title is read back from the
  // source instead of being held in memory.
  void WriteTo(PartWriter& out, char* scratch) const {
    out.Put(cached_.data(), cached_.size());
    for (std::int64_t done = 0; done < length_;) {
      const std::size_t n = static_cast<std::size_t>(
          std::min<std::int64_t>(length_ - done, static_cast<std::int64_t>(textio::BlockSize())));
      textio::ReadAt(fd_, scratch, n, offset_ + done, path_);
      out.Put(scratch, n);
      done += static_cast<std::int64_t>(n);
    }
    out.Put("\r\n", 2);
  }

 private:
  int fd_;
  const std::string& path_;
  std::string cached_;
  std::int64_t offset_ = 0;
  std::int64_t length_ = 0;  // bytes still in the file only
};

// The cutting pass. Every line goes out with CR LF; the bytes within a line
// pass unchanged. Answers false when a stop request arrived.
bool CutSource(int fd, const std::string& path, const Cutting& cut, const TitleLine& title,
               PartWriter& out, const RunState& run, char* in, char* scratch) {
  if (::lseek(fd, 0, SEEK_SET) != 0) textio::Fail("读取", path, errno);
  out.Next();
  std::int64_t part = 1, written = 0;
  const auto lineDone = [&] {
    ++written;
    if (written != cut.perPart || (cut.partLimit > 0 && part == cut.partLimit)) return false;
    return true;
  };
  const auto nextPart = [&] {
    out.Next();
    ++part;
    if (cut.repeatTitle) title.WriteTo(out, scratch);
    written = 0;
  };
  bool crCarried = false, lineOpen = false;
  for (bool first = true;; first = false) {
    const std::size_t n = textio::ReadSome(fd, in, textio::BlockSize(), path);
    if (n == 0) break;
    if (!first && run.StopRequested()) return false;
    const char* const end = in + n;
    const char* span = in;  // bytes from here on go out as they are
    for (const char* p = in; p < end;) {
      const char* lf =
          static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (lf == nullptr) break;
      const bool crBefore = lf > in ? lf[-1] == '\r' : crCarried;
      if (!crBefore) {
        out.Put(span, static_cast<std::size_t>(lf - span));
        out.Put("\r", 1);
        span = lf;
      }
      p = lf + 1;
      if (lineDone()) {
        out.Put(span, static_cast<std::size_t>(p - span));
        span = p;
        nextPart();
      }
    }
    out.Put(span, static_cast<std::size_t>(end - span));
    lineOpen = end[-1] != '\n';
    crCarried = end[-1] == '\r';
  }
  if (lineOpen) {
    out.Put("\r\n", 2);
    if (lineDone()) nextPart();
  }
  return true;
}

// A count box: not empty, a whole number, above zero.
std::int64_t ReadCountBox(const std::string& text, const std::string& file) {
  const std::string trimmed = TrimText(text);
  if (trimmed.empty()) Refuse(file, "请填写分割数量，只接受阿拉伯数字！");
  const int value = ParseCount(trimmed, file);
  if (value <= 0)
    Refuse(file, "无法分割“" + DisplayText(file) + "”：分割数量必须大于 0，现在是 " +
                     std::to_string(value) + "。");
  return value;
}

}  // namespace

void SplitTextFiles(RunState& run, const TextSplitOptions& options, const CommonOptions& common,
                    RunReporter& reporter) {
  using Way = TextSplitOptions::Way;
  const std::size_t count = run.WorkList.size();
  textio::ProgressScope progress(reporter, count);
  const SourceIds sources(run);
  const auto in = std::make_unique<char[]>(textio::BlockSize());
  const auto scratch = std::make_unique<char[]>(textio::BlockSize());

  for (std::size_t i = 0; i < count; ++i) {
    const std::string path = run.WorkList[i];
    reporter.Status("正在分割文件： " + DisplayText(FileNamePart(path)));

    Cutting cut;
    cut.repeatTitle = options.repeatTitle;
    std::int64_t partsWanted = 0, chunk = 0;
    switch (options.way) {
      case Way::Parts:
        partsWanted = ReadCountBox(options.partsText, path);
        break;
      case Way::Lines:
        cut.perPart = ReadCountBox(options.linesText, path);
        break;
      case Way::Size:
        chunk = ReadCountBox(options.sizeText, path) * 1000;
        break;
    }

    std::int64_t size = 0;
    Fd src = textio::OpenSource(path, size);
    if (options.way == Way::Size && size / chunk == 0)
      Refuse(path, "无法按大小分割“" + DisplayText(path) + "”：文件只有 " + std::to_string(size) +
                       " 字节，不足每份的 " + std::to_string(chunk) + " 字节。");

    // Lines are cut at byte 0x0A, which would tear apart text in two-byte units.
    char head[2] = {};
    if (size >= 2) textio::ReadAt(src.get(), head, 2, 0, path);
    if ((head[0] == '\xFF' && head[1] == '\xFE') || (head[0] == '\xFE' && head[1] == '\xFF'))
      Refuse(path, "无法分割“" + DisplayText(path) +
                       "”：它是 UTF-16（Unicode）编码的文本，按行分割会损坏内容。请先将它另存为 "
                       "UTF-8 或 ANSI 编码。");

    // Two sources with the same name but for the extension would write the same parts.
    for (std::size_t j = 0; j < count; ++j) {
      const std::string other = run.WorkList[j];
      if (j != i && other != path && ChangeExtension(other, "") == ChangeExtension(path, ""))
        Refuse(path, "无法分割“" + DisplayText(path) + "”：它和“" +
                         DisplayText(FileNamePart(other)) + "”分割出的文件同名（" +
                         DisplayText(FileNamePart(ChangeExtension(path, "1.txt"))) +
                         "…），会互相覆盖。请先将其中一个改名。");
    }

    // Lines are counted when the way needs them, or when another source of the
    // run is named like one of the parts and the number of parts decides.
    const std::int64_t likePart = FirstSourceLikeAPart(path, run);
    Survey survey;
    if (!SurveySource(src.get(), path, options.way != Way::Lines || likePart > 0, run, in.get(),
                      survey)) {
      reporter.Status(textio::kStopText);
      return;
    }
    if (options.way == Way::Parts) {
      cut.perPart = survey.lines / partsWanted;
      cut.partLimit = partsWanted;
    } else if (options.way == Way::Size) {
      cut.perPart = (survey.lines + 1) / (size / chunk);
    }
    if (likePart > 0 && likePart <= PartCount(survey.lines, cut))
      Refuse(path,
             CollisionText(path, ChangeExtension(path, "") + std::to_string(likePart) + ".txt"));

    const TitleLine title(src.get(), path, survey);
    const std::string lastGood = run.OutputBase;
    PartWriter parts(path, sources, run);
    bool done = false;
    try {
      done = CutSource(src.get(), path, cut, title, parts, run, in.get(), scratch.get());
      if (done) parts.Close(common.deleteSources);
    } catch (...) {
      parts.Discard();
      run.OutputBase = lastGood;
      throw;
    }
    if (!done) {
      parts.Discard();
      run.OutputBase = lastGood;
      reporter.Status(textio::kStopText);
      return;
    }
    src.Reset();
    if (FinishEntry(run, common, reporter, static_cast<int>(i))) {
      reporter.Status(textio::kStopText);
      return;
    }
  }
  reporter.Status("合并操作已完成，正在清理内存... ");
  progress.End();
  reporter.Status(std::to_string(count) + " 个文件合并生成新文件：" + DisplayText(run.OutputBase));
}

}  // namespace pw
