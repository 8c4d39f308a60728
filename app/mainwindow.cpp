#include "app/mainwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <algorithm>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/widgets.h"
#include "platform/promo/fetch.h"
#include "platform/settings.h"

namespace pw {
namespace {

constexpr int kTopBar = 40, kStrip = 6, kBottomBar = 26, kPane = 177, kColumn = 180, kToolbar = 45,
              kPathStrip = 24;

QWidget* Panel(QWidget* parent, const char* name, const QColor& colour) {
  auto* w = new QWidget(parent);
  w->setObjectName(name);
  w->setAutoFillBackground(true);
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, colour);
  w->setPalette(pal);
  return w;
}

QLabel* Label(QWidget* parent, const char* name, const QString& text, int x, int y, int w = 0,
              int h = 20) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  l->move(x, y);
  if (w > 0)
    l->resize(w, h);
  else
    l->adjustSize();
  return l;
}

QPushButton* FrameButton(QWidget* parent, const char* name, const QString& glyph, int x) {
  auto* b = new QPushButton(glyph, parent);
  b->setObjectName(name);
  b->setFlat(true);
  b->setFocusPolicy(Qt::NoFocus);
  b->setGeometry(x, 6, 30, 28);
  b->setStyleSheet(
      "QPushButton{color:white;border:none;font-size:15px;}"
      "QPushButton:hover{background:rgba(255,255,255,60);}");
  return b;
}

}  // namespace

QLineEdit* TMainForm::edit(const char* name) const {
  return findChild<QLineEdit*>(name);
}
QCheckBox* TMainForm::check(const char* name) const {
  return findChild<QCheckBox*>(name);
}
QRadioButton* TMainForm::radio(const char* name) const {
  return findChild<QRadioButton*>(name);
}

TMainForm::TMainForm(QWidget* parent) : QWidget(parent) {
  setObjectName("MainForm");
  setWindowTitle(QStringLiteral("Plinthwick"));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinMaxButtonsHint);
  setAutoFillBackground(true);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, QColor(240, 245, 252));
  setPalette(pal);
  buildTopBar();
  buildTaskPane();
  buildToolbar();
  buildListArea();
  buildSettingsColumn();
  buildPromotion();
  runTimer_ = new QTimer(this);
  runTimer_->setInterval(50);
  connect(runTimer_, &QTimer::timeout, this, [this] { applyRunReports(false); });
  // The toolbar's commands and the settings column's panels stay whole.
  setMinimumSize(kPane + kColumn + 530, 600);
  resize(988, 600);
  layoutRegions();
  buildShortcuts();
}

void TMainForm::buildShortcuts() {
  // Delete acts on the list only, so that it keeps deleting text in the boxes.
  auto* remove = new QAction(list_);
  remove->setShortcut(QKeySequence::Delete);
  remove->setShortcutContext(Qt::WidgetShortcut);
  connect(remove, &QAction::triggered, this, [this] { MenuItem1Click(); });
  list_->addAction(remove);
  auto* rescanKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(rescanKey, &QShortcut::activated, this, [this] { rescan(); });
  auto* stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(stopKey, &QShortcut::activated, this, [this] { StopClick(); });
}

void TMainForm::closeEvent(QCloseEvent* e) {
  if (running_) {
    if (!AskYesNo(this, tr("正在处理文件。停止并退出吗？\n"
                           "正在处理的文件会恢复原样，已完成的文件保留。"))) {
      e->ignore();
      return;
    }
    StopClick();
  }
  if (list_->nameColumnWidth() != 550 ||
      !ReadSetting(kWindowSection, "NameColumnWidth", "").empty())
    WriteSetting(kWindowSection, "NameColumnWidth", std::to_string(list_->nameColumnWidth()));
  QWidget::closeEvent(e);
}

TMainForm::~TMainForm() {
  StopFlag = true;
  stopScan();
  if (runThread_.joinable()) runThread_.join();
  if (pickerThread_.joinable()) pickerThread_.join();
}

