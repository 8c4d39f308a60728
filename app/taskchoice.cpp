// Choosing the task, the settings-panel behaviour, and the stored settings.

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include <cstdlib>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "batch/contract.h"
#include "platform/settings.h"
#include "platform/textcodec.h"

namespace pw {

void TMainForm::RzPanel70Click(TaskPanel* sender) {
  if (running_) return;
  const QString name = sender->objectName();
  const bool modeGroup = name.right(2) > QStringLiteral("79");
  QString& current = modeGroup ? CurrentModePanel : CurrentKindPanel;
  if (!current.isEmpty() && current != name)
    if (auto* old = findChild<TaskPanel*>(current)) old->setHighlighted(false);
  current = name;
  sender->setHighlighted(true);
  taskSummary_->clear();

  auto show = [this](std::initializer_list<const char*> names, bool visible) {
    for (const char* n : names) findChild<QWidget*>(n)->setVisible(visible);
  };
  if (name == "RzPanel70") {
    show({"RzPanel71", "RzPanel72", "RzPanel73", "RzPanel74"}, !SectionToggle);
    auto* head = findChild<QWidget*>("RzPanel80");
    head->move(0, SectionToggle ? 150 : 270);
    SectionToggle = !SectionToggle;
    findChild<QWidget*>("RzPanel81")->move(0, head->y() + 30);
    findChild<QWidget*>("RzPanel82")->move(0, head->y() + 60);
    return;
  }
  if (name == "RzPanel80") {
    show({"RzPanel81", "RzPanel82"}, !SectionToggle);
    SectionToggle = !SectionToggle;
    return;
  }
  for (auto& [panelName, panel] : panels_) panel->hide();
  QLineEdit* edit3 = edit("Edit3");
  if (name == "RzPanel71") TaskKindName = QT_TR_NOOP("Word文档  "), TaskExtensions = ".doc.docx";
  if (name == "RzPanel72") TaskKindName = QT_TR_NOOP("Excel文档  "), TaskExtensions = ".xls.xlsx";
  if (name == "RzPanel73") TaskKindName = QT_TR_NOOP("Access文档  "), TaskExtensions = ".mdb";
  if (name == "RzPanel74") TaskKindName = QT_TR_NOOP("纯文本文件  "), TaskExtensions = ".txt";
  if (name == "RzPanel81") {
    TaskMode = QT_TR_NOOP("合并 ");
    edit3->setEnabled(true);
    edit3->setText(tr("新文档"));
  }
  if (name == "RzPanel82") {
    TaskMode = QT_TR_NOOP("分割 ");
    edit3->setEnabled(false);
    edit3->clear();
  }
  taskSummary_->setText(tr(TaskMode.toUtf8().constData()) + tr(TaskKindName.toUtf8().constData()));
  const QString mode = TaskMode.trimmed(), kind = TaskKindName.trimmed();
  if (!mode.isEmpty() && !kind.isEmpty()) {
    static const struct {
      const char* mode;
      const char* kind;
      const char* panel;
    } table[] = {{"合并", "Word文档", "RzPanel101"},   {"合并", "Excel文档", "RzPanel102"},
                 {"分割", "Excel文档", "RzPanel103"},  {"合并", "Access文档", "RzPanel104"},
                 {"分割", "Access文档", "RzPanel105"}, {"分割", "纯文本文件", "RzPanel106"},
                 {"分割", "Word文档", "RzPanel107"}};
    for (const auto& row : table)
      if (mode == QString::fromUtf8(row.mode) && kind == QString::fromUtf8(row.kind)) {
        panels_[row.panel]->show();
        break;
      }
  }
  completedPanel_->hide();
  stopScan();
  records_.clear();
}

void TMainForm::RzPanel70Hover(TaskPanel* sender, bool entered) {
  if (entered) {
    sender->setHighlighted(true);
    return;
  }
  const QString name = sender->objectName().trimmed();
  if (name != CurrentKindPanel && name != CurrentModePanel) sender->setHighlighted(false);
}

void TMainForm::CheckBox1Click() {
  findChild<QWidget*>("BitBtn2")->setVisible(!check("CheckBox1")->isChecked());
}

void TMainForm::BitBtn2Click() {
  const std::string folder =
      ChooseFolder(this, tr("请选择文档所在目录"), rememberedFolder("OutputFolder"));
  bool blank = true;
  for (char c : folder) blank = blank && static_cast<unsigned char>(c) <= ' ';
  if (!blank) {
    OutputFolder = folder;
    rememberFolder("OutputFolder", OutputFolder);
  }
  setStatus(tr("新文档将保存在：") + QString::fromStdString(DisplayText(OutputFolder)));
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    static const std::pair<const char*, const char*> owners[] = {
        {"Edit4", "RadioButton9"},   {"Edit6", "RadioButton10"}, {"Edit7", "RadioButton11"},
        {"Edit8", "RadioButton12"},  {"Edit9", "RadioButton13"}, {"Edit10", "RadioButton14"},
        {"Edit11", "RadioButton15"}, {"Edit1", "RadioButton18"}, {"Edit12", "RadioButton19"},
        {"Edit13", "RadioButton20"}, {"Edit14", "RadioButton21"}};
    for (const auto& [editName, radioName] : owners)
      if (watched->objectName() == editName) radio(radioName)->setChecked(true);
  }
  return QWidget::eventFilter(watched, event);
}

