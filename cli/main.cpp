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
#include "platform/paths.h"
#include "platform/textcodec.h"

namespace {

std::atomic<bool> stopFlag{false};

void OnInterrupt(int) {
  if (stopFlag.load()) ::_exit(130);
  stopFlag.store(true);
  static const char note[] = "\n正在停止……（再按一次 Ctrl-C 立即退出）\n";
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, note, sizeof note - 1);
}

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

// Progress and outcome on standard error, one line each.
class StderrReporter : public pw::RunReporter {
 public:
  explicit StderrReporter(const pw::RunState& run) : run_(run) {}
  void Status(const std::string& text) override { Print(text); }
  void Counter(int finished) override {
    const std::size_t total = run_.WorkList.size();
    const std::size_t done = static_cast<std::size_t>(finished) + 1;
    Print("已完成 " + std::to_string(done) + "/" + std::to_string(total) + "（" +
          std::to_string(done * 100 / total) + "%）");
  }
  void BeginProgress(int) override {}
  void StepProgress() override {}
  void EndProgress() override {}
  void RemoveRow(int) override {}
  void SourceRemoved(int i, pw::RemoveOutcome outcome) override {
    const std::string name = pw::DisplayText(run_.WorkList[static_cast<std::size_t>(i)]);
    switch (outcome) {
      case pw::RemoveOutcome::Trashed:
        Print("源文件已移到回收站：" + name);
        break;
      case pw::RemoveOutcome::Deleted:
        Print("没有可用的回收站，源文件已直接删除：" + name);
        break;
      case pw::RemoveOutcome::Failed:
        Print("无法删除源文件：" + name);
        break;
      case pw::RemoveOutcome::Replaced:
        Print("警告：源文件在运行中被替换为另一个文件，已保留未删除：" + name);
        break;
    }
  }

 private:
  const pw::RunState& run_;
};

// Says how many records the run could not import and where the log is;
// true when the run wrote the log.
bool ReportImportLog(const std::string& log) {
  std::ifstream in(log, std::ios::binary);
  if (!in) return false;
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  Print("plinthwick-cli: " + pw::cli::ImportLogNote(pw::cli::SummarizeImportLog(text), log));
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  pw::cli::CommandLine cl;
  try {
    cl = pw::cli::ParseCommandLine(argc, argv);
  } catch (const pw::cli::UsageError& e) {
    Print(std::string("plinthwick-cli: ") + e.what());
    Print("用 plinthwick-cli --help 查看用法。");
    return 2;
  }
  if (cl.help) {
    std::fputs(pw::cli::UsageText().c_str(), stdout);
    return 0;
  }
  if (!pw::cli::KindAvailable(cl.kind)) {
    Print("plinthwick-cli: " + pw::KindName(cl.kind) +
          (cl.mode == pw::TaskMode::Merge ? "合并" : "分割") +
          "功能尚未提供（not available yet）。");
    return 1;
  }

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
  StderrReporter reporter(run);
  // The log tells of this run only.
  const std::string log = pw::ErrorLogFile();
  ::unlink(log.c_str());
  int status = 0;
  try {
    pw::RunOperation(cl.kind, cl.mode, run, cl.options, reporter);
  } catch (const pw::RunError& e) {
    Print(std::string("plinthwick-cli: ") + e.what());
    status = 1;
  } catch (const std::exception& e) {
    Print(std::string("plinthwick-cli: ") + e.what());
    status = 1;
  }
  if (status == 0 && run.StopRequested()) status = 130;
  if (ReportImportLog(log) && status == 0) status = 1;
  return status;
}
