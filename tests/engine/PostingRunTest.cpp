#include "common/AppState.h"
#include "common/Log.h"
#include "engine/Tls.h"
#include "engine/PostingRun.h"
#include "engine/RunPlan.h"
#include "application/RunController.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/MessageIds.h"
#include "storage/NzbFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/FakeRunHost.h"
#include "support/ScriptedNntpServer.h"
#include "support/SoakRun.h"
#include "support/TestEnvironment.h"
#include "support/YencDecode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSslKey>
#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;
using test::ArticleAction;
using test::randomData;

namespace {

constexpr qint64 kPart = 128000; // MaxLines 1000

class PostRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        server.startInProcess();
        setRunTag(u"1765000000"_s);
        AppSettings &s = appSettings();
        s.Server = u"127.0.0.1"_s;
        s.Port = server.port();
        s.Connections = 2;
        s.setMaxLines(1000);
        s.Email = u"poster@example.org"_s;
        PostTimeouts &t = PostTimeouts::current();
        saved = t;
        t.restartMs = 200;
        t.replyMs = 3000;
        t.connectMs = 3000;
        t.packetMs = 200;
        t.composeAhead = ComposeAhead::Always; // the path the busy runs take
        t.checkDelayMs = 20;
    }
    void TearDown() override
    {
        PostTimeouts::current() = saved;
        if (HasFailure())
            for (const LogLine &l : logModel().lines())
                std::fprintf(stderr, "log: %s\n", qPrintable(l.formatted()));
    }

    // Writes a file and queues it; returns its element number.
    int queueFile(const QString &name, const QByteArray &data)
    {
        const QString path = test::homeFile(name);
        test::writeAll(path, data);
        files.insert(name, data);
        const int parts = int(partCount(data.size(), appSettings().PartSize));
        return uploadQueue().append(UploadQueue::newItem(u"Test - \""_s + name + u"\" yEnc"_s, u"alt.binaries.test"_s,
                                                         path, parts, u"tag12345"_s, makeMessageIds(parts)));
    }

    // Runs the engine until it ends by itself (or the time runs out).
    bool run(int ms = 20000, const std::function<void(PostingRun &)> &during = {},
             const std::optional<FillPlan> &fill = {})
    {
        RunPlan plan = RunPlan::fromSettings(appSettings());
        plan.limitKBps = limit;
        plan.unattended = host.nobodyWatching;
        plan.removeFromDisk = host.removeFiles;
        plan.fill = fill;
        engine = std::make_unique<PostingRun>(host);
        bool done = false;
        QObject scope; // the connection ends with this call: a later stop() must not touch `done`
        QObject::connect(engine.get(), &PostingRun::finished, &scope, [&](const RunOutcome &o) {
            done = true;
            outcomes << o;
        });
        engine->start(plan);
        QDeadlineTimer deadline(ms);
        while (!done && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (during)
                during(*engine);
        }
        return done;
    }

    // Every part of every queued file was accepted at least once, with the right bytes.
    void expectAllPartsAccepted()
    {
        QMap<QByteArray, QSet<int>> seen;
        for (const test::ReceivedArticle &a : server.accepted()) {
            const test::DecodedPart d = test::decodeArticle(a.raw);
            ASSERT_TRUE(d.ok) << qPrintable(d.error);
            ASSERT_TRUE(files.contains(QString::fromUtf8(d.name))) << d.name.constData();
            const QByteArray &src = files[QString::fromUtf8(d.name)];
            EXPECT_EQ(d.fileSize, src.size());
            EXPECT_EQ(d.data, src.mid(d.begin - 1, d.end - d.begin + 1)) << d.name.constData() << " part " << d.part;
            seen[d.name].insert(d.part);
        }
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const int parts = int(partCount(it.value().size(), appSettings().PartSize));
            EXPECT_EQ(seen.value(it.key().toUtf8()).size(), parts) << qPrintable(it.key());
        }
    }


    std::shared_ptr<void> route = test::ScriptedNntpServer::routeInProcess();
    test::ScriptedNntpServer server;
    test::FakeRunHost host;
    int limit = 0; // the speed box
    QList<RunOutcome> outcomes;
    std::unique_ptr<PostingRun> engine;
    QMap<QString, QByteArray> files;
    PostTimeouts saved;
};

} // namespace

