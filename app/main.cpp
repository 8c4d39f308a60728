#include <QApplication>
#include <QFont>
#include <QIcon>

#include "app/icons.h"
#include "app/language.h"
#include "app/mainwindow.h"
#include "translations/language.h"

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
  // PLINTHWICK_LANG or the locale; Qt's own buttons and dialogs follow.
  const pw::Language language = pw::LanguageFromEnvironment();
  pw::UseLanguage(language);
  if (language == pw::Language::Chinese) pw::InstallQtTranslations(QStringLiteral("zh_CN"));
  pw::TMainForm form;
  form.show();
  return QApplication::exec();
}
