// The batch run as the window shows it: the operation works on its own
// thread and every report comes back to the window's thread in order.

#include <unistd.h>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "platform/textcodec.h"

namespace pw {

class UiReporter : public RunReporter {
 public:
  UiReporter(TMainForm* form, std::vector<std::string> sources)
      : form_(form), sources_(std::move(sources)) {}

  void Status(const std::string& text) override {
    post([f = form_, t = QString::fromStdString(text)] { f->setStatus(t); });
  }
  void Counter(int finished) override {
    post([f = form_, finished] { f->counter_->setText(QString::number(finished)); });
  }
  void BeginProgress(int step) override {
    post([f = form_, step] {
      delete f->progress_;
      f->progress_ = new QProgressBar(f->progressPanel_);
      f->progress_->setObjectName("RunProgress");
      f->progress_->setRange(0, 100);
      f->progress_->setValue(0);
      f->progress_->setTextVisible(false);
      f->progress_->setGeometry(2, 5, std::min(165, f->progressPanel_->width() - 4), 14);
      f->progress_->setProperty("step", step);
      f->progress_->show();
    });
  }
  void StepProgress() override {
    post([f = form_] {
      if (f->progress_ != nullptr)
        f->progress_->setValue(
            std::min(100, f->progress_->value() + f->progress_->property("step").toInt()));
    });
  }
  void EndProgress() override {
    post([f = form_] {
      delete f->progress_;
      f->progress_ = nullptr;
    });
  }
  void RemoveRow(int workIndex) override {
    post([f = form_, workIndex] { f->removeRunRow(workIndex); });
  }
  void SourceRemoved(int workIndex, RemoveOutcome outcome) override {
    QString name;
    if (outcome == RemoveOutcome::Replaced && workIndex >= 0 &&
        static_cast<std::size_t>(workIndex) < sources_.size())
      name = QString::fromStdString(DisplayText(sources_[static_cast<std::size_t>(workIndex)]));
    post([f = form_, outcome, name] {
      ++f->removed_[static_cast<int>(outcome)];
      if (!name.isEmpty()) f->replacedSources_.append(name);
    });
  }

 private:
  template <typename F>
  void post(F&& f) {
    QMetaObject::invokeMethod(form_, std::forward<F>(f), Qt::QueuedConnection);
  }
  TMainForm* form_;
  std::vector<std::string> sources_;
};

void TMainForm::removeRunRow(int workIndex) {
  if (workIndex >= 0 && static_cast<std::size_t>(workIndex) < runRecordIds_.size())
    records_.removeById(runRecordIds_[static_cast<std::size_t>(workIndex)]);
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
    ShowMessage(this, MessageKind::Information, QStringLiteral("请先选中需操作的文档，可多选！"));
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
  OutputBase = run.OutputBase;
  counter_->setText(QStringLiteral("0"));
  completedPanel_->show();
  removed_ = {};
  replacedSources_.clear();

  running_ = true;
  setRunControlsEnabled(false);
  setCursor(Qt::BusyCursor);
  const TaskKind kind = chosenKind();
  const ::pw::TaskMode mode = chosenMode();
  const TaskOptions options = CollectOptions();
  if (runThread_.joinable()) runThread_.join();
  runThread_ = std::thread([this, kind, mode, options, run = std::move(run)]() mutable {
    UiReporter reporter(this, run.WorkList);
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
  setStatus(QStringLiteral("正在停止，当前文件处理到安全位置后结束……"));
}

void TMainForm::finishRun(bool failed, bool validation, const QString& message) {
  if (runThread_.joinable()) runThread_.join();
  delete progress_;
  progress_ = nullptr;
  runRecordIds_.clear();
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
  if (trashed > 0) note += QStringLiteral("  %1 个源文件已移到回收站").arg(trashed);
  if (deleted > 0) note += QStringLiteral("  %1 个源文件已删除（无法使用回收站）").arg(deleted);
  const int replaced = removed_[static_cast<int>(RemoveOutcome::Replaced)];
  if (kept > 0) note += QStringLiteral("  %1 个源文件无法删除").arg(kept);
  if (replaced > 0)
    note += QStringLiteral("  %1 个源文件在运行中被替换为其他文件，已保留未删除").arg(replaced);
  if (!note.isEmpty()) setStatus(status_->text() + note);
  if (!replacedSources_.isEmpty() && !failed)
    ShowMessage(this, MessageKind::Information,
                QStringLiteral("以下源文件在运行中被替换为其他文件，已保留未删除：\n") +
                    replacedSources_.join(QLatin1Char('\n')));
  if (failed) {
    if (!validation) setStatus(QStringLiteral("操作失败：") + message);
    ShowMessage(this, validation ? MessageKind::Information : MessageKind::Failure, message);
  }
  const std::string log = ErrorLogFile();
  if (::access(log.c_str(), F_OK) == 0) ShellOpen(log);
}

}  // namespace pw
