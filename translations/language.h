#pragma once
// Which language the program speaks, and switching to it: the texts of the
// window (tr), of the operations and of the command line.

#include <QString>

namespace pw {

enum class Language { Chinese, English };

// PLINTHWICK_LANG (zh_CN, zh or en) decides when set; otherwise the locale
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG, the first one set): Chinese for zh*,
// and for no locale at all (unset, C, POSIX), English for any other.
Language LanguageFromEnvironment();

// The same rule for given values (empty: not set).
Language ChooseLanguage(const QString& forced, const QString& language, const QString& lcAll,
                        const QString& lcMessages, const QString& lang);

// Makes `language` the one texts are shown in from now on: installs (or
// removes) the translation for QCoreApplication::translate when an
// application object exists, and for the operations' texts in any case.
void UseLanguage(Language language);

Language CurrentLanguage();

}  // namespace pw
