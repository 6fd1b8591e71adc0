// Language files: Languages/<name>.lng beside the program, an INI file with
// one section per window and keys 1, 2, ... for that window's texts.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

QString languagesFolder();
QString languageFilePath(const QString &name);

// "English" followed by the base names of the *.lng files.
QStringList availableLanguages();

// Fills the message table from a language file; a missing key leaves its
// slot empty. False (logged in red, the table unchanged for a missing file)
// when the file is missing or cannot be read.
bool SetLanguage(const QString &path);

} // namespace tessaly
