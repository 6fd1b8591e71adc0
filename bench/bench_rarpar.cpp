// One Rar & Par job over random files (its PAR2 files made by the program's
// own creator), timed against the same two outside tools run directly from a
// shell on the same files in the same run, with the CPU time of each step and
// the longest time the event loop went without turning while the job ran.
//
//   bench_rarpar [megabytes=1024] [split MB=50] [redundancy=10] [rounds=1] [block bytes]
//
// Prints the medians of the rounds (direct and job runs alternate).
#include "application/JobRunner.h"
#include "application/ProcessState.h"
#include "common/Log.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobTree.h"
#include "rarpar/Tools.h"
#include "storage/AppSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

struct Host : JobHost
{
    bool noUpload() const override { return true; }
    void setJobControls(bool) override {}
    void enableStartTimer() override {}
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// CPU seconds of the children that have ended so far.
double childCpu()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs a command line through the shell, as a person would; seconds.
double shell(const QString &command)
{
    QElapsedTimer t;
    t.start();
    QProcess p;
    p.start(u"sh"_s, {u"-c"_s, command + u" >/dev/null 2>&1"_s});
    p.waitForFinished(-1);
    if (p.exitCode() != 0)
        std::fprintf(stderr, "failed: %s\n", qPrintable(command));
    return double(t.nsecsElapsed()) / 1e9;
}

QString quotedForShell(QString s)
{
    return u'\'' + s.replace(u'\'', u"'\\''"_s) + u'\'';
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 megabytes = args.value(1, u"1024"_s).toLongLong();
    const int splitMb = args.value(2, u"50"_s).toInt();
    const QString redundancy = args.value(3, u"10"_s);
    const int rounds = std::max(1, args.value(4, u"1"_s).toInt());
    const qint64 blockBytes = args.value(5, u"716800"_s).toLongLong();
    setBuiltinPar2(QStringLiteral(TESSALY_PAR2_TOOL));

    QTemporaryDir dir;
    qputenv("TESSALY_HOME", (dir.path() + u"/home"_s).toUtf8());
    QDir().mkpath(dir.path() + u"/home"_s);
    resetProcessState();
    appSettings().setMaxLines(int(blockBytes / 128));
    const QString in = dir.path() + u"/in"_s;
    QDir().mkpath(in);
    // Eight files of random bytes.
    const qint64 each = megabytes * 1048576 / 8;
    QByteArray block(8 * 1048576, Qt::Uninitialized);
    for (int f = 0; f < 8; ++f) {
        QFile file(in + u"/file%1.bin"_s.arg(f));
        file.open(QIODevice::WriteOnly);
        for (qint64 left = each; left > 0; left -= block.size()) {
            QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
            file.write(block.constData(), std::min<qint64>(left, block.size()));
        }
    }

    JobRequest r;
    r.inputs = {in};
    r.collectionName = u"Bench"_s;
    r.outputPath = dir.path() + u"/out"_s;
    r.subject = u"Bench"_s;
    r.newsgroups = {u"alt.binaries.test"_s};
    r.options.archiveName = u"Bench.rar"_s;
    r.options.megabytes = true;
    r.options.splitText = QString::number(splitMb);
    r.options.redundancy = redundancy;
    r.options.partSize = appSettings().PartSize;
    const RarParJob job = makeJobs(r, itemSize(in)).at(0);
    const QString rar = findTool(u"rar"_s), par2 = findTool(u"par2"_s);

    std::vector<double> directRar, directPar2, directAll, jobRar, jobPar2, jobAll, maxGap;
    std::vector<double> directPar2Cpu, jobPar2Cpu;
    const auto runDirect = [&] {
        // The tools alone, from a shell, in a folder of their own.
        const QString direct = r.outputPath + u"/Direct"_s;
        QDir(direct).removeRecursively();
        QDir().mkpath(direct);
        QString rarLine = job.rar;
        rarLine.replace(u"<TempFolder>"_s, u"Direct"_s);
        QString par2Line = job.par2;
        par2Line.replace(u"<TempFolder>"_s, u"Direct"_s);
        QString rarCommand = quotedForShell(rar);
        for (const QString &a : splitArguments(rarLine))
            rarCommand += u' ' + quotedForShell(a);
        const double a = shell(u"nice -n 19 "_s + rarCommand);
        QString par2Command = quotedForShell(par2);
        for (const QString &p : splitArguments(par2Line).mid(0, splitArguments(par2Line).size() - 1))
            par2Command += u' ' + quotedForShell(p);
        par2Command += u' ' + quotedForShell(direct) + u"/*.rar"_s;
        const double cpu = childCpu();
        const double b = shell(u"nice -n 19 "_s + par2Command);
        directPar2Cpu.push_back(childCpu() - cpu);
        directRar.push_back(a);
        directPar2.push_back(b);
        directAll.push_back(a + b);
        QDir(direct).removeRecursively();
    };
    const auto runJob = [&] {
        // The same as a job.
        jobTree().resetToPlaceholder();
        jobTree().addJob(job);
        Host host;
        JobRunner runner(host, jobTree());
        std::optional<JobRunner::Outcome> outcome;
        QElapsedTimer t, phase;
        double rarSeconds = 0, cpuAfterRar = 0;
        QObject::connect(&runner, &JobRunner::progressed, [&](const QString &text) {
            if (text.startsWith(u"Initializing Par2"_s)) {
                rarSeconds = double(phase.nsecsElapsed()) / 1e9;
                cpuAfterRar = childCpu();
            }
        });
        QObject::connect(&runner, &JobRunner::finished, [&](JobRunner::Outcome o) { outcome = o; });
        // The event loop's longest pause: a 10 ms timer's worst lateness.
        QElapsedTimer tick;
        qint64 worst = 0;
        QTimer probe;
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            worst = std::max(worst, tick.nsecsElapsed() / 1000000 - 10);
            tick.restart();
        });
        t.start();
        runner.start();
        QTimer::singleShot(100, [&] { phase.start(); tick.start(); probe.start(); }); // the runner waits 100 ms first
        while (!outcome)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        probe.stop();
        const double all = double(t.nsecsElapsed()) / 1e9 - 0.1;
        if (*outcome != JobRunner::Outcome::Done)
            std::fprintf(stderr, "job failed\n");
        jobRar.push_back(rarSeconds);
        jobPar2.push_back(all - rarSeconds);
        jobPar2Cpu.push_back(childCpu() - cpuAfterRar);
        jobAll.push_back(all);
        maxGap.push_back(double(worst));
        QDir(runner.tempPath()).removeRecursively();
    };
    for (int round = 0; round < rounds; ++round) {
        // Alternate which goes first, so neither always meets a warmer cache.
        if (round % 2 == 0) {
            runDirect();
            runJob();
        } else {
            runJob();
            runDirect();
        }
    }
    std::printf("input %lld MiB, split %d MiB, %s %% recovery, %d round(s), medians\n", megabytes, splitMb,
                qPrintable(redundancy), rounds);
    std::printf("%-8s %10s %10s %10s\n", "", "rar s", "par2 s", "total s");
    std::printf("%-8s %10.2f %10.2f %10.2f\n", "direct", median(directRar), median(directPar2), median(directAll));
    std::printf("%-8s %10.2f %10.2f %10.2f\n", "job", median(jobRar), median(jobPar2), median(jobAll));
    std::printf("PAR2 CPU s: direct %.2f, job %.2f (%.2f and %.2f CPU-s per GB of input)\n", median(directPar2Cpu),
                median(jobPar2Cpu), median(directPar2Cpu) * 1024 / double(megabytes),
                median(jobPar2Cpu) * 1024 / double(megabytes));
    std::printf("PAR2 step: %.1fx faster, %.1fx less CPU; whole job %.1fx faster\n",
                median(directPar2) / median(jobPar2), median(directPar2Cpu) / median(jobPar2Cpu),
                median(directAll) / median(jobAll));
    std::printf("job/direct: %.3f   longest event-loop pause: %.0f ms\n", median(jobAll) / median(directAll),
                median(maxGap));
    return 0;
}
