#include "storage/Newsgroups.h"

#include "common/GeneralFunc.h"
#include "platform/ProgramFolder.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace tessaly {

QString newsgroupsFilePath()
{
    return inProgramFolder(u"Newsgroups.dat"_s);
}

QStringList loadNewsgroups(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QString name = QString::fromUtf8(line).trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
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
