#include "application/JobRunner.h"

#include "application/Collection.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "rarpar/FileLists.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "storage/ConnectionList.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <cmath>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

ConnectionList &rows()
{
    return connectionList();
}

void setRowIdle()
{
    ConnectionList &list = rows();
    const int row = list.rarParRow();
    list.setAction(row, msg(110));
    list.setDescription(row, QString());
    list.setIcon(row, StatusIcon::RarParIdle);
    list.setProgress(row, 0);
}

} // namespace

JobRunner::JobRunner(JobHost &host, JobTree &tree, QObject *parent)
    : QObject(parent)
    , host_(host)
    , tree_(tree)
{
    connect(&runner_, &ConsoleRunner::output, this, &JobRunner::received);
    connect(&runner_, &ConsoleRunner::finished, this, &JobRunner::toolEnded);
}

JobRunner::~JobRunner()
{
    if (runner_.isRunning()) {
        runner_.disconnect(this);
        runner_.stop();
        QDir(tempPath_).removeRecursively();
    }
}

QString JobRunner::freeTempName(const QString &base)
{
    const QDir dir(base);
    for (int i = 1; i <= 9999; ++i) {
        const QString name = u"Tessaly_Temp%1"_s.arg(i, 4, 10, QChar(u'0'));
        if (!QFileInfo::exists(dir.filePath(name)))
            return name;
    }
    return {};
}

void JobRunner::setAction(const QString &text)
{
    rows().setAction(rows().rarParRow(), text);
    emit progressed(text);
}

void JobRunner::start()
{
    if (running_)
        return;
    running_ = true;
    started_ = false;
    cancelRequested_ = false;
    host_.setJobControls(true);
    // On the next turn, so the window has drawn its new state first.
    QTimer::singleShot(100, this, [this] {
        if (!tree_.hasJobs()) {
            AddLog(0, u"There are no items to create Rar archives and Par2 recovery files from."_s, LogColour::Red);
            end(Outcome::NothingToDo);
            return;
        }
        jobName_ = tree_.rootAt(0)->caption;
        jobKey_ = tree_.rootAt(0)->key;
        const QStringList leaves = tree_.leafCaptions(0);
        if (leaves.size() < 8) {
            AddLog(0, u"The Rar & Par job \"%1\" is incomplete and cannot be run."_s.arg(jobName_), LogColour::Red);
            end(Outcome::Failed);
            return;
        }
        // A job kept from an earlier version may name files with * or ?:
        // the archiver would pack whatever matches them.
        const QStringList rarWords = splitArguments(leaves.at(0));
        const qsizetype firstInput = rarWords.indexOf(u"--"_s) + 2;
        if (const QStringList patterns = patternNames(firstInput >= 2 ? rarWords.mid(firstInput) : QStringList());
            !patterns.isEmpty()) {
            AddLog(0,
                   u"The Rar & Par job \"%1\" is not run: the archiver would read * or ? in %2 as a pattern and pack "
                   u"other files that match it. It stays in the list; rename the files and add them as a new job."_s
                       .arg(jobName_, patterns.join(u", "_s)),
                   LogColour::Red);
            end(Outcome::Failed);
            return;
        }
        rarProgram_ = findTool(u"rar"_s);
        par2Program_ = findTool(u"par2"_s);
        if (rarProgram_.isEmpty() || par2Program_.isEmpty()) {
            AddLog(0, rarProgram_.isEmpty() ? u"The archiver (rar) was not found."_s
                                            : u"The recovery tool (par2) was not found."_s,
                   LogColour::Red);
            end(Outcome::Failed);
            return;
        }
        QString base = leaves.at(2);
        if (!base.endsWith(u'/'))
            base += u'/';
        tempName_ = freeTempName(base);
        if (tempName_.isEmpty()) {
            AddLog(0, u"No free temporary folder below %1: Tessaly_Temp0001 to Tessaly_Temp9999 all exist."_s.arg(base),
                   LogColour::Red);
            end(Outcome::Failed);
            return;
        }
        tempPath_ = base + tempName_;
        if (!QDir().mkpath(tempPath_)) {
            AddLog(0, u"The folder %1 could not be created."_s.arg(tempPath_), LogColour::Red);
            tempPath_.clear();
            end(Outcome::Failed);
            return;
        }
        started_ = true;
        // The placeholder only where it stands for the folder (after the
        // save path, as quoted there): a file may be named "<TempFolder>" too.
        QString rar = leaves.at(0), par2 = leaves.at(1);
        const QString folderAt = QString(base).replace(u'"', u"\"\""_s) + u"<TempFolder>/"_s;
        const QString folder = QString(base).replace(u'"', u"\"\""_s) + tempName_ + u'/';
        rar.replace(folderAt, folder);
        par2.replace(folderAt, folder);
        rarArgs_ = splitArguments(rar);
        // Recursing only into folders: with -r the archiver also looks for a
        // chosen file's name in every folder below it (jobs kept from
        // earlier versions say -r).
        for (QString &word : rarArgs_) {
            if (word == u"--"_s)
                break;
            if (word == u"-r"_s)
                word = u"-r0"_s;
        }
        par2Args_ = splitArguments(par2);
        jobSubject_ = leaves.at(3);
        jobGroups_ = leaves.at(4);
        jobNzb_ = leaves.at(5);
        archiveCount_ = qMax(1, leaves.at(7).trimmed().toInt());
        extraFiles_.clear();
        for (qsizetype i = 8; i < leaves.size(); ++i)
            if (leaves.at(i) != u"Extra Files"_s)
                extraFiles_ << leaves.at(i);

        rarPhase_ = true;
        rarProgress_ = RarProgress();
        par2Progress_ = Par2Progress();
        AddLog(0, u"Creating Rar archives"_s, LogColour::Blue);
        ConnectionList &list = rows();
        const int row = list.rarParRow();
        setAction(msg(144));
        list.setDescription(row, jobName_);
        list.setIcon(row, StatusIcon::RarParBusy);
        list.setProgress(row, 0);
        if (!runner_.start(rarProgram_, rarArgs_, tempPath_)) {
            AddLog(0, u"The archiver could not be started (%1): File or command not found"_s.arg(rarProgram_),
                   LogColour::Red);
            abort(Outcome::Failed);
        } else if (cancelRequested_) {
            runner_.stop();
        }
    });
}

