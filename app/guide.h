#pragma once
// "操作演示": the road of one run, from choosing the task to its result, in a
// few pictures of this window with a line of text each.

#include <QDialog>
#include <QString>
#include <functional>

class QLabel;
class QPushButton;

namespace pw {

class GuideDialog : public QDialog {
 public:
  explicit GuideDialog(QWidget* parent);

  int pageCount() const;
  int page() const { return page_; }
  void showPage(int index);

  // Runs once, the first time the guide actually appears on screen.
  std::function<void()> onFirstShown;

  // Folder of the pictures for the window's language: ":/guide/<language>"
  // when that language has its own, else the Chinese ones in ":/guide".
  static QString pictureFolder();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  int page_ = 0;
  bool shown_ = false;
  QLabel* heading_ = nullptr;
  QLabel* picture_ = nullptr;
  QLabel* text_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
};

}  // namespace pw