TEST_F(PostRun, PostsEveryPartOverTwoConnections)
{
    const int a = queueFile(u"one.bin"_s, randomData(1, 1));
    const int b = queueFile(u"multi.bin"_s, randomData(kPart * 2 + kPart / 2, 2));
    const int c = queueFile(u"exact.bin"_s, randomData(kPart, 3));
    ASSERT_TRUE(run());
    expectAllPartsAccepted();
    for (int i : {a, b, c}) {
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
        EXPECT_EQ(UploadQueue::statusText(uploadQueue().item(i)), u"Posted OK!"_s);
        EXPECT_EQ(uploadQueue().item(i).partsLeft, 0);
    }
    EXPECT_EQ(server.accepted().size(), 5);
    const QStringList stored = uploadQueue().item(a).messageids + uploadQueue().item(b).messageids
        + uploadQueue().item(c).messageids;
    for (const test::ReceivedArticle &art : server.accepted())
        EXPECT_TRUE(stored.contains(QString::fromUtf8(art.messageId)));
    EXPECT_TRUE(logHas(u"Successfully uploaded: Test - \"multi.bin\" yEnc"_s));
    EXPECT_TRUE(test::readAll(queueFilePath()).contains("<icon>4</icon>"));
    EXPECT_FALSE(postingInProgress());
    EXPECT_EQ(connectionList().row(1).action, u"Offline"_s);
    EXPECT_EQ(engine->byteTotal(), 0);
}

TEST_F(PostRun, RepliesInWritesOfTheirOwnWithNagleOnCostNoStall)
{
    // The 240 for an article and the 340 for the POST behind it come in two
    // writes, and the second waits for the first's acknowledgement: delayed
    // by the client, that costs 40 ms an article, 8 s for these 200.
    test::ScriptedNntpServer server; // on a socket: the stall is TCP's
    ASSERT_TRUE(server.start());
    server.eachReplyAlone = true;
    appSettings().Port = server.port();
    appSettings().Connections = 1;
    appSettings().setMaxLines(8);
    queueFile(u"small.bin"_s, randomData(8 * 128 * 200, 77));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(run());
    EXPECT_EQ(server.accepted().size(), 200);
    EXPECT_GT(server.commandsBehindArticles, 150);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(PostRun, ARefusedLoginIsTriedAgainUntilTheUserStops)
{
    appSettings().Connections = 1;
    appSettings().Login = 1;
    appSettings().Username = u"poster"_s;
    appSettings().Password = u"wrong"_s;
    server.user = "poster";
    server.password = "secret";
    const int i = queueFile(u"auth.bin"_s, randomData(3000, 9));
    run(8000, [&](PostingRun &e) {
        if (server.commands.count("AUTHINFO pass wrong") >= 2)
            e.stop();
    });
    EXPECT_EQ(server.commands.count("AUTHINFO pass wrong"), 2);
    EXPECT_TRUE(logHas(u"481 authentication failed"_s));
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_NE(outcomes[0].end, RunOutcome::End::GaveUp);
    EXPECT_EQ(uploadQueue().item(i).state, UploadState::Queued);
}

// Built-in TLS against each kind of server: a trusted certificate posts
// (AUTHINFO inside TLS, a dropped connection and replies in pieces on the
// way), as does a self-signed one with its own fingerprint pinned. A wrong
// name, an expired or self-signed certificate, a pin that does not match, a
// port that answers in plain text or garbage, or one that speaks only TLS
// 1.1 stops the run at once with the reason: not retried, nothing posted,
// the item queued again; the window is told why, a run without one ends
// with status 2.
TEST_F(PostRun, BuiltInTlsPostsOnlyToATlsServerItCanTrust)
{
    const QString certs = test::makeTestCertificates();
    ASSERT_FALSE(certs.isEmpty());
    const QByteArray savedCaFile = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", QFile::encodeName(certs + u"/ca.crt"_s));
    const auto load = [&](const QString &name) {
        QFile k(certs + u'/' + name + u".key"_s);
        EXPECT_TRUE(k.open(QIODevice::ReadOnly));
        return std::pair{QSslCertificate::fromPath(certs + u'/' + name + u".crt"_s).value(0),
                         QSslKey(&k, QSsl::Ec)};
    };
    const QString selfPin = QString::fromLatin1(
        load(u"selfsigned"_s).first.digest(QCryptographicHash::Sha256).toHex(':').toLower());
    test::ScriptedNntpServer plain;
    ASSERT_TRUE(plain.start());
    QTcpServer garbage, oldTls;
    const QByteArray tls11Hello = QByteArray::fromHex("160302002a" "020000260302") + QByteArray(32, '\x11')
        + QByteArray::fromHex("00002f00");
    for (auto [listener, answer] : {std::pair{&garbage, QByteArray(300, '\x7f')}, std::pair{&oldTls, tls11Hello}}) {
        ASSERT_TRUE(listener->listen(QHostAddress::LocalHost));
        QObject::connect(listener, &QTcpServer::newConnection, [listener, answer] {
            while (QTcpSocket *peer = listener->nextPendingConnection())
                QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer, answer] { peer->readAll(), peer->write(answer); });
        });
    }
    struct Case
    {
        QString certificate, pin, reason; // reason: empty when it posts
        quint16 port = 0;                 // a server without a certificate, unattended
    };
    const QList<Case> cases = {
        {u"good"_s, {}, {}},
        {u"wronghost"_s, {}, u"host name did not match"_s},
        {u"expired"_s, {}, u"has expired"_s},
        {u"selfsigned"_s, {}, u"self-signed"_s},
        {u"selfsigned"_s, selfPin, {}},
        {u"good"_s, QString(64, u'a'), u"not the pinned one"_s},
        {{}, {}, u"This port does not speak TLS: the server answered in plain text (\"200 Tessaly test server ready\")"_s,
         plain.port()},
        {{}, {}, u"The server's answer is not a TLS handshake this program can complete"_s, garbage.serverPort()},
        {{}, {}, u"The server offers only TLS versions older than 1.2"_s, oldTls.serverPort()},
    };
    AppSettings &s = appSettings();
    s.EnableSSL = 1;
    s.SSLTunnel = 0;
    s.Login = 1;
    s.Username = u"poster"_s;
    s.Password = u"secret"_s;
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.certificate + u' ' + c.pin + c.reason));
        test::ScriptedNntpServer tls;
        tls.user = "poster";
        tls.password = "secret";
        const auto [certificate, key] = c.port ? std::pair<QSslCertificate, QSslKey>{} : load(c.certificate);
        if (!c.port) {
            ASSERT_TRUE(tls.startTls(certificate, key, QSslCertificate::fromPath(certs + u"/ca.crt"_s)));
        }
        // The first one also drops a connection and answers in pieces.
        const bool rough = &c == &cases.front();
        if (rough)
            tls.articleActions = {ArticleAction::CloseMidArticle, ArticleAction::SplitReply};
        s.Port = c.port ? c.port : tls.port();
        s.SSLFingerprint = c.pin;
        host.nobodyWatching = c.port;
        outcomes.clear();
        uploadQueue().clear();
        logModel().clear();
        const int i = queueFile(u"tls.bin"_s, randomData(200000, 3));
        ASSERT_TRUE(run(10000));
        if (c.reason.isEmpty()) {
            EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
            EXPECT_EQ(tls.accepted().size(), 2);
            EXPECT_TRUE(tls.commands.contains("AUTHINFO user poster"));
            EXPECT_EQ(logHas(u"Disconnected while uploading part"_s), rough);
            continue;
        }
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::Queued);
        EXPECT_TRUE(tls.articles.isEmpty());
        EXPECT_LE(tls.failedHandshakes, s.Connections) << "a refused certificate is not tried again";
        EXPECT_TRUE(logHas(c.reason)) << "the reason is logged";
        ASSERT_EQ(outcomes.size(), 1);
        // Unattended, it needs a person, not ten minutes of retries.
        EXPECT_EQ(outcomes[0].end, c.port ? RunOutcome::End::GaveUp : RunOutcome::End::Refused);
        EXPECT_EQ(outcomes[0].exitStatus, c.port ? 2 : 0);
        if (c.port)
            continue;
        const QString told = outcomes[0].why;
        EXPECT_TRUE(told.contains(c.reason, Qt::CaseInsensitive)) << qPrintable(told);
        EXPECT_TRUE(told.contains(u"SHA-256 fingerprint: "_s + fingerprintText(certificate))) << qPrintable(told);
    }
    EXPECT_LE(plain.connections, s.Connections);
    s.EnableSSL = 0;
    qputenv("SSL_CERT_FILE", savedCaFile);
}

