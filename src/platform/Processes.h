// Finding and ending processes by program name, and starting outside
// programs without waiting for them.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

// Sends a termination request to every process of the current user (never
// this process, never another user's) whose program name ends with name,
// compared without regard to case. The program name is checked as the
// executable's file name, the kernel's process name and the first command-line
// word. With argumentPrefix set, only processes that have a command-line
// argument starting with it match. Returns whether any process matched.
bool CloseAppByName(const QString &name, const QString &argumentPrefix = {});

// Process ids that CloseAppByName would end.
QList<qint64> findProcessesByName(const QString &name, const QString &argumentPrefix = {});

// Starts a program in the background; returns false when it could not start.
bool startDetached(const QString &program, const QStringList &arguments, const QString &workingFolder);

} // namespace tessaly
