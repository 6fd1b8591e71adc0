#include "application/HeadlessRun.h"
#include "application/Lifecycle.h"
#include "common/Log.h"
#include "engine/RunPlan.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "rarpar/Tools.h"
#include "storage/AppSettings.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "common/Clock.h"
#include "platform/SystemActions.h"
#include "support/FakeDesktop.h"
#include "support/FixedClock.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;

namespace {

class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        saved = PostTimeouts::current();
        PostTimeouts::current().restartMs = 200;
    }
    void TearDown() override { PostTimeouts::current() = saved; }

    // Settings.ini with the scripted server and the given server name.
    void writeSettings(const QString &serverName)
    {
        ASSERT_TRUE(writeDefaultSettings());
        ASSERT_EQ(settingsFile().write(u"Settings"_s, {{u"Server"_s, serverName},
                                                       {u"Port"_s, QString::number(server.port())},
                                                       {u"Connections"_s, u"3"_s},
                                                       {u"MaxLines"_s, u"1000"_s},
                                                       {u"Nickname"_s, u"poster"_s},
                                                       {u"Email"_s, u"poster@example.org"_s}}),
                  QString());
    }

    // Runs the program's headless path until it reports its exit status.
    int run(const QStringList &arguments, const std::function<void()> &during = {})
    {
        HeadlessRun headless(arguments);
        current = &headless;
        int status = -1;
        QObject::connect(&headless, &HeadlessRun::finished, [&](int s) { status = s; });
        headless.start();
        // Generous: the jobs' tools run at idle priority, and a loaded machine
        // (the sanitizer suite) gives them little.
        QDeadlineTimer deadline(60000);
        while (status < 0 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (during)
                during();
        }
        EXPECT_TRUE(headless.isFinished());
        current = nullptr;
        return status;
    }


    test::ScriptedNntpServer server;
    PostTimeouts saved;
    HeadlessRun *current = nullptr; // while run() runs
};

} // namespace

TEST_F(Headless, PostsAFolderAndEndsWithStatusZero)
{
    writeSettings(u"127.0.0.1"_s);
    const QString folder = test::homeFile(u"pics"_s);
    test::writeAll(folder + u"/big.bin"_s, test::randomData(128000 * 3 + 5, 7));
    test::writeAll(folder + u"/small.bin"_s, test::randomData(10, 8));
    EXPECT_EQ(run({u"/F"_s, folder, u"/H"_s, u"Pics"_s, u"/N"_s, u"alt.binaries.test"_s, u"/Z"_s, u"pics"_s,
                   u"/P"_s, u"/C"_s}),
              0);
    // 4 + 1 parts and the NZB file.
    EXPECT_EQ(server.accepted().size(), 6);
    EXPECT_TRUE(logHas(u"Successfully uploaded: Pics - [0/2] - \"pics.nzb\" yEnc"_s));
    EXPECT_TRUE(logHas(u".:: Tessaly Poster closed ::."_s));
    // The queue was saved on the way out, every item posted.
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 3);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
}