TEST_F(PostRun, StopAndStartAgainContinuesWhereItStopped)
{
    appSettings().Connections = 1;
    limit = 2000; // slow enough to stop in the middle
    const int i = queueFile(u"long.bin"_s, randomData(kPart * 4, 13));
    run(10000, [&](PostingRun &e) {
        if (server.accepted().size() >= 2 && e.isRunning())
            e.stop();
    });
    limit = 0;
    EXPECT_EQ(uploadQueue().item(i).state, UploadState::Queued);
    const int stoppedAt = uploadQueue().item(i).position;
    EXPECT_GE(stoppedAt, 3);
    const int before = int(server.accepted().size());
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
    // The second run started with the part where the first one stopped.
    const test::DecodedPart first = test::decodeArticle(server.accepted().at(before).raw);
    EXPECT_EQ(first.part, stoppedAt);
    expectAllPartsAccepted();
}

TEST_F(PostRun, PostCheckPostsLostArticlesAgainUntilTheServerHoldsThemOrTheTriesRunOut)
{
    appSettings().PostCheckTries = 2;
    const int i = queueFile(u"lost.bin"_s, randomData(kPart * 4, 40));
    const int j = queueFile(u"bad.bin"_s, randomData(kPart * 3, 42));
    const QStringList ids = uploadQueue().item(i).messageids;
    // Parts 2 and 3 of lost.bin are accepted and then lost once; the server
    // refuses their old IDs, so they go out again under new ones. Part 2 of
    // bad.bin is lost whatever its ID.
    server.forget = [&](const QByteArray &id, int) {
        return id == ids[1].toUtf8() || id == ids[2].toUtf8() || id == uploadQueue().item(j).messageids.value(1).toUtf8();
    };
    server.refuseKnownIds = true;
    // A fresh ID is in Queue.dat before its article leaves: a run killed
    // then asks for that ID when it resumes, and does not post the part again.
    const QStringList first = ids + uploadQueue().item(j).messageids;
    QList<bool> freshStored;
    server.refuse = [&](const test::ReceivedArticle &a) {
        if (!first.contains(QString::fromUtf8(a.messageId)))
            freshStored << test::readAll(queueFilePath()).contains(a.messageId);
        return false;
    };
    ASSERT_TRUE(run());
    EXPECT_GE(freshStored.size(), 2);
    EXPECT_FALSE(freshStored.contains(false));
    EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
    EXPECT_EQ(uploadQueue().item(j).state, UploadState::FileError);
    EXPECT_EQ(UploadQueue::statusText(uploadQueue().item(j)), u"Missing on the server: 2"_s);
    EXPECT_EQ(engine->missingCount(), 2 + 3); // bad.bin's part 2: the first post and two more
    EXPECT_EQ(engine->checkedCount(), 6); // every part, once it is there
    // Everything lost.bin lists is held by the server; parts 2 and 3 under new IDs.
    const QStringList now = uploadQueue().item(i).messageids;
    for (const QString &id : now)
        EXPECT_TRUE(server.held.contains(id.toUtf8())) << qPrintable(id);
    EXPECT_EQ(now[0], ids[0]);
    EXPECT_NE(now[1], ids[1]);
    EXPECT_NE(now[2], ids[2]);
    EXPECT_TRUE(logHas(u"Part 2 of Test - \"lost.bin\" yEnc is missing on the server"_s));
    EXPECT_TRUE(logHas(u"Still missing after 3 posts, given up: Test - \"bad.bin\" yEnc"_s));
    EXPECT_TRUE(logHas(u"Post check: checked 6 / missing 5"_s));
    // The summary counts what the server accepted, not the refused tries.
    EXPECT_TRUE(logHas(u"Run finished: 1 item posted, 1 failed, 11 parts, 1.4 MB in "_s));
    // Only the part given up on is left to check, should the item be queued again.
    const QByteArray stored = test::readAll(queueFilePath());
    EXPECT_EQ(stored.count("<unchecked>"), 1);
    EXPECT_TRUE(stored.contains("<unchecked>2</unchecked>"));
}

