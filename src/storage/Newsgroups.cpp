#include "storage/Newsgroups.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/ProgramFolder.h"
#include "platform/SafeFiles.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace tessaly {

QString newsgroupsFilePath()
{
    return inProgramFolder(u"Newsgroups.dat"_s);
}

bool isNewsgroupName(const QString &name)
{
    if (name.isEmpty() || name.size() > kMaxNewsgroupName)
        return false;
    for (const QChar c : name) {
        // Blanks and commas separate names in a Newsgroups header; control
        // characters and undecodable bytes have no place in one.
        if (c.unicode() <= 0x20 || c.unicode() == 0x7f || c == u',' || c == QChar::ReplacementCharacter
            || c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

QStringList loadNewsgroups(const QString &path)
{
    const SmallFile f = readSmallFile(path, FileLimit::Settings);
    if (f.outcome == SmallFile::Damaged)
        AddLog(0, u"The newsgroup list "_s + path + u" was not read: "_s + f.problem, LogColour::Red);
    if (f.outcome != SmallFile::Ok)
        return {};
    QStringList names;
    int skipped = 0, firstSkipped = 0, lineNumber = 0;
    const QList<QByteArray> lines = f.data.split('\n');
    for (const QByteArray &line : lines) {
        ++lineNumber;
        const QString name = QString::fromUtf8(line).trimmed();
        if (name.isEmpty())
            continue;
        if (!isNewsgroupName(name)) {
            if (skipped++ == 0)
                firstSkipped = lineNumber;
            continue;
        }
        names.append(name);
    }
    if (skipped > 0)
        AddLog(0,
               u"%1: %2 line(s) skipped that are not newsgroup names (the first is line %3)"_s.arg(path)
                   .arg(skipped)
                   .arg(firstSkipped),
               LogColour::Red);
    return names;
}

QString saveNewsgroups(const QStringList &names, const QString &path)
{
    QByteArray data;
    for (const QString &name : names)
        data += name.toUtf8() + "\r\n";
    return writeFileAtomically(path, data);
}

} // namespace tessaly
