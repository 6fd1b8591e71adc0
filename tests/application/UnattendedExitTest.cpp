// The program itself, run without a display against scripted servers that
// fail in the ways an unattended run meets: every run must end by itself,
// with the status its --help promises. The cases run side by side. (Giving
// up after RetryMinutes, and the back-off on the way, are the headless run's
// and the connection's own tests, on a clock that moves by hand.)
#include "rarpar/JobFile.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobTree.h"
#include "storage/AppSettings.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/FakeDesktop.h"
#include "support/ScriptedNntpServer.h"
#include "support/ProgramRun.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <memory>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

struct Case
{
    QString name;
    int expected = 0;
    QStringList settings; // "Key=value" lines replacing the defaults
    std::function<void(test::ScriptedNntpServer &)> script;
    bool sendTerm = false; // SIGTERM once the first article is in
    bool privateUmask = false; // run under umask 077, with an NZB
    QStringList secretStore;   // with a secret store (the fake's arguments) on a bus of its own
    QStringList extra;         // more arguments, after /P /C
    QByteArray errHas;         // what standard error must say
    bool earlierFailure = false; // Queue.dat holds an item an earlier run failed
    bool serverMissingFirst = false; // the same command line ran before, without a server set
    bool sentListBlocked = false; // the list of sent parts cannot be written (a folder in its place)
    bool userNzb = false; // the folder holds an NZB of the user's, old.nzb
    std::unique_ptr<test::ScriptedNntpServer> server;
    std::unique_ptr<QProcess> process;
    QString home, folder;
    int status = -100;
    QByteArray err;
    bool termSent = false;
};

// The defaults, written by a run whose command line is bad.
QByteArray programDefaults()
{
    return test::firstStartSettings(QStringLiteral(TESSALY_APP_PATH), test::headlessEnvironment(test::homeFile(u"template"_s)));
}

// Running (a killed process whose parent is gone may stay a zombie a while).
bool processAlive(qint64 pid)
{
    const QByteArray stat = test::readAll(u"/proc/%1/stat"_s.arg(pid));
    const qsizetype at = stat.lastIndexOf(')');
    return pid > 0 && at > 0 && stat.mid(at + 2, 1) != "Z";
}

} // namespace