TEST_F(PostRun, ServersThatWantAGroupOrCannotCheck)
{
    appSettings().Connections = 1;
    // 412 first: GROUP with the item's first group, then STAT again.
    server.statNeedsGroup = true;
    const int a = queueFile(u"g.bin"_s, randomData(kPart * 2, 44));
    uploadQueue().item(a).newsgroups = u"alt.binaries.test,alt.test"_s;
    ASSERT_TRUE(run());
    EXPECT_EQ(server.commands.count("GROUP alt.binaries.test"), 1);
    EXPECT_EQ(engine->checkedCount(), 2);

    // 500 to STAT: the check goes off for the run, with one log line.
    server.statNeedsGroup = false;
    server.statReply = "500 unknown command\r\n";
    const int c = queueFile(u"u.bin"_s, randomData(kPart * 3, 46));
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(c).state, UploadState::PostedOK);
    EXPECT_FALSE(engine->checkOn());
    int lines = 0;
    for (const LogLine &l : logModel().lines())
        lines += l.text.contains(u"the post check is off for the rest of this run"_s);
    EXPECT_EQ(lines, 1);
}

// What a run leaves undecided is decided by the next one, from Queue.dat:
// r.bin was posted whole, its checks not yet due when the run stopped; of
// u.bin, parts 2 and 3 went out before a kill, unanswered, and the server
// kept part 2 only.
TEST_F(PostRun, ChecksLeftAndPartsSentUnansweredAreSettledWhenARunResumes)
{
    appSettings().Connections = 1;
    PostTimeouts::current().checkDelayMs = 60000; // none falls due in this run
    const int r = queueFile(u"r.bin"_s, randomData(kPart * 3, 47));
    // Stopped once the engine has counted all three (the server's count comes first).
    run(10000, [&](PostingRun &e) {
        if (uploadQueue().item(r).partsLeft == 0 && e.isRunning())
            e.stop();
    });
    EXPECT_EQ(uploadQueue().item(r).state, UploadState::Queued);
    EXPECT_EQ(uploadQueue().item(r).partsLeft, 0);
    const QStringList rIds = uploadQueue().item(r).messageids;
    const int u = queueFile(u"u.bin"_s, randomData(kPart * 3, 48));
    const QStringList uIds = uploadQueue().item(u).messageids;
    ASSERT_TRUE(SaveQueue());
    noteSentPart(uploadQueue().item(u).path, 2);
    noteSentPart(uploadQueue().item(u).path, 3);
    server.held.insert(uIds[1].toUtf8());
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 2);
    ASSERT_TRUE(SaveQueue());
    EXPECT_TRUE(test::readAll(queueFilePath()).contains("<unchecked>1-3</unchecked>"));
    EXPECT_TRUE(test::readAll(queueFilePath()).contains("<unsure>2-3</unsure>"));

    // r.bin's three are all lost: each is posted once more. u.bin's part 2 is
    // asked for, not sent behind part 1's article.
    PostTimeouts::current().checkDelayMs = 20;
    server.forget = [&](const QByteArray &id, int asked) { return asked == 1 && rIds.contains(QString::fromUtf8(id)); };
    const qsizetype before = server.articles.size();
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_EQ(uploadQueue().item(2).state, UploadState::PostedOK);
    for (const QString &id : rIds)
        EXPECT_EQ(server.statsAsked.value(id.toUtf8()), 2) << qPrintable(id); // missing, posted, checked
    EXPECT_TRUE(logHas(u"Part 2 of Test - \"u.bin\" yEnc is on the server already"_s));
    QList<int> uParts;
    for (const test::ReceivedArticle &a : server.articles.mid(before))
        if (const test::DecodedPart d = test::decodeArticle(a.raw); d.name == "u.bin")
            uParts << d.part;
    EXPECT_EQ(uParts, (QList<int>{1, 3})); // part 2 was not sent again
    EXPECT_EQ(server.statsAsked.value(uIds[1].toUtf8()), 1); // found: no check after
    EXPECT_EQ(server.statsAsked.value(uIds[2].toUtf8()), 2);
    EXPECT_EQ(server.articles.size() - before, 3 + 2);
    EXPECT_EQ(uploadQueue().item(2).messageids, uIds);
    EXPECT_FALSE(test::readAll(queueFilePath()).contains("<unchecked>"));
    EXPECT_FALSE(test::readAll(queueFilePath()).contains("<unsure>"));
}

