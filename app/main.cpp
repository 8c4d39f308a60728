#include <QApplication>
#include <QFont>
#include <QIcon>

#include "app/icons.h"
#include "app/language.h"
#include "app/mainwindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plinthwick"));
  QApplication::setApplicationDisplayName(QStringLiteral("Plinthwick"));
  // Ties the window to its menu entry, so that docks show that entry's icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.plinthwick.Plinthwick"));
  QApplication::setWindowIcon(pw::ProgramIcon());
  QFont font(QStringLiteral("Noto Sans CJK SC"));
  font.setPixelSize(12);
  QApplication::setFont(font);
  pw::InstallQtTranslations(QStringLiteral("zh_CN"));
  pw::TMainForm form;
  form.show();
  return QApplication::exec();
}
