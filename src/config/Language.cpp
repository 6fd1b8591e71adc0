#include "config/Language.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "platform/ProgramFolder.h"
#include "storage/ProfileFile.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace tessaly {

QString languagesFolder()
{
    return inProgramFolder(u"Languages"_s);
}

QString languageFilePath(const QString &name)
{
    return languagesFolder() + u'/' + name + u".lng"_s;
}

QStringList availableLanguages()
{
    QStringList names{u"English"_s};
    const QStringList files = QDir(languagesFolder()).entryList({u"*.lng"_s}, QDir::Files, QDir::Name);
    for (const QString &f : files)
        names << f.left(f.size() - 4);
    return names;
}

bool SetLanguage(const QString &path)
{
    if (!fileExists(path)) {
        LogError(ErrorCode::FileNotFound, u"File not found: "_s + path);
        return false;
    }
    QFile probe(path);
    if (!probe.open(QIODevice::ReadOnly)) {
        LogError(ErrorCode::PermissionDenied, probe.errorString() + u": "_s + path);
        return false;
    }
    probe.close();
    const ProfileFile file(path, false);
    MessageTable &table = messageTable();
    for (const MessageTable::Section &section : MessageTable::sections()) {
        const QHash<QString, QString> values = file.section(QString::fromUtf16(section.name));
        for (int slot = section.first; slot <= section.last; ++slot) {
            const QString key = QString::number(slot - section.first + 1);
            // Texts added after a language file was written stay English.
            if (slot > MessageTable::FirstAddedSlot - 1 && !values.contains(key))
                table.setText(slot, MessageTable::englishText(slot));
            else
                table.setText(slot, values.value(key));
        }
    }
    return true;
}

} // namespace tessaly
