// Language files: Languages/<name>.lng in one of the resource folders
// (languageFilePath in storage/AppSettings.h finds one), an INI file with
// one section per window and keys 1, 2, ... for that window's texts.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

// "English" followed by the base names of the *.lng files of every resource
// folder, each name once.
QStringList availableLanguages();

// Fills the message table from a language file; a missing key leaves its
// slot empty. False (logged in red, the table unchanged for a missing file)
// when the file is missing or cannot be read.
// A file's [Language] Code (nl, de, ...) also brings Qt's own texts in that
// language, where Qt's translations are installed.
bool SetLanguage(const QString &path);

// Back to the built-in English texts, Qt's own included.
void SetEnglishLanguage();

// Qt's own texts in the language of code (empty: Qt's English).
void useQtTranslations(const QString &code);

} // namespace tessaly
