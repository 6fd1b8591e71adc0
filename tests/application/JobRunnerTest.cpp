// Jobs run with the real archiver and recovery tool on small inputs; stand-in
// scripts only where a real tool cannot fail on demand.
#include "application/JobRunner.h"

#include "common/Log.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobTree.h"
#include "rarpar/TempFolders.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <optional>

#include <cstdlib>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;

namespace {

struct Host : JobHost
{
    bool noUpload_ = false;
    int startTimers = 0;
    bool running = false;
    bool noUpload() const override { return noUpload_; }
    void setJobControls(bool r) override { running = r; }
    void enableStartTimer() override { ++startTimers; }
};

class JobRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        in_ = test::home() + u"/My \"Pics\" $HOME"_s; // reaches the tools as it is
        out_ = test::home() + u"/Out"_s;
        QDir().mkpath(in_ + u"/sub dir"_s);
        test::writeAll(in_ + u"/a file.bin"_s, test::randomData(150000, 1));
        test::writeAll(in_ + u"/sub dir/b $x.bin"_s, test::randomData(100000, 2));
        appSettings().setMaxLines(400); // parts of 51,200 bytes
        QObject::connect(&connectionList(), &QAbstractItemModel::dataChanged, &connectionList(), [this] {
            const QString action = connectionList().row(connectionList().rarParRow()).action;
            if (actions_.isEmpty() || actions_.last() != action)
                actions_ << action;
        });
    }
    void TearDown() override { connectionList().disconnect(); }

    RarParJob job(const QString &split, const QString &redundancy = u"10"_s, bool noArchive = false)
    {
        JobRequest r;
        r.inputs = {in_};
        r.collectionName = u"My Pics"_s;
        r.outputPath = out_;
        r.subject = u"Holiday Pics"_s;
        r.newsgroups = {u"alt.binaries.test"_s};
        r.nzb = true;
        r.nzbName = u"My Pics"_s;
        r.options.archiveName = u"My Pics.rar"_s;
        r.options.splitText = split;
        r.options.calcEfficient = false;
        r.options.redundancy = redundancy;
        r.options.noArchive = noArchive;
        r.options.partSize = appSettings().PartSize;
        EXPECT_EQ(validateJob(r, itemSize(in_)), 0);
        return makeJobs(r, itemSize(in_)).at(0);
    }

    // Runs the first job; stopAt, when given, stops it once the action text starts so.
    JobRunner::Outcome run(std::optional<QString> stopAt = std::nullopt)
    {
        JobRunner runner(host_, jobTree());
        std::optional<JobRunner::Outcome> outcome;
        QObject::connect(&runner, &JobRunner::finished, [&](JobRunner::Outcome o) { outcome = o; });
        if (stopAt) {
            QObject::connect(&connectionList(), &QAbstractItemModel::dataChanged, &runner, [&] {
                if (connectionList().row(connectionList().rarParRow()).action.startsWith(*stopAt))
                    runner.cancel();
            });
        }
        runner.start();
        QDeadlineTimer deadline(60000);
        while (!outcome && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(host_.running);
        return outcome.value_or(JobRunner::Outcome::NothingToDo);
    }

    QStringList tempFiles(const QString &name) const
    {
        return QDir(out_ + u'/' + name).entryList(QDir::Files, QDir::Name);
    }


    QString in_, out_;
    Host host_;
    QStringList actions_;
};

} // namespace

