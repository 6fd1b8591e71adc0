#include "support/SoakRun.h"

#include "common/AppState.h"
#include "engine/Article.h"
#include "engine/PostingRun.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/UploadQueue.h"
#include "support/FakeRunHost.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"
#include "support/YencDecode.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>

using namespace Qt::StringLiterals;

namespace tessaly::test {


QString SoakReport::summary() const
{
    return u"%1 parts in %2 files, %3 faults injected, %4 connections, %5 duplicates, %6 lost, %7 corrupt, "
           "%8 not posted, %9"_s
        .arg(parts)
        .arg(files)
        .arg(faults)
        .arg(connections)
        .arg(duplicates)
        .arg(lost)
        .arg(corrupt)
        .arg(notPostedOK)
        .arg(endedByItself ? u"ended by itself in %1 s"_s.arg(seconds, 0, 'f', 1) : u"DID NOT END"_s);
}

SoakReport runSoak(const SoakOptions &o)
{
    SoakReport report;
    QRandomGenerator rng(o.seed);
    ScriptedNntpServer server;
    const std::shared_ptr<void> route = o.inProcess ? ScriptedNntpServer::routeInProcess() : nullptr;
    if (o.inProcess)
        server.startInProcess();
    else if (!server.start()) {
        report.firstProblem = u"the scripted server did not start"_s;
        return report;
    }
    // Unfriendly greetings for some of the connections.
    for (int i = 0; i < 30 + o.files / 2; ++i) {
        const int r = int(rng.bounded(10));
        if (r == 0)
            server.greetings << "400 too busy\r\n";
        else if (r == 1)
            server.greetings << "502 go away\r\n";
        else if (r == 2)
            server.greetings << QByteArray(); // silent
        else
            server.greetings << "200 welcome\r\n";
        report.faults += r <= 2;
    }
    server.decide = [&](const ReceivedArticle &) {
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
        else if (r < 27)
            a = ArticleAction::AcceptThenHangUp;
        report.faults += a != ArticleAction::Accept && a != ArticleAction::SplitReply;
        return a;
    };

    setRunTag(u"1765000000"_s);
    AppSettings &s = appSettings();
    s.Server = u"127.0.0.1"_s;
    s.Port = server.port();
    s.Connections = o.connections;
    s.setMaxLines(o.maxLines);
    const PostTimeouts saved = PostTimeouts::current();
    PostTimeouts::current().replyMs = o.replyMs;
    PostTimeouts::current().restartMs = o.restartMs;
    PostTimeouts::current().composeAhead = ComposeAhead::Always; // and its hand-overs under every fault

    QMap<QString, QByteArray> files;
    for (int i = 0; i < o.files; ++i) {
        const qint64 size = i == 0 ? 1 : qint64(rng.bounded(1, int(o.maxParts * s.PartSize)));
        const QString name = u"soak%1.bin"_s.arg(i, 4, 10, QChar(u'0'));
        const QString path = o.folder + u'/' + name;
        const QByteArray data = randomData(size, o.seed + quint32(i));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size()) {
            report.firstProblem = u"cannot write "_s + path;
            PostTimeouts::current() = saved;
            return report;
        }
        f.close();
        files.insert(name, data);
        const int parts = int(partCount(size, s.PartSize));
        report.parts += parts;
        report.fileBytes += size;
        uploadQueue().append(UploadQueue::newItem(u"soak \""_s + name + u"\" yEnc"_s, u"alt.test"_s, path, parts,
                                                  u"soaktag0"_s, makeMessageIds(parts)));
    }
    report.files = o.files;

    FakeRunHost host;
    {
        PostingRun engine(host);
        QObject::connect(&engine, &PostingRun::finished, [&] { report.endedByItself = true; });
        QElapsedTimer wall;
        wall.start();
        engine.start(RunPlan::fromSettings(appSettings()));
        QDeadlineTimer deadline(o.deadlineMs);
        while (!report.endedByItself && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        report.seconds = double(wall.elapsed()) / 1000.0;
        if (!report.endedByItself) {
            report.firstProblem = u"the run did not end by itself"_s;
            engine.stop();
            report.endedByItself = false;
        }
    }
    PostTimeouts::current() = saved;
    report.connections = server.connections;

    QMap<QString, QMap<int, int>> accepted; // file -> part -> times
    for (const ReceivedArticle &a : server.accepted()) {
        const DecodedPart d = decodeArticle(a.raw);
        const QString name = QString::fromUtf8(d.name);
        QString problem;
        if (!d.ok)
            problem = u"an accepted article does not decode: "_s + d.error;
        else if (!files.contains(name))
            problem = u"an accepted article names an unknown file: "_s + name;
        else if (d.data != files[name].mid(d.begin - 1, d.end - d.begin + 1) || d.fileSize != files[name].size())
            problem = u"part %1 of %2 does not match the file"_s.arg(d.part).arg(name);
        if (!problem.isEmpty()) {
            ++report.corrupt;
            if (report.firstProblem.isEmpty())
                report.firstProblem = problem;
            continue;
        }
        ++accepted[name][d.part];
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const int parts = int(partCount(it.value().size(), s.PartSize));
        for (int k = 1; k <= parts; ++k) {
            const int times = accepted.value(it.key()).value(k);
            report.lost += times == 0;
            report.duplicates += std::max(0, times - 1);
        }
    }
    for (int i = 1; i <= uploadQueue().count(); ++i) {
        if (uploadQueue().item(i).state != UploadState::PostedOK) {
            ++report.notPostedOK;
            if (report.firstProblem.isEmpty())
                report.firstProblem = uploadQueue().item(i).subject + u" did not end PostedOK"_s;
        }
    }
    return report;
}

} // namespace tessaly::test
