#pragma once
// Small drawn controls of the window: task panels, image buttons, clickable
// labels and the title bar that moves the frameless window.

#include <QLabel>
#include <QWidget>
#include <functional>

#include "app/icons.h"

namespace pw {

// A panel of the task pane: transparent at rest, a gradient with white text
// when highlighted.
class TaskPanel : public QWidget {
 public:
  TaskPanel(const QString& name, const QString& text, bool header, QWidget* parent);
  std::function<void(TaskPanel*)> onClick;
  std::function<void(TaskPanel*, bool entered)> onHover;
  void setHighlighted(bool on);
  bool highlighted() const { return highlighted_; }
  QString text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  QString text_;
  bool header_;
  bool highlighted_ = false;
};

// A toolbar picture that grows under the mouse and looks pressed while held.
class ImageButton : public QWidget {
 public:
  ImageButton(const QString& name, ToolIcon icon, int size, QWidget* parent);
  std::function<void()> onClick;
  void setIcon(ToolIcon icon) {
    icon_ = icon;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void grow();
  void shrink();
  ToolIcon icon_;
  bool grown_ = false;
};

class ClickLabel : public QLabel {
 public:
  ClickLabel(const QString& name, const QString& text, QWidget* parent);
  std::function<void()> onClick;

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override;
};

// The top bar: dragging it moves the window, a double click maximises or restores.
// A drag hands the move to the window manager once, at its first movement;
// where there is none the bar moves the window itself.
class TitleBar : public QWidget {
 public:
  explicit TitleBar(QWidget* parent);
  std::function<void()> onDoubleClick;
  // Asks the window manager to move the window with the pointer; answers
  // false when it cannot.
  std::function<bool()> startSystemMove;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent*) override;

 private:
  enum class Drag { None, Pressed, BySystem, ByHand };
  Drag drag_ = Drag::None;
  QPoint grabOffset_;  // pointer position within the window at the press
};

}  // namespace pw
