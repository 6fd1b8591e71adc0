#include "rarpar/TempFolders.h"

#include "platform/Processes.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

const QRegularExpression &tempName()
{
    static const QRegularExpression re(u"^Tessaly_Temp[0-9]{4}$"_s);
    return re;
}

QString markerPath(const QString &folder)
{
    return QDir(folder).filePath(QLatin1StringView(TempMarkerName));
}

QString programName()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

struct Marker
{
    bool present = false;
    bool finished = false;
    qint64 pid = 0;
    QString program;
};

Marker readMarker(const QString &folder)
{
    Marker m;
    QFile file(markerPath(folder));
    if (!file.open(QIODevice::ReadOnly))
        return m;
    const QList<QByteArray> lines = file.read(4096).split('\n');
    if (lines.isEmpty() || lines.first() != "Tessaly Poster Rar & Par folder")
        return m;
    m.present = true;
    for (const QByteArray &line : lines) {
        if (line == "state=finished")
            m.finished = true;
        else if (line.startsWith("pid="))
            m.pid = line.mid(4).toLongLong();
        else if (line.startsWith("program="))
            m.program = QString::fromUtf8(line.mid(8));
    }
    return m;
}

// Another process of this program still working in it (a second program
// folder may run jobs on the same save path).
bool workedOnElsewhere(const Marker &m)
{
    if (m.finished || m.pid <= 0 || m.pid == QCoreApplication::applicationPid())
        return false;
    const ProcessView view = ownProcess(m.pid);
    return view.pid != 0 && view.name == m.program;
}

} // namespace

bool markTempFolder(const QString &folder, bool finished)
{
    QSaveFile file(markerPath(folder));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = "Tessaly Poster Rar & Par folder\n";
    text += finished ? "state=finished\n" : "state=running\n";
    text += "pid=" + QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    text += "program=" + programName().toUtf8() + '\n';
    file.write(text);
    return file.commit();
}

bool isOwnTempFolder(const QString &folder)
{
    return readMarker(folder).present;
}

QStringList removeStaleTempFolders(const QString &base)
{
    QStringList removed;
    const QFileInfoList entries = QDir(base).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() || !tempName().match(entry.fileName()).hasMatch())
            continue;
        const Marker m = readMarker(entry.filePath());
        if (!m.present || m.finished || workedOnElsewhere(m))
            continue;
        if (QDir(entry.filePath()).removeRecursively())
            removed << entry.filePath();
    }
    return removed;
}

QStringList resultFoldersInside(const QString &input)
{
    QStringList out;
    if (!QFileInfo(input).isDir())
        return out;
    QDirIterator it(input, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!tempName().match(it.fileName()).hasMatch())
            continue;
        if (isOwnTempFolder(path) || !QDir(path).entryList({u"*.par2"_s}, QDir::Files).isEmpty())
            out << path;
    }
    return out;
}

} // namespace tessaly
