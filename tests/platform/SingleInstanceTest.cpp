#include "platform/SingleInstance.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

// Every file below a folder with a hash of its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path, QCryptographicHash::hash(test::readAll(path), QCryptographicHash::Sha1));
    }
    return files;
}

} // namespace

TEST(SingleInstance, SecondClaimAsksTheFirstToComeForward)
{
    const QString key = u"test-"_s + QUuid::createUuid().toString();
    SingleInstance first(key);
    ASSERT_TRUE(first.claim());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    // The second claimant runs its blocking handshake while the first one's
    // event loop keeps answering, as two processes would.
    bool secondClaimed = true;
    QThread *other = QThread::create([&] {
        SingleInstance second(key);
        secondClaimed = second.claim();
    });
    other->start();
    QDeadlineTimer deadline(5000);
    while (!other->isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    other->wait();
    delete other;
    EXPECT_FALSE(secondClaimed);
    EXPECT_TRUE(raised.count() >= 1 || raised.wait(2000));

    // Other keys (another program folder) are other instances.
    SingleInstance unrelated(key + u"-other"_s);
    EXPECT_TRUE(unrelated.claim());
}

TEST(SingleInstance, SecondProgramStartLeavesNoTrace)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TESSALY_HOME"_s, test::home());
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    QProcess first;
    first.setProcessEnvironment(env);
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(QStringLiteral(TESSALY_APP_PATH), {});
    ASSERT_TRUE(first.waitForStarted(10000));

    // Wait until the first instance listens and has finished loading.
    SingleInstance probe(u"unused"_s);
    const QString key = QString::fromUtf16(u"Tessaly Poster (Beta 2)") + u'|' + QDir::cleanPath(test::home());
    const QString name = SingleInstance(key).serverName();
    QDeadlineTimer ready(20000);
    bool listening = false;
    while (!listening && !ready.hasExpired()) {
        QLocalSocket s;
        s.connectToServer(name);
        listening = s.waitForConnected(200);
        if (!listening)
            QThread::msleep(100);
    }
    ASSERT_TRUE(listening);
    QDeadlineTimer settle(10000);
    while (!QFile::exists(test::homeFile(u"Settings.ini"_s)) && !settle.hasExpired())
        QThread::msleep(50);
    QThread::msleep(1500); // start-up pauses between its steps
    const auto before = snapshot(test::home());

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(TESSALY_APP_PATH), {u"/F"_s, u"/nonexistent"_s, u"/P"_s});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 2); // its command line was not carried out, and it says so
    EXPECT_TRUE(second.readAllStandardError().contains("is already running"));
    EXPECT_EQ(snapshot(test::home()), before);
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    if (!first.waitForFinished(5000)) {
        first.kill();
        first.waitForFinished(5000);
    }
}
