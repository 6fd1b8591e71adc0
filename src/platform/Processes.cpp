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

} // namespace

ProcessView ownProcess(qint64 pid)
{
    ProcessView view;
    if (pid <= 0 || pid == getpid())
        return view;
    const QString dir = u"/proc/"_s + QString::number(pid);
    struct stat st;
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0 || st.st_uid != getuid())
        return view;
    QList<QByteArray> args = readSmall(dir + u"/cmdline"_s).split('\0');
    if (!args.isEmpty() && args.constLast().isEmpty())
        args.removeLast();
    if (args.isEmpty())
        return view; // a zombie or a kernel thread
    view.pid = pid;
    view.name = QFileInfo(QString::fromLocal8Bit(args.takeFirst())).fileName();
    for (const QByteArray &a : args)
        view.arguments << QString::fromLocal8Bit(a);
    return view;
}

QList<qint64> findOwnProcesses(const std::function<bool(const ProcessView &)> &match)
{
    QList<qint64> found;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        const ProcessView view = ownProcess(pid);
        if (view.pid != 0 && match(view))
            found << pid;
    }
    return found;
}

bool terminateProcesses(const QList<qint64> &pids)
{
    for (qint64 pid : pids)
        ::kill(pid_t(pid), SIGTERM); // a failure for one process does not stop the others
    return !pids.isEmpty();
}

#else

ProcessView ownProcess(qint64)
{
    return {};
}

QList<qint64> findOwnProcesses(const std::function<bool(const ProcessView &)> &)
{
    return {};
}

bool terminateProcesses(const QList<qint64> &)
{
    return false;
}

#endif

bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder, qint64 *pid)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(arguments);
    p.setWorkingDirectory(workingFolder);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    return p.startDetached(pid);
}

} // namespace tessaly
