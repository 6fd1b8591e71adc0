#include "application/JobRunner.h"

#include "application/Collection.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "par2/CreateCommand.h"
#include "rarpar/FileLists.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "rarpar/TempFolders.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QDir>
#include <QDirIterator>
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
    silence_.setSingleShot(true);
    connect(&silence_, &QTimer::timeout, this, [this] {
        silent_ = true;
        runner_.stop();
    });
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

namespace {

int g_silenceBound = 10 * 60 * 1000;

// The folder the recovery files name the files from: one folder alone is
// its own base (its files at the top, as a download puts them); else the
// folder every input lies in (a folder input's parent, so that its own
// name is kept).
QString commonBase(const QStringList &inputs)
{
    if (inputs.size() == 1 && QFileInfo(inputs.first()).isDir())
        return QFileInfo(inputs.first()).absoluteFilePath();
    QStringList common;
    bool first = true;
    for (const QString &input : inputs) {
        QString parent = QFileInfo(input).absolutePath();
        const QStringList parts = parent.split(u'/');
        if (first) {
            common = parts;
            first = false;
            continue;
        }
        qsizetype n = 0;
        while (n < common.size() && n < parts.size() && common.at(n) == parts.at(n))
            ++n;
        common = common.mid(0, n);
    }
    const QString base = common.join(u'/');
    return base.isEmpty() ? u"/"_s : base;
}

// The files (and, with dirs, the folders) of the inputs, a folder's at any
// depth, leaving out the folders in skipped; symbolic links to folders are
// not followed (they could lead in circles).
QStringList filesOf(const QStringList &inputs, const QStringList &skipped, QStringList *dirs = nullptr)
{
    QStringList out;
    const auto isSkipped = [&skipped](const QString &path) {
        for (const QString &s : skipped)
            if (path == s || path.startsWith(s + u'/'))
                return true;
        return false;
    };
    for (const QString &input : inputs) {
        const QFileInfo info(input);
        if (!info.isDir()) {
            out << input;
            continue;
        }
        QDirIterator it(input, QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (isSkipped(path))
                continue;
            if (it.fileInfo().isDir() && !it.fileInfo().isSymLink()) {
                if (dirs)
                    *dirs << path;
            } else {
                out << path;
            }
        }
    }
    return out;
}

} // namespace

int JobRunner::silenceBound()
{
    return g_silenceBound;
}

void JobRunner::setSilenceBound(int milliseconds)
{
    g_silenceBound = milliseconds;
}

void JobRunner::removeStaleFolders(const JobTree &tree)
{
    QStringList bases;
    for (int row = 0; row < tree.rootCount(); ++row) {
        const QStringList leaves = tree.leafCaptions(row);
        if (leaves.size() > 2 && QDir::isAbsolutePath(leaves.at(2)) && !bases.contains(leaves.at(2)))
            bases << leaves.at(2);
    }
    for (const QString &base : bases)
        for (const QString &folder : removeStaleTempFolders(base))
            AddLog(0, u"Removed %1: the Rar & Par run that made it did not finish (the program was ended during it)."_s
                          .arg(folder),
                   LogColour::Orange);
}

