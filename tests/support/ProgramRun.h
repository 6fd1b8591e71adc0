// The program itself as a child process: without a display or a desktop
// bus, in a program folder of its own.
#pragma once

#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace tessaly::test {

struct Ran
{
    int status = -1; // -1: it crashed, or was killed when its time ran out
    QByteArray out, err;
};

// The environment of a run without a display; TESSALY_HOME is home, when given.
inline QProcessEnvironment headlessEnvironment(const QString &home = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        env.remove(QString::fromLatin1(name));
    if (!home.isEmpty()) {
        QDir().mkpath(home);
        env.insert(QStringLiteral("TESSALY_HOME"), home);
    }
    return env;
}

// Runs a program to its end while this process handles its events (its
// scripted servers answer meanwhile).
inline Ran runToEnd(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {},
                    int ms = 120000)
{
    QProcess p;
    if (!env.isEmpty())
        p.setProcessEnvironment(env);
    p.start(program, arguments);
    Ran r;
    if (!p.waitForStarted(10000))
        return r;
    for (QDeadlineTimer d(ms); p.state() != QProcess::NotRunning && !d.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        p.waitForFinished(20);
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// Settings.ini as the program's first start writes it (a start with a bad
// command line, which ends with status 1) into env's program folder.
inline QByteArray firstStartSettings(const QString &program, const QProcessEnvironment &env)
{
    const Ran first = runToEnd(program, {QStringLiteral("/F"), QStringLiteral("/nonexistent"),
                                         QStringLiteral("/P"), QStringLiteral("/C")}, env, 30000);
    EXPECT_EQ(first.status, 1) << first.err.constData();
    return readAll(env.value(QStringLiteral("TESSALY_HOME")) + QStringLiteral("/Settings.ini"));
}

} // namespace tessaly::test