// The power actions of the command line reach the (fake) login manager after
// the countdown, and only after a run that posted everything.
TEST_F(Headless, PowerActionsAfterTheCountdownAndOnlyOverACompleteRun)
{
    test::FakeDesktop desktop;
    ASSERT_TRUE(desktop.start(test::homeFile(u"desktop-calls"_s)));
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", desktop.address().toUtf8());
    resetDesktopBuses();
    test::FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(23, 59, 50)));
    Clock::setInstance(&clock);
    writeSettings(u"127.0.0.1"_s);
    const QString folder = test::homeFile(u"p"_s);
    test::writeAll(folder + u"/a.bin"_s, test::randomData(5000, 1));
    const QStringList files{u"/F"_s, folder, u"/H"_s, u"P"_s, u"/N"_s, u"alt.test"_s, u"/P"_s};
    int secondsShown = 0;
    // The clock runs on while the countdown shows; a signal may end it first.
    const auto countDown = [&](int signalAt) {
        return [&, signalAt] {
            Countdown *c = current ? current->countdown() : nullptr;
            if (!c || !c->isRunning())
                return;
            if (secondsShown == signalAt)
                current->stopBySignal(2);
            ++secondsShown;
            clock.moveOn(1);
            c->tick();
        };
    };
    testing::internal::CaptureStdout();
    EXPECT_EQ(run(files + QStringList{u"/S"_s}, countDown(-1)), ExitAllPosted);
    const QByteArray shown = QByteArray::fromStdString(testing::internal::GetCapturedStdout());
    EXPECT_EQ(desktop.calls(), QStringList({u"CanPowerOff"_s, u"PowerOff false"_s}));
    EXPECT_EQ(secondsShown, 30);
    // Into a pipe: a line every ten seconds.
    EXPECT_EQ(shown.count("Powering off computer in"), 4) << shown.constData();
    EXPECT_TRUE(shown.contains("Powering off computer in 20 seconds (Ctrl-C cancels)\n")) << shown.constData();
    EXPECT_FALSE(shown.contains("Powering off computer in 29"));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(logHas(u"Power Off: accepted by the system."_s));

    desktop.clearCalls();
    uploadQueue().clear();
    SaveQueue();
    EXPECT_EQ(run(files + QStringList{u"/L"_s}, countDown(-1)), ExitAllPosted);
    EXPECT_EQ(desktop.calls(), QStringList({u"GetSessionByPID"_s, u"Terminate /org/freedesktop/login1/session/_31"_s}));

    // Refused: said, status 5. Ctrl-C in the countdown: nothing asked. A failed run: no countdown.
    desktop.clearCalls();
    desktop.setCanAnswer(u"no"_s);
    EXPECT_EQ(run({u"/P"_s, u"/B"_s}, countDown(-1)), 0) << "nothing left to post, nothing done";
    uploadQueue().clear();
    SaveQueue();
    secondsShown = 0;
    EXPECT_EQ(run(files + QStringList{u"/B"_s}, countDown(-1)), ExitActionRefused);
    EXPECT_EQ(desktop.calls(), QStringList{u"CanHibernate"_s});
    EXPECT_EQ(secondsShown, 0); // refused before any countdown
    desktop.clearCalls();
    uploadQueue().clear();
    SaveQueue();
    secondsShown = 0;
    desktop.setCanAnswer(u"yes"_s);
    EXPECT_EQ(run(files + QStringList{u"/R"_s}, countDown(12)), 128 + 2);
    EXPECT_EQ(secondsShown, 13);
    EXPECT_EQ(desktop.calls(), QStringList{u"CanReboot"_s}); // asked before the countdown, never done
    desktop.clearCalls();
    server.refuse = [](const test::ReceivedArticle &) { return true; };
    EXPECT_EQ(run(files + QStringList{u"/S"_s}, countDown(-1)), ExitSomeFailed);
    EXPECT_EQ(desktop.calls(), QStringList());
    EXPECT_TRUE(logHas(u"Hibernate was refused by the system: the login manager answers \"no\" to CanHibernate"_s));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("Power Off: not done, as not every item was posted."), std::string::npos) << said;
    Clock::setInstance(nullptr);
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    resetDesktopBuses();
}

TEST_F(Headless, VerifyNamesTheMissingArticlesOfAnNzbAndSaysSoInItsStatus)
{
    writeSettings(u"127.0.0.1"_s);
    const QString folder = test::homeFile(u"v"_s);
    test::writeAll(folder + u"/big.bin"_s, test::randomData(128000 * 4, 3));
    ASSERT_EQ(run({u"/F"_s, folder, u"/H"_s, u"V"_s, u"/N"_s, u"alt.binaries.test"_s, u"/Z"_s, u"v"_s, u"/P"_s}), 0);
    const QString nzb = folder + u"/v.nzb"_s;
    const QStringList ids = uploadQueue().item(1).messageids;
    ASSERT_EQ(ids.size(), 4);
    EXPECT_TRUE(logHas(u"Post check: checked 5 / missing 0"_s));

    // Two articles gone; this server wants a group before STAT.
    server.held.remove(ids[1].toUtf8());
    server.held.remove(ids[3].toUtf8());
    server.statNeedsGroup = true;
    logModel().clear();
    EXPECT_EQ(run({u"--verify"_s, nzb}), 1);
    EXPECT_TRUE(logHas(u"\"big.bin\" yEnc (1/4): 2 of 4 parts on the server, missing: 2, 4"_s));
    EXPECT_TRUE(server.commands.contains("GROUP alt.binaries.test"));

    // Back again: status 0. An unreadable NZB or a server that cannot check: 2.
    server.held.insert(ids[1].toUtf8());
    server.held.insert(ids[3].toUtf8());
    EXPECT_EQ(run({u"--verify"_s, nzb}), 0);
    EXPECT_TRUE(logHas(u"\"big.bin\" yEnc (1/4): all 4 parts on the server"_s));
    // With a check server set, it is asked instead: part 3 lost there fails the NZB.
    test::ScriptedNntpServer checker;
    ASSERT_TRUE(checker.start());
    checker.holds = [&](const QByteArray &id) { return id != ids[2].toUtf8(); };
    const auto checkServer = [](const QString &port) {
        return settingsFile().write(u"Settings"_s, {{u"CheckServer"_s, port.isEmpty() ? QString() : u"127.0.0.1"_s},
                                                    {u"CheckPort"_s, port}});
    };
    ASSERT_EQ(checkServer(QString::number(checker.port())), QString());
    const qsizetype askedHere = server.commands.size();
    EXPECT_EQ(run({u"--verify"_s, nzb}), 1);
    EXPECT_TRUE(logHas(u"missing: 3"_s));
    EXPECT_EQ(checker.statsAsked.size(), 4);
    EXPECT_FALSE(server.commands.mid(askedHere).join(' ').contains("STAT"));
    ASSERT_EQ(checkServer(QString()), QString());
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({u"--verify"_s, folder + u"/none.nzb"_s}), 2);
    server.statReply = "500 what?\r\n";
    EXPECT_EQ(run({u"--verify"_s, nzb}), 2);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("none.nzb"), std::string::npos) << said;
    EXPECT_NE(said.find("The server cannot check articles: 500 what?"), std::string::npos) << said;

    // Unusable Message-IDs are not asked for (one would make the server
    // refuse the command): they count as missing, the rest is checked.
    server.statReply.clear();
    QByteArray text = test::readAll(nzb);
    text.replace(ids[0].toUtf8(), "has a blank@x").replace(ids[2].toUtf8(), QByteArray(QByteArray(600, 'a') + "@x"));
    test::writeAll(folder + u"/bad.nzb"_s, text);
    logModel().clear();
    EXPECT_EQ(run({u"--verify"_s, folder + u"/bad.nzb"_s}), 1);
    EXPECT_TRUE(logHas(u"(1/4): 2 of 4 parts on the server, missing: 1, 3 (not asked, the Message-ID is unusable: 1, 3)"_s));
    EXPECT_FALSE(server.commands.contains("STAT <has a blank@x>"));
    // Nothing usable to ask for: nothing was checked, which is no success.
    text.replace(ids[1].toUtf8(), "").replace(ids[3].toUtf8(), "two\tparts@x");
    test::writeAll(folder + u"/bad.nzb"_s, text);
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({u"--verify"_s, folder + u"/bad.nzb"_s}), 2);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("no usable Message-ID"), std::string::npos);
}

