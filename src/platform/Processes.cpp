#include "platform/Processes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

#ifdef Q_OS_LINUX

namespace {

QByteArray readSmall(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(65536) : QByteArray();
}

bool endsWithName(const QString &candidate, const QString &name)
{
    return !candidate.isEmpty() && candidate.endsWith(name, Qt::CaseInsensitive);
}

} // namespace

QList<qint64> findProcessesByName(const QString &name, const QString &argumentPrefix)
{
    QList<qint64> found;
    if (name.isEmpty())
        return found;
    const uid_t me = getuid();
    const qint64 self = getpid();
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self)
            continue;
        const QString dir = u"/proc/"_s + entry;
        struct stat st;
        if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || st.st_uid != me)
            continue;
        const QList<QByteArray> args = readSmall(dir + u"/cmdline"_s).split('\0');
        const QString comm = QString::fromLocal8Bit(readSmall(dir + u"/comm"_s)).trimmed();
        const QString exe = QFileInfo(QFile::symLinkTarget(dir + u"/exe"_s)).fileName();
        const QString argv0 = args.isEmpty() ? QString() : QFileInfo(QString::fromLocal8Bit(args.first())).fileName();
        if (!endsWithName(exe, name) && !endsWithName(comm, name) && !endsWithName(argv0, name))
            continue;
        if (!argumentPrefix.isEmpty()) {
            bool hasArgument = false;
            for (const QByteArray &a : args)
                hasArgument = hasArgument || QString::fromLocal8Bit(a).startsWith(argumentPrefix);
            if (!hasArgument)
                continue;
        }
        found << pid;
    }
    return found;
}

bool CloseAppByName(const QString &name, const QString &argumentPrefix)
{
    const QList<qint64> pids = findProcessesByName(name, argumentPrefix);
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGTERM); // a failure for one process does not stop the others
    return !pids.isEmpty();
}

#else

QList<qint64> findProcessesByName(const QString &, const QString &)
{
    return {};
}

bool CloseAppByName(const QString &, const QString &)
{
    return false;
}

#endif

bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(arguments);
    p.setWorkingDirectory(workingFolder);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    return p.startDetached();
}

} // namespace tessaly