void TMainForm::buildTopBar() {
  topBar_ = new TitleBar(this);
  topBar_->onDoubleClick = [this] { isMaximized() ? showNormal() : showMaximized(); };
  buttons_ = new QWidget(topBar_);
  buttons_->setObjectName("RzPanel17");
  buttons_->resize(160, kTopBar);
  auto* close = FrameButton(buttons_, "RzToolbarButton1", QStringLiteral("✕"), 124);
  auto* max = FrameButton(buttons_, "RzToolbarButton2", QStringLiteral("□"), 90);
  auto* min = FrameButton(buttons_, "RzToolbarButton3", QStringLiteral("—"), 56);
  auto* menu = FrameButton(buttons_, "RzToolbarButton4", QStringLiteral("≡"), 22);
  connect(close, &QPushButton::clicked, this, [this] { this->close(); });
  connect(max, &QPushButton::clicked, this,
          [this] { isMaximized() ? showNormal() : showMaximized(); });
  connect(min, &QPushButton::clicked, this, [this] { showMinimized(); });
  buildMainMenu();
  connect(menu, &QPushButton::clicked, this,
          [this] { mainMenu_->popup(mapToGlobal(QPoint(buttons_->x() + 40, 20))); });
  strip_ = Panel(this, "RzPanel130", QColor(120, 170, 230));
}

void TMainForm::buildTaskPane() {
  taskPane_ = Panel(this, "RzPanel4", QColor(226, 236, 250));
  auto* heading = Label(taskPane_, "Label11", tr("我的任务"), 12, 14);
  QFont f = heading->font();
  f.setPixelSize(16);
  f.setBold(true);
  heading->setFont(f);
  heading->adjustSize();
  heading->setStyleSheet("color: rgb(2,56,103);");

  completedPanel_ = Panel(taskPane_, "RzPanel11", QColor(255, 248, 220));
  completedPanel_->setGeometry(0, 61, kPane, 40);
  Label(completedPanel_, "RzPanel11Caption", tr("          已完成文件："), 0, 10);
  counter_ = Label(completedPanel_, "Label30", QStringLiteral("0"), 120, 10, 50);
  completedPanel_->hide();

  struct Item {
    const char* name;
    const char* text;
    int top;
    bool header;
  };
  const Item items[] = {
      {"RzPanel70", QT_TR_NOOP("  任务文件类型    "), 120, true},
      {"RzPanel71", QT_TR_NOOP("◆ Word 文档  "), 150, false},
      {"RzPanel72", QT_TR_NOOP("◆ Excel文档  "), 177, false},
      {"RzPanel73", QT_TR_NOOP("◆ Access文档 "), 203, false},
      {"RzPanel74", QT_TR_NOOP("◆ 纯文本文件 "), 230, false},
      {"RzPanel80", QT_TR_NOOP("操作方式选择  "), 270, true},
      {"RzPanel81", QT_TR_NOOP("★ 合并文件   "), 300, false},
      {"RzPanel82", QT_TR_NOOP("★ 分割文件   "), 330, false},
  };
  for (const Item& item : items) {
    auto* panel = new TaskPanel(item.name, tr(item.text), item.header, taskPane_);
    panel->setGeometry(0, item.top, kPane, item.header ? 25 : 22);
    panel->onClick = [this](TaskPanel* p) { RzPanel70Click(p); };
    panel->onHover = [this](TaskPanel* p, bool in) { RzPanel70Hover(p, in); };
    taskPanels_.push_back(panel);
    disabledDuringRun_.push_back(panel);
  }
}

void TMainForm::buildToolbar() {
  toolbar_ = Panel(this, "RzPanel6", QColor(248, 251, 255));
  struct Tool {
    const char* image;
    const char* label;
    const char* text;
    ToolIcon icon;
    int x;
    int size;
  };
  const Tool tools[] = {
      {"Image9", "Label8", QT_TR_NOOP("打开"), ToolIcon::Open, 12, 32},
      {"Image11", "Label15", QT_TR_NOOP("批量操作"), ToolIcon::Run, 92, 32},
      {"Image12", "Label16", QT_TR_NOOP("向上"), ToolIcon::Up, 200, 28},
      {"Image13", "Label17", QT_TR_NOOP("向下"), ToolIcon::Down, 276, 28},
      {"Image14", "Label21", QT_TR_NOOP("全选"), ToolIcon::SelectAll, 352, 32},
  };
  for (const Tool& t : tools) {
    auto* image = new ImageButton(t.image, t.icon, t.size, toolbar_);
    image->move(t.x + (32 - t.size) / 2, 6 + (32 - t.size) / 2);
    auto* label = new ClickLabel(t.label, tr(t.text), toolbar_);
    label->move(t.x + 38, 14);
    label->adjustSize();
    std::function<void()> action;
    const QString name = t.image;
    if (name == "Image9") action = [this] { Image9Click(); };
    if (name == "Image11") action = [this] { Image11Click(); };
    if (name == "Image12") action = [this] { Image12Click(true); };
    if (name == "Image13") action = [this] { Image12Click(false); };
    if (name == "Image14") action = [this] { Image14Click(); };
    image->onClick = action;
    label->onClick = action;
    disabledDuringRun_.push_back(image);
    disabledDuringRun_.push_back(label);
    if (name == "Image14") selectAllLabel_ = label;
  }
  stopButton_ = new QPushButton(tr("停止"), toolbar_);
  stopButton_->setObjectName("StopButton");
  stopButton_->setGeometry(440, 9, 64, 28);
  stopButton_->setStyleSheet(
      "QPushButton{background:rgb(200,60,50);color:white;border-radius:4px;font-weight:bold;}"
      "QPushButton:disabled{background:rgb(190,160,160);}");
  stopButton_->hide();
  connect(stopButton_, &QPushButton::clicked, this, [this] { StopClick(); });
}

