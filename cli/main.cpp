// plinthwick-cli: the batch operations without a window.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "batch/contract.h"
#include "batch/runner.h"
#include "cli/import_log.h"
#include "cli/options.h"
#include "cli/plan.h"
#include "cli/report.h"
#include "platform/paths.h"
#include "platform/textcodec.h"
#include "platform/translate.h"
#include "translations/language.h"

namespace {

std::atomic<bool> stopFlag{false};
// Written by the signal handler: made in the chosen language before it is installed.
std::string stopNote;

void OnInterrupt(int) {
  if (stopFlag.load()) ::_exit(130);
  stopFlag.store(true);
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, stopNote.data(), stopNote.size());
}

// Says how many records the run could not import and where the log is;
// true when the run wrote the log.
bool ReportImportLog(const std::string& log, pw::cli::CliReporter& reporter,
                     pw::cli::RunSummary& summary) {
  std::ifstream in(log, std::ios::binary);
  if (!in) return false;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const pw::cli::ImportLogSummary counted = pw::cli::SummarizeImportLog(text);
  reporter.Message("plinthwick-cli: " + pw::cli::ImportLogNote(counted, log));
  summary.failedRecords = counted.failed;
  summary.skippedRecords = counted.skippedAfter;
  summary.queriesNotCopied = counted.queriesNotCopied;
  summary.errorLog = log;
  return true;
}

const char* KindWord(pw::TaskKind kind) {
  switch (kind) {
    case pw::TaskKind::Document:
      return "doc";
    case pw::TaskKind::Workbook:
      return "xls";
    case pw::TaskKind::Database:
      return "mdb";
    case pw::TaskKind::Text:
      return "txt";
    case pw::TaskKind::None:
      break;
  }
  return "";
}

}  // namespace

int main(int argc, char* argv[]) {
  using pw::cli::PrintLine;
  pw::UseLanguage(pw::LanguageFromEnvironment());
  pw::cli::CommandLine cl;
  try {
    cl = pw::cli::ParseCommandLine(argc, argv);
  } catch (const pw::cli::UsageError& e) {
    PrintLine(std::string("plinthwick-cli: ") + e.what());
    PrintLine(pw::Translate("cli", "用 plinthwick-cli --help 查看用法。"));
    return 2;
  }
  if (cl.help) {
    std::fputs(pw::cli::UsageText().c_str(), stdout);
    return 0;
  }
  if (!pw::cli::KindAvailable(cl.kind)) {
    PrintLine("plinthwick-cli: " +
              pw::Arg(cl.mode == pw::TaskMode::Merge
                          ? pw::Translate("cli", "%1合并功能尚未提供（not available yet）。")
                          : pw::Translate("cli", "%1分割功能尚未提供（not available yet）。"),
                      {pw::KindName(cl.kind)}));
    return 1;
  }

  stopNote = "\n" + pw::Translate("cli", "正在停止……（再按一次 Ctrl-C 立即退出）") + "\n";
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  std::vector<pw::ChosenFile> chosen;
  for (std::size_t i = 0; i < cl.files.size(); ++i)
    chosen.push_back({cl.files[i], static_cast<int>(i)});
  pw::RunState run = pw::BuildRunState(chosen, cl.newDocumentName, cl.outputFolder);
  run.StopFlag = &stopFlag;
  pw::cli::CliReporter reporter(run, pw::cli::StyleForStderr(cl.quiet));
  pw::cli::RunSummary summary;
  summary.mode = cl.mode == pw::TaskMode::Merge ? "merge" : "split";
  summary.kind = KindWord(cl.kind);
  summary.files = run.WorkList.size();
  summary.dryRun = cl.dryRun;
  const auto fail = [&](const std::string& file, const std::string& message) {
    reporter.Message("plinthwick-cli: " + message);
    summary.errors.emplace_back(file, message);
    return 1;
  };
  int status = 0;

  if (cl.dryRun) {
    try {
      const pw::cli::Plan plan = pw::cli::PlanRun(cl, run);
      summary.planned = plan.outputs;
      summary.notes = plan.notes;
      if (!cl.json) std::fputs(pw::cli::PlanText(plan).c_str(), stdout);
    } catch (const pw::RunError& e) {
      status = fail(e.file(), e.what());
    } catch (const std::exception& e) {
      status = fail({}, e.what());
    }
    summary.status = status;
    if (cl.json) std::fputs(pw::cli::SummaryJson(summary).c_str(), stdout);
    return status;
  }

  // The log tells of this run only.
  const std::string log = pw::ErrorLogFile();
  ::unlink(log.c_str());
  const std::vector<std::string> folders = pw::cli::OutputFolders(cl);
  const pw::cli::FolderSnapshot before(cl.json ? folders : std::vector<std::string>{});
  try {
    pw::RunOperation(cl.kind, cl.mode, run, cl.options, reporter);
  } catch (const pw::RunError& e) {
    status = fail(e.file(), e.what());
  } catch (const std::exception& e) {
    status = fail({}, e.what());
  }
  reporter.Finish(status == 0);
  if (status == 0 && run.StopRequested()) status = 130;
  if (ReportImportLog(log, reporter, summary) && status == 0) status = 1;
  if (cl.json) {
    summary.status = status;
    summary.stopped = run.StopRequested();
    summary.finished = reporter.finished();
    summary.removals = reporter.removals();
    summary.outputs = pw::cli::FolderSnapshot(folders).WrittenSince(before, log);
    std::fputs(pw::cli::SummaryJson(summary).c_str(), stdout);
  }
  return status;
}
