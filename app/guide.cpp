#include "app/guide.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace pw {
namespace {

// One step of the run. The circled numbers in a text match the numbered marks
// drawn on its picture.
struct GuideStep {
  const char* picture;
  const char* title;
  const char* text;
};

constexpr GuideStep kSteps[] = {
    {"1-task.png", QT_TRANSLATE_NOOP("GuideDialog", "选择任务"),
     QT_TRANSLATE_NOOP("GuideDialog",
                       "① 在左侧选择文件类型，这里是“纯文本文件”；② 再选择“合并文件”或“分割文件”。"
                       "右上方的“工作信息”随即显示所选的任务。")},
    {"2-files.png", QT_TRANSLATE_NOOP("GuideDialog", "添加文件"),
     QT_TRANSLATE_NOOP("GuideDialog",
                       "① 点“打开”选择文件所在的文件夹（也可以把文件或文件夹拖到列表里），"
                       "这类文件随即列出；② 勾选要处理的文件，“全选”一次选中全部。")},
    {"3-options.png", QT_TRANSLATE_NOOP("GuideDialog", "设置选项"),
     QT_TRANSLATE_NOOP("GuideDialog",
                       "① 基本设置：新文档名、完成后是否删除源文件等；"
                       "② 任务设置：这项任务自己的选项，这里是每个文件 25 行。")},
    {"4-run.png", QT_TRANSLATE_NOOP("GuideDialog", "开始运行"),
     QT_TRANSLATE_NOOP("GuideDialog",
                       "① 点“批量操作”开始。运行中进度条显示完成了多少；"
                       "点“停止”或按 Esc 可随时停止，正在处理的文件恢复原样，已完成的保留。")},
    {"5-result.png", QT_TRANSLATE_NOOP("GuideDialog", "查看结果"),
     QT_TRANSLATE_NOOP("GuideDialog",
                       "① 运行结束后，状态栏说明结果；② 处理完的文件离开列表。"
                       "新文件写在源文件所在的文件夹里，或写到所选的保存位置。")},
};

QString Tr(const char* text) {
  return QCoreApplication::translate("GuideDialog", text);
}

}  // namespace

QString GuideDialog::pictureFolder() {
  // The pictures show the window in the language of the guide's texts; a
  // translation names its own folder here.
  const QString language = Tr(QT_TRANSLATE_NOOP("GuideDialog", "zh_CN"));
  const QString own = QStringLiteral(":/guide/") + language;
  if (language != QLatin1String("zh_CN") && QFile::exists(own + "/" + kSteps[0].picture))
    return own;
  return QStringLiteral(":/guide");
}

GuideDialog::GuideDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("GuideDialog");
  setWindowTitle(Tr(QT_TRANSLATE_NOOP("GuideDialog", "操作演示")));

  heading_ = new QLabel(this);
  heading_->setObjectName("GuideHeading");
  QFont bold = heading_->font();
  bold.setBold(true);
  bold.setPixelSize(16);
  heading_->setFont(bold);

  picture_ = new QLabel(this);
  picture_->setObjectName("GuidePicture");
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setFrameShape(QFrame::StyledPanel);

  text_ = new QLabel(this);
  text_->setObjectName("GuideText");
  text_->setWordWrap(true);
  text_->setTextFormat(Qt::PlainText);
  text_->setMinimumHeight(40);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  back_ = new QPushButton(Tr(QT_TRANSLATE_NOOP("GuideDialog", "上一步")), this);
  back_->setObjectName("GuideBack");
  next_ = new QPushButton(Tr(QT_TRANSLATE_NOOP("GuideDialog", "下一步")), this);
  next_->setObjectName("GuideNext");
  next_->setDefault(true);
  auto* close = new QPushButton(Tr(QT_TRANSLATE_NOOP("GuideDialog", "关闭")), this);
  close->setObjectName("GuideClose");
  connect(back_, &QPushButton::clicked, this, [this] { showPage(page_ - 1); });
  connect(next_, &QPushButton::clicked, this, [this] { showPage(page_ + 1); });
  connect(close, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(heading_);
  layout->addWidget(picture_, 1);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  showPage(0);
}

int GuideDialog::pageCount() const {
  return static_cast<int>(std::size(kSteps));
}

void GuideDialog::showPage(int index) {
  if (index < 0 || index >= pageCount()) return;
  page_ = index;
  const GuideStep& step = kSteps[index];
  heading_->setText(Tr(QT_TRANSLATE_NOOP("GuideDialog", "第 %1 步（共 %2 步）：%3"))
                        .arg(index + 1)
                        .arg(pageCount())
                        .arg(Tr(step.title)));
  const QPixmap pixmap(pictureFolder() + "/" + step.picture);
  if (pixmap.isNull())
    picture_->setText(Tr(step.title));
  else
    picture_->setPixmap(pixmap);
  text_->setText(Tr(step.text));
  back_->setEnabled(index > 0);
  next_->setEnabled(index + 1 < pageCount());
}

void GuideDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (shown_) return;
  shown_ = true;
  if (onFirstShown) onFirstShown();
}

}  // namespace pw
