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
    bool componentStart = true;
    for (const QChar c : name) {
        if (c == u'.') {
            if (componentStart)
                return false;
            componentStart = true;
            continue;
        }
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'+'
              || u == u'-' || u == u'_'))
            return false;
        componentStart = false;
    }
    return !componentStart;
}

QString newsgroupsProblem(const QStringList &names)
{
    if (names.isEmpty())
        return u"no newsgroup"_s;
    for (const QString &name : names)
        if (!isNewsgroupName(name))
            return u"\"%1\" is not a newsgroup name"_s.arg(name.left(80));
    const qsizetype line = qsizetype(sizeof("Newsgroups: ") - 1) + names.join(u',').size();
    if (line > kMaxHeaderLine)
        return u"%1 newsgroups make a header line of %2 characters, more than %3"_s.arg(names.size()).arg(line).arg(
            kMaxHeaderLine);
    return {};
}

QStringList loadNewsgroups(const QString &path)
{
    const SmallFile f = readSmallFile(path, FileLimit::Settings);
    if (f.outcome == SmallFile::Damaged) {
        // Kept aside, so that the next save does not write over it.
        const QString bak = path + u".bak"_s;
        QFile::remove(bak);
        const bool kept = QFile::rename(path, bak);
        AddLog(0, u"The newsgroup list "_s + path + u" was not read ("_s + f.problem + u")"_s
                      + (kept ? u"; it was kept as "_s + bak : QString()),
               LogColour::Red);
    }
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
