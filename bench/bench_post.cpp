// Whole posting runs against a loopback sink in its own process.
//
//   bench_post throughput [GB] [connections]   posts a collection of random
//       files (2 GB over 8 connections by default) without a limit; reports
//       MB/s, the poster's CPU seconds per GB and its peak memory.
//   bench_post limit L [seconds] [connections] [MaxLines]  posts with a
//       limit of L kB/s (3 connections, 10 s, MaxLines 3000 by default) and
//       reports the measured rate against L x 1024 bytes a second.
//   bench_post checkcost [GB] [connections] [runs]  the same with the post
//       check off and on, alternately (the sink answers STAT with 223);
//       reports medians and the ratio on/off.
//   bench_post tls [GB] [connections] [runs]  plain runs and runs over the
//       built-in TLS (through a stunnel server in front of the sink),
//       alternately; reports medians and the ratio TLS/plain.
//   bench_post smallfiles [files] [connections]  posts that many small files
//       (10,000 of 2,000 bytes over 8 connections by default, post check
//       on); reports files per second and what saving Queue.dat cost.
//   bench_post onefile [MB] [connections] [MaxLines] [runs]  one file (24 MB
//       over 8 connections by default) with the post check off; with
//       BENCH_SINK_RATE, the time against the least the sink's rate allows.
//   bench_post compare [GB] [connections] [MaxLines] [runs] [files]  the program itself
//       (tessaly-poster --headless /F ... /P /C, and in its window too when
//       there is a display) against bench_floor, the least a poster can do,
//       on the same sink and files (2 GB as four files, 8 connections,
//       MaxLines 5600 and 3 runs by default); reports medians and the
//       program's figures as ratios of the floor's. MaxLines may be a list
//       ("1000,5600"): the sizes take turns in every run, and each is also
//       reported against the last.
#include "common/AppState.h"
#include "engine/Article.h"
#include "engine/PostingRun.h"
#include "engine/RunView.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

class QuietHost : public RunView
{
public:
    void setStatusTexts(const QString &, const QString &) override {}
    void setTrayTooltip(const QString &) override {}
};

