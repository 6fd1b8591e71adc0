// Finding and ending the current user's processes by what they run, and
// starting outside programs without waiting for them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tessaly {

// What a process of the current user runs (never this process).
struct ProcessView
{
    qint64 pid = 0;
    QString name;          // the file name of its first command-line word
    QStringList arguments; // the rest of its command line
};

// The current user's processes (never another user's, never this one) that
// match; an empty list where processes cannot be listed.
QList<qint64> findOwnProcesses(const std::function<bool(const ProcessView &)> &match);
// What one of the current user's processes runs; nullopt-like (pid 0) when
// it is gone, belongs to another user or is this process.
ProcessView ownProcess(qint64 pid);
// Asks the processes to end (SIGTERM); returns whether there were any.
bool terminateProcesses(const QList<qint64> &pids);

// Starts a program in the background; returns false when it could not start.
// The started process's id goes to *pid when given.
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder,
                   qint64 *pid = nullptr);

} // namespace tessaly
