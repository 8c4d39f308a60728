// Clicking a file with "one sheet" or "one table" ticked lists its sheets or
// tables. The file is read off the window's thread.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMetaObject>
#include <tuple>

#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "batch/contract.h"
#include "filelist/pickers.h"

namespace pw {
namespace {

QStringList ToList(const std::vector<std::string>& names) {
  QStringList list;
  for (const std::string& n : names) list << QString::fromStdString(n);
  return list;
}

}  // namespace

void TMainForm::RzListView1Click() {
  // Each box counts only for the task whose panel shows it: a sheet box left
  // ticked in a workbook split does not read databases.
  const bool split = chosenMode() == ::pw::TaskMode::Split;
  const bool sheets =
      split && chosenKind() == TaskKind::Workbook && check("CheckBox7")->isChecked();
  const bool tables =
      split && chosenKind() == TaskKind::Database && check("CheckBox8")->isChecked();
  if (!sheets && !tables) return;
  const int row = list_->firstSelectedRow();
  if (row < 0) return;
  const std::string path = records_.record(row).FullPath;
  auto* combo1 = findChild<QComboBox*>("ComboBox1");
  auto* combo2 = findChild<QComboBox*>("ComboBox2");
  if (sheets) combo1->clear();
  if (tables) combo2->clear();
  if (pickerThread_.joinable()) pickerThread_.join();
  const std::uint64_t generation = ++pickerGeneration_;
  picking_ = true;
  setStatus(tr("正在读取文件的工作表或数据表……"));
  pickerThread_ = std::thread([this, path, sheets, tables, generation] {
    std::vector<std::string> sheetNames, tableNames;
    QString error;
    try {
      if (sheets) sheetNames = SheetNamesOf(path);
      if (tables) tableNames = TableNamesOf(path);
    } catch (const std::exception& e) {
      error = QString::fromStdString(e.what());
    }
    QMetaObject::invokeMethod(
        this,
        [this, generation, sheets, tables, error, s = ToList(sheetNames), t = ToList(tableNames)] {
          if (generation != pickerGeneration_) return;
          picking_ = false;
          // The lists are filled; the choice stays the user's.
          for (const auto& [on, name, items] :
               {std::tuple{sheets, "ComboBox1", s}, std::tuple{tables, "ComboBox2", t}}) {
            if (!on) continue;
            auto* combo = findChild<QComboBox*>(name);
            combo->addItems(items);
            combo->setCurrentIndex(-1);
            combo->clearEditText();
          }
          setStatus(error.isEmpty() ? tr("  请从列表中选择要操作的工作表或数据表") : error);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace pw
