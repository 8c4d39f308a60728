#include "translations/language.h"

#include <QCoreApplication>
#include <QTranslator>
#include <cstdlib>
#include <memory>

#include "platform/translate.h"

namespace pw {
namespace {

std::unique_ptr<QTranslator> english;
bool englishInApplication = false;
Language current = Language::Chinese;

std::string LookUp(const char* context, const char* text) {
  const QString found = english ? english->translate(context, text) : QString();
  return found.isEmpty() ? std::string(text) : found.toStdString();
}

QString Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? QString::fromLocal8Bit(value) : QString();
}

}  // namespace

Language ChooseLanguage(const QString& forced, const QString& language, const QString& lcAll,
                        const QString& lcMessages, const QString& lang) {
  const QString force = forced.trimmed().toLower();
  if (force.startsWith(QLatin1String("zh"))) return Language::Chinese;
  if (force.startsWith(QLatin1String("en"))) return Language::English;
  // LANGUAGE is a list ("en_GB:en"); its first entry counts.
  QString locale = language.section(QLatin1Char(':'), 0, 0);
  for (const QString& next : {lcAll, lcMessages, lang})
    if (locale.isEmpty()) locale = next;
  locale = locale.trimmed();
  if (locale.isEmpty() || locale == QLatin1String("POSIX") || locale == QLatin1String("C") ||
      locale.startsWith(QLatin1String("C.")) || locale.startsWith(QLatin1String("zh")))
    return Language::Chinese;
  return Language::English;
}

Language LanguageFromEnvironment() {
  return ChooseLanguage(Env("PLINTHWICK_LANG"), Env("LANGUAGE"), Env("LC_ALL"), Env("LC_MESSAGES"),
                        Env("LANG"));
}

void UseLanguage(Language language) {
  if (englishInApplication && QCoreApplication::instance() != nullptr)
    QCoreApplication::removeTranslator(english.get());
  englishInApplication = false;
  SetTranslateHook(nullptr);
  current = language;
  if (language != Language::English) return;
  if (!english) {
    auto loaded = std::make_unique<QTranslator>();
    if (!loaded->load(QStringLiteral(":/translations/plinthwick_en.qm"))) return;
    english = std::move(loaded);
  }
  SetTranslateHook(&LookUp);
  if (QCoreApplication::instance() != nullptr)
    englishInApplication = QCoreApplication::installTranslator(english.get());
}

Language CurrentLanguage() {
  return current;
}

}  // namespace pw
