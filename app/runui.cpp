// The batch run as the window shows it: the operation works on its own
// thread; its reports pile up in the run feed and the window shows them
// together every 50 ms.

#include <unistd.h>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/textcodec.h"

namespace pw {

// Records the operation's reports in the window's feed; the window shows them
// on its own timer (applyRunReports).
class UiReporter : public RunReporter {
 public:
  explicit UiReporter(RunFeed& feed) : feed_(feed) {}

  void Status(const std::string& text) override {
    feed_.update([&](RunReports& r) {
      r.status = text;
      r.statusChanged = true;
    });
  }
  void Counter(int finished) override {
    feed_.update([&](RunReports& r) { r.counter = finished; });
  }
  void BeginProgress(int step) override {
    feed_.update([&](RunReports& r) {
      r.bar = 1;
      r.step = step;
      r.filesDone = 0;
      r.fileDone = r.fileTotal = 0;
    });
  }
  void StepProgress() override {
    feed_.update([&](RunReports& r) {
      ++r.filesDone;
      r.fileDone = r.fileTotal = 0;
    });
  }
  void FileProgress(std::int64_t done, std::int64_t total) override {
    feed_.update([&](RunReports& r) {
      r.fileDone = done;
      r.fileTotal = total;
    });
  }
  void EndProgress() override {
    feed_.update([&](RunReports& r) { r.bar = 2; });
  }
  void RemoveRow(int workIndex) override {
    feed_.update([&](RunReports& r) { r.finishedEntries.push_back(workIndex); });
  }
  void SourceRemoved(int workIndex, RemoveOutcome outcome) override {
    feed_.update([&](RunReports& r) { r.sourceOutcomes.emplace_back(workIndex, outcome); });
  }

