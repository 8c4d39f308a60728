#include "cli/plan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "batch/contract.h"
#include "batch/preflight.h"
#include "ops/document/document_common.h"
#include "ops/text/text_scan.h"
#include "platform/errors.h"
#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::cli {

namespace {

// What the text split needs to know of a source, read once.
struct TextSurvey {
  std::int64_t size = 0;
  std::int64_t lines = 0;  // line feeds, and a last line without one
  bool endsInFeed = true;  // the last byte is a line feed, or there is none
  bool utf16 = false;
};

TextSurvey SurveyText(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw RunError(RunError::Kind::Failure, path, FileErrorText("打开", path, errno));
  TextSurvey s;
  std::string head;
  const std::size_t block = 1 << 20;
  const auto buf = std::make_unique<char[]>(block);
  char last = '\n';
  for (;;) {
    const ssize_t n = ::read(fd, buf.get(), block);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int err = errno;
      ::close(fd);
      throw RunError(RunError::Kind::Failure, path, FileErrorText("读取", path, err));
    }
    if (n == 0) break;
    if (head.size() < 64 * 1024)
      head.append(buf.get(),
                  std::min<std::size_t>(static_cast<std::size_t>(n), 64 * 1024 - head.size()));
    s.lines += textscan::CountLineFeeds(buf.get(), buf.get() + n);
    s.size += n;
    last = buf[static_cast<std::size_t>(n) - 1];
  }
  ::close(fd);
  s.endsInFeed = last == '\n';
  if (!s.endsInFeed) ++s.lines;
  s.utf16 = head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF") ||
            textscan::LooksLikeUtf16(head);
  return s;
}

[[noreturn]] void Refuse(const std::string& file, const std::string& message) {
  throw RunError(RunError::Kind::Validation, file, message);
}

int Count(const std::string& text, const std::string& file) {
  const int n = ParseCount(TrimText(text), file);
  if (n <= 0) Refuse(file, Translate("cli", "分割数量必须大于 0"));
  return n;
}

// The parts of a text split: every part holds `perPart` lines of the source
// (all of them when 0) and the last one the rest; parts after the first
// start with the title line when it is repeated.
void PlanTextSplit(const std::string& source, const TextSplitOptions& options, Plan& plan) {
  using Way = TextSplitOptions::Way;
  const TextSurvey s = SurveyText(source);
  if (s.utf16)
    Refuse(source, Arg(Translate("cli", "无法分割“%1”：它是 UTF-16（Unicode）编码的文本"),
                       {DisplayText(source)}));
  std::int64_t perPart = 0, limit = 0;
  switch (options.way) {
    case Way::Parts:
      limit = Count(options.partsText, source);
      perPart = s.lines / limit;
      break;
    case Way::Lines:
      perPart = Count(options.linesText, source);
      break;
    case Way::Size: {
      const std::int64_t chunk = std::int64_t{Count(options.sizeText, source)} * 1000;
      if (s.size / chunk == 0)
        Refuse(source,
               Arg(Translate("cli", "无法按大小分割“%1”：文件只有 %2 字节，不足每份的 %3 字节。"),
                   {DisplayText(source), s.size, chunk}));
      perPart = (s.lines + 1) / (s.size / chunk);
      break;
    }
  }
  const std::int64_t parts = perPart <= 0 ? 1 : limit > 0 ? limit : s.lines / perPart + 1;
  const std::string stem = ChangeExtension(source, "");
  for (std::int64_t k = 1; k <= parts; ++k) {
    PlannedOutput out;
    out.path = stem + std::to_string(k) + ".txt";
    out.lines = k < parts ? perPart : s.lines - perPart * (parts - 1);
    if (k > 1 && options.repeatTitle) ++out.lines;
    plan.outputs.push_back(out);
  }
}

// "<source without extension>_N<extension>", the parts of a workbook or a database.
PlannedOutput PartPattern(const std::string& source, const std::string& ext) {
  PlannedOutput out;
  out.path = ChangeExtension(source, "_N" + ext);
  out.exact = false;
  return out;
}

