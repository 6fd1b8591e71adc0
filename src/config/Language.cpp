#include "config/Language.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "platform/ProgramFolder.h"
#include "storage/AppSettings.h"
#include "storage/ProfileFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>

using namespace Qt::StringLiterals;

namespace tessaly {

QStringList availableLanguages()
{
    QStringList found;
    for (const QString &folder : resourceFolders())
        for (const QString &f : QDir(folder + u"/Languages"_s).entryList({u"*.lng"_s}, QDir::Files))
            if (const QString name = f.left(f.size() - 4); !found.contains(name) && name != u"English"_s)
                found << name;
    found.sort(Qt::CaseInsensitive);
    return QStringList{u"English"_s} + found;
}

bool SetLanguage(const QString &path)
{
    if (!fileExists(path)) {
        LogError(ErrorCode::FileNotFound, u"File not found: "_s + path);
        return false;
    }
    const ProfileFile file(path, false);
    if (const QString damage = file.damage(); !damage.isEmpty()) {
        LogError(ErrorCode::PermissionDenied, damage + u": "_s + path);
        return false;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        LogError(ErrorCode::PermissionDenied, probe.errorString() + u": "_s + path);
        return false;
    }
    probe.close();
    // A text the file lacks (an empty file, a missing section, a text added
    // after the file was written) stays English, with one line for the file.
    MessageTable &table = messageTable();
    int missing = 0;
    for (const MessageTable::Section &section : MessageTable::sections()) {
        const QHash<QString, QString> values = file.section(QString::fromUtf16(section.name));
        for (int slot = section.first; slot <= section.last; ++slot) {
            const QString key = QString::number(slot - section.first + 1);
            const auto found = values.constFind(key);
            if (found == values.cend() || found->isEmpty()) {
                table.setText(slot, MessageTable::englishText(slot));
                missing += slot < MessageTable::FirstAddedSlot;
            } else {
                table.setText(slot, *found);
            }
        }
    }
    if (missing > 0)
        AddLog(0, u"The language file %1 lacks %2 of its texts; they are shown in English."_s.arg(path).arg(missing),
               LogColour::Orange);
    useQtTranslations(file.section(u"Language"_s).value(u"code"_s).trimmed());
    return true;
}

void SetEnglishLanguage()
{
    messageTable().SetEnglishLang();
    useQtTranslations({});
}

void useQtTranslations(const QString &code)
{
    // Qt's own texts (Yes, No, Cancel, the file dialog) in the same language.
    static QTranslator *current = nullptr;
    if (!QCoreApplication::instance())
        return;
    if (current) {
        QCoreApplication::removeTranslator(current);
        delete current;
        current = nullptr;
    }
    if (code.isEmpty())
        return;
    auto *translator = new QTranslator;
    if (translator->load(u"qtbase_"_s + code, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        current = translator;
    } else {
        delete translator; // Debian: qt6-translations-l10n
    }
}

} // namespace tessaly