void TMainForm::CheckBox2Click(QCheckBox* sender) {
  const QString name = sender->objectName();
  const char* key = name == "CheckBox2" ? "chr" : name == "CheckBox11" ? "delyuan" : "cle";
  std::string error;
  if (!WriteSetting("main", key, sender->isChecked() ? "1" : "0", &error))
    setStatus(QString::fromStdString(error));
}

void TMainForm::ApplyStoredSettings() {
  const std::string dzb = TrimText(ReadSetting("Main", "FileNameDZB", "0"));
  check("CheckBox2")->setChecked(dzb == "0");

  // The guide comes up by itself at the first three starts that show it; a
  // start counts only once the guide is on screen. An unreadable count is
  // taken as no start yet, rather than skipping the rest of the start-up.
  const std::string yanshi = TrimText(ReadSetting("Main", "Yanshi", "0"));
  char* end = nullptr;
  long shown = std::strtol(yanshi.c_str(), &end, 10);
  if (yanshi.empty() || end == nullptr || *end != '\0') shown = 0;
  if (shown < 3) {
    OpenDemonstration([this, shown] {
      std::string error;
      if (!WriteSetting("Main", "Yanshi", std::to_string(shown + 1), &error))
        setStatus(QString::fromStdString(error));
    });
  }

  check("CheckBox2")->setChecked(ReadSetting("main", "chr", "1") == "1");
  check("CheckBox11")->setChecked(ReadSetting("main", "delyuan", "0") == "1");
  check("CheckBox12")->setChecked(ReadSetting("main", "cle", "1") == "1");
  // Where the folder dialog starts, and the name column's width.
  if (SourceFolder.empty()) SourceFolder = rememberedFolder("LastFolder");
  const int width = std::atoi(ReadSetting(kWindowSection, "NameColumnWidth", "0").c_str());
  if (width > 0) list_->setNameColumnWidth(width);
  showLinkTexts();
  StartPromotion();
}

TaskKind TMainForm::chosenKind() const {
  if (TaskExtensions == ".doc.docx") return TaskKind::Document;
  if (TaskExtensions == ".xls.xlsx") return TaskKind::Workbook;
  if (TaskExtensions == ".mdb") return TaskKind::Database;
  if (TaskExtensions == ".txt") return TaskKind::Text;
  return TaskKind::None;
}

TaskMode TMainForm::chosenMode() const {
  if (TaskMode.trimmed() == "合并") return ::pw::TaskMode::Merge;
  if (TaskMode.trimmed() == "分割") return ::pw::TaskMode::Split;
  return ::pw::TaskMode::None;
}

