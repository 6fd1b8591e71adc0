// A posting run against a server that misbehaves at random (seeded): dropped
// connections mid-article, refusals, unfriendly greetings, silence past the
// reply timeout, replies split across reads. Every part of every file must be
// accepted with the right bytes, and the run must end by itself.
#include "common/AppState.h"
#include "engine/Article.h"
#include "engine/frmPost.h"
#include "storage/AppSettings.h"
#include "storage/UploadQueue.h"
#include "support/FakePostHost.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"
#include "support/YencDecode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::ArticleAction;

TEST(Soak, FaultInjectionLosesNothing)
{
    const quint32 seed = qEnvironmentVariableIsEmpty("TESSALY_SOAK_SEED") ? 20261206u
                                                                           : quint32(qEnvironmentVariableIntValue("TESSALY_SOAK_SEED"));
    QRandomGenerator rng(seed);
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    int faults = 0;
    // Unfriendly greetings for some of the connections.
    for (int i = 0; i < 30; ++i) {
        const int r = int(rng.bounded(10));
        if (r == 0) {
            server.greetings << "400 too busy\r\n";
            ++faults;
        } else if (r == 1) {
            server.greetings << "502 go away\r\n";
            ++faults;
        } else if (r == 2) {
            server.greetings << QByteArray(); // silent
            ++faults;
        } else {
            server.greetings << "200 welcome\r\n";
        }
    }
    server.decide = [&](const test::ReceivedArticle &) {
        const int r = int(rng.bounded(100));
        ArticleAction a = ArticleAction::Accept;
        if (r < 6)
            a = ArticleAction::CloseMidArticle;
        else if (r < 11)
            a = ArticleAction::Refuse441;
        else if (r < 14)
            a = ArticleAction::Refuse435;
        else if (r < 17)
            a = ArticleAction::Stall;
        else if (r < 25)
            a = ArticleAction::SplitReply;
        if (a != ArticleAction::Accept && a != ArticleAction::SplitReply)
            ++faults;
        return a;
    };

    setRunTag(u"1765000000"_s);
    AppSettings &s = appSettings();
    s.Server = u"127.0.0.1"_s;
    s.Port = server.port();
    s.Connections = 8;
    s.setMaxLines(1000);
    PostTimeouts saved = PostTimeouts::current();
    PostTimeouts::current().replyMs = 400;
    PostTimeouts::current().restartMs = 100;

    QMap<QString, QByteArray> files;
    int totalParts = 0;
    for (int i = 0; i < 40; ++i) {
        const qint64 size = i == 0 ? 1 : qint64(rng.bounded(1, 9 * 128000));
        const QString name = u"soak%1.bin"_s.arg(i, 2, 10, QChar(u'0'));
        const QByteArray data = test::randomData(size, seed + quint32(i));
        test::writeAll(test::homeFile(name), data);
        files.insert(name, data);
        const int parts = int(partCount(size, s.PartSize));
        totalParts += parts;
        uploadQueue().append(UploadQueue::newItem(u"soak \""_s + name + u"\" yEnc"_s, u"alt.test"_s,
                                                  test::homeFile(name), parts, u"soaktag0"_s, makeMessageIds(parts)));
    }

    test::FakePostHost host;
    frmPost engine(&host);
    bool done = false;
    QObject::connect(&engine, &frmPost::unloaded, [&] { done = true; });
    QElapsedTimer wall;
    wall.start();
    engine.Form_Load();
    QDeadlineTimer deadline(120000);
    while (!done && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    PostTimeouts::current() = saved;
    ASSERT_TRUE(done) << "the run did not end by itself";

    QMap<QString, QMap<int, int>> accepted; // file -> part -> times
    for (const test::ReceivedArticle &a : server.accepted()) {
        const test::DecodedPart d = test::decodeArticle(a.raw);
        ASSERT_TRUE(d.ok) << qPrintable(d.error);
        const QString name = QString::fromUtf8(d.name);
        ASSERT_TRUE(files.contains(name));
        ASSERT_EQ(d.data, files[name].mid(d.begin - 1, d.end - d.begin + 1)) << qPrintable(name) << " part " << d.part;
        ++accepted[name][d.part];
    }
    int lost = 0, duplicates = 0;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const int parts = int(partCount(it.value().size(), s.PartSize));
        for (int k = 1; k <= parts; ++k) {
            const int times = accepted.value(it.key()).value(k);
            lost += times == 0;
            duplicates += std::max(0, times - 1);
        }
    }
    for (int i = 1; i <= uploadQueue().count(); ++i)
        EXPECT_EQ(uploadQueue().item(i).state(), UploadState::PostedOK) << qPrintable(uploadQueue().item(i).subject);
    std::printf("soak (seed %u): %d parts in 40 files, %d faults injected, %d connections, %d duplicates, %d lost, "
                "%.1f s\n",
                seed, totalParts, faults, server.connections, duplicates, lost, double(wall.elapsed()) / 1000.0);
    EXPECT_EQ(lost, 0);
}