TEST_F(PostRun, ASecondServerChecksWhatThePostingServerTookAndAnUnreachableOneLeavesItUnchecked)
{
    // The check server sees what the posting server holds, except the first
    // IDs of parts 2 and 4: those are posted again (under new IDs, the old
    // ones refused) and found. The posting server is never asked.
    AppSettings &s = appSettings();
    test::ScriptedNntpServer checker;
    checker.startInProcess();
    s.CheckServer = u"127.0.0.1"_s;
    s.CheckPort = checker.port();
    s.CheckConnections = 2;
    const int i = queueFile(u"far.bin"_s, randomData(kPart * 5 - 9, 48));
    const QStringList first = uploadQueue().item(i).messageids;
    checker.holds = [&](const QByteArray &id) {
        return server.held.contains(id) && id != first[1].toUtf8() && id != first[3].toUtf8();
    };
    server.refuseKnownIds = true;
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
    EXPECT_EQ(engine->missingCount(), 2);
    EXPECT_EQ(engine->checkedCount(), 5);
    const QStringList now = uploadQueue().item(i).messageids;
    EXPECT_NE(now[1], first[1]);
    EXPECT_NE(now[3], first[3]);
    for (const QString &id : now)
        EXPECT_TRUE(checker.statsAsked.contains(id.toUtf8())) << qPrintable(id);
    EXPECT_TRUE(server.statsAsked.isEmpty());
    EXPECT_TRUE(checker.articles.isEmpty());
    EXPECT_EQ(connectionList().checkConnectionCount(), 2);
    ASSERT_EQ(connectionList().rowCount(), 2 + 2 + 1); // posting, checking, the job runner
    EXPECT_EQ(connectionList().row(4).number, u"4"_s);
    expectAllPartsAccepted();

    // Nothing listens there: the posts stand, the item says they are not
    // checked (a run that queues it again checks them).
    const auto unchecked = [&](const QString &reason) {
        const int k = queueFile(u"unchecked.bin"_s, randomData(kPart * 2, 49));
        const qsizetype before = server.accepted().size();
        EXPECT_TRUE(run());
        EXPECT_EQ(server.accepted().size(), before + 2);
        EXPECT_EQ(uploadQueue().item(k).state, UploadState::FileError);
        const QString status = UploadQueue::statusText(uploadQueue().item(k));
        EXPECT_TRUE(status.startsWith(u"Posted, not checked: "_s) && status.contains(reason, Qt::CaseInsensitive))
            << qPrintable(status);
        EXPECT_TRUE(logHas(u"the parts posted are not checked"_s));
        EXPECT_EQ(UploadQueue::uncheckedText(uploadQueue().item(k)), u"1-2"_s);
        return k;
    };
    s.CheckPort = 1; // no server there
    s.CheckConnections = 1;
    const int k = unchecked(u"refused"_s);
    // Queued again with the check server back: checked, not posted again.
    s.CheckPort = checker.port();
    const qsizetype posted = server.articles.size();
    ASSERT_TRUE(uploadQueue().requeue(k));
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(k).state, UploadState::PostedOK);
    EXPECT_EQ(server.articles.size(), posted);
    EXPECT_EQ(engine->checkedCount(), 2);
    uploadQueue().clear();

    // Built-in TLS there follows the posting server's rules: a self-signed
    // certificate is refused at once, unless it is the pinned one.
    const QString certs = test::makeTestCertificates();
    ASSERT_FALSE(certs.isEmpty());
    QFile keyFile(certs + u"/selfsigned.key"_s);
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    const QSslCertificate self = QSslCertificate::fromPath(certs + u"/selfsigned.crt"_s).value(0);
    test::ScriptedNntpServer tls;
    ASSERT_TRUE(tls.startTls(self, QSslKey(&keyFile, QSsl::Ec)));
    tls.holds = [&](const QByteArray &id) { return server.held.contains(id); };
    s.CheckSSL = 1;
    s.CheckPort = tls.port();
    unchecked(u"self-signed"_s);
    uploadQueue().clear();
    s.CheckFingerprint = fingerprintText(self);
    queueFile(u"pinned.bin"_s, randomData(kPart, 50));
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_EQ(tls.statsAsked.size(), 1);
    s.CheckServer.clear();
    s.CheckSSL = 0;
    s.CheckFingerprint.clear();
}

