#include "batch/contract.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/textcodec.h"
#include "platform/translate.h"
#include "platform/trash.h"

namespace pw {

int ProgressStep(std::size_t fileCount) {
  return fileCount == 0 ? 0 : static_cast<int>(100 / fileCount);
}

void ReleaseEntry(RunState& run, const CommonOptions& common, RunReporter& reporter, int i) {
  if (common.removeFinished) reporter.RemoveRow(i);
  if (common.deleteSources) run.PendingRemovals.push_back(i);
}

bool FinishEntry(RunState& run, const CommonOptions& common, RunReporter& reporter, int i) {
  ReleaseEntry(run, common, reporter, i);
  reporter.Counter(i);
  reporter.StepProgress();
  return run.StopRequested();
}

void RemoveFinishedSources(RunState& run, RunReporter& reporter) {
  for (const int i : run.PendingRemovals) {
    const auto entry = static_cast<std::size_t>(i);
    const FileIdentity expected =
        entry < run.SourceIds.size() ? run.SourceIds[entry] : FileIdentity{};
    reporter.SourceRemoved(i, RemoveSourceFile(run.WorkList[entry], expected));
  }
  run.PendingRemovals.clear();
}

namespace {
bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}
}  // namespace

void RefuseOutputOverSource(const std::string& output, const RunState& run) {
  for (const std::string& source : run.WorkList) {
    if (SameFile(source, output))
      throw RunError(RunError::Kind::Validation, output,
                     Arg(Translate("batch",
                                   "新文档“%1”就是待合并的源文件之一，合并会毁掉它。"
                                   "请填写另一个新文档名或选择其他保存目录。"),
                         {DisplayText(output)}));
  }
}

std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ChangeExtension(const std::string& path, const std::string& ext) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot < nameStart) return path + ext;
  return path.substr(0, dot) + ext;
}

std::string TrimText(const std::string& text) {
  std::size_t b = 0, e = text.size();
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (b < e && blank(text[b])) ++b;
  while (e > b && blank(text[e - 1])) --e;
  return text.substr(b, e - b);
}

int ParseCount(const std::string& text, const std::string& file) {
  const std::string t = TrimText(text);
  errno = 0;
  char* end = nullptr;
  const long long value = t.empty() ? 0 : std::strtoll(t.c_str(), &end, 10);
  if (t.empty() || end == nullptr || *end != '\0' || errno == ERANGE || value < INT_MIN ||
      value > INT_MAX)
    throw RunError(
        RunError::Kind::Validation, file,
        Arg(Translate("batch", "“%1”不是有效的数字，只接受阿拉伯数字！"), {DisplayText(t)}));
  return static_cast<int>(value);
}

}  // namespace pw
