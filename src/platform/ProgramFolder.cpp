#include "platform/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {
QString g_folder;

bool writable(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    QTemporaryFile probe(folder + u"/.write-test-XXXXXX"_s);
    return probe.open();
}

QString chooseFolder()
{
    const QString home = qEnvironmentVariable("TESSALY_HOME");
    if (!home.isEmpty()) {
        const QString abs = QDir(home).absolutePath();
        QDir().mkpath(abs);
        return abs;
    }
    QString exeFolder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                     : QDir::currentPath();
    // An installed copy (a bin folder beside its share/tessaly-poster) keeps
    // its data per user, also when it could write beside itself (as root).
    const bool installed = QDir::cleanPath(exeFolder).endsWith(u"/bin"_s)
        && QFileInfo(exeFolder + u"/../share/tessaly-poster"_s).isDir();
    if (!installed && writable(exeFolder))
        return QDir(exeFolder).absolutePath();
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        data = QDir::homePath() + u"/.local/share"_s;
    const QString perUser = data + u"/TessalyPoster"_s;
    QDir().mkpath(perUser);
    return perUser;
}
} // namespace

QString programFolder()
{
    if (g_folder.isEmpty())
        g_folder = QDir::cleanPath(chooseFolder());
    return g_folder;
}

QString inProgramFolder(const QString &name)
{
    return programFolder() + u'/' + name;
}

void resetProgramFolder()
{
    g_folder.clear();
}

QStringList resourceFolders()
{
    const QString exeFolder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                           : QDir::currentPath();
    QStringList candidates{exeFolder, exeFolder + u"/../share/tessaly-poster"_s};
#ifdef TESSALY_INSTALL_DATADIR
    candidates << QStringLiteral(TESSALY_INSTALL_DATADIR);
#endif
    candidates << programFolder();
    QStringList folders;
    for (const QString &c : std::as_const(candidates)) {
        const QString clean = QDir::cleanPath(QDir(c).absolutePath());
        if (!folders.contains(clean) && QFileInfo(clean).isDir())
            folders << clean;
    }
    return folders;
}

QString findResource(const QString &relative)
{
    for (const QString &folder : resourceFolders()) {
        const QString path = folder + u'/' + relative;
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

} // namespace tessaly