TEST_F(JobRun, RealToolsMakeVolumesAndRecoveryFilesThatAreQueued)
{
    jobTree().addJob(job(u"100000"_s));
    jobTree().addJob(job(u"100000"_s));
    ASSERT_EQ(run(), JobRunner::Outcome::Done);

    const QStringList files = tempFiles(u"Tessaly_Temp0001"_s);
    EXPECT_TRUE(files.contains(u"My Pics.part1.rar"_s));
    EXPECT_TRUE(files.contains(u"My Pics.part3.rar"_s));
    EXPECT_FALSE(files.contains(u"My Pics.part4.rar"_s));
    EXPECT_TRUE(files.contains(u"My Pics.par2"_s));
    EXPECT_TRUE(files.contains(u"My Pics.nzb"_s));
    EXPECT_TRUE(actions_.contains(u"Creating Rar archives... (33%)"_s)) << actions_.join(u" | "_s).toStdString();
    EXPECT_TRUE(actions_.contains(u"Creating Rar archives... (67%)"_s));
    EXPECT_TRUE(actions_.contains(u"Creating Rar archives... (100%)"_s));
    EXPECT_TRUE(actions_.contains(u"Creating Par2 recovery files... (100%)"_s));
    EXPECT_EQ(actions_.last(), u"Idle"_s);
    // Recovery percentages once each, rising.
    int last = -1;
    for (const QString &a : actions_) {
        if (!a.startsWith(u"Creating Par2 recovery files... ("_s))
            continue;
        const int v = a.section(u'(', 1).section(u'%', 0, 0).toInt();
        EXPECT_GT(v, last);
        last = v;
    }

    // Every file queued, numbered, and the NZB as number 0.
    const int n = int(files.size()) - 1;
    ASSERT_EQ(uploadQueue().count(), n + 1);
    EXPECT_EQ(uploadQueue().item(1).subject, u"Holiday Pics - [1/%1] - \"My Pics.par2\" yEnc"_s.arg(n));
    EXPECT_EQ(uploadQueue().item(n + 1).subject, u"Holiday Pics - [0/%1] - \"My Pics.nzb\" yEnc"_s.arg(n));
    EXPECT_EQ(uploadQueue().item(1).newsgroups, u"alt.binaries.test"_s);
    EXPECT_EQ(jobTree().rootCount(), 1);
    EXPECT_EQ(host_.startTimers, 1);
    EXPECT_TRUE(logHas(u"Added %1 files to queue."_s.arg(n + 1)));
    EXPECT_FALSE(test::readAll(jobFilePath()).isEmpty()); // the shorter list is on disk
    JobRunner::removeStaleFolders(jobTree()); // as the next start does: a finished folder stays
    EXPECT_EQ(tempFiles(u"Tessaly_Temp0001"_s), files);

    // The next run takes the next folder; "No Upload" leaves the results there.
    host_.noUpload_ = true;
    ASSERT_EQ(run(), JobRunner::Outcome::Done);
    EXPECT_EQ(tempFiles(u"Tessaly_Temp0002"_s).size(), files.size() - 1); // no NZB written
    EXPECT_EQ(uploadQueue().count(), n + 1);
    EXPECT_FALSE(jobTree().hasJobs());

    EXPECT_EQ(run(), JobRunner::Outcome::NothingToDo);
    EXPECT_TRUE(logHas(u"There are no items to create Rar archives and Par2 recovery files from."_s));
}

TEST_F(JobRun, StopDuringEitherToolRemovesTheFolderAndKeepsTheJob)
{
    test::writeAll(in_ + u"/big.bin"_s, test::randomData(8'000'000, 3));
    jobTree().addJob(job(u"1000000"_s, u"100"_s));
    EXPECT_EQ(run(u"Creating Rar archives... ("_s), JobRunner::Outcome::Stopped);
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
    EXPECT_TRUE(logHas(u"Creating Rar archives aborted by the user"_s));
    EXPECT_EQ(run(u"Creating Par2 recovery files... ("_s), JobRunner::Outcome::Stopped);
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
    EXPECT_TRUE(logHas(u"Creating Par2 recovery files aborted by the user"_s));
    EXPECT_TRUE(jobTree().hasJobs());
    EXPECT_EQ(uploadQueue().count(), 0);
}