void JobRunner::cancel()
{
    // Between the two tools the next one is stopped as soon as it starts.
    cancelRequested_ = running_;
    if (runner_.isRunning())
        runner_.stop();
}

void JobRunner::received(const QString &chunk)
{
    if (rarPhase_) {
        if (rarProgress_.feed(chunk)) {
            const int done = rarProgress_.volumesDone();
            // The volume count is an estimate: the archiver may make one more.
            const int percent = qMin(int(std::nearbyint(100.0 / archiveCount_ * done)), 100);
            rows().setProgress(rows().rarParRow(), percent);
            setAction(msg(146) + u" ("_s + QString::number(percent) + u"%)"_s);
        }
    } else if (par2Progress_.feed(chunk)) {
        const int percent = par2Progress_.percent();
        rows().setProgress(rows().rarParRow(), qMin(percent, 100));
        setAction(msg(147) + u" ("_s + QString::number(percent) + u"%)"_s);
    }
}

void JobRunner::toolEnded(const ConsoleResult &result)
{
    const QString tool = rarPhase_ ? u"rar"_s : u"par2"_s;
    if (result.stopped) {
        AddLog(0,
               rarPhase_ ? u"Creating Rar archives aborted by the user"_s
                         : u"Creating Par2 recovery files aborted by the user"_s,
               LogColour::Orange);
        abort(Outcome::Stopped);
        return;
    }
    if (!result.succeeded()) {
        const QString how = result.crashed ? u"was killed"_s : u"failed with exit status %1"_s.arg(result.exitCode);
        AddLog(0, u"%1 %2: %3"_s.arg(tool, how, result.lastLine.isEmpty() ? u"(no output)"_s : result.lastLine),
               LogColour::Red);
        AddLog(0, u"The Rar & Par job \"%1\" stays in the list."_s.arg(jobName_), LogColour::Red);
        abort(Outcome::Failed);
        return;
    }
    if (rarPhase_) {
        startPar2();
        return;
    }
    AddLog(0, u"Finished creating Par2 recovery files"_s, LogColour::Blue);
    setRowIdle();
    const int queuedBefore = uploadQueue().count();
    const QByteArray jobsBefore = jobDocument(tree_);
    if (!host_.noUpload())
        LoadData(tempPath_, jobSubject_, jobGroups_, jobNzb_, extraFiles_);
    for (int row = 0; row < tree_.rootCount(); ++row) {
        if (tree_.rootAt(row)->key == jobKey_) {
            tree_.removeRoot(row);
            break;
        }
    }
    // What was queued and what is left to do agree on disk at once. Where
    // either cannot be written, both go back to what they were (the job is
    // run again later) and nothing is posted: a queue that holds the results
    // beside a job that is still to be run would post them twice.
    QString why;
    const bool queueSaved = SaveQueue(&why);
    if (!queueSaved || !SaveRarPar(tree_, &why)) {
        while (uploadQueue().count() > queuedBefore)
            uploadQueue().RemoveArrayItem(uploadQueue().count());
        loadJobDocument(tree_, jobsBefore, nullptr);
        if (queueSaved)
            SaveQueue();
        AddLog(0,
               u"The results of the Rar & Par job \"%1\" cannot be recorded in the program folder (%2). Make room "
               u"there (or make it writable) and run the job again; nothing of it is posted."_s.arg(jobName_, why),
               LogColour::Red);
        abort(Outcome::CannotRecord);
        return;
    }
    host_.enableStartTimer();
    end(Outcome::Done);
}