bool JobRunner::startTool(const QString &program, const QStringList &arguments, const QString &input)
{
    silent_ = false;
    // zip reads the names it is given from its own folder of links.
    if (!runner_.start(program, arguments, input.isEmpty() ? tempPath_ : stagePath_, input))
        return false;
    silence_.start(g_silenceBound);
    if (cancelRequested_)
        runner_.stop();
    return true;
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
        const qsizetype dash = rarWords.indexOf(u"--"_s);
        // "none -- files" has no archive name before the files.
        const bool noArchive = rarWords.value(0) == u"none"_s;
        const QStringList inputs = dash >= 0 ? rarWords.mid(dash + (noArchive ? 1 : 2)) : QStringList();
        if (const QStringList patterns = patternNames(inputs); !patterns.isEmpty()) {
            AddLog(0,
                   u"The Rar & Par job \"%1\" is not run: the archiver would read * or ? in %2 as a pattern and pack "
                   u"other files that match it. It stays in the list; rename the files and add them as a new job."_s
                       .arg(jobName_, patterns.join(u", "_s)),
                   LogColour::Red);
            end(Outcome::Failed);
            return;
        }
        packer_ = noArchive ? Packer::None
            : rarWords.value(dash + 1).endsWith(u".zip"_s, Qt::CaseInsensitive) ? Packer::Zip
                                                                              : Packer::Rar;
        rarProgram_ = packer_ == Packer::None ? QString() : findTool(packer_ == Packer::Zip ? u"zip"_s : u"rar"_s);
        par2Program_ = par2ProgramFor(leaves.at(1));
        if ((packer_ != Packer::None && rarProgram_.isEmpty()) || par2Program_.isEmpty()) {
            AddLog(0, par2Program_.isEmpty() ? u"The recovery tool (par2) was not found."_s
                      : packer_ == Packer::Zip ? u"The ZIP archiver (zip) was not found."_s
                                               : u"The archiver (rar) was not found."_s,
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
        // The marker says the folder is ours and unfinished: a run ended
        // on the way leaves it to be removed at the next start.
        if (!QDir().mkpath(tempPath_) || !markTempFolder(tempPath_, false)) {
            AddLog(0, u"The folder %1 could not be created."_s.arg(tempPath_), LogColour::Red);
            QDir(tempPath_).removeRecursively();
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
        par2Args_ = splitArguments(par2);
        jobSubject_ = leaves.at(3);
        jobGroups_ = leaves.at(4);
        jobNzb_ = leaves.at(5);
        archiveCount_ = qMax(1, leaves.at(7).trimmed().toInt());
        extraFiles_ = tree_.valuesUnder(0, u"Extra Files"_s);
        chosenFiles_.clear();
        obfuscate_ = tree_.valuesUnder(0, QString::fromUtf16(kObfuscateHeader)).value(0) == u"1"_s;
        postNzb_ = tree_.valuesUnder(0, QString::fromUtf16(kPostNzbHeader)).value(0) != u"0"_s;

        // This run's folder and the results of earlier ones may lie inside a
        // folder input (the save path is the source folder by default):
        // they are never packed.
        QStringList skipped;
        for (const QString &input : inputs) {
            for (const QString &found : resultFoldersInside(input)) {
                if (skipped.contains(found))
                    continue;
                skipped << found;
                if (found != tempPath_)
                    AddLog(0, u"Left out of the job \"%1\": %2 holds this program's earlier results."_s.arg(jobName_, found));
            }
        }

        rarPhase_ = true;
        rarProgress_ = RarProgress();
        par2Progress_ = Par2Progress();
        ConnectionList &list = rows();
        const int row = list.rarParRow();
        list.setDescription(row, jobName_);
        list.setIcon(row, StatusIcon::RarParBusy);
        list.setProgress(row, 0);
        if (packer_ == Packer::None) {
            // No archive: the recovery files cover the chosen files where
            // they are, named relative to the folder they all lie in.
            chosenFiles_ = filesOf(inputs, skipped);
            if (par2Args_.size() >= 2)
                par2Args_.removeLast(); // the folder's files: there are none yet
            par2Args_.insert(qMax<qsizetype>(par2Args_.size() - 1, 0), commonBase(inputs));
            par2Args_.insert(qMax<qsizetype>(par2Args_.size() - 2, 0), u"-B"_s);
            par2Args_ << chosenFiles_;
            rarPhase_ = false;
            startPar2();
            return;
        }
        if (packer_ == Packer::Zip) {
            AddLog(0, u"Creating ZIP archive"_s, LogColour::Blue);
            setAction(msg(288));
            if (!prepareZip(rarArgs_.value(dash + 1), inputs, skipped)) {
                abort(Outcome::Failed);
                return;
            }
            const QString names = stagePath_ + u".list"_s;
            if (!startTool(rarProgram_, rarArgs_, names)) {
                AddLog(0, u"The ZIP archiver could not be started (%1): File or command not found"_s.arg(rarProgram_),
                       LogColour::Red);
                abort(Outcome::Failed);
            }
            return;
        }
        // Recursing only into folders: with -r the archiver also looks for a
        // chosen file's name in every folder below it (jobs kept from
        // earlier versions say -r).
        for (QString &word : rarArgs_) {
            if (word == u"--"_s)
                break;
            if (word == u"-r"_s)
                word = u"-r0"_s;
        }
        const qsizetype at = rarArgs_.indexOf(u"--"_s);
        for (const QString &path : skipped)
            rarArgs_.insert(at < 0 ? rarArgs_.size() : at, u"-x"_s + path);
        AddLog(0, u"Creating Rar archives"_s, LogColour::Blue);
        setAction(msg(144));
        if (!startTool(rarProgram_, rarArgs_)) {
            AddLog(0, u"The archiver could not be started (%1): File or command not found"_s.arg(rarProgram_),
                   LogColour::Red);
            abort(Outcome::Failed);
        }
    });
}

bool JobRunner::prepareZip(const QString &archive, const QStringList &inputs, const QStringList &skipped)
{
    // zip keeps the names it is given: each chosen item is linked by its
    // own name from a folder of our own, and the names below it are listed
    // from there (so a folder is packed as itself, like the archiver does,
    // without our results in it).
    stagePath_ = tempPath_ + u"/.zip-stage"_s;
    zipEntries_ = 0;
    QStringList names;
    QByteArray list;
    bool fine = QDir().mkpath(stagePath_);
    for (const QString &input : inputs) {
        const QFileInfo info(input);
        const QString name = info.fileName();
        if (!info.exists()) {
            AddLog(0, u"zip could not read %1 (No such file or directory)."_s.arg(input), LogColour::Red);
            return false;
        }
        if (names.contains(name)) {
            AddLog(0, u"Two chosen items are named \"%1\": a ZIP archive cannot hold both at its top. The job stays "
                      u"in the list."_s.arg(name),
                   LogColour::Red);
            return false;
        }
        names << name;
        fine = fine && QFile::link(info.absoluteFilePath(), stagePath_ + u'/' + name);
        QStringList dirs;
        const QStringList files = filesOf({info.absoluteFilePath()}, skipped, &dirs);
        QStringList entries = dirs + files;
        for (QString entry : entries) {
            entry = name + entry.mid(info.absoluteFilePath().size());
            if (entry.contains(u'\n')) {
                AddLog(0, u"A ZIP archive cannot be made of a name with a line break in it: %1"_s.arg(entry),
                       LogColour::Red);
                return false;
            }
            list += QFile::encodeName(entry) + '\n';
            ++zipEntries_;
        }
    }
    QFile file(stagePath_ + u".list"_s);
    fine = fine && file.open(QIODevice::WriteOnly) && file.write(list) == list.size();
    file.close();
    if (!fine) {
        AddLog(0, u"The folder %1 could not be written to."_s.arg(tempPath_), LogColour::Red);
        return false;
    }
    // The stored words say what to make; zip is told it its own way.
    static const char *const levels[] = {"-0", "-6", "-9"};
    int level = 1;
    qint64 split = 0;
    for (const QString &word : rarArgs_) {
        if (word == u"--"_s)
            break;
        if (word == u"-m0"_s)
            level = 0;
        else if (word == u"-m5"_s)
            level = 2;
        else if (word.startsWith(u"-v"_s) && word.endsWith(u'b'))
            split = word.mid(2, word.size() - 3).toLongLong();
    }
    QStringList args{QString::fromLatin1(levels[level])};
    if (split > 0)
        args << u"-s"_s << QString::number(qMax<qint64>(split / 1024, 64)) + u'k';
    args << u"-nw"_s << u"-@"_s << archive;
    rarArgs_ = args;
    zipAdded_ = 0;
    zipPartial_.clear();
    return true;
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
    if (runner_.isRunning())
        silence_.start(g_silenceBound);
    if (rarPhase_ && packer_ == Packer::Zip) {
        // One "adding: name" line for each entry.
        zipPartial_ += chunk;
        const qsizetype cut = zipPartial_.lastIndexOf(u'\n');
        if (cut < 0)
            return;
        const int before = zipAdded_;
        zipAdded_ += int(zipPartial_.left(cut).count(u"adding: "_s));
        zipPartial_.remove(0, cut + 1);
        if (zipAdded_ != before && zipEntries_ > 0) {
            const int percent = qMin(int(std::nearbyint(100.0 * zipAdded_ / zipEntries_)), 100);
            rows().setProgress(rows().rarParRow(), percent);
            setAction(msg(288) + u" ("_s + QString::number(percent) + u"%)"_s);
        }
    } else if (rarPhase_) {
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
    silence_.stop();
    const QString tool = !rarPhase_ ? QFileInfo(par2Program_).fileName() : packer_ == Packer::Zip ? u"zip"_s : u"rar"_s;
    if (result.stopped && silent_) {
        AddLog(0, u"%1 wrote nothing for %2 seconds and was stopped: %3"_s.arg(tool).arg(g_silenceBound / 1000).arg(
                      result.lastLine.isEmpty() ? u"(no output)"_s : result.lastLine),
               LogColour::Red);
        AddLog(0, u"The Rar & Par job \"%1\" stays in the list."_s.arg(jobName_), LogColour::Red);
        abort(Outcome::Failed);
        return;
    }
    if (result.stopped) {
        AddLog(0,
               rarPhase_ ? (packer_ == Packer::Zip ? u"Creating ZIP archive aborted by the user"_s
                                                   : u"Creating Rar archives aborted by the user"_s)
                         : u"Creating Par2 recovery files aborted by the user"_s,
               LogColour::Orange);
        abort(Outcome::Stopped);
        return;
    }
    if (!result.succeeded()) {
        const QString how = result.crashed ? u"was killed"_s : u"failed with exit status %1"_s.arg(result.exitCode);
        AddLog(0, u"%1 %2: %3"_s.arg(tool, how, result.lastLine.isEmpty() ? u"(no output)"_s : result.lastLine),
               LogColour::Red);
        if (rarPhase_ && !rarProgress_.unreadable().isEmpty())
            AddLog(0, u"rar could not read %1."_s.arg(rarProgress_.unreadable().join(u", "_s)), LogColour::Red);
        AddLog(0, u"The Rar & Par job \"%1\" stays in the list."_s.arg(jobName_), LogColour::Red);
        abort(Outcome::Failed);
        return;
    }
    if (rarPhase_) {
        if (!stagePath_.isEmpty()) {
            QDir(stagePath_).removeRecursively();
            QFile::remove(stagePath_ + u".list"_s);
            stagePath_.clear();
        }
        startPar2();
        return;
    }
    AddLog(0, u"Finished creating Par2 recovery files"_s, LogColour::Blue);
    setRowIdle();
    const int queuedBefore = uploadQueue().count();
    const QByteArray jobsBefore = jobDocument(tree_);
    // Finished before anything is recorded: a folder whose results are
    // queued is never taken for an unfinished one.
    markTempFolder(tempPath_, true);
    if (!host_.noUpload())
        LoadData(tempPath_, jobSubject_, jobGroups_, jobNzb_, chosenFiles_ + extraFiles_, obfuscate_, postNzb_);
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

QString JobRunner::par2ProgramFor(const QString &arguments)
{
    // The program's own creator makes every set it understands (all that
    // the job dialog writes); anything else, or the user's choice, goes to
    // the outside tool.
    if (appSettings().Par2Tool != u"outside"_s && par2::parseCreate(splitArguments(arguments))) {
        const QString builtin = findBuiltinPar2();
        if (!builtin.isEmpty())
            return builtin;
        AddLog(0, u"The program's own PAR2 creator (tessaly-par2) was not found; the outside par2 is used."_s,
               LogColour::Orange);
    }
    return findTool(u"par2"_s);
}

void JobRunner::startPar2()
{
    if (packer_ != Packer::None)
        AddLog(0, packer_ == Packer::Zip ? u"Finished creating ZIP archive"_s : u"Finished creating Rar archives"_s,
               LogColour::Blue);
    rarPhase_ = false;
    AddLog(0, u"Creating Par2 recovery files"_s, LogColour::Blue);
    setAction(msg(145));
    rows().setProgress(rows().rarParRow(), 0);
    if (!startTool(par2Program_, packer_ == Packer::None ? par2Args_ : expandWildcards(par2Args_))) {
        AddLog(0, u"The recovery tool could not be started (%1): File or command not found"_s.arg(par2Program_),
               LogColour::Red);
        abort(Outcome::Failed);
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
                        const QString &nzbName, const QStringList &extraFiles, bool obfuscate, bool postNzb)
{
    QString dir = folder;
    if (!dir.endsWith(u'/'))
        dir += u'/';
    QStringList files;
    files << QString();
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries)
        if (entry.fileName() != QLatin1StringView(TempMarkerName))
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
    request.obfuscate = obfuscate;
    request.postNzb = postNzb;
    const int added = queueCollection(request);
    if (added > 0)
        AddLog(0, added == 1 ? u"Added 1 file to queue."_s : u"Added %1 files to queue."_s.arg(added));
    return added;
}

} // namespace tessaly
