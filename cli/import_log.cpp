#include "cli/import_log.h"

#include "platform/textcodec.h"
#include "platform/translate.h"

namespace pw::cli {

ImportLogSummary SummarizeImportLog(const std::string& text) {
  static const std::string kEntry = "[出错时间]", kMessage = "[错误信息]", kAfter = "此后",
                           kSkipped = "条记录被跳过", kQuery = "[未复制查询]";
  ImportLogSummary summary;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with(kEntry)) {
      ++summary.failed;
    } else if (line.starts_with(kQuery)) {
      ++summary.queriesNotCopied;
    } else if (line.starts_with(kMessage)) {
      // "...第k条记录出错，本表此后N条记录被跳过！"; the parts of a split say
      // "本分割子表此后记录被跳过！" without a number.
      const std::size_t after = line.rfind(kAfter);
      std::size_t digits = after == std::string::npos ? 0 : after + kAfter.size();
      long long count = 0;
      bool counted = after != std::string::npos;
      const std::size_t first = digits;
      while (counted && digits < line.size() && line[digits] >= '0' && line[digits] <= '9')
        count = count * 10 + (line[digits++] - '0');
      counted = counted && digits > first && line.compare(digits, kSkipped.size(), kSkipped) == 0;
      if (counted)
        summary.skippedAfter += count;
      else
        summary.allCounted = false;
    }
  }
  return summary;
}

namespace {
std::string RecordsNote(const ImportLogSummary& summary) {
  const std::string count = std::to_string(summary.failed + summary.skippedAfter);
  if (summary.allCounted) return Arg(Translate("cli", "有 %1 条记录未能导入，"), {count});
  return Arg(
      Translate("cli", "至少有 %1 条记录未能导入（分割出的部分中出错记录之后的记录也被跳过），"),
      {count});
}

}  // namespace

std::string ImportLogNote(const ImportLogSummary& summary, const std::string& logPath) {
  const std::string where = Arg(Translate("cli", "详见错误日志：%1"), {DisplayText(logPath)});
  const std::string queries =
      summary.queriesNotCopied == 0
          ? std::string()
          : Arg(Translate("cli", "有 %1 个查询未能复制，"), {summary.queriesNotCopied});
  if (summary.failed == 0)
    return queries.empty() ? Translate("cli", "导入时有记录出错，") + where : queries + where;
  return queries + RecordsNote(summary) + where;
}

}  // namespace pw::cli