TEST_F(PostRun, ACollectionsNzbIsPostedLastAndListsWhatTheServerAccepted)
{
    // The server names IDs of its own; one file of the collection is gone before Start.
    server.rewriteId = [](const test::ReceivedArticle &a) { return "srv." + a.messageId; };
    const int a = queueFile(u"a.bin"_s, randomData(kPart * 3, 50));
    const int b = queueFile(u"b.bin"_s, randomData(kPart, 51));
    const QString nzbPath = test::homeFile(u"set.nzb"_s);
    ASSERT_TRUE(CreateNZB(nzbPath, {a, b}));
    const QByteArray atQueueTime = test::readAll(nzbPath);
    const int n = queueFile(u"set.nzb"_s, atQueueTime);
    uploadQueue().item(n).subject = u"Test - [0/2] - \"set.nzb\" yEnc"_s; // as a collection's NZB is queued
    ASSERT_TRUE(uploadQueue().isCollectionNzb(n));
    QFile::remove(test::homeFile(u"b.bin"_s));
    files.remove(u"b.bin"_s);
    ASSERT_TRUE(run());
    EXPECT_EQ(uploadQueue().item(a).state, UploadState::PostedOK);
    EXPECT_EQ(uploadQueue().item(b).state, UploadState::FileError);
    EXPECT_EQ(uploadQueue().item(n).state, UploadState::PostedOK);
    // The NZB went out last, as the file on disk is now: a's server IDs, no b.
    const QByteArray nzb = test::readAll(nzbPath);
    files[u"set.nzb"_s] = nzb;
    const test::DecodedPart last = test::decodeArticle(server.accepted().last().raw);
    EXPECT_EQ(last.name, QByteArray("set.nzb"));
    for (const QString &id : uploadQueue().item(a).messageids) {
        EXPECT_TRUE(id.startsWith(u"srv."_s));
        EXPECT_TRUE(nzb.contains(QByteArray(">" + id.toUtf8() + "</segment>"))) << qPrintable(id);
    }
    EXPECT_FALSE(nzb.contains("b.bin"));
    EXPECT_TRUE(atQueueTime.contains("b.bin"));
    EXPECT_TRUE(logHas(u"Left out of the NZB file, because it could not be posted: Test - \"b.bin\" yEnc"_s));
    expectAllPartsAccepted(); // the NZB posted is the one on disk

    // Parts posted again (Fill), one of them refused once and one cut off:
    // only those, under new IDs, which the NZB on disk lists.
    logModel().clear();
    server.articleActions = {ArticleAction::Refuse441, ArticleAction::Accept, ArticleAction::CloseMidArticle};
    const qsizetype before = server.accepted().size();
    ASSERT_TRUE(run(10000, {}, FillPlan{uploadQueue().item(a).id, {1, 3}}));
    QList<int> refilledParts;
    for (const test::ReceivedArticle &art : server.accepted().mid(before))
        refilledParts << test::decodeArticle(art.raw).part;
    std::sort(refilledParts.begin(), refilledParts.end());
    EXPECT_EQ(refilledParts, (QList<int>{1, 3}));
    for (int k : {0, 2}) {
        const QString refilled = uploadQueue().item(a).messageids.value(k);
        EXPECT_FALSE(nzb.contains(refilled.toUtf8()));
        EXPECT_TRUE(test::readAll(nzbPath).contains(QByteArray(">" + refilled.toUtf8() + "</segment>")));
    }
    EXPECT_EQ(UploadQueue::statusText(uploadQueue().item(a)), u"Posted OK!"_s);
    EXPECT_TRUE(logHas(u"NZB file written again with the accepted Message-IDs: "_s + nzbPath));
}