TEST_F(Headless, WhatNeedsAPersonEndsTheRunAndKeepsTheQueue)
{
    const QString folder = test::homeFile(u"pics"_s);
    test::writeAll(folder + u"/a.bin"_s, test::randomData(100, 9));
    const QStringList post{u"/F"_s, folder, u"/H"_s, u"S"_s, u"/N"_s, u"alt.test"_s, u"/P"_s};

    // No server named: said on standard error, status 2, nothing posted, the queued file kept.
    writeSettings(QString());
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(post), 2);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("server"), std::string::npos) << said;
    EXPECT_EQ(server.accepted().size(), 0);
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 1);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::Queued);

    // A folder that does not exist queues nothing: status 1. /P alone resumes
    // the queue left behind.
    writeSettings(u"127.0.0.1"_s);
    EXPECT_EQ(run({u"/F"_s, test::homeFile(u"none"_s), u"/H"_s, u"S"_s, u"/N"_s, u"alt.test"_s}), 1);
    EXPECT_EQ(run({u"/P"_s}), 0);
    EXPECT_EQ(server.accepted().size(), 1);
    EXPECT_EQ(run({u"/P"_s}), 0); // nothing left to post, everything posted

    // An unreadable queue is not an empty one: status 2, and why.
    test::writeAll(queueFilePath(), "<data><file>");
    testing::internal::CaptureStderr();
    EXPECT_EQ(run({u"/P"_s, u"/C"_s}), 2);
    const std::string unreadable = testing::internal::GetCapturedStderr();
    EXPECT_NE(unreadable.find("the queue could not be read"), std::string::npos) << unreadable;
    EXPECT_TRUE(QFile::exists(queueFilePath() + u".bad"_s));
}

