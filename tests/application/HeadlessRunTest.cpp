#include "application/HeadlessRun.h"
#include "common/Log.h"
#include "engine/frmPost.h"
#include "storage/AppSettings.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

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
    int run(const QStringList &arguments)
    {
        HeadlessRun headless(arguments);
        int status = -1;
        QObject::connect(&headless, &HeadlessRun::finished, [&](int s) { status = s; });
        headless.start();
        QDeadlineTimer deadline(20000);
        while (status < 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(headless.isFinished());
        return status;
    }

    bool logHas(const QString &text) const
    {
        for (const LogLine &l : logModel().lines())
            if (l.text.contains(text))
                return true;
        return false;
    }

    test::ScriptedNntpServer server;
    PostTimeouts saved;
};

} // namespace

TEST_F(Headless, PostsAFolderAndEndsWithStatusZero)
{
    writeSettings(u"127.0.0.1"_s);
    const QString folder = test::homeFile(u"pics"_s);
    test::writeAll(folder + u"/big.bin"_s, test::randomData(128000 * 3 + 5, 7));
    test::writeAll(folder + u"/small.bin"_s, test::randomData(10, 8));
    EXPECT_EQ(run({u"/F"_s, folder, u"/H"_s, u"Pics"_s, u"/N"_s, u"alt.binaries.test"_s, u"/Z"_s, u"pics"_s,
                   u"/P"_s, u"/S"_s}),
              0);
    // 4 + 1 parts and the NZB file; the power-off asked for is not done without a person.
    EXPECT_EQ(server.accepted().size(), 6);
    EXPECT_TRUE(logHas(u"Successfully uploaded: Pics - [0/2] - \"pics.nzb\" yEnc"_s));
    EXPECT_TRUE(logHas(u".:: Tessaly Poster closed ::."_s));
    // The queue was saved on the way out, every item posted.
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 3);
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
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
}