TaskOptions TMainForm::CollectOptions() const {
  TaskOptions o;
  o.common.removeFinished = check("CheckBox12")->isChecked();
  o.common.deleteSources = check("CheckBox11")->isChecked();
  auto text = [this](const char* name) { return edit(name)->text().toStdString(); };
  TextSplitOptions& t = o.textSplit;
  t.way = radio("RadioButton14")->isChecked()   ? TextSplitOptions::Way::Lines
          : radio("RadioButton15")->isChecked() ? TextSplitOptions::Way::Size
                                                : TextSplitOptions::Way::Parts;
  t.partsText = text("Edit9");
  t.linesText = text("Edit10");
  t.sizeText = text("Edit11");
  t.repeatTitle = check("CheckBox9")->isChecked();

  o.documentMerge.pageBreak = check("CheckBox5")->isChecked();
  o.documentMerge.paragraph = check("CheckBox6")->isChecked();
  DocumentSplitOptions& d = o.documentSplit;
  d.way = radio("RadioButton19")->isChecked()   ? DocumentSplitOptions::Way::Pages
          : radio("RadioButton20")->isChecked() ? DocumentSplitOptions::Way::Characters
                                                : DocumentSplitOptions::Way::Parts;
  d.partsText = text("Edit1");
  d.pagesText = text("Edit12");
  d.charactersText = text("Edit13");

  WorkbookMergeOptions& wm = o.workbookMerge;
  wm.match = radio("RadioButton1")->isChecked()   ? WorkbookMergeOptions::Match::Any
             : radio("RadioButton3")->isChecked() ? WorkbookMergeOptions::Match::Position
                                                  : WorkbookMergeOptions::Match::Name;
  wm.headers = radio("RadioButton4")->isChecked()   ? WorkbookMergeOptions::Headers::Keep
               : radio("RadioButton6")->isChecked() ? WorkbookMergeOptions::Headers::Row
                                                    : WorkbookMergeOptions::Headers::Auto;
  wm.headerRowText = text("Edit2");
  wm.sourceColumn = check("CheckBox14")->isChecked();
  wm.columns = check("CheckBox15")->isChecked() ? WorkbookMergeOptions::Columns::Header
                                                : WorkbookMergeOptions::Columns::Position;
  WorkbookSplitOptions& ws = o.workbookSplit;
  ws.way = radio("RadioButton10")->isChecked()   ? WorkbookSplitOptions::Way::Rows
           : radio("RadioButton16")->isChecked() ? WorkbookSplitOptions::Way::PerSheet
           : radio("RadioButton21")->isChecked() ? WorkbookSplitOptions::Way::PerValue
                                                 : WorkbookSplitOptions::Way::Parts;
  ws.column = text("Edit14");
  ws.partsText = text("Edit4");
  ws.rowsText = text("Edit6");
  ws.singleSheet = check("CheckBox7")->isChecked();
  ws.sheetName = findChild<QComboBox*>("ComboBox1")->currentText().toStdString();
  ws.repeatTitle = check("CheckBox10")->isChecked();

  DatabaseMergeOptions& dm = o.databaseMerge;
  dm.intoOneTable = radio("RadioButton7")->isChecked();
  dm.newTableName = text("Edit5");
  dm.addNewFields = check("CheckBox3")->isChecked();
  dm.access2007 = check("CheckBox4")->isChecked();
  dm.keepTypes = check("CheckBox16")->isChecked();
  DatabaseSplitOptions& ds = o.databaseSplit;
  ds.way = radio("RadioButton12")->isChecked()   ? DatabaseSplitOptions::Way::Rows
           : radio("RadioButton17")->isChecked() ? DatabaseSplitOptions::Way::PerTable
                                                 : DatabaseSplitOptions::Way::Parts;
  ds.partsText = text("Edit7");
  ds.rowsText = text("Edit8");
  ds.singleTable = check("CheckBox8")->isChecked();
  ds.keepTypes = check("CheckBox17")->isChecked();
  ds.tableName = findChild<QComboBox*>("ComboBox2")->currentText().toStdString();
  return o;
}

}  // namespace pw