TEST(UnattendedRun, AJobCutShortLeavesNothingBehindAndRunsOnceLater)
{
    QProcessEnvironment env = test::headlessEnvironment();
    const QByteArray defaults = programDefaults();
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    const QString home = test::homeFile(u"jobhome"_s), files = test::homeFile(u"jobfiles"_s);
    QDir().mkpath(home);
    QDir().mkpath(files);
    test::writeAll(files + u"/data.bin"_s, test::randomData(300000, 7));
    test::writeAll(home + u"/Settings.ini"_s,
                   test::withSettings(defaults, {u"Server=127.0.0.1"_s, u"Port="_s + QString::number(server.port()),
                                                 u"Connections=2"_s, u"MaxLines=1000"_s, u"PostCheckDelay=0"_s}));
    // The program folder's archiver comes first: one that hangs while the
    // file "hang" is there, else the real one.
    test::writeAll(home + u"/rar"_s, "#!/bin/sh\necho $$ > \"$TESSALY_HOME/rar.pid\"\n"
                                     "if [ -e \"$TESSALY_HOME/hang\" ]; then echo 'Creating archive x'; exec sleep 60; fi\n"
                                     "exec rar \"$@\"\n");
    QFile::setPermissions(home + u"/rar"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    JobRequest r;
    r.inputs = {files + u"/data.bin"_s};
    r.collectionName = u"Data"_s;
    r.outputPath = files;
    r.subject = u"Data"_s;
    r.newsgroups = {u"alt.test"_s};
    r.options.archiveName = u"Data"_s;
    r.options.partSize = 128000;
    ASSERT_EQ(validateJob(r, 300000), 0);
    jobTree().resetToPlaceholder();
    jobTree().addJob(makeJobs(r, 300000).at(0));
    test::writeAll(home + u"/RarPar.dat"_s, jobDocument(jobTree()));
    env.insert(u"TESSALY_HOME"_s, home);

    const auto hungRun = [&](QProcess &p) {
        test::writeAll(home + u"/hang"_s, "");
        QFile::remove(home + u"/rar.pid"_s);
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.start(QStringLiteral(TESSALY_APP_PATH), {u"/P"_s, u"/C"_s});
        for (QDeadlineTimer d(20000); !QFile::exists(home + u"/rar.pid"_s) && !d.hasExpired();)
            QThread::msleep(20);
        QThread::msleep(200);
        return test::readAll(home + u"/rar.pid"_s).trimmed().toLongLong();
    };
    // Killed outright mid-job: the folder stays behind (and so does the tool).
    QProcess killed;
    const qint64 firstTool = hungRun(killed);
    ASSERT_TRUE(processAlive(firstTool));
    ASSERT_TRUE(QFileInfo::exists(files + u"/Tessaly_Temp0001"_s));
    ::kill(pid_t(killed.processId()), SIGKILL);
    killed.waitForFinished(5000);
    ::kill(-pid_t(firstTool), SIGKILL);

    // Asked twice to stop: the tool goes with it, and nothing claims a save.
    QProcess twice;
    const qint64 secondTool = hungRun(twice);
    ASSERT_TRUE(processAlive(secondTool));
    // The stale folder went at the start: its number is this run's.
    EXPECT_TRUE(test::readAll(files + u"/Tessaly_Temp0001/.tessaly-rarpar"_s)
                    .contains(QByteArray("\npid=" + QByteArray::number(twice.processId()) + '\n')));
    // (Two different signals: a second of the same kind could merge with the
    // first. Both pending at once, the kernel hands over SIGINT first; the
    // status is the one handled second.)
    ::kill(pid_t(twice.processId()), SIGTERM);
    ::kill(pid_t(twice.processId()), SIGINT);
    ASSERT_TRUE(twice.waitForFinished(10000));
    EXPECT_TRUE(twice.exitCode() == 128 + SIGINT || twice.exitCode() == 128 + SIGTERM) << twice.exitCode();
    QThread::msleep(100);
    EXPECT_FALSE(processAlive(secondTool));
    const QByteArray said = twice.readAllStandardError();
    EXPECT_TRUE(said.contains("Ended at once by a second signal: what changed since the queue was last saved is not saved."));
    EXPECT_FALSE(said.contains("is saved")) << said.constData();

    // The next run cleans up, runs the job once and posts its results.
    QFile::remove(home + u"/hang"_s);
    QProcess last;
    last.setProcessEnvironment(env);
    last.setStandardOutputFile(QProcess::nullDevice());
    last.start(QStringLiteral(TESSALY_APP_PATH), {u"/P"_s, u"/C"_s});
    for (QDeadlineTimer d(60000); last.state() != QProcess::NotRunning && !d.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(last.exitCode(), 0) << last.readAllStandardError().constData();
    const QStringList made = QDir(files).entryList({u"Tessaly_Temp*"_s}, QDir::Dirs);
    EXPECT_EQ(made, QStringList{u"Tessaly_Temp0001"_s});
    QByteArrayList names;
    for (const test::ReceivedArticle &a : server.accepted())
        if (const qsizetype at = a.raw.indexOf(" name="); at >= 0)
            names << a.raw.mid(at + 6, a.raw.indexOf('\r', at) - at - 6);
    EXPECT_EQ(names.count("Data.rar"), 3) << names.join(' ').constData(); // 300 KB in 128,000-byte parts, once
    EXPECT_FALSE(test::readAll(home + u"/RarPar.dat"_s).contains("Data.rar"));
}

TEST(UnattendedRun, EveryFailureEndsTheRunWithItsOwnStatus)
{
    QProcessEnvironment env = test::headlessEnvironment();

    const QByteArray defaults = programDefaults();
    ASSERT_FALSE(defaults.isEmpty());

    std::vector<std::unique_ptr<test::FakeDesktop>> stores; // private buses with a secret store, ended with the test
    std::vector<Case> cases;
    const auto add = [&](QString name, int expected, QStringList settings,
                         std::function<void(test::ScriptedNntpServer &)> script = {}) {
        Case c;
        c.name = std::move(name);
        c.expected = expected;
        c.settings = std::move(settings);
        c.script = std::move(script);
        cases.push_back(std::move(c));
    };
    add(u"posts everything"_s, 0, {});
    add(u"posts everything under umask 077"_s, 0, {});
    cases.back().privateUmask = true;
    // The password: moved from Settings.ini to the desktop's secret store, read
    // from it, and a locked store (which would ask the user) is not waited for.
    const QString scrambled = scramblePassword(u"right"_s);
    const auto needsLogin = [](auto &s) { s.user = "someone", s.password = "right"; };
    add(u"password moves to the secret store"_s, 0, {u"Login=1"_s, u"Username=someone"_s, u"Password="_s + scrambled},
        needsLogin);
    cases.back().secretStore = {u"store"_s};
    add(u"password from the secret store"_s, 0, {u"Login=1"_s, u"Username=someone"_s, u"Password="_s}, needsLogin);
    cases.back().secretStore = {u"store"_s, u"--seed"_s, u"news server password=right"_s};
    add(u"locked secret store"_s, 2, {u"Login=1"_s, u"Username=someone"_s, u"Password="_s}, needsLogin);
    cases.back().secretStore = {u"store"_s, u"--locked"_s, u"--seed"_s, u"news server password=right"_s};
    add(u"500 to POST"_s, 2, {}, [](auto &s) { s.postReply = "500 posting is off\r\n"; });
    add(u"480 and no login set"_s, 2, {}, [](auto &s) { s.user = "someone"; });
    add(u"login refused"_s, 2, {u"Login=1"_s, u"Username=someone"_s, u"Password=wrong"_s},
        [](auto &s) { s.user = "someone", s.password = "right"; });
    add(u"441 to every article of one file"_s, 4, {},
        [](auto &s) { s.refuse = [](const test::ReceivedArticle &a) { return a.raw.contains("name=bad.bin"); }; });
    // An unknown switch is not glued into the NZB's name; an NZB that cannot
    // be written fails the run, the files posted.
    add(u"unknown switch after the NZB name"_s, 0, {});
    cases.back().extra = {u"/Z"_s, u"summer"_s, u"/J"_s};
    cases.back().errHas = "Unknown switch ignored (see --help): /J";
    // /O: nothing on the server names the collection, its files or the
    // poster; --private-nzb: the NZB is written beside them, not posted.
    add(u"obfuscated, the NZB kept off the server"_s, 0, {u"Nickname=Exit Poster"_s, u"Email=exit@example.org"_s});
    cases.back().extra = {u"/O"_s, u"/Z"_s, u"secret"_s, u"--private-nzb"_s};
    add(u"run again once the server is set"_s, 0, {}); // posts its collection once
    cases.back().extra = {u"/Z"_s, u"summer"_s};
    cases.back().serverMissingFirst = true;
    add(u"the user's own NZB in the folder"_s, 0, {}); // posted as a file, never written over
    cases.back().userNzb = true;
    cases.back().extra = {u"/Z"_s, u"new"_s};
    add(u"nothing can be recorded"_s, 2, {});
    cases.back().sentListBlocked = true;
    cases.back().errHas = "Posting stopped: what is posted cannot be recorded in the program folder";
    add(u"NZB that cannot be written"_s, 4, {});
    cases.back().extra = {u"/Z"_s, u"no/such/folder/summer"_s};
    cases.back().errHas = "\"summer.nzb\" yEnc: The NZB file could not be written: ";
    // The server, login and password from the command line and the
    // environment, none of them in Settings.ini.
    add(u"server on the command line"_s, 0, {u"Server="_s, u"Port=1"_s}, needsLogin);
    cases.back().extra = {u"--server"_s, u"127.0.0.1:%PORT%"_s, u"--user"_s, u"someone"_s, u"--password-env"_s,
                          u"TESSALY_TEST_PASSWORD"_s};
    add(u"password variable not set"_s, 1, {}, needsLogin);
    cases.back().extra = {u"--user"_s, u"someone"_s, u"--password-env"_s, u"TESSALY_NO_SUCH_VARIABLE"_s};
    cases.back().errHas = "--password-env TESSALY_NO_SUCH_VARIABLE: that environment variable is not set.";
    add(u"an earlier run's failure is not this run's"_s, 0, {});
    cases.back().earlierFailure = true;
    add(u"SIGTERM"_s, 128 + SIGTERM, {u"MaxSpeed=200"_s});
    cases.back().sendTerm = true;
    add(u"slow, started a second time meanwhile"_s, 0, {u"MaxSpeed=100"_s}); // the last case

    for (std::size_t k = 0; k < cases.size(); ++k) {
        Case &c = cases[k];
        c.server = std::make_unique<test::ScriptedNntpServer>();
        ASSERT_TRUE(c.server->start());
        if (c.script)
            c.script(*c.server);
        c.home = test::homeFile(u"home%1"_s.arg(k));
        c.folder = test::homeFile(u"files%1"_s.arg(k));
        QDir().mkpath(c.home);
        QDir().mkpath(c.folder);
        test::writeAll(c.folder + u"/good.bin"_s, test::randomData(300000, 1 + quint32(k)));
        test::writeAll(c.folder + u"/bad.bin"_s, test::randomData(200000, 50 + quint32(k)));
        QStringList lines = {u"Server=127.0.0.1"_s, u"Port="_s + QString::number(c.server->port()),
                             u"Connections=2"_s, u"MaxLines=1000"_s, u"PostCheckDelay=0"_s};
        lines += c.settings;
        test::writeAll(c.home + u"/Settings.ini"_s, test::withSettings(defaults, lines));
        if (c.userNzb)
            test::writeAll(c.folder + u"/old.nzb"_s, "<nzb>the user's own</nzb>\n");
        if (c.sentListBlocked)
            QDir().mkpath(c.home + u"/Queue.dat.sent"_s);
        if (c.earlierFailure) {
            uploadQueue().clear();
            UploadItem old = UploadQueue::newItem(u"old - \"gone.bin\" yEnc"_s, u"alt.test"_s, c.folder + u"/../gone.bin"_s,
                                                  1, u"oldtag"_s, {u"old@x"_s});
            old.state = UploadState::FileError;
            uploadQueue().append(old);
            test::writeAll(c.home + u"/Queue.dat"_s, queueDocument(uploadQueue()));
            uploadQueue().clear();
        }
        c.process = std::make_unique<QProcess>();
        env.insert(u"TESSALY_HOME"_s, c.home);
        QProcessEnvironment caseEnv = env;
        if (!c.secretStore.isEmpty()) {
            QStringList args = c.secretStore;
            args[0] = c.home + u"/secrets.txt"_s;
            stores.push_back(std::make_unique<test::FakeDesktop>());
            ASSERT_TRUE(stores.back()->startService(QStringLiteral(TESSALY_FAKE_SECRETS), args)) << qPrintable(c.name);
            caseEnv.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, stores.back()->address());
        } else {
            caseEnv.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
        }
        caseEnv.insert(u"TESSALY_TEST_PASSWORD"_s, u"right"_s);
        c.process->setProcessEnvironment(caseEnv);
        c.process->setStandardOutputFile(QProcess::nullDevice());
        QStringList arguments{u"/F"_s, c.folder, u"/H"_s, u"exit"_s, u"/N"_s, u"alt.test"_s, u"/P"_s, u"/C"_s};
        if (c.privateUmask) {
            c.process->setChildProcessModifier([] { ::umask(077); });
            arguments << u"/Z"_s << u"exit"_s;
        }
        for (QString extra : c.extra)
            arguments << extra.replace(u"%PORT%"_s, QString::number(c.server->port()));
        if (c.serverMissingFirst) {
            // Ends before posting (nothing to wait for), its collection queued.
            test::writeAll(c.home + u"/Settings.ini"_s, test::withSettings(defaults, lines + QStringList{u"Server="_s}));
            QProcess first;
            first.setProcessEnvironment(caseEnv);
            first.start(QStringLiteral(TESSALY_APP_PATH), arguments);
            ASSERT_TRUE(first.waitForFinished(20000));
            EXPECT_EQ(first.exitCode(), 2);
            EXPECT_TRUE(first.readAllStandardError().contains("No newsserver specified! Set Server= in "))
                << qPrintable(c.name);
            test::writeAll(c.home + u"/Settings.ini"_s, test::withSettings(defaults, lines));
        }
        c.process->start(QStringLiteral(TESSALY_APP_PATH), arguments);
        ASSERT_TRUE(c.process->waitForStarted(10000)) << qPrintable(c.name);
    }

    QProcess second;
    bool secondStarted = false;
    for (QDeadlineTimer deadline(60000); !deadline.hasExpired();) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5); // the programs under test get the processor
        bool running = false;
        for (Case &c : cases) {
            if (c.sendTerm && !c.termSent && !c.server->accepted().isEmpty()) {
                ::kill(pid_t(c.process->processId()), SIGTERM);
                c.termSent = true;
            }
            if (c.status == -100 && c.process->state() == QProcess::NotRunning) {
                c.status = c.process->exitStatus() == QProcess::NormalExit ? c.process->exitCode() : -1;
                c.err = c.process->readAllStandardError();
            }
            running = running || c.status == -100;
        }
        if (!secondStarted && cases.back().server->connections > 0) {
            secondStarted = true;
            // A second start on the same program folder while that run goes on.
            QProcessEnvironment secondEnv = env;
            secondEnv.insert(u"TESSALY_HOME"_s, cases.back().home);
            secondEnv.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
            second.setProcessEnvironment(secondEnv);
            second.setStandardOutputFile(QProcess::nullDevice());
            second.start(QStringLiteral(TESSALY_APP_PATH), {u"/F"_s, cases.front().folder, u"/H"_s, u"second start"_s,
                                                            u"/N"_s, u"alt.test"_s, u"/P"_s, u"/C"_s});
        }
        if (!running)
            break;
    }
    for (Case &c : cases) {
        if (c.process->state() != QProcess::NotRunning) {
            c.process->kill();
            c.process->waitForFinished(5000);
        }
        EXPECT_EQ(c.status, c.expected) << qPrintable(c.name) << ": " << c.err.constData();
        // Whatever went wrong was said on standard error, and the queue was kept.
        if (c.expected != 0 && c.expected != 1) {
            EXPECT_FALSE(c.err.trimmed().isEmpty()) << qPrintable(c.name);
        } else if (c.secretStore.isEmpty() && c.errHas.isEmpty()) {
            // A run that went well says nothing there (no remarks of Qt's either).
            EXPECT_EQ(c.err, QByteArray()) << qPrintable(c.name);
        }
        EXPECT_TRUE(QFile::exists(c.home + u"/Queue.dat"_s)) << qPrintable(c.name);
        EXPECT_TRUE(c.err.contains(c.errHas)) << qPrintable(c.name) << ": " << c.err.constData();
    }
    const auto find = [&](const QString &name) -> Case & {
        for (Case &c : cases)
            if (c.name == name)
                return c;
        return cases.front();
    };
    const auto subjectsOf = [](const Case &c) {
        QByteArrayList subjects;
        for (const test::ReceivedArticle &a : c.server->accepted())
            if (const qsizetype at = a.raw.indexOf("Subject:"); at >= 0)
                subjects << a.raw.mid(at, a.raw.indexOf('\r', at) - at);
        return subjects;
    };
    // Files are made as the user's umask says; Settings.ini (it holds the password) is private always.
    const auto modeOf = [](const QString &path) { return int(QFileInfo(path).permissions() & 0x7077); };
    const mode_t mask = ::umask(022);
    ::umask(mask);
    const int open = int(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        | ((mask & 040) ? 0 : int(QFileDevice::ReadGroup)) | ((mask & 004) ? 0 : int(QFileDevice::ReadOther));
    const int owner = int(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const QString &name : {u"posts everything"_s, u"posts everything under umask 077"_s}) {
        const Case &c = find(name);
        const int expected = c.privateUmask ? owner : open;
        QStringList made{c.home + u"/Queue.dat"_s};
        for (const QString &log : QDir(c.home + u"/Logs"_s).entryList({u"*.rtf"_s}, QDir::Files))
            made << c.home + u"/Logs/"_s + log;
        if (c.privateUmask) {
            const QStringList nzbs = QDir(c.folder).entryList({u"*.nzb"_s}, QDir::Files);
            ASSERT_EQ(nzbs.size(), 1) << qPrintable(c.folder);
            made << c.folder + u'/' + nzbs.first();
        }
        EXPECT_GE(made.size(), 2) << qPrintable(name); // a log file too
        for (const QString &path : made)
            EXPECT_EQ(modeOf(path), expected) << qPrintable(path);
        EXPECT_EQ(modeOf(c.home + u"/Settings.ini"_s), owner);
    }
    {
        const Case &c = find(u"obfuscated, the NZB kept off the server"_s);
        EXPECT_EQ(c.server->accepted().size(), 5); // 3 and 2 parts, no NZB
        for (const test::ReceivedArticle &a : c.server->accepted()) {
            const QByteArray head = a.raw.left(a.raw.indexOf("\r\n=ypart"));
            // (Random texts are lower-case letters and digits: none of these by chance.)
            for (const char *secret : {"exit - [", "Exit", "example.org", "good.bin", "bad.bin", "secret.nzb", "Tessaly"})
                EXPECT_FALSE(head.contains(secret)) << secret << " in\n" << head.constData();
        }
        EXPECT_TRUE(test::readAll(c.folder + u"/secret.nzb"_s).contains("good.bin"));
    }
    for (const QString &name :
         {u"unknown switch after the NZB name"_s, u"run again once the server is set"_s, u"NZB that cannot be written"_s}) {
        const Case &c = find(name);
        const QByteArrayList subjects = subjectsOf(c);
        // The files' parts, posted once, and the NZB after them where it was written.
        EXPECT_EQ(subjects.size(), c.expected == 0 ? 6 : 5) << qPrintable(name) << ": " << subjects.join('\n').constData();
        EXPECT_EQ(subjects.contains("Subject: exit - [0/2] - \"summer.nzb\" yEnc (1/1)"), c.expected == 0);
        EXPECT_EQ(QDir(c.folder).entryList({u"*.nzb"_s}, QDir::Files),
                  c.expected == 0 ? QStringList{u"summer.nzb"_s} : QStringList()) << qPrintable(name);
    }
    {
        const Case &c = find(u"the user's own NZB in the folder"_s);
        EXPECT_EQ(test::readAll(c.folder + u"/old.nzb"_s), QByteArray("<nzb>the user's own</nzb>\n"));
        const QByteArrayList subjects = subjectsOf(c);
        EXPECT_TRUE(subjects.contains("Subject: exit - [3/3] - \"old.nzb\" yEnc (1/1)")) << subjects.join('\n').constData();
        EXPECT_TRUE(subjects.contains("Subject: exit - [0/3] - \"new.nzb\" yEnc (1/1)")) << subjects.join('\n').constData();
        EXPECT_EQ(subjects.size(), 3 + 2 + 1 + 1);
    }
    // A run that cannot write down what it posts posts nothing (a later run would post it again).
    EXPECT_TRUE(find(u"nothing can be recorded"_s).server->accepted().isEmpty());
    // Said once in the log (its red lines go to standard error) and once as the run's end, not at every save.
    EXPECT_EQ(find(u"nothing can be recorded"_s).err.count("cannot be recorded"), 2);
    const Case &moved = find(u"password moves to the secret store"_s);
    EXPECT_EQ(test::readAll(moved.home + u"/secrets.txt"_s), QByteArray("news server password=right\n"));
    EXPECT_TRUE(test::readAll(moved.home + u"/Settings.ini"_s).contains("\nPassword=\n"));
    EXPECT_TRUE(find(u"locked secret store"_s).err.contains("login")) << find(u"locked secret store"_s).err.constData();
    EXPECT_TRUE(find(u"441 to every article of one file"_s).err.contains("bad.bin"));
    EXPECT_FALSE(find(u"441 to every article of one file"_s).err.contains("good.bin"));
    EXPECT_TRUE(find(u"500 to POST"_s).err.contains("does not take articles"));
    EXPECT_TRUE(find(u"480 and no login set"_s).err.contains("wants a login"));
    EXPECT_TRUE(find(u"login refused"_s).err.contains("refused the login"));
    // The second start did nothing and said why; the first one's queue is its own.
    ASSERT_TRUE(second.state() == QProcess::NotRunning || second.waitForFinished(20000))
        << int(second.state()) << second.readAllStandardError().constData();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 2);
    EXPECT_TRUE(second.readAllStandardError().contains("is already running with the program folder"));
    EXPECT_FALSE(test::readAll(cases.back().home + u"/Queue.dat"_s).contains("second start"));
}
