#include "platform/ConsoleRunner.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::waitFor;

namespace {

struct Recorded
{
    QStringList chunks;
    QStringList failures;
    ConsoleResult result;
    bool finished = false;
};

// Runs a shell snippet (a stand-in for a tool) and records what came back.
void attach(ConsoleRunner &runner, Recorded &run)
{
    QObject::connect(&runner, &ConsoleRunner::output, [&run](const QString &c) { run.chunks << c; });
    QObject::connect(&runner, &ConsoleRunner::failed, [&run](const QString &m) { run.failures << m; });
    QObject::connect(&runner, &ConsoleRunner::finished, [&run](const ConsoleResult &r) {
        run.result = r;
        run.finished = true;
    });
}


// Gone, or a zombie waiting to be reaped.
bool gone(pid_t pid)
{
    if (::kill(pid, 0) != 0)
        return true;
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    return stat.open(QIODevice::ReadOnly) && stat.readAll().contains(") Z ");
}

} // namespace

TEST(ConsoleRunner, OutputArrivesInSmallChunksInOrderThenOneEmptyChunk)
{
    ConsoleRunner runner;
    Recorded run;
    attach(runner, run);
    // 10,000 bytes, some on standard error between two runs on standard
    // output; standard input is empty (a tool that asks is not waited on).
    ASSERT_TRUE(runner.start(u"sh"_s, {u"-c"_s, u"cat; test -c /dev/stdin || exit 9; head -c 3000 /dev/zero | tr '\\0' a; "
                                                u"head -c 4000 /dev/zero | tr '\\0' b >&2; "
                                                u"head -c 3000 /dev/zero | tr '\\0' c; exit 3"_s}));
    ASSERT_TRUE(waitFor([&] { return run.finished; }));
    ASSERT_GE(run.chunks.size(), 5);
    EXPECT_TRUE(run.chunks.last().isEmpty());
    for (const QString &c : run.chunks)
        EXPECT_LE(c.size(), ConsoleRunner::ChunkSize);
    EXPECT_EQ(run.chunks.join(QString()), QString(3000, u'a') + QString(4000, u'b') + QString(3000, u'c'));
    EXPECT_TRUE(run.result.started);
    EXPECT_FALSE(run.result.stopped);
    EXPECT_EQ(run.result.exitCode, 3);
    EXPECT_FALSE(run.result.succeeded());
    EXPECT_EQ(run.result.lastLine, QString(1096, u'b') + QString(3000, u'c')); // its last 4 KiB
}

TEST(ConsoleRunner, StopEndsTheProgramAndItsChildrenAtIdlePriority)
{
    const QString pidFile = QDir::tempPath() + u"/tess-runner-child-%1"_s.arg(QCoreApplication::applicationPid());
    ConsoleRunner runner;
    Recorded run;
    attach(runner, run);
    // A stand-in that never ends on its own, with a child of its own.
    ASSERT_TRUE(runner.start(u"sh"_s, {u"-c"_s, u"sleep 60 & echo $! > '"_s + pidFile
                                                     + u"'; cat /proc/self/stat; while :; do echo tick; sleep 0.05; done"_s}));
    ASSERT_TRUE(waitFor([&] { return run.chunks.join(QString()).contains(u"tick"_s); }));
    // Nice value (field 19 of /proc/<pid>/stat): 19, the lowest priority.
    const QStringList stat = run.chunks.join(QString()).section(u')', 1).split(u' ', Qt::SkipEmptyParts);
    ASSERT_GT(stat.size(), 17);
    EXPECT_EQ(stat.at(16), u"19"_s);
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const pid_t sleeper = pid_t(f.readAll().trimmed().toLongLong());
    f.close();
    QFile::remove(pidFile);
    ASSERT_GT(sleeper, 0);

    const qsizetype before = run.chunks.size();
    runner.stop();
    ASSERT_TRUE(waitFor([&] { return run.finished; }));
    EXPECT_TRUE(run.result.stopped);
    EXPECT_FALSE(run.result.crashed); // ended by its signal, not killed by somebody else's
    EXPECT_FALSE(run.result.succeeded());
    EXPECT_LE(run.chunks.size(), before + 2); // at most one more, then the empty one
    EXPECT_TRUE(run.chunks.last().isEmpty());
    EXPECT_TRUE(waitFor([&] { return gone(sleeper); }, 3000)) << "the child outlived the stop";
}

TEST(ConsoleRunner, AMissingProgramSaysSoAndRaisesNoOutput)
{
    ConsoleRunner runner;
    Recorded run;
    attach(runner, run);
    EXPECT_FALSE(runner.start(u"/no/such/tool"_s, {}));
    EXPECT_EQ(run.failures, QStringList{u"File or command not found"_s});
    QCoreApplication::processEvents();
    EXPECT_TRUE(run.chunks.isEmpty());
    EXPECT_FALSE(run.finished);
    // The same runner is used again for the next tool.
    ASSERT_TRUE(runner.start(u"sh"_s, {u"-c"_s, u"printf 'one\\r two\\nlast words\\n\\n'"_s}));
    ASSERT_TRUE(waitFor([&] { return run.finished; }));
    EXPECT_TRUE(run.result.succeeded());
    EXPECT_EQ(run.result.lastLine, u"last words"_s);
}
