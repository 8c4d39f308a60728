// The right-hand column: work information, the common settings and the seven
// task settings panels.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "app/mainwindow.h"
#include "app/widgets.h"
#include "platform/settings.h"

namespace pw {
namespace {

const char* kPanelStyle =
    "QWidget{color:rgb(2,56,103);font-size:11px;}"
    "QLineEdit{background:white;border:1px solid rgb(150,180,220);padding:0 1px;}"
    "QLineEdit:disabled{background:rgb(235,235,235);}";

QCheckBox* Check(QWidget* parent, const char* name, const char* text, bool on, int x, int y) {
  auto* c = new QCheckBox(TMainForm::tr(text), parent);
  c->setObjectName(name);
  c->setChecked(on);
  c->move(x, y);
  c->adjustSize();
  return c;
}

QRadioButton* Radio(QWidget* parent, const char* name, const char* text, bool on, int x, int y) {
  auto* r = new QRadioButton(TMainForm::tr(text), parent);
  r->setObjectName(name);
  r->setChecked(on);
  r->move(x, y);
  r->adjustSize();
  return r;
}

QLabel* Text(QWidget* parent, const char* name, const char* text, int x, int y) {
  auto* l = new QLabel(TMainForm::tr(text), parent);
  l->setObjectName(name);
  l->move(x, y);
  l->adjustSize();
  return l;
}

QLineEdit* Edit(QWidget* parent, const char* name, const char* text, int x, int y, int w = 34) {
  auto* e = new QLineEdit(TMainForm::tr(text), parent);
  e->setObjectName(name);
  e->setGeometry(x, y, w, 20);
  return e;
}

// Where a caption's run of blanks begins, and how wide it is, in pixels from
// the start of the text.
std::pair<int, int> GapOf(const QWidget* w, const QString& caption) {
  const QFontMetrics fm(w->font());
  const int start = static_cast<int>(caption.indexOf(QStringLiteral("  ")));
  int end = start;
  while (end < caption.size() && caption[end] == ' ') ++end;
  return {fm.horizontalAdvance(caption.left(start)),
          fm.horizontalAdvance(caption.mid(start, end - start))};
}

int TextOffset(const QWidget* w) {
  if (qobject_cast<const QRadioButton*>(w) == nullptr) return 0;
  return w->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth) +
         w->style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing);
}

// Puts an edit box over the blanks of a caption, as wide as they are.
void OverGap(QWidget* owner, const QString& caption, QLineEdit* e) {
  const auto [at, width] = GapOf(owner, caption);
  e->setGeometry(owner->x() + TextOffset(owner) + at + 1, owner->y() + (owner->height() - 20) / 2,
                 std::max(26, width - 2), 20);
}

// Puts an edit box `width` wide right after a control, and a label after it.
void After(QWidget* owner, QLineEdit* e, QLabel* tail, int width = 40) {
  e->setGeometry(owner->x() + owner->width() + 1, owner->y() + (owner->height() - 20) / 2, width,
                 20);
  if (tail != nullptr)
    tail->move(e->x() + e->width() + 3, owner->y() + (owner->height() - tail->height()) / 2);
}

QWidget* SettingsPanel(QWidget* column, const char* name, int top) {
  auto* p = new QWidget(column);
  p->setObjectName(name);
  p->setGeometry(0, top, 180, 250);
  p->setStyleSheet(kPanelStyle);
  p->hide();
  return p;
}

}  // namespace