void JobRunner::startPar2()
{
    rarPhase_ = false;
    AddLog(0, u"Finished creating Rar archives"_s, LogColour::Blue);
    AddLog(0, u"Creating Par2 recovery files"_s, LogColour::Blue);
    setAction(msg(145));
    rows().setProgress(rows().rarParRow(), 0);
    if (!runner_.start(par2Program_, expandWildcards(par2Args_), tempPath_)) {
        AddLog(0, u"The recovery tool could not be started (%1): File or command not found"_s.arg(par2Program_),
               LogColour::Red);
        abort(Outcome::Failed);
    } else if (cancelRequested_) {
        runner_.stop();
    }
}

void JobRunner::abort(Outcome outcome)
{
    if (!tempPath_.isEmpty() && QFileInfo::exists(tempPath_) && !QDir(tempPath_).removeRecursively())
        AddLog(0, u"Folder could not be deleted. Took more than 3 seconds to become available."_s, LogColour::Red);
    end(outcome);
}

void JobRunner::end(Outcome outcome)
{
    setRowIdle();
    running_ = false;
    host_.setJobControls(false);
    emit finished(outcome);
}

int JobRunner::LoadData(const QString &folder, const QString &subject, const QString &newsgroups,
                        const QString &nzbName, const QStringList &extraFiles)
{
    QString dir = folder;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    QStringList files;
    files << QString();
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
        files << dir + entry.fileName();
    files << extraFiles;
    if (files.size() == 1) {
        AddLog(0, u"No files found in this folder."_s, LogColour::Red);
        return 0;
    }
    GnomeSort(files);
    files.removeFirst();
    CollectionRequest request;
    request.files = files;
    request.subject = subject;
    request.newsgroups = newsgroups;
    if (!nzbName.isEmpty())
        request.nzbPath = dir + nzbName;
    const int added = queueCollection(request);
    if (added > 0)
        AddLog(0, u"Added %1 files to queue."_s.arg(added));
    return added;
}

} // namespace tessaly
