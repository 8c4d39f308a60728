#include "app/widgets.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace pw {
namespace {
const QColor kRestingText(2, 56, 103);
}

TaskPanel::TaskPanel(const QString& name, const QString& text, bool header, QWidget* parent)
    : QWidget(parent), text_(text), header_(header) {
  setObjectName(name);
  setCursor(Qt::PointingHandCursor);
  setAttribute(Qt::WA_Hover);
}

void TaskPanel::setHighlighted(bool on) {
  if (highlighted_ == on) return;
  highlighted_ = on;
  update();
}

void TaskPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (highlighted_) {
    QLinearGradient g(0, 0, 0, height());
    g.setColorAt(0, QColor(92, 150, 222));
    g.setColorAt(1, QColor(38, 96, 170));
    p.fillRect(rect(), g);
  } else if (header_) {
    p.fillRect(rect(), QColor(214, 228, 247));
  }
  QFont f = font();
  f.setBold(header_);
  p.setFont(f);
  p.setPen(highlighted_ ? Qt::white : kRestingText);
  p.drawText(rect().adjusted(header_ ? 8 : 14, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft, text_);
}

void TaskPanel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && onClick)
    onClick(this);
}

void TaskPanel::enterEvent(QEnterEvent*) {
  if (onHover) onHover(this, true);
}

void TaskPanel::leaveEvent(QEvent*) {
  if (onHover) onHover(this, false);
}

ImageButton::ImageButton(const QString& name, ToolIcon icon, int size, QWidget* parent)
    : QWidget(parent), icon_(icon) {
  setObjectName(name);
  resize(size, size);
  setCursor(Qt::PointingHandCursor);
}

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  DrawToolIcon(p, rect(), icon_, isEnabled() ? QColor(40, 70, 110) : QColor(160, 160, 160));
  if (!isEnabled()) p.fillRect(rect(), QColor(255, 255, 255, 120));
}

void ImageButton::grow() {
  if (grown_) return;
  grown_ = true;
  setGeometry(x() - 2, y() - 2, 34, 34);
}

void ImageButton::shrink() {
  if (!grown_) return;
  grown_ = false;
  setGeometry(x() + 2, y() + 2, 32, 32);
}

void ImageButton::enterEvent(QEnterEvent*) {
  grow();
}
void ImageButton::leaveEvent(QEvent*) {
  shrink();
}
void ImageButton::mousePressEvent(QMouseEvent*) {
  shrink();
}

void ImageButton::mouseReleaseEvent(QMouseEvent* e) {
  if (underMouse()) grow();
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && onClick)
    onClick();
}

ClickLabel::ClickLabel(const QString& name, const QString& text, QWidget* parent)
    : QLabel(text, parent) {
  setObjectName(name);
  setCursor(Qt::PointingHandCursor);
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && onClick &&
      isEnabled())
    onClick();
}

TitleBar::TitleBar(QWidget* parent) : QWidget(parent) {
  setObjectName("RzPanel8");
  startSystemMove = [this] {
    QWindow* handle = window()->windowHandle();
    return handle != nullptr && handle->startSystemMove();
  };
}

void TitleBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, QColor(46, 110, 190));
  g.setColorAt(1, QColor(22, 72, 140));
  p.fillRect(rect(), g);
  DrawToolIcon(p, QRect(10, 6, 28, 28), ToolIcon::Logo, Qt::white);
  QFont f = font();
  f.setPixelSize(18);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(46, 0, 400, height()), Qt::AlignVCenter | Qt::AlignLeft,
             QCoreApplication::translate("TitleBar", "Plinthwick  批量合并与分割"));
}

void TitleBar::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  drag_ = Drag::Pressed;
  grabOffset_ = e->globalPosition().toPoint() - window()->pos();
}

void TitleBar::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton)) {
    drag_ = Drag::None;
    return;
  }
  if (drag_ == Drag::Pressed)
    drag_ = startSystemMove && startSystemMove() ? Drag::BySystem : Drag::ByHand;
  if (drag_ == Drag::ByHand && !window()->isMaximized())
    window()->move(e->globalPosition().toPoint() - grabOffset_);
}

void TitleBar::mouseReleaseEvent(QMouseEvent*) {
  drag_ = Drag::None;
}

void TitleBar::mouseDoubleClickEvent(QMouseEvent*) {
  if (onDoubleClick) onDoubleClick();
}

}  // namespace pw