void TMainForm::buildSettingsColumn() {
  settingsColumn_ = new QWidget(this);
  settingsColumn_->setObjectName("RzPanel13");
  settingsColumn_->setAutoFillBackground(true);
  QPalette pal = settingsColumn_->palette();
  pal.setColor(QPalette::Window, QColor(226, 236, 250));
  settingsColumn_->setPalette(pal);
  settingsColumn_->setStyleSheet(kPanelStyle);

  auto* info = new QGroupBox(tr("工作信息"), settingsColumn_);
  info->setObjectName("GroupBoxInfo");
  info->setGeometry(5, 4, 170, 52);
  Text(info, "Label19", QT_TR_NOOP("任务："), 8, 24);
  taskSummary_ = Text(info, "Label20", "", 44, 24);
  taskSummary_->resize(120, 18);

  auto* basic = new QLabel(tr("    基本设置"), settingsColumn_);
  basic->setObjectName("RzPanel14");
  basic->setGeometry(0, 62, 180, 22);
  basic->setStyleSheet("background:rgb(190,212,242);font-weight:bold;");
  Text(settingsColumn_, "Label2", QT_TR_NOOP("新文档名"), 8, 92);
  Edit(settingsColumn_, "Edit3", QT_TR_NOOP("新文档"), 64, 90, 108);
  auto* c2 = Check(settingsColumn_, "CheckBox2", QT_TR_NOOP("搜索子文件夹"), true, 8, 116);
  auto* c11 = Check(settingsColumn_, "CheckBox11", QT_TR_NOOP("完成后删除源文件"), false, 8, 138);
  auto* c12 = Check(settingsColumn_, "CheckBox12", QT_TR_NOOP("完成后列表中消失"), true, 8, 160);
  auto* c1 = Check(settingsColumn_, "CheckBox1", QT_TR_NOOP("保存到源目录 "), true, 8, 182);
  auto* b2 = new QPushButton(QStringLiteral("…"), settingsColumn_);
  b2->setObjectName("BitBtn2");
  b2->setGeometry(140, 180, 24, 24);
  b2->setToolTip(tr("选择新文档的保存目录"));
  b2->hide();
  for (QCheckBox* c : {c2, c11, c12})
    connect(c, &QCheckBox::toggled, this, [this, c] { CheckBox2Click(c); });
  connect(c1, &QCheckBox::toggled, this, [this] { CheckBox1Click(); });
  connect(b2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
  disabledDuringRun_.push_back(b2);

  auto* task = new QLabel(tr("    任务设置"), settingsColumn_);
  task->setObjectName("RzPanel20");
  task->setGeometry(0, 210, 180, 22);
  task->setStyleSheet("background:rgb(190,212,242);font-weight:bold;");
  buildSettingsPanels(settingsColumn_, 236);

  auto* link = new ClickLabel("Label27", QString(), settingsColumn_);
  link->setGeometry(8, 500, 164, 18);
}

void TMainForm::buildSettingsPanels(QWidget* column, int top) {
  // Merge, Word.
  QWidget* p = SettingsPanel(column, "RzPanel101", top);
  Check(p, "CheckBox5", QT_TR_NOOP("插入分页符"), true, 8, 8);
  Check(p, "CheckBox6", QT_TR_NOOP("插入回车符"), false, 8, 32);

  // Merge, Excel.
  p = SettingsPanel(column, "RzPanel102", top);
  auto* g1 = new QGroupBox(tr("Excel 文档合并"), p);
  g1->setObjectName("GroupBox1");
  g1->setGeometry(4, 2, 172, 86);
  Radio(g1, "RadioButton1", QT_TR_NOOP("无条件合并"), false, 8, 20);
  Radio(g1, "RadioButton2", QT_TR_NOOP("按相同页签名合并"), true, 8, 41);
  Radio(g1, "RadioButton3", QT_TR_NOOP("按相同页签顺序合并"), false, 8, 62);
  auto* g2 = new QGroupBox(tr("标题、表头"), p);
  g2->setObjectName("GroupBox2");
  g2->setGeometry(4, 94, 172, 90);
  Radio(g2, "RadioButton4", QT_TR_NOOP("不剔除标题表头"), false, 8, 20);
  Radio(g2, "RadioButton5", QT_TR_NOOP("自动剔除标题表头"), true, 8, 41);
  auto* r6 = Radio(g2, "RadioButton6", QT_TR_NOOP("指定表头行号"), false, 8, 62);
  auto* e2 = Edit(g2, "Edit2", "", 0, 0);
  After(r6, e2, nullptr);
  e2->hide();
  for (auto* r : {radio("RadioButton4"), radio("RadioButton5"), r6})
    connect(r, &QRadioButton::clicked, this, [r, e2, this] {
      e2->setVisible(r == radio("RadioButton6"));
      if (e2->isVisible()) e2->setFocus();
    });
  Check(p, "CheckBox14", QT_TR_NOOP("添加来源列"), false, 8, 190);
  Check(p, "CheckBox15", QT_TR_NOOP("按表头匹配列"), false, 8, 212);

  // Split, Excel.
  p = SettingsPanel(column, "RzPanel103", top);
  const char* r9text = QT_TR_NOOP("平均分割               文件");
  auto* r9 = Radio(p, "RadioButton9", r9text, true, 8, 6);
  OverGap(r9, tr(r9text), Edit(p, "Edit4", "2", 0, 0));
  Radio(p, "RadioButton10", QT_TR_NOOP("按行数分割  "), false, 8, 30);
  const char* l6text = QT_TR_NOOP("每文件               行");
  auto* l6 = Text(p, "Label6", l6text, 28, 54);
  OverGap(l6, tr(l6text), Edit(p, "Edit6", "2", 0, 0));
  Radio(p, "RadioButton16", QT_TR_NOOP("每Sheet成一个文件"), false, 8, 76);
  auto* c7 = Check(p, "CheckBox7", QT_TR_NOOP("仅操作单个Sheet"), false, 8, 100);
  c7->setToolTip(tr("对指定标签进行操作，选中后点击待操作文件，然后从下表中选择标签名"));
  auto* combo1 = new QComboBox(p);
  combo1->setObjectName("ComboBox1");
  combo1->setEditable(true);
  combo1->setGeometry(8, 124, 164, 22);
  Check(p, "CheckBox10", QT_TR_NOOP("重复标题"), true, 8, 152);
  After(Radio(p, "RadioButton21", QT_TR_NOOP("按列值拆分"), false, 8, 176),
        Edit(p, "Edit14", "", 0, 0), nullptr, 60);

  // Merge, Access.
  p = SettingsPanel(column, "RzPanel104", top);
  auto* g3 = new QGroupBox(tr("Access 文档合并"), p);
  g3->setObjectName("GroupBox3");
  g3->setGeometry(4, 2, 172, 66);
  auto* r7 = Radio(g3, "RadioButton7", QT_TR_NOOP("合并到同一表"), false, 8, 20);
  auto* r8 = Radio(g3, "RadioButton8", QT_TR_NOOP("按表名合并"), true, 8, 41);
  Check(p, "CheckBox3", QT_TR_NOOP("自动添加新字段"), true, 8, 74);
  Check(p, "CheckBox4", QT_TR_NOOP("Access 2007 格式"), true, 8, 98);
  Check(p, "CheckBox16", QT_TR_NOOP("保留字段类型"), false, 8, 150);
  auto* l5 = Text(p, "Label5", QT_TR_NOOP("新表名"), 8, 125);
  auto* e5 = Edit(p, "Edit5", "", 56, 122, 116);
  l5->hide();
  e5->hide();
  for (auto* r : {r7, r8})
    connect(r, &QRadioButton::clicked, this, [r7, l5, e5] {
      l5->setVisible(r7->isChecked());
      e5->setVisible(r7->isChecked());
    });

  // Split, Access.
  p = SettingsPanel(column, "RzPanel105", top);
  Radio(p, "RadioButton11", QT_TR_NOOP("平均分割数据库 "), true, 8, 6);
  const char* l24text = QT_TR_NOOP("分割成               文件");
  auto* l24 = Text(p, "Label24", l24text, 28, 30);
  OverGap(l24, tr(l24text), Edit(p, "Edit7", "2", 0, 0));
  Radio(p, "RadioButton12", QT_TR_NOOP("按数据行数分割  "), false, 8, 54);
  const char* l12text = QT_TR_NOOP("每文件               行");
  auto* l12 = Text(p, "Label12", l12text, 28, 78);
  OverGap(l12, tr(l12text), Edit(p, "Edit8", "10", 0, 0));
  Radio(p, "RadioButton17", QT_TR_NOOP("每个表成一个数据库"), false, 8, 100);
  Check(p, "CheckBox8", QT_TR_NOOP("仅操作单个数据表"), false, 8, 124);
  auto* combo2 = new QComboBox(p);
  combo2->setObjectName("ComboBox2");
  combo2->setEditable(true);
  combo2->setGeometry(8, 148, 164, 22);
  Check(p, "CheckBox17", QT_TR_NOOP("保留字段类型"), false, 8, 176);

  // Split, text.
  p = SettingsPanel(column, "RzPanel106", top);
  // The parts box is narrower: its three-character tail must stay in the column.
  After(Radio(p, "RadioButton13", QT_TR_NOOP("平均分割       共分"), true, 4, 6),
        Edit(p, "Edit9", "2", 0, 0), Text(p, "Label13", QT_TR_NOOP("个文件"), 0, 0), 33);
  After(Radio(p, "RadioButton14", QT_TR_NOOP("按行数分     每文件"), false, 4, 32),
        Edit(p, "Edit10", "25", 0, 0), Text(p, "Label23", QT_TR_NOOP("行"), 0, 0));
  After(Radio(p, "RadioButton15", QT_TR_NOOP("按大小分     每文件"), false, 4, 58),
        Edit(p, "Edit11", "10", 0, 0), Text(p, "Label9", "KB", 0, 0));
  Check(p, "CheckBox9", QT_TR_NOOP("重复标题"), true, 8, 86);

  // Split, Word.
  p = SettingsPanel(column, "RzPanel107", top);
  After(Radio(p, "RadioButton18", QT_TR_NOOP("平均分割       共分"), true, 4, 6),
        Edit(p, "Edit1", "2", 0, 0), Text(p, "Label18", QT_TR_NOOP("个文件"), 0, 0), 33);
  After(Radio(p, "RadioButton19", QT_TR_NOOP("按页数分     每文件"), false, 4, 32),
        Edit(p, "Edit12", "5", 0, 0), Text(p, "Label25", QT_TR_NOOP("页"), 0, 0));
  After(Radio(p, "RadioButton20", QT_TR_NOOP("按字数分     每文件"), false, 4, 58),
        Edit(p, "Edit13", "500", 0, 0), Text(p, "Label14", QT_TR_NOOP("字"), 0, 0));
  Check(p, "CheckBox13", QT_TR_NOOP("重复标题"), true, 8, 86)->hide();

  for (const char* name : {"RzPanel101", "RzPanel102", "RzPanel103", "RzPanel104", "RzPanel105",
                           "RzPanel106", "RzPanel107"})
    panels_[name] = column->findChild<QWidget*>(name);

  // Entering a count box chooses the way it belongs to.
  for (const char* name : {"Edit4", "Edit6", "Edit7", "Edit8", "Edit9", "Edit10", "Edit11", "Edit1",
                           "Edit12", "Edit13", "Edit14"})
    edit(name)->installEventFilter(this);
  // Either one-sheet/one-table box empties the sheet list; the next click refills it.
  for (const char* name : {"CheckBox7", "CheckBox8"})
    connect(check(name), &QCheckBox::clicked, this, [combo1] { combo1->clear(); });
  rememberWorkbookChoices();
}

// The source column, the header matching and the split by a column's values
// come back as they were left, from our own section of Info.ini.
void TMainForm::rememberWorkbookChoices() {
  struct Choice {
    QAbstractButton* button;
    const char* key;
  };
  const Choice choices[] = {{check("CheckBox14"), "WorkbookSourceColumn"},
                            {check("CheckBox15"), "WorkbookMatchHeaders"},
                            {radio("RadioButton21"), "WorkbookSplitByValue"}};
  auto save = [this](const char* key, const std::string& value) {
    std::string error;
    if (!WriteSetting(kWindowSection, key, value, &error)) setStatus(QString::fromStdString(error));
  };
  for (const Choice& c : choices) {
    if (ReadSetting(kWindowSection, c.key, "0") == "1") c.button->setChecked(true);
    connect(c.button, &QAbstractButton::toggled, this,
            [save, key = c.key](bool on) { save(key, on ? "1" : "0"); });
  }
  QLineEdit* column = edit("Edit14");
  column->setText(QString::fromStdString(ReadSetting(kWindowSection, "WorkbookSplitColumn", "")));
  connect(column, &QLineEdit::textChanged, this,
          [save](const QString& text) { save("WorkbookSplitColumn", text.toStdString()); });
}

}  // namespace pw