TEST_F(PostRun, FilesGoneShrunkOrTurnedIntoAFolderFailOnlyTheirItem)
{
    appSettings().Connections = 1;
    PostTimeouts::current().composeAheadFromBytes = qint64(1) << 40; // each part read when its turn comes
    const int folder = queueFile(u"folder.bin"_s, randomData(kPart * 3, 41));
    const int gone = queueFile(u"gone.bin"_s, randomData(100, 14));
    const int shrunk = queueFile(u"shrunk.bin"_s, randomData(kPart * 3, 15));
    const int fine = queueFile(u"fine.bin"_s, randomData(kPart * 2, 43));
    QFile::remove(test::homeFile(u"gone.bin"_s));
    test::writeAll(test::homeFile(u"shrunk.bin"_s), randomData(kPart / 2, 17)); // 1 part now
    const QMap<QString, QByteArray> originals = files;
    // After the folder's first part the file becomes a folder, before the
    // poster reads its second (the server decides when it says "340").
    server.decide = [&](const test::ReceivedArticle &) {
        if (server.articles.size() == 1) {
            QFile::remove(test::homeFile(u"folder.bin"_s));
            QDir().mkdir(test::homeFile(u"folder.bin"_s));
        }
        return ArticleAction::Accept;
    };
    ASSERT_TRUE(run());
    for (int i : {gone, shrunk, folder})
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::FileError);
    EXPECT_EQ(UploadQueue::statusText(uploadQueue().item(gone)), u"File not found!"_s);
    EXPECT_EQ(uploadQueue().item(fine).state, UploadState::PostedOK);
    for (const QString &name : {u"shrunk.bin"_s, u"folder.bin"_s})
        EXPECT_TRUE(logHas(u"Cannot post "_s + test::homeFile(name))) << qPrintable(name);
    // What went out is right: one part of the folder, both of the fine file.
    QMap<QByteArray, int> parts;
    for (const test::ReceivedArticle &a : server.accepted()) {
        const test::DecodedPart d = test::decodeArticle(a.raw);
        ASSERT_TRUE(d.ok) << qPrintable(d.error);
        const QByteArray src = originals.value(QString::fromUtf8(d.name));
        EXPECT_EQ(d.data, src.mid(d.begin - 1, d.end - d.begin + 1)) << d.name.constData() << " part " << d.part;
        ++parts[d.name];
    }
    EXPECT_EQ(parts, (QMap<QByteArray, int>{{"folder.bin", 1}, {"fine.bin", 2}}));
}

TEST_F(PostRun, EndOfRunActions)
{
    // As the window and a run without one start runs: through the controller.
    RunController runs(host);
    const auto runToEnd = [&] {
        bool done = false;
        QObject scope;
        QObject::connect(&runs, &RunController::ended, &scope, [&] { done = true; });
        runs.start();
        for (QDeadlineTimer d(10000); !done && !d.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done;
    };
    host.onComplete = true;
    host.onCompleteAction = 5;
    queueFile(u"a.bin"_s, randomData(10, 22));
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(host.onCompleteRuns, QList<int>{5});
    EXPECT_EQ(host.postingControls, (QList<bool>{true, false}));
    EXPECT_EQ(host.runEndedCalls, 1);

    // Jobs waiting take precedence over the on-complete action.
    host.onCompleteRuns.clear();
    host.jobs = true;
    queueFile(u"b.bin"_s, randomData(10, 23));
    ASSERT_TRUE(runToEnd());
    EXPECT_TRUE(host.onCompleteRuns.isEmpty());
    EXPECT_EQ(host.startTimerCalls, 1);

    // Posted items leave the list, and their files the disk, when the
    // settings ask for it.
    host.jobs = false;
    host.removeFiles = true;
    appSettings().RemoveFiles = 1;
    queueFile(u"c.bin"_s, randomData(10, 24));
    uploadQueue().setState(queueFile(u"d.bin"_s, randomData(10, 25)), UploadState::Paused); // not posted: stays
    queueFile(u"e.bin"_s, randomData(kPart * 4, 20));
    files.remove(u"d.bin"_s);
    ASSERT_TRUE(runToEnd());
    ASSERT_EQ(uploadQueue().count(), 1);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::Paused);
    for (const QString &name : {u"c.bin"_s, u"e.bin"_s})
        EXPECT_FALSE(QFile::exists(test::homeFile(name)));
    EXPECT_TRUE(logHas(u"Removed file: "_s + test::homeFile(u"e.bin"_s)));
    EXPECT_TRUE(QFile::exists(test::homeFile(u"d.bin"_s)));
    expectAllPartsAccepted();
}

