#pragma once
// Qt's own texts (standard buttons, the folder dialog) in the window's language.

#include <QString>

class QTranslator;

namespace pw {

// Installs Qt's translation for `language` ("zh_CN") from the system's Qt
// translations folder. Answers the installed translator (owned by the
// application), or nullptr when the system has none for that language.
QTranslator* InstallQtTranslations(const QString& language);

}  // namespace pw