std::string Extension(const std::string& path) {
  const std::string name = FileNamePart(path);
  const std::size_t dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
  if (text.size() <= tail.size()) return false;
  return std::equal(tail.rbegin(), tail.rend(), text.rbegin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

}  // namespace

Plan PlanRun(const CommandLine& cl, RunState& run) {
  CheckBeforeRun(cl.kind, cl.mode, run);
  Plan plan;
  if (cl.options.common.deleteSources)
    plan.notes.push_back(
        Arg(Translate("cli", "整个运行完成后，%1 个源文件将移到回收站。"), {run.WorkList.size()}));
  const TaskOptions& o = cl.options;
  if (cl.mode == TaskMode::Merge) {
    PlannedOutput out;
    switch (cl.kind) {
      case TaskKind::Text: {
        out.path = ChangeExtension(run.OutputBase, ".txt");
        RefuseOutputOverSource(out.path, run);
        // Byte for byte, one source after another.
        out.bytes = 0;
        std::int64_t feeds = 0;
        bool endsInFeed = true;
        for (const std::string& source : run.WorkList) {
          const TextSurvey s = SurveyText(source);
          out.bytes += s.size;
          if (s.size == 0) continue;
          feeds += s.endsInFeed ? s.lines : s.lines - 1;
          endsInFeed = s.endsInFeed;
        }
        out.lines = feeds + (endsInFeed ? 0 : 1);
        break;
      }
      case TaskKind::Document:
        out.path = document::DocumentPath(run.OutputBase);
        plan.notes.push_back(Translate("cli", "页数要由文字处理引擎排版后才知道。"));
        break;
      case TaskKind::Workbook:
        out.path = EndsWithNoCase(run.OutputBase, ".xlsx") || EndsWithNoCase(run.OutputBase, ".xls")
                       ? run.OutputBase
                       : run.OutputBase + ".xlsx";
        plan.notes.push_back(Translate("cli", "工作表和行数要由表格引擎读取各工作簿后才知道。"));
        break;
      case TaskKind::Database:
        out.path = ChangeExtension(run.OutputBase, o.databaseMerge.access2007 ? ".accdb" : ".mdb");
        plan.notes.push_back(Translate("cli", "表和记录数要由数据库引擎读取各数据库后才知道。"));
        break;
      case TaskKind::None:
        break;
    }
    plan.outputs.push_back(out);
    return plan;
  }
  for (const std::string& source : run.WorkList) {
    switch (cl.kind) {
      case TaskKind::Text:
        PlanTextSplit(source, o.textSplit, plan);
        break;
      case TaskKind::Document: {
        PlannedOutput out = PartPattern(
            run.OutputBase.substr(0, run.OutputBase.find_last_of('/') + 1) + FileNamePart(source),
            Extension(source));
        out.path = document::DocumentPath(out.path);
        plan.outputs.push_back(out);
        break;
      }
      case TaskKind::Workbook:
        plan.outputs.push_back(PartPattern(source, Extension(source)));
        break;
      case TaskKind::Database:
        plan.outputs.push_back(PartPattern(source, Extension(source)));
        break;
      case TaskKind::None:
        break;
    }
  }
  switch (cl.kind) {
    case TaskKind::Document:
      plan.notes.push_back(Translate("cli", "份数和每份的页数要由文字处理引擎排版后才知道。"));
      break;
    case TaskKind::Workbook:
      plan.notes.push_back(Translate(
          "cli",
          "份数、每份的行数（以及按工作表分割时 N 处的工作表名）要由表格引擎读取后才知道。"));
      break;
    case TaskKind::Database:
      plan.notes.push_back(Translate(
          "cli", "份数、每份的记录数（以及按表分割时 N 处的表名）要由数据库引擎读取后才知道。"));
      break;
    default:
      break;
  }
  return plan;
}

std::string PlanText(const Plan& plan) {
  std::string text = Translate("cli", "试运行，不写任何文件。将写出：") + "\n";
  for (const PlannedOutput& out : plan.outputs) {
    text += "  " + DisplayText(out.path);
    if (out.lines >= 0) text += "  " + Arg(Translate("cli", "%1 行"), {out.lines});
    if (out.bytes >= 0) text += "  " + Arg(Translate("cli", "%1 字节"), {out.bytes});
    if (!out.exact) text += "  （N = 1, 2, …）";
    text += "\n";
  }
  for (const std::string& note : plan.notes) text += note + "\n";
  return text;
}

}  // namespace pw::cli