// A server that never greets keeps a run waiting: what it counts and shows
// meanwhile, and the speed limit, shared by the connections, follows the box
// a moment later. Nor does such a server hold up the end of a run with only
// paused, posted and failed items; a stored count above 25 uses 25.
TEST_F(PostRun, ARunKeptWaitingAndOneWithNothingToPost)
{
    appSettings().setMaxLines(3000);
    appSettings().Connections = 3;
    server.greetings = {{}, {}, {}};
    PostTimeouts::current().replyMs = 60000;
    const int i = uploadQueue().append(UploadQueue::newItem(u"s"_s, u"a.b"_s, test::homeFile(u"none"_s), 3,
                                                            u"t"_s, {}));
    uploadQueue().item(i).partsLeft = 2;
    queueFile(u"short.bin"_s, randomData(384000 + 10, 50)); // its last part is 10 bytes
    engine = std::make_unique<PostingRun>(host);
    RunPlan plan = RunPlan::fromSettings(appSettings());
    plan.limitKBps = 200;
    engine->start(plan);
    EXPECT_EQ(engine->encodedPart(), 395520);
    EXPECT_EQ(engine->byteTotal(), 2 * 384000 + 384010); // a file gone counts in full parts
    EXPECT_EQ(engine->packetSize(), 1067); // 200 x 16 / 3
    engine->setSpeedLimit(100);
    EXPECT_EQ(engine->packetSize(), 1067); // not at once...
    QDeadlineTimer wait(1300);
    while (!wait.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(engine->packetSize(), 533); // ...but a moment later
    EXPECT_EQ(host.statusSpeed, u"Upload Speed: 0.0 kB/s"_s);
    EXPECT_EQ(host.statusRemaining, u"Remaining Time: 00:00:00"_s);
    EXPECT_EQ(host.tooltip, u"Upload Speed: 0.0 kB/s\r\nRemaining Time: 00:00:00"_s);
    engine->stop();
    EXPECT_EQ(host.statusSpeed, u"Upload Speed: "_s + kbPerSecond(0));
    EXPECT_TRUE(logHas(u"Run stopped: 0 items posted, 0 failed, 0 parts, 0 B in "_s));

    uploadQueue().clear();
    const int a = queueFile(u"p.bin"_s, randomData(10, 11));
    uploadQueue().setState(a, UploadState::Paused);
    uploadQueue().setState(queueFile(u"q.bin"_s, randomData(10, 12)), UploadState::PostedOK);
    uploadQueue().setState(queueFile(u"r.bin"_s, randomData(10, 13)), UploadState::FileError);
    server.greetings = {"200 ready\r\n", ""};
    appSettings().Connections = 40;
    ASSERT_TRUE(run(10000));
    EXPECT_TRUE(server.articles.isEmpty());
    EXPECT_EQ(uploadQueue().item(a).state, UploadState::Paused);
    EXPECT_EQ(engine->linkCount(), 25);
}

// A posting run over 8 connections against a server that misbehaves at
// random; every part of every file must be accepted with the right bytes and
// the run must end by itself. bench_soak runs the same for longer.
TEST(Soak, FaultInjectionLosesNothing)
{
    test::SoakOptions options;
    if (!qEnvironmentVariableIsEmpty("TESSALY_SOAK_SEED"))
        options.seed = quint32(qEnvironmentVariableIntValue("TESSALY_SOAK_SEED"));
    options.folder = test::home();
    options.inProcess = true;
    const test::SoakReport r = test::runSoak(options);
    std::printf("soak (seed %u): %s\n", options.seed, qPrintable(r.summary()));
    EXPECT_TRUE(r.endedByItself) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.lost, 0);
    EXPECT_EQ(r.duplicates, 0); // an article kept before a hang-up is asked for, not posted again
    EXPECT_EQ(r.corrupt, 0) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.notPostedOK, 0) << qPrintable(r.firstProblem);
    EXPECT_EQ(r.files, 40);
    EXPECT_GT(r.faults, 10); // the server did misbehave
}