TEST_F(Headless, ADeadServerEndsTheRunAfterRetryMinutesUnlessItComesBack)
{
    writeSettings(u"127.0.0.1"_s);
    const quint16 dead = test::freePort();
    ASSERT_EQ(settingsFile().write(u"Settings"_s, {{u"Port"_s, QString::number(dead)}, {u"RetryMinutes"_s, u"10"_s}}),
              QString());
    PostTimeouts::current().backoffMaxMs = 400;
    test::FixedClock clock(QDateTime::currentDateTime());
    Clock::setInstance(&clock);
    const QString folder = test::homeFile(u"pics"_s);
    test::writeAll(folder + u"/a.bin"_s, test::randomData(1000, 10));
    const auto refusals = [] {
        int n = 0;
        for (const LogLine &l : logModel().lines())
            n += l.text.contains(u"Connection refused"_s);
        return n;
    };

    // Retried quietly (the reason once a minute), then given up: status 3.
    QElapsedTimer wall;
    wall.start();
    testing::internal::CaptureStderr();
    int refusedBeforeTheLimit = 0;
    EXPECT_EQ(run({u"/F"_s, folder, u"/H"_s, u"S"_s, u"/N"_s, u"alt.test"_s, u"/P"_s, u"/C"_s},
                  [&] {
                      if (clock.elapsedMs == 0 && wall.elapsed() > 1500) {
                          refusedBeforeTheLimit = refusals();
                          clock.elapsedMs += 10 * 60000;
                      }
                  }),
              ExitGaveUp);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(refusedBeforeTheLimit, 1);
    EXPECT_NE(said.find("No progress for 10 minutes: 0 - Connection refused"), std::string::npos) << said;
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 1);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::Queued);

    // The server comes back nine minutes in: the run completes.
    test::ScriptedNntpServer back;
    wall.restart();
    EXPECT_EQ(run({u"/P"_s, u"/C"_s},
                  [&] {
                      if (!back.port() && wall.elapsed() > 1000) {
                          clock.elapsedMs += 9 * 60000;
                          ASSERT_TRUE(back.start(QHostAddress::LocalHost, dead));
                      }
                  }),
              ExitAllPosted);
    EXPECT_EQ(back.accepted().size(), 1);
    Clock::setInstance(nullptr);
}

TEST_F(Headless, RunsWaitingRarParJobsThenPostsTheirResults)
{
    writeSettings(u"127.0.0.1"_s);
    const QString folder = test::homeFile(u"My Pics"_s);
    test::writeAll(folder + u"/a.bin"_s, test::randomData(250000, 10));
    JobRequest r;
    r.inputs = {folder};
    r.collectionName = u"Pics"_s;
    r.outputPath = test::homeFile(u"Out"_s);
    r.subject = u"Pics"_s;
    r.newsgroups = {u"alt.binaries.test"_s};
    r.nzb = true;
    r.nzbName = u"Pics"_s;
    r.options.archiveName = u"Pics.rar"_s;
    r.options.splitText = u"100000"_s;
    r.options.partSize = 128000;
    r.options.calcEfficient = false;
    jobTree().addJob(makeJobs(r, itemSize(folder)).at(0));
    jobTree().addJob(makeJobs(r, itemSize(folder)).at(0));
    ASSERT_TRUE(SaveRarPar());

    // A recovery tool that fails ends the run non-zero with both jobs kept.
    const QString fake = test::homeFile(u"par2"_s);
    test::writeAll(fake, "#!/bin/sh\necho 'No space left on device'\nexit 1\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    setBuiltinPar2(fake);
    EXPECT_EQ(run({u"/P"_s, u"/C"_s}), ExitSomeFailed);
    setBuiltinPar2(QStringLiteral(TESSALY_PAR2_TOOL));
    EXPECT_TRUE(logHas(u"par2 failed with exit status 1: No space left on device"_s));
    EXPECT_EQ(server.accepted().size(), 0);
    EXPECT_EQ(test::readAll(jobFilePath()).count("Image=\"1\""), 2);

    // With the real tool both jobs run, and what they made is posted.
    QFile::remove(fake);
    EXPECT_EQ(run({u"/P"_s, u"/C"_s}), 0);
    EXPECT_TRUE(logHas(u"Finished creating Par2 recovery files"_s));
    EXPECT_TRUE(logHas(u"Successfully uploaded: Pics - [0/"_s));
    EXPECT_FALSE(test::readAll(jobFilePath()).contains("Image=\"1\""));
    uploadQueue().clear();
    const int items = LoadStartXML();
    EXPECT_GE(items, 2 * 6); // three volumes, two recovery files and the NZB, twice
    for (int i = 1; i <= items; ++i)
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
    EXPECT_TRUE(QFileInfo::exists(test::homeFile(u"Out/Tessaly_Temp0002/Pics.part3.rar"_s)));
}

// The exit status speaks of the items this run took, not of the whole queue.
TEST(ExitStatus, CountsOnlyTheItemsOfThisRun)
{
    UploadItem posted = UploadQueue::newItem(u"posted"_s, u"a.b"_s, u"/x"_s, 1, u"t"_s, {u"i@x"_s});
    posted.state = UploadState::PostedOK;
    posted.run = UploadItem::Run::Taken;
    uploadQueue().append(posted);
    uploadQueue().append(UploadQueue::newItem(u"left"_s, u"a.b"_s, u"/y"_s, 1, u"t"_s, {u"j@x"_s}));
    EXPECT_EQ(queueExitStatus(), ExitAllPosted);
    EXPECT_EQ(queueExitStatus(ItemScope::WholeQueue), ExitSomeFailed);
    EXPECT_EQ(itemsNotPosted(ItemScope::WholeQueue), QStringList{u"left: Queued"_s});
}
