#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "batch/contract.h"
#include "ops/text/text_io.h"
#include "ops/text/text_ops.h"
#include "ops/text/text_scan.h"
#include "platform/output_file.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw {

namespace {

using textio::Fd;

constexpr std::int64_t kTitleCacheLimit = 64 * 1024;
// The head of a source read for its encoding.
constexpr std::int64_t kSniffBytes = 64 * 1024;

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
  return Arg(Translate("ops",
                       "无法分割“%1”：分割出的文件“%2”是本次待处理的源文件之一，写入会覆盖它。"
                       "请先将该文件改名或移到别处。"),
             {DisplayText(source), DisplayText(FileNamePart(part))});
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
    survey.lines += textscan::CountLineFeeds(buf + i, buf + n);
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

// Parts held under their hidden names before they are saved together; past
// this many they are saved while the source is still being cut.
constexpr std::size_t kPartsPerSave = 4096;
// Bytes of a part written between two nudges of the disk's writeback.
constexpr std::int64_t kWritebackStep = 8 << 20;

// The parts of one source: part k of day.txt is day<k>.txt beside it. Each
// part is written under a hidden name; the parts take their names together
// when the source is done, so that a stop, a failure or a kill leaves none of
// them under a final name.
class PartWriter {
 public:
  PartWriter(const std::string& source, const SourceIds& ids, RunState& run)
      : source_(source),
        stem_(ChangeExtension(source, "")),
        ids_(ids),
        run_(run),
        buf_(std::make_unique<char[]>(2 * textio::BlockSize())),
        cap_(2 * textio::BlockSize()) {}
  PartWriter(const PartWriter&) = delete;
  PartWriter& operator=(const PartWriter&) = delete;

  std::string PartPath(std::int64_t k) const { return stem_ + std::to_string(k) + ".txt"; }

  // Ends the current part and begins the next one.
  void Next() {
    if (created_ > 0) EndPart();
    if (pending_.size() >= kPartsPerSave) Save();
    const std::string path = PartPath(created_ + 1);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
      if (ids_.Contains(st)) Refuse(source_, CollisionText(source_, path));
      if (S_ISDIR(st.st_mode)) textio::Fail("创建", path, EISDIR);
    }
    PendingOutput& part = pending_.emplace_back(path);
    fd_ = textio::CreateOutput(part.tempPath(), path);
    ++created_;
    partBytes_ = flushed_ = 0;
    run_.OutputBase = path;
  }

  void Put(const char* data, std::size_t n) {
    if (used_ + n > cap_) Flush();
    if (n >= cap_) {
      Write(data, n);
    } else {
      std::memcpy(buf_.get() + used_, data, n);
      used_ += n;
    }
  }

  // Room for `n` bytes (at most twice the block size) at the end of the buffer.
  char* Room(std::size_t n) {
    if (used_ + n > cap_) Flush();
    return buf_.get() + used_;
  }
  // The buffer now ends at `end`, inside the room asked for.
  void Grow(const char* end) { used_ = static_cast<std::size_t>(end - buf_.get()); }
  // A run of the source that goes out as it is.
  void PutRun(const char* data, std::size_t n) {
    if (n >= textio::BlockSize()) {
      Flush();
      Write(data, n);
    } else {
      Put(data, n);
    }
  }

  // The last part is done: every part takes its name.
  void Finish() {
    EndPart();
    Save();
  }

  // Removes every part written so far (an unfinished source leaves nothing).
  void Discard() {
    fd_.Reset();
    used_ = 0;
    pending_.clear();
    for (std::int64_t k = 1; k <= saved_; ++k) ::unlink(PartPath(k).c_str());
    saved_ = created_ = 0;
  }

 private:
  void Write(const char* data, std::size_t n) {
    textio::WriteAll(fd_.get(), data, n, run_.OutputBase);
    partBytes_ += static_cast<std::int64_t>(n);
    if (partBytes_ - flushed_ < kWritebackStep) return;
    textio::StartWriteback(fd_.get(), flushed_, partBytes_);
    flushed_ = partBytes_;
  }

  void Flush() {
    if (used_ > 0) Write(buf_.get(), used_);
    used_ = 0;
  }

  void EndPart() {
    Flush();
    textio::StartWriteback(fd_.get(), flushed_, partBytes_);
    fd_.Close(run_.OutputBase);
  }

  // The parts written so far take their names. One flush of the file system
  // puts all their bytes on the disk first: a flush per part would cost more
  // than the cutting when the parts are small.
  void Save() {
    if (pending_.empty()) return;
    const std::size_t count = pending_.size();
    try {
      CommitTogether(pending_);
    } catch (...) {
      for (const PendingOutput& part : pending_) saved_ += part.committed() ? 1 : 0;
      pending_.clear();
      throw;
    }
    saved_ += static_cast<std::int64_t>(count);
    pending_.clear();
  }