 private:
  RunFeed& feed_;
};

void TMainForm::applyRunReports(bool closing) {
  RunReports r = runFeed_.take();
  // Once a stop is asked for, the stop notice stays until the operation's
  // own last word.
  if (r.statusChanged) heldStatus_ = QString::fromStdString(r.status);
  if (!heldStatus_.isNull() && (closing || !StopFlag)) {
    setStatus(heldStatus_);
    heldStatus_ = QString();
  }
  if (r.counter >= 0) counter_->setText(QString::number(r.counter));
  if (r.bar == 1 && progress_ == nullptr) {
    progress_ = new QProgressBar(progressPanel_);
    progress_->setObjectName("RunProgress");
    progress_->setRange(0, 100);
    progress_->setTextVisible(false);
    progress_->setGeometry(2, 5, std::min(165, progressPanel_->width() - 4), 14);
    progress_->show();
  }
  if (r.bar == 2 && progress_ != nullptr) {
    delete progress_;
    progress_ = nullptr;
  }
  if (progress_ != nullptr)
    progress_->setValue(ProgressValue(r.filesDone, static_cast<int>(runRecordIds_.size()), r.step,
                                      r.fileDone, r.fileTotal));
  std::vector<std::uint64_t> ids;
  ids.reserve(r.finishedEntries.size());
  for (const int i : r.finishedEntries)
    if (i >= 0 && static_cast<std::size_t>(i) < runRecordIds_.size())
      ids.push_back(runRecordIds_[static_cast<std::size_t>(i)]);
  records_.removeIds(ids);
  for (const auto& [i, outcome] : r.sourceOutcomes) {
    ++removed_[static_cast<int>(outcome)];
    if (outcome == RemoveOutcome::Replaced && i >= 0 &&
        static_cast<std::size_t>(i) < runSources_.size())
      replacedSources_.append(
          QString::fromStdString(DisplayText(runSources_[static_cast<std::size_t>(i)])));
  }
}

void TMainForm::setRunControlsEnabled(bool enabled) {
  for (QWidget* w : disabledDuringRun_) w->setEnabled(enabled);
  list_->setContextMenuPolicy(enabled ? Qt::CustomContextMenu : Qt::NoContextMenu);
  stopButton_->setVisible(!enabled);
  stopButton_->setEnabled(!enabled);
}

void TMainForm::Image11Click() {
  if (running_) return;
  const QList<int> rows = list_->selectedRowsInOrder();
  if (rows.isEmpty()) {
    ShowMessage(this, MessageKind::Information, tr("请先选中需操作的文档，可多选！"));
    return;
  }
  if (StopFlag) return;
  StopFlag = false;
  ::unlink(ErrorLogFile().c_str());

  std::vector<ChosenFile> chosen;
  runRecordIds_.clear();
  for (int row : rows) {
    const FileRecord& r = records_.record(row);
    chosen.push_back({r.FullPath, row});
    runRecordIds_.push_back(r.Id);
  }
  RunState run = BuildRunState(chosen, edit("Edit3")->text().toStdString(), OutputFolder);
  run.StopFlag = &StopFlag;
  runSources_ = run.WorkList;
  runFeed_.update([](RunReports& r) { r = RunReports{}; });
  OutputBase = run.OutputBase;
  counter_->setText(QStringLiteral("0"));
  completedPanel_->show();
  removed_ = {};
  replacedSources_.clear();

  runKind_ = chosenKind();
  runMode_ = chosenMode();
  running_ = true;
  runTimer_->start();
  setRunControlsEnabled(false);
  setCursor(Qt::BusyCursor);
  const TaskKind kind = chosenKind();
  const ::pw::TaskMode mode = chosenMode();
  const TaskOptions options = CollectOptions();
  if (runThread_.joinable()) runThread_.join();
  runThread_ = std::thread([this, kind, mode, options, run = std::move(run)]() mutable {
    UiReporter reporter(runFeed_);
    bool failed = false, validation = false;
    QString message;
    try {
      RunOperation(kind, mode, run, options, reporter);
    } catch (const RunError& e) {
      failed = true;
      validation = e.kind() == RunError::Kind::Validation;
      message = QString::fromStdString(e.what());
    } catch (const std::exception& e) {
      failed = true;
      message = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(
        this,
        [this, failed, validation, message, base = run.OutputBase] {
          OutputBase = base;
          finishRun(failed, validation, message);
        },
        Qt::QueuedConnection);
  });
}

void TMainForm::StopClick() {
  if (!running_) return;
  StopFlag = true;
  stopButton_->setEnabled(false);
  setStatus(tr("正在停止，当前文件处理到安全位置后结束……"));
}

void TMainForm::finishRun(bool failed, bool validation, const QString& message) {
  if (runThread_.joinable()) runThread_.join();
  runTimer_->stop();
  applyRunReports(true);
  if (failed && validation) setStatus(message);  // why the run was refused, not the file it was at
  delete progress_;
  progress_ = nullptr;
  runRecordIds_.clear();
  runSources_.clear();
  completedPanel_->hide();
  unsetCursor();
  running_ = false;
  StopFlag = false;
  setRunControlsEnabled(true);
  list_->viewport()->update();
  const int trashed = removed_[static_cast<int>(RemoveOutcome::Trashed)];
  const int deleted = removed_[static_cast<int>(RemoveOutcome::Deleted)];
  const int kept = removed_[static_cast<int>(RemoveOutcome::Failed)];
  QString note;
  if (trashed > 0) note += tr("  %1 个源文件已移到回收站").arg(trashed);
  if (deleted > 0) note += tr("  %1 个源文件已删除（无法使用回收站）").arg(deleted);
  const int replaced = removed_[static_cast<int>(RemoveOutcome::Replaced)];
  if (kept > 0) note += tr("  %1 个源文件无法删除").arg(kept);
  if (replaced > 0) note += tr("  %1 个源文件在运行中被替换为其他文件，已保留未删除").arg(replaced);
  if (!note.isEmpty()) setStatus(status_->text() + note);
  if (!replacedSources_.isEmpty() && !failed)
    ShowMessage(this, MessageKind::Information,
                tr("以下源文件在运行中被替换为其他文件，已保留未删除：\n") +
                    replacedSources_.join(QLatin1Char('\n')));
  if (failed) {
    if (!validation) setStatus(tr("操作失败：") + message);
    ShowMessage(this, validation ? MessageKind::Information : MessageKind::Failure, message);
  }
  const std::string log = ErrorLogFile();
  if (::access(log.c_str(), F_OK) == 0) ShellOpen(log);
}

}  // namespace pw