TEST_F(JobRun, AFailingToolIsAFailureAndTheJobStays)
{
    // A stand-in for the outside recovery tool that meets a full disk.
    appSettings().Par2Tool = u"outside"_s;
    const QString fake = test::homeFile(u"par2"_s);
    test::writeAll(fake, "#!/bin/sh\necho 'Opening: x'\necho 'Could not write to disk: No space left on device' >&2\nexit 1\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    jobTree().addJob(job(u"100000"_s));
    EXPECT_EQ(run(), JobRunner::Outcome::Failed);
    EXPECT_TRUE(logHas(u"par2 failed with exit status 1: Could not write to disk: No space left on device"_s));
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
    EXPECT_TRUE(jobTree().hasJobs());
    EXPECT_EQ(uploadQueue().count(), 0);
    QFile::remove(fake);

    // A chosen file gone before the job runs: the archiver's failure names it.
    const QString gone = in_ + u"/sub dir/b $x.bin"_s;
    jobTree().resetToPlaceholder();
    RarParJob j = job(u"100000"_s);
    j.rar = j.rar.left(j.rar.indexOf(u"\" \""_s) + 1) + u' ' + quoteFileList({in_ + u"/a file.bin"_s, gone});
    jobTree().addJob(j);
    QFile::remove(gone);
    EXPECT_EQ(run(), JobRunner::Outcome::Failed);
    EXPECT_TRUE(logHas(u"rar could not read "_s + gone + u" (No such file or directory)."_s));
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));

    // A tool that stops writing and does not end is not waited for (no
    // archive first: the real archiver on a busy machine is silent a while too).
    test::writeAll(fake, "#!/bin/sh\necho 'Opening: x'\nexec sleep 60\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    jobTree().resetToPlaceholder();
    jobTree().addJob(job(u"100000"_s, u"10"_s, true));
    const int bound = JobRunner::silenceBound();
    JobRunner::setSilenceBound(3000);
    QDeadlineTimer quick(20000);
    EXPECT_EQ(run(), JobRunner::Outcome::Failed);
    JobRunner::setSilenceBound(bound);
    EXPECT_FALSE(quick.hasExpired());
    EXPECT_TRUE(logHas(u"par2 wrote nothing for 3 seconds and was stopped: Opening: x"_s));
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
    EXPECT_TRUE(jobTree().hasJobs());
}

TEST_F(JobRun, TheSavePathInsideTheInputIsNeverPacked)
{
    // The default save path is the source folder: each run's folder, and the
    // results of the runs before, lie inside the folder being packed.
    const auto names = [](const QString &program, const QStringList &args) {
        QProcess p;
        p.start(program, args);
        p.waitForFinished(20000);
        EXPECT_EQ(p.exitCode(), 0) << program.toStdString();
        QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        out.sort();
        return out;
    };
    const QString folderName = QFileInfo(in_).fileName();
    const QStringList chosen{folderName + u"/a file.bin"_s, folderName + u"/sub dir"_s,
                             folderName + u"/sub dir/b $x.bin"_s};
    out_ = in_;
    host_.noUpload_ = true;
    for (int k = 1; k <= 2; ++k) {
        jobTree().addJob(job(QString()));
        ASSERT_EQ(run(), JobRunner::Outcome::Done);
        QStringList packed = names(u"unrar"_s, {u"lb"_s, in_ + u"/Tessaly_Temp000%1/My Pics.rar"_s.arg(k)});
        packed.removeAll(folderName);
        EXPECT_EQ(packed, chosen) << k;
    }
    EXPECT_TRUE(logHas(u"Left out of the job \"My Pics\": "_s + in_ + u"/Tessaly_Temp0001 holds this program's earlier results."_s));

    // A real ZIP archive, in the same folder.
    RarParJob zip = job(QString());
    zip.rar.replace(u"/My Pics.rar\""_s, u"/My Pics.zip\""_s);
    jobTree().addJob(zip);
    ASSERT_EQ(run(), JobRunner::Outcome::Done);
    const QString archive = in_ + u"/Tessaly_Temp0003/My Pics.zip"_s;
    EXPECT_EQ(test::readAll(archive).left(2), QByteArray("PK"));
    names(u"unzip"_s, {u"-tq"_s, archive});
    EXPECT_EQ(names(u"unzip"_s, {u"-Z1"_s, archive}),
              (QStringList{chosen.at(0), chosen.at(1) + u'/', chosen.at(2)}));
    EXPECT_TRUE(tempFiles(u"Tessaly_Temp0003"_s).contains(u"My Pics.par2"_s));
    EXPECT_FALSE(QFileInfo::exists(in_ + u"/Tessaly_Temp0003/.zip-stage"_s));

    // No archive: recovery files over the files where they are, and those
    // files queued with them.
    host_.noUpload_ = false;
    jobTree().addJob(job(QString(), u"10"_s, true));
    ASSERT_EQ(run(), JobRunner::Outcome::Done);
    const QString par2 = in_ + u"/Tessaly_Temp0004/My Pics.par2"_s;
    QProcess verify;
    verify.start(u"par2"_s, {u"verify"_s, u"-B"_s, in_, par2});
    ASSERT_TRUE(verify.waitForFinished(20000));
    const QByteArray said = verify.readAllStandardOutput();
    EXPECT_EQ(verify.exitCode(), 0) << said.constData();
    EXPECT_TRUE(said.contains("Target: \"sub dir/b $x.bin\" - found.")) << said.constData();
    EXPECT_FALSE(said.contains("Tessaly_Temp"));
    QStringList queued;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        queued << uploadQueue().item(i).path;
    EXPECT_TRUE(queued.contains(in_ + u"/a file.bin"_s)) << queued.join(u'\n').toStdString();
    EXPECT_TRUE(queued.contains(in_ + u"/sub dir/b $x.bin"_s));
    EXPECT_TRUE(queued.contains(par2));
    EXPECT_EQ(queued.filter(u"Tessaly_Temp0001"_s), QStringList());
    EXPECT_EQ(queued.filter(u".tessaly"_s), QStringList());
}