  const std::string& source_;
  const std::string stem_;
  const SourceIds& ids_;
  RunState& run_;
  std::unique_ptr<char[]> buf_;
  const std::size_t cap_;
  std::size_t used_ = 0;
  Fd fd_;
  std::vector<PendingOutput> pending_;  // written parts not yet under their names
  std::int64_t created_ = 0;            // parts begun
  std::int64_t saved_ = 0;              // parts under their names
  std::int64_t partBytes_ = 0;          // written to the current part
  std::int64_t flushed_ = 0;            // of those, handed to the disk's writeback
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
// pass unchanged. Runs of lines that already end with CR LF are written as
// they are read; lines that end with a bare LF are copied with a CR added.
// Answers false when a stop request arrived.
bool CutSource(int fd, const std::string& path, const Cutting& cut, const TitleLine& title,
               PartWriter& out, const RunState& run, char* in, char* scratch) {
  if (::lseek(fd, 0, SEEK_SET) != 0) textio::Fail("读取", path, errno);
  constexpr std::int64_t kNoCut = INT64_MAX;
  out.Next();
  std::int64_t part = 1;
  // Lines still to go into the current part before it is cut.
  const auto linesLeft = [&] {
    return cut.perPart <= 0 || (cut.partLimit > 0 && part == cut.partLimit) ? kNoCut : cut.perPart;
  };
  std::int64_t left = linesLeft();
  const auto nextPart = [&] {
    out.Next();
    ++part;
    if (cut.repeatTitle) title.WriteTo(out, scratch);
    left = linesLeft();
  };
  char before = '\n';   // the byte before the block
  bool addsCr = false;  // the last run needed CRs: try copying first
  for (bool first = true;; first = false) {
    const std::size_t n = textio::ReadSome(fd, in, textio::BlockSize(), path);
    if (n == 0) break;
    if (!first && run.StopRequested()) return false;
    const char* const end = in + n;
    for (const char* p = in; p < end;) {
      textscan::Run lines{};
      if (!addsCr) {
        lines = textscan::ScanLines(p, end, before, left);
        if (!lines.bare) out.PutRun(p, static_cast<std::size_t>(lines.end - p));
      }
      if (addsCr || lines.bare) {
        char* o = out.Room(2 * static_cast<std::size_t>(end - p));
        lines = textscan::CopyLinesWithCr(p, end, before, left, o);
        out.Grow(o);
        addsCr = lines.bare;
      }
      before = lines.end[-1];
      p = lines.end;
      if (left != kNoCut) left -= lines.lines;
      if (left == 0) nextPart();
    }
  }
  // A last line without a line end gets one, and counts as a line.
  if (before != '\n') {
    out.Put("\r\n", 2);
    if (left != kNoCut && --left == 0) nextPart();
  }
  return true;
}

// A count box: not empty, a whole number, above zero.
std::int64_t ReadCountBox(const std::string& text, const std::string& file) {
  const std::string trimmed = TrimText(text);
  if (trimmed.empty()) Refuse(file, Translate("ops", "请填写分割数量，只接受阿拉伯数字！"));
  const int value = ParseCount(trimmed, file);
  if (value <= 0)
    Refuse(file, Arg(Translate("ops", "无法分割“%1”：分割数量必须大于 0，现在是 %2。"),
                     {DisplayText(file), value}));
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
    reporter.Status(Translate("ops", "正在分割文件： ") + DisplayText(FileNamePart(path)));

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
      Refuse(path,
             Arg(Translate("ops", "无法按大小分割“%1”：文件只有 %2 字节，不足每份的 %3 字节。"),
                 {DisplayText(path), size, chunk}));

    // Lines are cut at byte 0x0A, which would tear apart text in two-byte units.
    std::string head(static_cast<std::size_t>(std::min(size, kSniffBytes)), '\0');
    textio::ReadAt(src.get(), head.data(), head.size(), 0, path);
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF"))
      Refuse(path, Arg(Translate("ops",
                                 "无法分割“%1”：它是 UTF-16（Unicode）编码的文本，"
                                 "按行分割会损坏内容。请先将它另存为 UTF-8 或 ANSI 编码。"),
                       {DisplayText(path)}));
    if (textscan::LooksLikeUtf16(head))
      Refuse(path, Arg(Translate("ops",
                                 "无法分割“%1”：它看来是不带字节顺序标记的 UTF-16（Unicode）"
                                 "编码文本，按行分割会损坏内容。请先将它另存为 UTF-8 或 ANSI "
                                 "编码。"),
                       {DisplayText(path)}));

    // Two sources with the same name but for the extension would write the same parts.
    for (std::size_t j = 0; j < count; ++j) {
      const std::string other = run.WorkList[j];
      if (j != i && other != path && ChangeExtension(other, "") == ChangeExtension(path, ""))
        Refuse(path, Arg(Translate("ops",
                                   "无法分割“%1”：它和“%2”分割出的文件同名（%3…），会互相覆盖。"
                                   "请先将其中一个改名。"),
                         {DisplayText(path), DisplayText(FileNamePart(other)),
                          DisplayText(FileNamePart(ChangeExtension(path, "1.txt")))}));
    }

    // Lines are counted when the way needs them, or when another source of the
    // run is named like one of the parts and the number of parts decides.
    const std::int64_t likePart = FirstSourceLikeAPart(path, run);
    Survey survey;
    if (!SurveySource(src.get(), path, options.way != Way::Lines || likePart > 0, run, in.get(),
                      survey)) {
      reporter.Status(textio::StopText());
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
      if (done) parts.Finish();
    } catch (...) {
      parts.Discard();
      run.OutputBase = lastGood;
      throw;
    }
    if (!done) {
      parts.Discard();
      run.OutputBase = lastGood;
      reporter.Status(textio::StopTextUndoing(path));
      return;
    }
    src.Reset();
    if (FinishEntry(run, common, reporter, static_cast<int>(i))) {
      reporter.Status(textio::StopText());
      return;
    }
  }
  reporter.Status(Translate("ops", "合并操作已完成，正在清理内存... "));
  progress.End();
  reporter.Status(Arg(Translate("ops", "%1 个文件已被分割，并生成了新文件！"), {count}));
}

}  // namespace pw
