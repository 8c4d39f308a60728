#pragma once
// Drives the real window as a user would, in the offscreen platform.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/filelistview.h"
#include "app/mainwindow.h"
#include "app/widgets.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "tests/support/tempdir.h"

namespace pw::test {

inline bool WaitUntil(const std::function<bool()>& done, int ms = 20000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QTest::qWait(5);
  }
  return true;
}

// One window with its own settings folder, a folder chooser that answers
// `folderToOpen`, and recorded messages and shell requests.
class WindowHarness {
 public:
  WindowHarness() {
    SetAppFolderOverride(appDir.str());
    SetFolderChooser([this](QWidget*, const QString&, const std::string&) { return folderToOpen; });
    SetMessageSink([this](QWidget*, MessageKind, const QString& text) {
      messages.push_back(text.toStdString());
    });
    SetShellOpener([this](const std::string& target) {
      opened.push_back(target);
      return true;
    });
  }
  ~WindowHarness() {
    form.reset();
    SetFolderChooser({});
    SetMessageSink({});
    SetShellOpener({});
    SetAppFolderOverride({});
  }

  TMainForm& window() {
    if (!form) {
      form = std::make_unique<TMainForm>();
      form->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    return *form;
  }

  template <typename T = QWidget>
  T* find(const char* name) {
    T* w = window().findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  void click(const char* name, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* w = find(name);
    QTest::mouseClick(w, Qt::LeftButton, mods, w->rect().center());
  }

  FileListView* list() { return find<FileListView>("RzListView1"); }

  void clickRow(int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    FileListView* view = list();
    const QRect r = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, mods, r.center());
  }

  // Chooses kind and operation, then opens `folder`, waiting for the scan.
  void openFolder(const char* kindPanel, const char* modePanel, const std::string& folder) {
    click(kindPanel);
    click(modePanel);
    folderToOpen = folder;
    click("Image9");
    EXPECT_TRUE(WaitUntil([&] { return !window().scanInProgress(); }));
    QApplication::processEvents();
  }

  void runAndWait() {
    click("Image11");
    EXPECT_TRUE(WaitUntil([&] { return !window().runInProgress(); }, 120000));
    QApplication::processEvents();
  }

  std::vector<std::string> listedPaths() {
    std::vector<std::string> paths;
    for (const FileRecord& r : window().FileRecords().records()) paths.push_back(r.FullPath);
    return paths;
  }

  std::string status() { return find<QLabel>("Label1")->text().toStdString(); }

  TempDir appDir;
  std::string folderToOpen;
  std::vector<std::string> messages;
  std::vector<std::string> opened;
  std::unique_ptr<TMainForm> form;
};

}  // namespace pw::test
