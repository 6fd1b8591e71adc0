#include "platform/Processes.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

// A copy of sleep under a name no other process has.
QString uniqueSleeper(QString *name)
{
    *name = u"tsl_"_s + QUuid::createUuid().toString(QUuid::Id128).left(10);
    // In the shared temporary folder, so that another user may run it too.
    const QString path = QDir::tempPath() + u'/' + *name;
    QFile::copy(QStandardPaths::findExecutable(u"sleep"_s), path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                    | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    return path;
}

bool finishes(QProcess &p, int ms)
{
    return p.state() == QProcess::NotRunning || p.waitForFinished(ms);
}

} // namespace

TEST(Processes, FindsAndEndsOnlyMatchingProcessesOfThisUser)
{
    QString name;
    const QString program = uniqueSleeper(&name);
    QProcess a, b;
    a.start(program, {u"30"_s});
    b.start(program, {u"31"_s});
    ASSERT_TRUE(a.waitForStarted(5000));
    ASSERT_TRUE(b.waitForStarted(5000));

    const auto named = [&name](const ProcessView &p) { return p.name == name; };
    EXPECT_EQ(findOwnProcesses(named).size(), 2);
    const ProcessView view = ownProcess(b.processId());
    EXPECT_EQ(view.name, name);
    EXPECT_EQ(view.arguments, QStringList{u"31"_s});
    EXPECT_EQ(ownProcess(QCoreApplication::applicationPid()).pid, 0); // never this process
    EXPECT_TRUE(terminateProcesses(findOwnProcesses([&](const ProcessView &p) {
        return named(p) && p.arguments == QStringList{u"31"_s};
    })));
    EXPECT_TRUE(finishes(b, 5000));
    EXPECT_EQ(a.state(), QProcess::Running);
    EXPECT_TRUE(terminateProcesses(findOwnProcesses(named)));
    EXPECT_TRUE(finishes(a, 5000));
    EXPECT_FALSE(terminateProcesses(findOwnProcesses(named)));
    QFile::remove(program);
}

TEST(Processes, NeverTouchesAnotherUsersProcess)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to start a process as another user";
    QString name;
    const QString program = uniqueSleeper(&name);
    QProcess other;
    other.start(u"setpriv"_s, {u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, program, u"30"_s});
    ASSERT_TRUE(other.waitForStarted(5000));
    QThread::msleep(300); // setpriv has become the sleeper, running as nobody
    ASSERT_EQ(other.state(), QProcess::Running);
    EXPECT_TRUE(findOwnProcesses([&name](const ProcessView &p) { return p.name == name; }).isEmpty());
    EXPECT_EQ(ownProcess(other.processId()).pid, 0);
    EXPECT_EQ(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished(5000);
    QFile::remove(program);
}