void TMainForm::buildListArea() {
  list_ = new FileListView(&records_, this);
  listMenu_ = new QMenu(this);
  listMenu_->setObjectName("PopupMenu2");
  QAction* remove = listMenu_->addAction(tr("删除当前行"));
  remove->setObjectName("MenuItem1");
  listMenu_->addSeparator();
  QAction* all = listMenu_->addAction(tr("全部选中"));
  all->setObjectName("MenuItem4");
  connect(remove, &QAction::triggered, this, [this] { MenuItem1Click(); });
  connect(all, &QAction::triggered, this, [this] { Image14Click(); });
  connect(list_, &QAbstractItemView::clicked, this, [this] { RzListView1Click(); });
  list_->onDrop = [this](const std::vector<std::string>& paths) { addDropped(paths); };
  connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { updateSelectAllCaption(); });
  for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(&records_, signal, this, [this] { updateSelectAllCaption(); });
  connect(&records_, &QAbstractItemModel::modelReset, this, [this] { updateSelectAllCaption(); });
  connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    if (!running_) listMenu_->popup(list_->viewport()->mapToGlobal(at));
  });

  pathStrip_ = Panel(this, "RzPanel10", QColor(226, 236, 250));
  pathLabel_ = Label(pathStrip_, "RzPanel10Caption", tr("  当前路径："), 0, 3, 400);
  progressPanel_ = Panel(pathStrip_, "RzPanel12", QColor(226, 236, 250));

  bottomBar_ = Panel(this, "RzPanel9", QColor(214, 228, 247));
  status_ = Label(bottomBar_, "Label1", tr("欢迎使用Plinthwick！"), 10, 4, 700);
  auto* version = new QLabel(QStringLiteral("Version 2.2.1   "), bottomBar_);
  version->setObjectName("RzPanel9Caption");
  version->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  version->setGeometry(0, 0, 0, kBottomBar);
}

void TMainForm::layoutRegions() {
  const int w = width(), h = height();
  topBar_->setGeometry(0, 0, w, kTopBar);
  buttons_->move(w - 160, 0);
  strip_->setGeometry(0, kTopBar, w, kStrip);
  const int top = kTopBar + kStrip, bottom = h - kBottomBar;
  taskPane_->setGeometry(0, top, kPane, bottom - top);
  settingsColumn_->setGeometry(w - kColumn, top, kColumn, bottom - top);
  const int middle = w - kPane - kColumn;
  toolbar_->setGeometry(kPane, top, middle, kToolbar);
  if (tickerStrip_ != nullptr) {
    tickerStrip_->setGeometry(512, 12, std::max(80, middle - 522), 20);
    for (QLabel* line : {label28_, label29_}) line->resize(tickerStrip_->width(), 16);
  }
  list_->setGeometry(kPane, top + kToolbar, middle, bottom - top - kToolbar - kPathStrip);
  pathStrip_->setGeometry(kPane, bottom - kPathStrip, middle, kPathStrip);
  pathLabel_->resize(middle - 180, 18);
  progressPanel_->setGeometry(middle - 170, 0, 170, kPathStrip);
  bottomBar_->setGeometry(0, bottom, w, kBottomBar);
  if (auto* version = bottomBar_->findChild<QLabel*>("RzPanel9Caption"))
    version->setGeometry(w - 200, 0, 200, kBottomBar);
  status_->resize(w - 210 - status_->x(), 18);
}

void TMainForm::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (topBar_ != nullptr) layoutRegions();
}

void TMainForm::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (!settingsApplied_) {
    settingsApplied_ = true;
    ApplyStoredSettings();
  }
}

void TMainForm::setStatus(const QString& text) {
  status_->setText(text);
}

}  // namespace pw