// A run over the queue as it stands, with the settings as they are.
RunPlan planNow(int limitKBps = 0)
{
    RunPlan plan = RunPlan::fromSettings(appSettings());
    plan.limitKBps = limitKBps;
    return plan;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6 + double(u.ru_stime.tv_sec)
        + double(u.ru_stime.tv_usec) / 1e6;
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// BENCH_PRINTABLE=1: the files hold printable bytes only (32 to 126), which
// the floor can post to a real news server as they are (INN refuses its raw
// lines otherwise) and which yEnc escapes nowhere.
bool printableFiles()
{
    return qEnvironmentVariable("BENCH_PRINTABLE") == u"1"_s;
}

// Fast random bytes (xorshift), 1 MiB at a time.
void writeRandomFile(const QString &path, qint64 size, quint64 seed)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    std::vector<quint64> block(131072);
    quint64 x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 left = size; left > 0;) {
        for (auto &w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        const qint64 n = std::min<qint64>(left, qint64(block.size() * 8));
        if (printableFiles()) {
            auto *bytes = reinterpret_cast<unsigned char *>(block.data());
            for (qint64 k = 0; k < n; ++k)
                bytes[k] = static_cast<unsigned char>(32 + bytes[k] % 95);
        }
        f.write(reinterpret_cast<const char *>(block.data()), n);
        left -= n;
    }
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The server posted to, by BENCH_SERVER: "nagle" (the default: bench_sink
// writing each reply on its own with the socket's defaults), "nodelay" (the
// same with TCP_NODELAY) or "inn" (a private INN2 on loopback, from
// scripts/e2e/inn.sh; needs root and inn2). BENCH_SINK_RATE gives the sink a
// rate per connection in bytes a second. Every figure names the kind.
QString serverKind()
{
    const QString kind = qEnvironmentVariable("BENCH_SERVER", u"nagle"_s);
    return kind == u"nodelay"_s || kind == u"inn"_s ? kind : u"nagle"_s;
}

struct Sink
{
    QProcess process;
    quint16 port = 0;
    QString innRoot; // the INN2 server's folder, while one runs
    bool start(const QString &program)
    {
        port = freePort();
        if (serverKind() == u"inn"_s) {
            // INN's own port is two above the reader's; its sockets want a short path.
            innRoot = u"/tmp/tbench-inn-%1"_s.arg(port);
            QProcess inn;
            inn.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            inn.start(u"bash"_s, {innScript(), u"start"_s, innRoot, QString::number(port), QString::number(freePort()),
                                  u"bench"_s, u"bench"_s});
            return inn.waitForFinished(60000) && inn.exitCode() == 0;
        }
        QStringList args{QString::number(port), serverKind()};
        if (qEnvironmentVariableIsSet("BENCH_SINK_RATE"))
            args << qEnvironmentVariable("BENCH_SINK_RATE");
        process.start(program, args);
        return process.waitForReadyRead(5000) && process.readLine().startsWith("ready");
    }
    QString stop()
    {
        if (!innRoot.isEmpty()) {
            QProcess inn;
            inn.start(u"bash"_s, {innScript(), u"stop"_s, innRoot});
            inn.waitForFinished(60000);
            QDir(innRoot).removeRecursively();
            innRoot.clear();
            return u"INN2"_s;
        }
        process.terminate();
        process.waitForFinished(5000);
        return serverKind() + u": "_s + QString::fromUtf8(process.readAll()).trimmed();
    }
    static QString innScript() { return QStringLiteral(TESSALY_SOURCE_DIR) + u"/scripts/e2e/inn.sh"_s; }
};

// BENCH_MAXLINES: the part size of throughput runs (3000 lines, 384,000 bytes, by default).
int benchMaxLines()
{
    return qEnvironmentVariableIsSet("BENCH_MAXLINES") ? qEnvironmentVariableIntValue("BENCH_MAXLINES") : 3000;
}

qint64 benchPartSize()
{
    return qint64(benchMaxLines()) * 128;
}

void configure(quint16 port, int connections)
{
    AppSettings &s = appSettings();
    s.Server = u"127.0.0.1"_s;
    s.Port = port;
    s.Connections = connections;
    s.setMaxLines(benchMaxLines());
    s.Email = u"bench@example.org"_s;
    s.Nickname = u"bench"_s;
    setRunTag(u"1765000000"_s);
    // BENCH_DELAYED_ACKS=1: acknowledgements as the kernel delays them (what
    // the engine did before it asked for them at once), to compare.
    PostTimeouts::current().acknowledgeAtOnce = qEnvironmentVariableIsEmpty("BENCH_DELAYED_ACKS");
    // The post check asks at once: a run's time is the posting, not the wait
    // before the last checks.
    PostTimeouts::current().checkDelayMs = 0;
    // BENCH_PIPELINE=0: the POST for the next part waits for the answer to
    // the article before it (to compare).
    PostTimeouts::current().pipelinePosts = qEnvironmentVariable("BENCH_PIPELINE") != u"0"_s;
    // BENCH_COMPOSE_AHEAD=N: parts of N bytes or more are composed on the
    // composing threads always, the others on the event loop (0: every part
    // ahead; a large N: none); unset, ahead while the event loop is busy.
    if (qEnvironmentVariableIsSet("BENCH_COMPOSE_AHEAD")) {
        PostTimeouts::current().composeAheadFromBytes = qEnvironmentVariable("BENCH_COMPOSE_AHEAD").toLongLong();
        PostTimeouts::current().composeAhead = ComposeAhead::Always;
    }
}

// Queues random files of 100 MB (the last one smaller) adding up to `total`
// bytes; files of the right size in the folder are used again.
void queueBenchFiles(const QString &folder, qint64 total)
{
    const qint64 fileSize = 100'000'000;
    int n = 0;
    for (qint64 made = 0; made < total; made += fileSize, ++n) {
        const qint64 size = std::min(fileSize, total - made);
        const QString path = folder + u"/file%1.bin"_s.arg(n, 3, 10, QChar(u'0'));
        if (QFileInfo(path).size() != size)
            writeRandomFile(path, size, quint64(n) + 1);
        const int parts = int(partCount(size, benchPartSize()));
        uploadQueue().append(UploadQueue::newItem(u"bench - \"file%1.bin\" yEnc"_s.arg(n), u"alt.binaries.test"_s,
                                                  path, parts, u"benchtag"_s, makeMessageIds(parts)));
    }
}

// Saving Queue.dat in a run of `seconds`: at most once every two seconds,
// and once more at the end. Measured on the queue as it stands.
void reportSaveShare(double seconds, double cpu)
{
    const int n = 20;
    const double c0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    for (int k = 0; k < n; ++k)
        SaveQueue();
    const double cpuEach = (cpuSeconds() - c0) / n;
    const double wallEach = double(t.nsecsElapsed()) / 1e9 / n;
    const double c1 = cpuSeconds();
    for (int k = 0; k < n; ++k)
        (void)queueDocument(uploadQueue());
    const double documentEach = (cpuSeconds() - c1) / n;
    const double saves = std::floor(seconds / 2.0) + 2;
    std::printf("  saving Queue.dat  %.2f ms CPU (%.2f ms of it making the document), %.2f ms wall each; at most %.0f "
                "saves: %.2f%% of the run's CPU, %.2f%% of its wall time\n",
                cpuEach * 1e3, documentEach * 1e3, wallEach * 1e3, saves, 100.0 * saves * cpuEach / cpu, 100.0 * saves * wallEach / seconds);
}

struct CheckRun
{
    double seconds = 0;
    double cpu = 0;
    int posted = 0;
    int checked = 0;
};

// One run over the queue as it stands (every item queued again first).
CheckRun postQueue(quint16 port, int connections, bool check, bool tls = false, int maxLines = 3000)
{
    for (int i = 1; i <= uploadQueue().count(); ++i) {
        UploadItem &it = uploadQueue().item(i);
        it = UploadQueue::newItem(it.subject, it.newsgroups, it.path, it.maxparts, it.tag, it.messageids);
        uploadQueue().itemChanged(i);
    }
    configure(port, connections);
    appSettings().setMaxLines(maxLines);
    appSettings().EnableSSL = tls ? 1 : 0;
    appSettings().SSLTunnel = 0;
    appSettings().PostCheck = check ? 1 : 0;
    PostTimeouts::current().checkDelayMs = 0; // each article asked for right after the next is sent
    QuietHost host;
    PostingRun engine(host);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QObject::connect(&engine, &PostingRun::finished, &loop, &QEventLoop::quit);
    engine.start(planNow());
    if (engine.isRunning())
        loop.exec();
    CheckRun f;
    f.seconds = double(wall.nsecsElapsed()) / 1e9;
    f.cpu = cpuSeconds() - cpu0;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        f.posted += uploadQueue().item(i).state == UploadState::PostedOK;
    f.checked = engine.checkedCount();
    return f;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Random files of `gigabytes` in all queued (in BENCH_DIR when set, which
// keeps them between runs, else in `tmp`) and a sink started; false when the
// sink did not start.
bool queueAndStartSink(double gigabytes, const QTemporaryDir &tmp, Sink &sink, const QString &sinkProgram)
{
    const QString folder = qEnvironmentVariableIsEmpty("BENCH_DIR") ? tmp.path() : qEnvironmentVariable("BENCH_DIR");
    QDir().mkpath(folder);
    queueBenchFiles(folder, qint64(gigabytes * 1e9));
    if (sink.start(sinkProgram))
        return true;
    std::fprintf(stderr, "the sink did not start\n");
    return false;
}

// The post check's cost: runs with the check off and on, alternately, in
// one process against one sink; medians and the ratio on/off.
int checkCost(double gigabytes, int connections, int runs, const QString &sinkProgram)
{
    QTemporaryDir tmp;
    const qint64 total = qint64(gigabytes * 1e9);
    Sink sink;
    if (!queueAndStartSink(gigabytes, tmp, sink, sinkProgram))
        return 1;
    std::vector<double> off, on, offCpu, onCpu;
    int checked = 0;
    bool allPosted = true;
    postQueue(sink.port, connections, false); // warm the page cache
    for (int r = 0; r < runs; ++r) {
        // Off first, then on first: neither order gains from the other.
        for (const bool check : {r % 2 == 1, r % 2 == 0}) {
            const CheckRun f = postQueue(sink.port, connections, check);
            allPosted = allPosted && f.posted == uploadQueue().count();
            (check ? on : off).push_back(double(total) / 1e6 / f.seconds);
            std::printf("  run %d check %-3s %7.0f MB/s\n", r + 1, check ? "on" : "off", double(total) / 1e6 / f.seconds);
            (check ? onCpu : offCpu).push_back(f.cpu / (double(total) / 1e9));
            if (check)
                checked = f.checked;
        }
    }
    std::printf("check cost: %.2f GB in %d files, 384000-byte parts, %d connections, median of %d runs each\n",
                double(total) / 1e9, uploadQueue().count(), connections, runs);
    std::printf("  check off   %7.0f MB/s  %.3f CPU-s/GB\n", median(off), median(offCpu));
    std::printf("  check on    %7.0f MB/s  %.3f CPU-s/GB  (%d articles checked in the last run)\n", median(on),
                median(onCpu), checked);
    std::printf("  ratio on/off throughput %.3f, CPU %.3f\n", median(on) / median(off), median(onCpu) / median(offCpu));
    std::printf("  sink: %s\n", qPrintable(sink.stop()));
    return allPosted ? 0 : 1;
}

// One file of `megabytes` MB over `connections` connections, the post check
// off: every connection helps with the one file. With BENCH_SINK_RATE the
// sink takes that many bytes a second per connection, so the least time is
// the file's size over connections x rate; reports the time against it.
int oneFile(double megabytes, int connections, int maxLines, int runs, const QString &sinkProgram)
{
    QTemporaryDir tmp;
    const qint64 size = qint64(megabytes * 1e6);
    const QString path = tmp.filePath(u"one.bin"_s);
    writeRandomFile(path, size, 77);
    const qint64 partBytes = qint64(maxLines) * 128;
    const int parts = int(partCount(size, partBytes));
    uploadQueue().append(UploadQueue::newItem(u"one - \"one.bin\" yEnc"_s, u"alt.binaries.test"_s, path, parts,
                                              u"onetag"_s, makeMessageIds(parts)));
    Sink sink;
    if (!sink.start(sinkProgram))
        return 1;
    std::vector<double> times;
    bool ok = true;
    for (int r = 0; r < runs; ++r) {
        const CheckRun f = postQueue(sink.port, connections, false, false, maxLines);
        ok = ok && f.posted == 1;
        times.push_back(f.seconds);
    }
    const double rate = qEnvironmentVariable("BENCH_SINK_RATE").toDouble();
    std::printf("one file: %.1f MB in %d parts of %lld bytes over %d connections, post check off, median of %d runs: "
                "%.2f s",
                megabytes, parts, static_cast<long long>(partBytes), connections, runs, median(times));
    if (rate > 0)
        std::printf(", least possible %.2f s at %.0f B/s per connection (ratio %.2f)", double(size) / (rate * connections),
                    rate, median(times) / (double(size) / (rate * connections)));
    std::printf("\n  sink: %s\n", qPrintable(sink.stop()));
    return ok ? 0 : 1;
}

// Built-in TLS against plain on the same sink: the TLS runs go through a
// TLS front end (stunnel as a server, in a process of its own, with a
// certificate of a fresh test authority the poster is told to trust).
int tlsCost(double gigabytes, int connections, int runs, const QString &sinkProgram)
{
    QTemporaryDir tmp;
    const qint64 total = qint64(gigabytes * 1e9);
    Sink sink;
    if (!queueAndStartSink(gigabytes, tmp, sink, sinkProgram))
        return 1;
    const QString certs = tmp.filePath(u"certificates"_s);
    QProcess make;
    make.start(u"bash"_s, {QStringLiteral(TESSALY_SOURCE_DIR) + u"/tests/support/make-test-certificates.sh"_s, certs});
    if (!make.waitForFinished(60000) || make.exitCode() != 0) {
        std::fprintf(stderr, "the test certificates could not be made\n");
        return 1;
    }
    qputenv("SSL_CERT_FILE", QFile::encodeName(certs + u"/ca.crt"_s));
    const quint16 tlsPort = freePort();
    QFile conf(tmp.filePath(u"front.conf"_s));
    conf.open(QIODevice::WriteOnly);
    conf.write("foreground = yes\npid =\nsocket = a:TCP_NODELAY=1\n[nntps]\ncert = " + QFile::encodeName(certs + u"/good.pem"_s)
               + "\naccept = 127.0.0.1:" + QByteArray::number(tlsPort) + "\nconnect = 127.0.0.1:"
               + QByteArray::number(sink.port) + "\n");
    conf.close();
    QProcess front;
    front.setProcessChannelMode(QProcess::MergedChannels);
    front.start(u"stunnel4"_s, {conf.fileName()});
    if (!front.waitForStarted(5000)) {
        std::fprintf(stderr, "stunnel4 did not start\n");
        return 1;
    }
    for (QDeadlineTimer d(5000); !d.hasExpired();) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, tlsPort);
        if (probe.waitForConnected(200))
            break;
    }
    std::vector<double> plain, tls, plainCpu, tlsCpu;
    bool allPosted = true;
    if (qEnvironmentVariableIsEmpty("BENCH_ONLY"))
        postQueue(sink.port, connections, false); // warm the page cache
    for (int r = 0; r < runs; ++r) {
        for (const bool secure : {r % 2 == 1, r % 2 == 0}) {
            // BENCH_ONLY=tls or =plain runs one kind (to profile it alone).
            if (const QString only = qEnvironmentVariable("BENCH_ONLY"); !only.isEmpty() && (only == u"tls"_s) != secure)
                continue;
            const CheckRun f = postQueue(secure ? tlsPort : sink.port, connections, false, secure);
            allPosted = allPosted && f.posted == uploadQueue().count();
            (secure ? tls : plain).push_back(double(total) / 1e6 / f.seconds);
            (secure ? tlsCpu : plainCpu).push_back(f.cpu / (double(total) / 1e9));
            std::printf("  run %d %-5s %7.0f MB/s  %.3f CPU-s/GB  (%d of %d posted)\n", r + 1, secure ? "TLS" : "plain",
                        double(total) / 1e6 / f.seconds, f.cpu / (double(total) / 1e9), f.posted, uploadQueue().count());
        }
    }
    front.terminate();
    front.waitForFinished(5000);
    std::printf("TLS cost: %.2f GB in %d files, %d connections, median of %d runs each\n", double(total) / 1e9,
                uploadQueue().count(), connections, runs);
    std::printf("  plain   %7.0f MB/s  %.3f CPU-s/GB\n", median(plain), median(plainCpu));
    std::printf("  TLS     %7.0f MB/s  %.3f CPU-s/GB\n", median(tls), median(tlsCpu));
    std::printf("  ratio TLS/plain throughput %.3f, CPU per GB %.3f\n", median(tls) / median(plain),
                median(tlsCpu) / median(plainCpu));
    // The two runs of a round follow each other: their ratio is less touched
    // by a machine whose load drifts than the ratio of the medians.
    std::vector<double> paired;
    for (std::size_t r = 0; r < std::min(tlsCpu.size(), plainCpu.size()); ++r)
        paired.push_back(tlsCpu[r] / plainCpu[r]);
    if (!paired.empty())
        std::printf("  CPU per GB TLS/plain, round by round: median %.3f (lowest %.3f, highest %.3f)\n", median(paired),
                    *std::min_element(paired.begin(), paired.end()), *std::max_element(paired.begin(), paired.end()));
    std::printf("  sink: %s\n", qPrintable(sink.stop()));
    return allPosted ? 0 : 1;
}

int throughput(double gigabytes, int connections, const QString &sinkProgram)
{
    // BENCH_DIR keeps the files between runs (they are made once).
    QTemporaryDir tmp;
    const qint64 total = qint64(gigabytes * 1e9);
    Sink sink;
    if (!queueAndStartSink(gigabytes, tmp, sink, sinkProgram))
        return 1;
    configure(sink.port, connections);
    QuietHost host;
    PostingRun engine(host);
    bool done = false;
    QObject::connect(&engine, &PostingRun::finished, [&] { done = true; });
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    engine.start(planNow());
    // A real event loop: processEvents with a time limit never sleeps, and a
    // spinning loop would take the core the engine's workers need.
    QEventLoop loop;
    QObject::connect(&engine, &PostingRun::finished, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const double gb = double(total) / 1e9;
    int posted = 0;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        posted += uploadQueue().item(i).state == UploadState::PostedOK;
    std::printf("throughput: %.2f GB of files in %d items over %d connections\n", gb, uploadQueue().count(), connections);
    std::printf("  items posted OK   %d of %d\n", posted, uploadQueue().count());
    std::printf("  wall time         %.2f s\n", seconds);
    std::printf("  file rate         %.0f MB/s (article bytes sent: %.2f GB)\n", double(total) / 1e6 / seconds,
                double(engine.totalBytesSent()) / 1e9);
    std::printf("  poster CPU        %.2f s = %.3f CPU-seconds per GB\n", cpu, cpu / gb);
    std::printf("  poster peak RSS   %.1f MB\n", double(peakKiB()) / 1024.0);
    reportSaveShare(seconds, cpu);
    std::printf("  sink: %s\n", qPrintable(sink.stop()));
    return posted == uploadQueue().count() ? 0 : 1;
}

int smallFiles(int files, int connections, const QString &sinkProgram)
{
    QTemporaryDir tmp;
    for (int n = 0; n < files; ++n) {
        const QString path = tmp.filePath(u"s%1.bin"_s.arg(n, 5, 10, QChar(u'0')));
        writeRandomFile(path, 2000, quint64(n) + 3);
        uploadQueue().append(UploadQueue::newItem(u"small - \"s%1.bin\" yEnc"_s.arg(n), u"alt.binaries.test"_s, path,
                                                  1, u"smalltag"_s, makeMessageIds(1)));
    }
    Sink sink;
    if (!sink.start(sinkProgram))
        return 1;
    const CheckRun f = postQueue(sink.port, connections, true);
    std::printf("small files: %d of %d posted OK (2,000 bytes each, %d connections, post check on) in %.2f s: "
                "%.0f files/s, %.2f CPU-s\n",
                f.posted, files, connections, f.seconds, files / f.seconds, f.cpu);
    reportSaveShare(f.seconds, f.cpu);
    std::printf("  sink: %s\n", qPrintable(sink.stop()));
    return f.posted == files ? 0 : 1;
}

int limit(int kbps, double seconds, int connections, int maxLines, const QString &sinkProgram)
{
    QTemporaryDir dir;
    // Enough for the whole measurement, whatever the limit.
    const qint64 fileSize = std::clamp<qint64>(qint64(kbps * 1024.0 * (seconds + 2) / connections), 4'000'000, 400'000'000);
    for (int n = 0; n < connections * 2; ++n) {
        const QString path = dir.filePath(u"limit%1.bin"_s.arg(n));
        writeRandomFile(path, fileSize, quint64(n) + 7);
        const int parts = int(partCount(fileSize, qint64(maxLines) * 128));
        uploadQueue().append(UploadQueue::newItem(u"limit %1"_s.arg(n), u"alt.binaries.test"_s, path, parts,
                                                  u"limittag"_s, makeMessageIds(parts)));
    }
    Sink sink;
    if (!sink.start(sinkProgram))
        return 1;
    configure(sink.port, connections);
    appSettings().setMaxLines(maxLines);
    QuietHost host;
    PostingRun engine(host);
    engine.start(planNow(kbps));
    // Measure after the connections have logged in and started.
    const auto runFor = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    runFor(1000);
    const qint64 b0 = engine.totalBytesSent();
    QElapsedTimer t;
    t.start();
    runFor(int(seconds * 1000));
    const double rate = double(engine.totalBytesSent() - b0) / (double(t.nsecsElapsed()) / 1e9);
    engine.stop();
    const double target = kbps * 1024.0;
    std::printf("limit %d kB/s over %d connections, %d-byte parts, for %.0f s: %.0f B/s measured, target %.0f B/s, "
                "ratio %.3f\n",
                kbps, connections, maxLines * 128, seconds, rate, target, rate / target);
    sink.stop();
    return 0;
}

double childCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6 + double(u.ru_stime.tv_sec)
        + double(u.ru_stime.tv_usec) / 1e6;
}

struct RunFigures
{
    double seconds = 0;
    double cpu = 0;
    bool ok = false;
};

// Runs a poster as a child process while a fresh sink listens; its CPU time
// is what the child used (the sink is reaped only afterwards).
RunFigures runChild(const QString &program, const std::function<QStringList(quint16)> &arguments,
                    const QProcessEnvironment &env, const QString &sinkProgram)
{
    RunFigures f;
    Sink sink;
    if (!sink.start(sinkProgram))
        return f;
    // Made first: making them may run a program, which is not measured.
    const QStringList args = arguments(sink.port);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    const double cpu0 = childCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    p.start(program, args);
    const bool finished = p.waitForFinished(600000);
    f.seconds = double(wall.nsecsElapsed()) / 1e9;
    f.cpu = childCpuSeconds() - cpu0;
    f.ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!f.ok)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), p.readAllStandardError().constData());
    sink.stop();
    return f;
}