TEST_F(JobRun, OnlyTheChosenFilesArePacked)
{
    // A chosen file whose name is also found in folders below it, and a
    // file named like the folder's placeholder.
    const QString a = test::home() + u"/A"_s;
    QDir().mkpath(a + u"/private/deeper"_s);
    for (const QString &name : {u"/notes.txt"_s, u"/private/notes.txt"_s, u"/private/deeper/notes.txt"_s,
                                u"/<TempFolder>.bin"_s})
        test::writeAll(a + name, "secret " + name.toUtf8());
    RarParJob j = job(u"100000"_s);
    j.rar = GetRarString([] {
        JobOptions o;
        o.savePath = test::home() + u"/Out/"_s;
        o.archiveName = u"My Pics.rar"_s;
        return o;
    }(), quoteFileList({a + u"/notes.txt"_s, a + u"/<TempFolder>.bin"_s}));
    j.rar.replace(u"a -r0 "_s, u"a -r "_s); // as a job kept from an earlier version says it
    jobTree().addJob(j);
    host_.noUpload_ = true;
    ASSERT_EQ(run(), JobRunner::Outcome::Done);
    QProcess list;
    list.start(u"unrar"_s, {u"lb"_s, out_ + u"/Tessaly_Temp0001/My Pics.rar"_s});
    ASSERT_TRUE(list.waitForFinished(10000));
    EXPECT_EQ(QString::fromUtf8(list.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{u"notes.txt"_s, u"<TempFolder>.bin"_s}));

    // A kept job that names a pattern is not run, and stays.
    RarParJob pattern = job(u"100000"_s);
    pattern.rar = u"a -r -ep1 -m0 -- \"%1/Out/<TempFolder>/x.rar\" \"%2/*.bin\""_s.arg(test::home(), a);
    jobTree().addJob(pattern);
    EXPECT_EQ(run(), JobRunner::Outcome::Failed);
    EXPECT_TRUE(logHas(u"the archiver would read * or ? in "_s + a + u"/*.bin as a pattern"_s));
    EXPECT_TRUE(jobTree().hasJobs());
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0002"_s));
}

TEST_F(JobRun, AFullDiskAtTheSavePathFailsTheJobAndKeepsIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system needs root";
    QDir().mkpath(out_);
    const QByteArray mountPoint = QFile::encodeName(out_);
    if (std::system(QByteArray("mount -t tmpfs -o size=20m tmpfs '" + mountPoint + "'").constData()) != 0)
        GTEST_SKIP() << "this machine does not let tests mount a file system";
    test::writeAll(in_ + u"/big.bin"_s, test::randomData(24'000'000, 4));
    jobTree().addJob(job(u"1000000"_s));
    EXPECT_EQ(run(), JobRunner::Outcome::Failed); // the archiver's write error question is not waited on
    EXPECT_TRUE(logHas(u"rar failed with exit status"_s));
    EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
    EXPECT_TRUE(jobTree().hasJobs());
    EXPECT_EQ(uploadQueue().count(), 0);
    EXPECT_EQ(std::system(QByteArray("umount '" + mountPoint + "'").constData()), 0);
}

