// Makes the pictures of the built-in guide from the real window: drives one
// text split in the offscreen platform, grabs the window at each step and
// marks the controls the step's text names with numbered circles.
//
//   QT_QPA_PLATFORM=offscreen build/tests/app/guide_pictures docs/guide
//   QT_QPA_PLATFORM=offscreen build/tests/app/guide_pictures docs/guide/en en
//
// The folders' PNG files are then built into the program.

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/mainwindow.h"
#include "platform/paths.h"
#include "tests/support/tempdir.h"
#include "translations/language.h"

namespace pw {
namespace {

constexpr double kScale = 0.8;  // the guide shows the window a little smaller

// A place to mark: the smallest rectangle holding these controls.
struct Mark {
  std::vector<const char*> controls;
};

QRect Area(TMainForm& window, const Mark& mark) {
  QRect area;
  for (const char* name : mark.controls) {
    auto* w = window.findChild<QWidget*>(name);
    if (w == nullptr) {
      std::fprintf(stderr, "no control named %s\n", name);
      std::exit(1);
    }
    area = area.united(QRect(w->mapTo(&window, QPoint(0, 0)), w->size()));
  }
  return area;
}

// Frames each area in red and puts its number in a circle at its top left.
QImage Marked(TMainForm& window, const std::vector<Mark>& marks) {
  QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  QPainter p(&shot);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor red(214, 40, 40);
  QFont font = QApplication::font();
  font.setPixelSize(15);
  font.setBold(true);
  p.setFont(font);
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const QRect area =
        Area(window, marks[i]).adjusted(-3, -3, 3, 3) & shot.rect().adjusted(1, 1, -2, -2);
    p.setPen(QPen(red, 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(area, 6, 6);
    // The number sits beside the frame, left of it where there is room,
    // else right of it, so that it hides nothing the frame holds.
    const int d = 22;
    QRect circle(0, 0, d, d);
    circle.moveCenter(QPoint(area.left() - d / 2 - 2, area.center().y()));
    if (circle.left() < 1) circle.moveLeft(area.right() + 5);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(red);
    p.drawEllipse(circle);
    p.drawText(circle, Qt::AlignCenter, QString::number(i + 1));
  }
  p.end();
  return shot.scaled(shot.size() * kScale, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

void Click(TMainForm& window, const char* name) {
  auto* w = window.findChild<QWidget*>(name);
  QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
  QApplication::processEvents();
}

void WaitWhile(const std::function<bool()>& busy) {
  while (busy()) QTest::qWait(20);
  QTest::qWait(120);  // let the last reports reach the screen
}

int Make(const QString& out, bool english) {
  QDir().mkpath(out);
  test::TempDir settings;
  QTemporaryDir top(QDir::tempPath() + "/guide-XXXXXX");
  // Settings of a user who has seen the guide, so that it does not cover the window.
  test::WriteFile(settings.file("Info.ini"), "[Main]\nYanshi=3\n");
  SetAppFolderOverride(settings.str());
  // Sample files named in the pictures' language.
  const std::string folder =
      top.filePath(english ? QStringLiteral("Quarterly reports") : QStringLiteral("季度报表"))
          .toStdString();
  for (int quarter = 1; quarter <= 4; ++quarter) {
    const std::string name = english ? "Q" + std::to_string(quarter) + " sales"
                                     : "第" + std::to_string(quarter) + "季度";
    std::string text = name + (english ? " records\n" : "销售记录\n");
    for (int line = 1; line <= 60; ++line)
      text +=
          name + " #" + std::to_string(line) + "\t" + std::to_string(1000 + line * 37 % 900) + "\n";
    test::WriteFile(folder + "/" + name + ".txt", text);
  }
  SetFolderChooser([&](QWidget*, const QString&, const std::string&) { return folder; });
  SetMessageSink([](QWidget*, MessageKind, const QString& text) {
    std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
  });

  TMainForm window;
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return 1;
  auto save = [&](const char* name, const std::vector<Mark>& marks) {
    const QString path = out + "/" + name;
    if (!Marked(window, marks).save(path)) {
      std::fprintf(stderr, "cannot write %s\n", path.toUtf8().constData());
      std::exit(1);
    }
    std::printf("%s\n", path.toUtf8().constData());
  };

  Click(window, "RzPanel74");  // 纯文本文件
  Click(window, "RzPanel82");  // 分割文件
  save("1-task.png", {{{"RzPanel74"}}, {{"RzPanel81", "RzPanel82"}}});

  Click(window, "Image9");
  WaitWhile([&] { return window.scanInProgress(); });
  Click(window, "Image14");
  save("2-files.png", {{{"Image9", "Label8"}}, {{"RzListView1"}}});

  window.findChild<QRadioButton*>("RadioButton14")->setChecked(true);
  window.findChild<QLineEdit*>("Edit10")->setText(QStringLiteral("25"));
  save("3-options.png", {{{"RzPanel14", "CheckBox1"}},
                         {{"RzPanel20", "RadioButton13", "Edit9", "Edit11", "CheckBox9"}}});

  save("4-run.png", {{{"Image11", "Label15"}}});

  Click(window, "Image11");
  WaitWhile([&] { return window.runInProgress(); });
  save("5-result.png", {{{"Label1"}}, {{"RzListView1"}}});
  SetFolderChooser({});
  SetMessageSink({});
  SetAppFolderOverride({});
  return 0;
}

}  // namespace
}  // namespace pw

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2 && !(argc == 3 && std::string(argv[2]) == "en")) {
    std::fprintf(stderr, "usage: guide_pictures FOLDER [en]\n");
    return 2;
  }
  pw::UseLanguage(argc == 3 ? pw::Language::English : pw::Language::Chinese);
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(12);
  QApplication::setFont(font);
  return pw::Make(QString::fromLocal8Bit(argv[1]), argc == 3);
}