int compare(double gigabytes, int connections, const QList<int> &lineCounts, int runs, int fileCount,
            const QString &sinkProgram)
{
    int maxLines = lineCounts.value(0, 5600); // of the run being made
    QTemporaryDir tmp;
    const QString base = qEnvironmentVariableIsEmpty("BENCH_DIR") ? tmp.path() : qEnvironmentVariable("BENCH_DIR");
    // The program posts every file of the folder: one folder per file count.
    const QString folder = base + (printableFiles() ? u"/compare-printable-%1"_s : u"/compare-%1"_s).arg(fileCount);
    QDir().mkpath(folder);
    const qint64 total = qint64(gigabytes * 1e9);
    QStringList files;
    for (int n = 0; n < fileCount; ++n) {
        const QString path = folder + u"/part%1.bin"_s.arg(n);
        if (QFileInfo(path).size() != total / fileCount)
            writeRandomFile(path, total / fileCount, quint64(n) + 100);
        files << path;
    }
    const QString bin = QCoreApplication::applicationDirPath();
    const QString floorProgram = bin + u"/bench_floor"_s;
    const QString posterProgram = QStringLiteral(TESSALY_APP_PATH);

    // The program's own folder, with settings for the sink.
    const QString home = tmp.path() + u"/home"_s;
    QDir().mkpath(home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TESSALY_HOME"_s, home);
    const bool display = env.contains(u"DISPLAY"_s);
    const auto writeSettings = [&](quint16 port) {
        QProcess first;
        first.setProcessEnvironment(env);
        first.setStandardOutputFile(QProcess::nullDevice());
        first.start(posterProgram, {u"--headless"_s, u"/F"_s, u"/nonexistent"_s});
        first.waitForFinished(30000);
        QFile ini(home + u"/Settings.ini"_s);
        ini.open(QIODevice::ReadOnly);
        QByteArray text = ini.readAll();
        ini.close();
        const auto set = [&text](const QByteArray &key, const QByteArray &value) {
            const qsizetype at = text.indexOf(QByteArray("\n" + key + "="));
            if (at < 0)
                return;
            const qsizetype end = text.indexOf('\n', at + 1);
            const qsizetype cut = end > 0 && text.at(end - 1) == '\r' ? end - 1 : end;
            text.replace(at + 1, cut - at - 1, QByteArray(key + "=" + value));
        };
        set("Server", "127.0.0.1");
        set("Port", QByteArray::number(port));
        set("Connections", QByteArray::number(connections));
        set("MaxLines", QByteArray::number(maxLines));
        set("Nickname", "bench");
        set("Email", "bench@example.org");
        // The post check stays on, but asks at once: a run's time is then
        // the posting, not the wait before the last checks.
        set("PostCheckDelay", "0");
        if (qEnvironmentVariableIsSet("BENCH_POSTCHECK")) // 0: the check off, to see what it costs
            set("PostCheck", qgetenv("BENCH_POSTCHECK"));
        ini.open(QIODevice::WriteOnly | QIODevice::Truncate);
        ini.write(text);
        ini.close();
        QFile::remove(home + u"/Queue.dat"_s);
    };
    const auto programArgs = [&](bool headless) {
        return [&, headless](quint16 port) {
            writeSettings(port);
            QStringList a{u"/F"_s, folder, u"/H"_s, u"bench"_s, u"/N"_s, u"alt.binaries.test"_s, u"/P"_s, u"/C"_s};
            if (headless)
                a.prepend(u"--headless"_s);
            return a;
        };
    };
    const auto floorArgs = [&](quint16 port) {
        return QStringList{QString::number(port), QString::number(connections), QString::number(qint64(maxLines) * 128)}
            + files;
    };

    struct Series
    {
        const char *name;
        std::vector<double> rate, cpuPerGB;
    };
    // One set of series per article size; the sizes take turns in every run.
    struct Sizes
    {
        Series floor{"floor (bench_floor)", {}, {}}, headless{"program, headless", {}, {}},
            window{"program, in its window", {}, {}};
    };
    std::vector<Sizes> sizes(std::size_t(lineCounts.size()));
    const double gb = double(total / fileCount * fileCount) / 1e9;
    bool ok = true;
    for (int r = 0; r < runs; ++r) {
        const auto measure = [&](Series &s, const QString &program, const std::function<QStringList(quint16)> &args) {
            const RunFigures f = runChild(program, args, env, sinkProgram);
            ok = ok && f.ok;
            s.rate.push_back(gb * 1000 / f.seconds);
            s.cpuPerGB.push_back(f.cpu / gb);
        };
        for (qsizetype k = 0; k < lineCounts.size(); ++k) {
            maxLines = lineCounts[k];
            Sizes &z = sizes[std::size_t(k)];
            measure(z.floor, floorProgram, floorArgs);
            measure(z.headless, posterProgram, programArgs(true));
            if (display)
                measure(z.window, posterProgram, programArgs(false));
        }
    }
    for (qsizetype k = 0; k < lineCounts.size(); ++k) {
        const Sizes &z = sizes[std::size_t(k)];
        std::printf("compare: %.2f GB in %d files, %lld-byte parts (MaxLines %d), %d connections, median of %d runs\n",
                    gb, fileCount, static_cast<long long>(lineCounts[k]) * 128, lineCounts[k], connections, runs);
        for (const Series *s : {&z.floor, &z.headless, &z.window}) {
            if (s->rate.empty())
                continue;
            std::printf("  %-24s %7.0f MB/s  %.3f CPU-seconds per GB\n", s->name, median(s->rate), median(s->cpuPerGB));
        }
        std::printf("  headless / floor:  CPU per GB %.2fx, throughput %.2fx\n",
                    median(z.headless.cpuPerGB) / median(z.floor.cpuPerGB), median(z.headless.rate) / median(z.floor.rate));
        if (!z.window.rate.empty())
            std::printf("  window / headless: CPU per GB %.2fx, throughput %.2fx\n",
                        median(z.window.cpuPerGB) / median(z.headless.cpuPerGB),
                        median(z.window.rate) / median(z.headless.rate));
    }
    // Sizes against the last one given, in the same run.
    for (qsizetype k = 0; k + 1 < lineCounts.size(); ++k)
        std::printf("MaxLines %d / MaxLines %d, headless: throughput %.2fx, CPU per GB %.2fx (floor: %.2fx)\n",
                    lineCounts[k], lineCounts.last(), median(sizes[std::size_t(k)].headless.rate) / median(sizes.back().headless.rate),
                    median(sizes[std::size_t(k)].headless.cpuPerGB) / median(sizes.back().headless.cpuPerGB),
                    median(sizes[std::size_t(k)].floor.rate) / median(sizes.back().floor.rate));
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString sinkProgram = QCoreApplication::applicationDirPath() + u"/bench_sink"_s;
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0, u"throughput"_s);
    std::printf("server kind: %s%s\n", qPrintable(serverKind()),
                qEnvironmentVariableIsSet("BENCH_SINK_RATE") ? qPrintable(u", "_s + qEnvironmentVariable("BENCH_SINK_RATE") + u" B/s per connection"_s) : "");
    if (mode == u"throughput"_s)
        return throughput(args.value(1, u"2"_s).toDouble(), args.value(2, u"8"_s).toInt(), sinkProgram);
    if (mode == u"limit"_s)
        return limit(args.value(1, u"200"_s).toInt(), args.value(2, u"10"_s).toDouble(), args.value(3, u"3"_s).toInt(),
                     std::max(1, args.value(4, u"3000"_s).toInt()), sinkProgram);
    if (mode == u"checkcost"_s)
        return checkCost(args.value(1, u"2"_s).toDouble(), args.value(2, u"8"_s).toInt(), args.value(3, u"3"_s).toInt(),
                         sinkProgram);
    if (mode == u"tls"_s)
        return tlsCost(args.value(1, u"2"_s).toDouble(), args.value(2, u"8"_s).toInt(), args.value(3, u"3"_s).toInt(),
                       sinkProgram);
    if (mode == u"smallfiles"_s)
        return smallFiles(args.value(1, u"10000"_s).toInt(), args.value(2, u"8"_s).toInt(), sinkProgram);
    if (mode == u"onefile"_s)
        return oneFile(args.value(1, u"24"_s).toDouble(), args.value(2, u"8"_s).toInt(),
                       std::max(1, args.value(3, u"3000"_s).toInt()), std::max(1, args.value(4, u"3"_s).toInt()), sinkProgram);
    if (mode == u"compare"_s) {
        QList<int> lines;
        for (const QString &n : args.value(3, u"5600"_s).split(u',', Qt::SkipEmptyParts))
            lines << std::max(1, n.toInt());
        return compare(args.value(1, u"2"_s).toDouble(), args.value(2, u"8"_s).toInt(), lines, args.value(4, u"3"_s).toInt(),
                       std::max(1, args.value(5, u"4"_s).toInt()), sinkProgram);
    }
    std::fprintf(stderr, "usage: bench_post throughput [GB] [connections] | limit L [seconds] [connections]\n"
                         "       bench_post checkcost [GB] [connections] [runs]\n"
                         "       bench_post tls [GB] [connections] [runs]\n"
                         "       bench_post smallfiles [files] [connections]\n"
                         "       bench_post onefile [MB] [connections] [MaxLines] [runs]\n"
                         "       bench_post compare [GB] [connections] [MaxLines] [runs] [files]\n");
    return 2;
}