TEST_F(JobRun, ResultsThatCannotBeRecordedAreNotQueuedAndTheJobStays)
{
    // Either file blocked by a folder in its place: the queue and the job
    // list go back to what they were, on disk and in memory.
    for (const QString &blocked : {queueFilePath(), jobFilePath()}) {
        jobTree().addJob(job(u"100000"_s));
        QDir().mkpath(blocked);
        EXPECT_EQ(run(), JobRunner::Outcome::CannotRecord) << blocked.toStdString();
        EXPECT_TRUE(logHas(u"The results of the Rar & Par job \"My Pics\" cannot be recorded in the program folder (cannot replace "_s
                           + blocked));
        EXPECT_EQ(uploadQueue().count(), 0);
        EXPECT_EQ(jobTree().rootCount(), 1);
        EXPECT_TRUE(jobTree().hasJobs());
        EXPECT_EQ(host_.startTimers, 0);
        EXPECT_FALSE(QFileInfo::exists(out_ + u"/Tessaly_Temp0001"_s));
        EXPECT_FALSE(test::readAll(queueFilePath()).contains("Holiday Pics"));
        QDir(blocked).removeRecursively();
        jobTree().resetToPlaceholder();
    }
}

TEST(JobRunnerFolders, TemporaryNamesAndNumbering)
{
    const QString base = test::home() + u"/base"_s;
    QDir().mkpath(base + u"/Tessaly_Temp0001"_s);
    EXPECT_EQ(JobRunner::freeTempName(base), u"Tessaly_Temp0002"_s);
    for (int i = 2; i <= 9999; ++i)
        QDir().mkdir(base + u"/Tessaly_Temp%1"_s.arg(i, 4, 10, QChar(u'0')));
    EXPECT_TRUE(JobRunner::freeTempName(base).isEmpty());

    // Twelve files are numbered 01..12, the NZB 00.
    const QString folder = test::home() + u"/twelve"_s;
    QDir().mkpath(folder);
    for (int i = 1; i <= 11; ++i)
        test::writeAll(folder + u"/f%1.bin"_s.arg(i, 2, 10, QChar(u'0')), "data");
    test::writeAll(test::homeFile(u"extra.nfo"_s), "info");
    EXPECT_EQ(JobRunner::LoadData(folder, u"S"_s, u"a.b"_s, u"s.nzb"_s, {test::homeFile(u"extra.nfo"_s)}), 13);
    EXPECT_EQ(uploadQueue().item(1).subject, u"S - [01/12] - \"extra.nfo\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(12).subject, u"S - [12/12] - \"f11.bin\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(13).subject, u"S - [00/12] - \"s.nzb\" yEnc"_s);
    EXPECT_EQ(JobRunner::LoadData(test::home() + u"/base/Tessaly_Temp0005"_s, u"S"_s, u"a.b"_s, {}, {}), 0);

    // At the next start only folders marked unfinished, by a process that
    // is gone, are removed: never one by its name alone, never a finished
    // one, never one another run is working in.
    const QString save = test::homeFile(u"save"_s);
    const auto made = [&](int n) -> QString { return save + u"/Tessaly_Temp000%1"_s.arg(n); };
    for (int n = 1; n <= 4; ++n)
        QDir().mkpath(made(n));
    ASSERT_TRUE(markTempFolder(made(1), false)); // this process: not running a job at start
    ASSERT_TRUE(markTempFolder(made(2), true));
    QProcess other;
    other.start(u"sleep"_s, {u"30"_s});
    ASSERT_TRUE(other.waitForStarted());
    test::writeAll(made(4) + u"/.tessaly-rarpar"_s,
                   "Tessaly Poster Rar & Par folder\nstate=running\npid=" + QByteArray::number(other.processId())
                       + "\nprogram=sleep\n");
    RarParJob kept;
    kept.name = u"kept"_s;
    kept.savePath = save + u'/';
    jobTree().addJob(kept);
    JobRunner::removeStaleFolders(jobTree());
    EXPECT_FALSE(QFileInfo::exists(made(1)));
    for (int n = 2; n <= 4; ++n)
        EXPECT_TRUE(QFileInfo::exists(made(n))) << n;
    other.kill();
    other.waitForFinished();
    JobRunner::removeStaleFolders(jobTree());
    EXPECT_FALSE(QFileInfo::exists(made(4)));
    bool said = false;
    for (const LogLine &line : logModel().lines())
        said = said || line.text.contains(u"Tessaly_Temp0001: the Rar & Par run that made it did not finish"_s);
    EXPECT_TRUE(said);
}
