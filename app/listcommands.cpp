// Opening a folder, and the commands that order, select and drop rows.

#include <sys/stat.h>
#include <QByteArray>
#include <QCheckBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMetaObject>

#include <chrono>
#include <string_view>
#include <unordered_set>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "batch/contract.h"
#include "filelist/scan.h"
#include "platform/settings.h"
#include "platform/textcodec.h"

namespace pw {
namespace {

QString Shown(const std::string& bytes) {
  return QString::fromStdString(DisplayText(bytes));
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void TMainForm::Image9Click() {
  if (running_) return;
  completedPanel_->hide();
  if (TaskKindName.trimmed().isEmpty() || TaskMode.trimmed().isEmpty()) {
    ShowMessage(this, MessageKind::Information,
                tr("请您先从左侧选择操作任务，然后我再把合适类型的文件列表出来！"));
    return;
  }
  setStatus(tr("  正在准备文件请稍候......"));
  status_->repaint();
  if (!IsFolder(SourceFolder)) SourceFolder.clear();
  const std::string chosen = ChooseFolder(this, tr("请选择文档所在目录"), SourceFolder);
  if (!chosen.empty()) {
    SourceFolder = chosen;
    rememberFolder("LastFolder", SourceFolder);
  }
  if (!TrimText(SourceFolder).empty()) {
    pathLabel_->setText(tr("  当前路径：") + Shown(SourceFolder));
    OutputFolder = SourceFolder;
  }
  stopScan();
  records_.clear();
  startScan();
}

void TMainForm::startScan() {
  if (TrimText(SourceFolder).empty()) {
    finishScan(++scanGeneration_, 0, true);
    return;
  }
  startScan({SourceFolder}, {});
}

// Files and folders dropped on the list join it: folders are read as "打开"
// reads one, files are taken when they have the task's extension; a file
// already listed is not listed twice.
void TMainForm::addDropped(const std::vector<std::string>& paths) {
  if (running_ || scanning_ || chosenKind() == TaskKind::None ||
      chosenMode() == ::pw::TaskMode::None)
    return;
  std::vector<std::string> folders, files;
  for (const std::string& p : paths) {
    if (IsFolder(p))
      folders.push_back(p);
    else if (ExtensionMatches(FileNamePart(p), TaskExtensions.toStdString()))
      files.push_back(p);
  }
  if (folders.empty() && files.empty()) return;
  completedPanel_->hide();
  setStatus(tr("  正在准备文件请稍候......"));
  if (!folders.empty()) {
    SourceFolder = folders.front();
    rememberFolder("LastFolder", SourceFolder);
    OutputFolder = SourceFolder;
    pathLabel_->setText(tr("  当前路径：") + Shown(SourceFolder));
  }
  startScan(folders, files);
}

void TMainForm::startScan(const std::vector<std::string>& folders,
                          const std::vector<std::string>& files) {
  if (scanThread_.joinable()) scanThread_.join();
  const std::uint64_t generation = ++scanGeneration_;
  scanning_ = true;
  scanCancel_ = std::make_shared<std::atomic<bool>>(false);
  ScanOptions options;
  options.extensions = TaskExtensions.toStdString();
  options.recursive = check("CheckBox2")->isChecked();
  std::unordered_set<std::string> listed;
  for (const FileRecord& r : records_.records()) listed.insert(r.FullPath);
  auto cancel = scanCancel_;
  scanThread_ = std::thread([this, generation, options, folders, files, cancel,
                             listed = std::move(listed)]() mutable {
    std::vector<FileRecord> batch;
    auto last = std::chrono::steady_clock::now();
    auto flush = [&] {
      if (batch.empty()) return;
      QMetaObject::invokeMethod(
          this,
          [this, generation, rows = std::move(batch)]() mutable {
            if (generation == scanGeneration_) records_.append(std::move(rows));
          },
          Qt::QueuedConnection);
      batch.clear();
      last = std::chrono::steady_clock::now();
    };
    auto found = [&](FileRecord&& record) {
      if (!listed.insert(record.FullPath).second) return;
      batch.push_back(std::move(record));
      if (batch.size() >= 500 ||
          std::chrono::steady_clock::now() - last > std::chrono::milliseconds(100))
        flush();
    };
    for (const std::string& file : files) {
      const std::size_t slash = file.find_last_of('/');
      found(
          MakeRecord(slash == std::string::npos ? "." : file.substr(0, slash), FileNamePart(file)));
    }
    ScanResult result;
    result.ok = true;
    for (const std::string& folder : folders) {
      const ScanResult one = ScanFolder(folder, options, found, cancel.get());
      result.ok = result.ok && one.ok;
      result.unreadableFolders += one.unreadableFolders;
    }
    flush();
    if (cancel->load()) return;
    QMetaObject::invokeMethod(
        this,
        [this, generation, result] { finishScan(generation, result.unreadableFolders, result.ok); },
        Qt::QueuedConnection);
  });
}

void TMainForm::finishScan(std::uint64_t generation, int unreadable, bool ok) {
  if (generation != scanGeneration_) return;
  scanning_ = false;
  if (scanThread_.joinable()) scanThread_.join();
  QString text = tr("  文件准备完毕，等候后续操作！");
  if (!ok && !TrimText(SourceFolder).empty())
    text = tr("  无法读取文件夹“%1”").arg(Shown(SourceFolder));
  else if (unreadable > 0)
    text += tr("（%1 个子文件夹无法读取，已跳过）").arg(unreadable);
  setStatus(text);
}

// F5: the folder shown is read again, without the folder dialog.
void TMainForm::rescan() {
  if (running_ || TrimText(SourceFolder).empty() || chosenKind() == TaskKind::None ||
      chosenMode() == ::pw::TaskMode::None)
    return;
  completedPanel_->hide();
  setStatus(tr("  正在准备文件请稍候......"));
  stopScan();
  records_.clear();
  startScan();
}

void TMainForm::stopScan() {
  ++scanGeneration_;
  if (scanCancel_) scanCancel_->store(true);
  if (scanThread_.joinable()) scanThread_.join();
  scanning_ = false;
}

// The window's own keys live in a section of their own. A folder whose name is
// not UTF-8 is kept as its bytes in base64 behind a tag: the settings file may
// be read as GBK, which would change such bytes. The tag cannot start a folder
// the window remembers, which is always absolute.
namespace {
constexpr std::string_view kFolderBytesTag = "base64:";
}

void TMainForm::rememberFolder(const char* key, const std::string& folder) {
  std::string value = folder;
  if (!IsValidUtf8(folder))
    value = std::string(kFolderBytesTag) +
            QByteArray::fromStdString(folder).toBase64().toStdString();
  std::string error;
  if (!WriteSetting(kWindowSection, key, value, &error)) setStatus(QString::fromStdString(error));
}

std::string TMainForm::rememberedFolder(const char* key) const {
  const std::string value = ReadSetting(kWindowSection, key, "");
  if (!value.starts_with(kFolderBytesTag)) return value;
  const auto decoded = QByteArray::fromBase64Encoding(
      QByteArray::fromStdString(value.substr(kFolderBytesTag.size())),
      QByteArray::AbortOnBase64DecodingErrors);
  return decoded ? decoded.decoded.toStdString() : std::string();
}

void TMainForm::Image12Click(bool up) {
  if (running_) return;
  const int cur = list_->firstSelectedRow();
  if (cur < 0 || (up && cur == 0) || (!up && cur == records_.rowCount() - 1)) return;
  const int target = up ? cur - 1 : cur + 1;
  records_.swapWithNext(up ? cur - 1 : cur);
  // The moved file stays chosen; the neighbour that took its place does not.
  QItemSelectionModel* sel = list_->selectionModel();
  const auto rows = QItemSelectionModel::Rows;
  sel->select(records_.index(target, 0), QItemSelectionModel::Select | rows);
  sel->select(records_.index(cur, 0), QItemSelectionModel::Deselect | rows);
  sel->setCurrentIndex(records_.index(target, 0), QItemSelectionModel::NoUpdate);
  list_->viewport()->update();
}

void TMainForm::Image14Click() {
  if (running_) return;
  if (selectAllLabel_->text() == tr("全选"))
    list_->selectAll();
  else
    list_->clearSelection();
  updateSelectAllCaption();
}

void TMainForm::updateSelectAllCaption() {
  // The caption offers what a click would do: "取消全选" only while every row
  // is selected, however the rows came to be selected (Ctrl+A, clicks, a run
  // that removed the others, a new scan).
  const int rows = records_.rowCount();
  const bool all = rows > 0 && list_->selectedRowCount() == rows;
  selectAllLabel_->setText(all ? tr("取消全选") : tr("全选"));
  selectAllLabel_->adjustSize();
}

void TMainForm::MenuItem1Click() {
  if (running_) return;
  const int row = list_->firstSelectedRow();
  if (row >= 0) records_.removeAt(row);
}

}  // namespace pw
