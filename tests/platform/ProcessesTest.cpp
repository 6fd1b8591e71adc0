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

TEST(Processes, EndsOnlyMatchingProcessesOfThisUser)
{
    QString name;
    const QString program = uniqueSleeper(&name);
    QProcess a, b;
    a.start(program, {u"30"_s});
    b.start(program, {u"31"_s});
    ASSERT_TRUE(a.waitForStarted(5000));
    ASSERT_TRUE(b.waitForStarted(5000));

    EXPECT_EQ(findProcessesByName(name.toUpper()).size(), 2); // case does not matter
    EXPECT_TRUE(findProcessesByName(name + u"x"_s).isEmpty());
    // With an argument prefix only the process that has it matches.
    EXPECT_EQ(findProcessesByName(name, u"31"_s), QList<qint64>{b.processId()});
    EXPECT_TRUE(CloseAppByName(name.mid(3), u"31"_s)); // the name's end is enough
    EXPECT_TRUE(finishes(b, 5000));
    EXPECT_EQ(a.state(), QProcess::Running);
    EXPECT_TRUE(CloseAppByName(name));
    EXPECT_TRUE(finishes(a, 5000));
    EXPECT_FALSE(CloseAppByName(name));
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
    EXPECT_TRUE(findProcessesByName(name).isEmpty());
    EXPECT_FALSE(CloseAppByName(name));
    EXPECT_EQ(other.state(), QProcess::Running);
    other.kill();
    other.waitForFinished(5000);
    QFile::remove(program);
}
