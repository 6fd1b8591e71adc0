#include "application/HeadlessRun.h"

#include "application/Lifecycle.h"
#include "common/AppState.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "application/CommandLine.h"
#include "engine/Verifier.h"
#include "platform/SystemActions.h"
#include "rarpar/JobTree.h"
#include "rarpar/Tools.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/NzbFile.h"
#include "storage/ProfileFile.h"
#include "storage/UploadQueue.h"

#include <QDir>
#include <QTime>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

HeadlessRun::HeadlessRun(const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , arguments_(arguments)
    , runs_(*this)
{
    // The window waits a moment so that it is drawn before posting starts;
    // without one there is nothing to wait for.
    startTimer_.setSingleShot(true);
    startTimer_.setInterval(0);
    connect(&startTimer_, &QTimer::timeout, this, &HeadlessRun::startPosting);
}

HeadlessRun::~HeadlessRun() = default;

void HeadlessRun::start()
{
    startUp();
    runs_.setSpeedLimit(appSettings().MaxSpeed);
    connectionList().rebuild(std::min(appSettings().Connections, int(ConnectionList::MaxConnections)));

    if (const CommandLine line = parseCommandLine(arguments_); line.verify) {
        verifyNzb(line.verifyPath);
        return;
    }
    const CommandLineStart begun = beginCommandLine(arguments_);
    if (!begun.problem.isEmpty())
        sayOnStandardError(begun.problem);
    if (!begun.queued || !begun.post) {
        // Nothing to post: the run is over (what was queued is saved).
        const int status = begun.exitStatus >= 0 ? begun.exitStatus : (begun.queued ? ExitAllPosted : ExitBadCommandLine);
        QTimer::singleShot(0, this, [this, status] { finish(status); });
        return;
    }
    // Nobody is there to close the program: it closes when posting ends,
    // after the power action when one was asked for.
    action_ = begun.action;
    startTimer_.start();
}

void HeadlessRun::stopBySignal(int signalNumber)
{
    if (finished_)
        return;
    abort(128 + signalNumber);
    // Said once it is so: a second signal may end the program before.
    sayOnStandardError(saved_ ? u"Stopped by signal %1; the queue is saved."_s.arg(signalNumber)
                              : u"Stopped by signal %1; the queue could not be saved (see the log)."_s.arg(signalNumber));
}

void HeadlessRun::runGaveUp(int exitStatus, const QString &why)
{
    QTimer::singleShot(0, this, [this, exitStatus, why] {
        abort(exitStatus);
        sayOnStandardError(why + (saved_ ? u" (the queue is saved)"_s : u" (the queue could not be saved)"_s));
    });
}

void HeadlessRun::abort(int exitStatus)
{
    startTimer_.stop();
    if (jobs_ && jobs_->isRunning())
        jobs_->cancel(); // its folder goes; the job stays for the next run
    runs_.stop();
    finish(exitStatus);
}

bool HeadlessRun::removeFromDisk() const
{
    return appSettings().RemoveFromDisk == 1;
}

bool HeadlessRun::jobsWaiting() const
{
    return jobTree().hasJobs();
}

bool HeadlessRun::noUpload() const
{
    return appSettings().NoUpload == 1;
}

void HeadlessRun::runOnComplete(int index)
{
    if (finished_)
        return;
    const int status = queueExitStatus();
    if (status != ExitAllPosted)
        sayOnStandardError(u"Not every item was posted:\n  "_s + itemsNotPosted().join(u"\n  "_s));
    if (index >= 1 && index <= 4) {
        if (status != ExitAllPosted)
            sayOnStandardError(msg(48 + index) + u": not done, as not every item was posted."_s);
        else {
            countDown(index);
            return;
        }
    }
    QTimer::singleShot(0, this, [this, status] { finish(status); });
}

void HeadlessRun::countDown(int action)
{
    // The system is asked first: a refusal is said now, not after the wait.
    canDoSystemAction(SystemAction(action), this, [this, action](bool may, const QString &why) {
        if (finished_)
            return;
        if (!may) {
            AddLog(0, msg(263).arg(msg(48 + action), why), LogColour::Red);
            finish(ExitActionRefused);
            return;
        }
        startCountdown(action);
    });
}

void HeadlessRun::startCountdown(int action)
{
    // On a terminal one line that counts down in place; into a file or a
    // pipe one line every ten seconds.
#ifdef Q_OS_UNIX
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
#else
    const bool terminal = false;
#endif
    const auto say = [action, terminal](qint64 left) {
        if (!terminal && left % 10 != 0 && left != Countdown::kDefaultSeconds)
            return;
        std::fprintf(stdout, terminal ? "\r%s: %s %lld %s (Ctrl-C cancels)\033[K" : "%s: %s %lld %s (Ctrl-C cancels)\n",
                     qUtf8Printable(QTime::currentTime().toString(u"hh:mm:ss"_s)), qUtf8Printable(msg(124 + action)),
                     static_cast<long long>(left), qUtf8Printable(msg(124)));
        if (terminal && left == 0)
            std::fputc('\n', stdout);
        std::fflush(stdout);
    };
    countdown_ = std::make_unique<Countdown>();
    connect(countdown_.get(), &Countdown::changed, this, say);
    connect(countdown_.get(), &Countdown::expired, this, [this, action] {
        if (finished_)
            return;
        // Saved before the machine is asked: it may go down at once.
        saveFiles();
        const QString name = msg(48 + action);
        requestSystemAction(
            SystemAction(action), this,
            [this, name](bool accepted, const QString &why) {
                if (finished_)
                    return;
                if (accepted) {
                    AddLog(0, msg(267).arg(name), LogColour::Green);
                    finish(ExitAllPosted);
                } else {
                    AddLog(0, msg(263).arg(name, why), LogColour::Red);
                    finish(ExitActionRefused);
                }
            },
            false);
    });
    say(Countdown::kDefaultSeconds);
    countdown_->start(Countdown::kDefaultSeconds);
}

void HeadlessRun::startPosting()
{
    if (finished_ || runs_.running() || (jobs_ && jobs_->isRunning()))
        return;
    if (const int slot = missingSettingSlot()) {
        // Without a window the settings dialog is not there to say where it goes.
        const QString key = slot == 90 ? u"Server"_s : (slot == 91 ? u"Nickname"_s : u"Email"_s);
        needsAPerson(msg(slot) + u" Set %1= in %2."_s.arg(key, QDir::toNativeSeparators(settingsFile().path())));
        return;
    }
    if (!uploadQueue().hasState(UploadState::Queued)) {
        if (jobTree().hasJobs())
            runJob();
        else if (uploadQueue().count() > 0 || jobs_)
            runOnComplete(0); // everything was posted, or the jobs kept their results: the run is over
        else
            needsAPerson(msg(93));
        return;
    }
    runs_.start();
}

void HeadlessRun::runJob()
{
    // A job without an archive, or with a ZIP archive, needs no rar (the
    // job itself says which tool is missing).
    const QStringList leaves = jobTree().leafCaptions(0);
    const QString rarWords = leaves.value(0);
    const bool needsRar = !rarWords.startsWith(u"none "_s) && !rarWords.contains(u".zip\" "_s, Qt::CaseInsensitive);
    if (needsRar && findTool(u"rar"_s).isEmpty()) {
        needsAPerson(msg(113));
        return;
    }
    if (findTool(u"par2"_s).isEmpty()) {
        needsAPerson(msg(114));
        return;
    }
    if (!jobs_) {
        jobs_ = std::make_unique<JobRunner>(*this, jobTree(), this);
        // Progress on standard output, once per change, as the log writes its lines.
        connect(jobs_.get(), &JobRunner::progressed, this, [](const QString &text) {
            std::fprintf(stdout, "%s: RarPar -> %s\n", qUtf8Printable(QTime::currentTime().toString(u"hh:mm:ss"_s)),
                         qUtf8Printable(text));
            std::fflush(stdout);
        });
        connect(jobs_.get(), &JobRunner::finished, this, [this](JobRunner::Outcome outcome) {
            // Done: the start timer posts the results next. Anything else ends the run.
            if (outcome == JobRunner::Outcome::Failed)
                QTimer::singleShot(0, this, [this] { finish(ExitSomeFailed); });
            else if ((outcome == JobRunner::Outcome::Stopped || outcome == JobRunner::Outcome::CannotRecord)
                     && !finished_)
                QTimer::singleShot(0, this, [this] { finish(ExitNeedsAPerson); });
        });
    }
    jobs_->start();
}

void HeadlessRun::sayOnStandardError(const QString &text)
{
    QString plain = text;
    plain.replace(u"\r\n"_s, u"\n"_s);
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(QString::fromUtf16(kAppTitle)), qUtf8Printable(plain));
    std::fflush(stderr);
}

void HeadlessRun::needsAPerson(const QString &text)
{
    sayOnStandardError(text);
    QTimer::singleShot(0, this, [this] { abort(ExitNeedsAPerson); });
}

void HeadlessRun::verifyNzb(const QString &path)
{
    QString problem;
    const QList<NzbListing> nzb = path.isEmpty() ? QList<NzbListing>() : readNzb(path, &problem);
    if (nzb.isEmpty()) {
        needsAPerson(path.isEmpty() ? u"--verify needs the path of an NZB file"_s
                                    : u"Cannot read "_s + path + u": "_s + problem);
        return;
    }
    QList<VerifyFile> files = verifyFilesOf(nzb);
    if (idsToAsk(files) == 0) {
        for (const VerifyFile &f : files)
            if (!f.unusable.isEmpty())
                AddLog(0, verifyReport(f), LogColour::Red);
        needsAPerson(u"Nothing to check in "_s + path + u": it lists no usable Message-ID"_s);
        return;
    }
    AddLog(0, u"Verifying "_s + path + u" on "_s + appSettings().Server, LogColour::Blue);
    verifier_ = std::make_unique<Verifier>(std::move(files));
    connect(verifier_.get(), &Verifier::finished, this, [this](bool complete) {
        for (const VerifyFile &f : verifier_->files())
            AddLog(0, verifyReport(f), f.missing.isEmpty() ? LogColour::Green : LogColour::Red);
        if (!complete) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(verifier_->error()));
            AddLog(0, verifier_->error(), LogColour::Red);
            finish(2);
            return;
        }
        finish(verifier_->missingTotal() > 0 ? 1 : 0);
    });
    verifier_->start();
}

void HeadlessRun::finish(int exitStatus)
{
    if (finished_)
        return;
    finished_ = true;
    exitStatus_ = exitStatus;
    if (countdown_)
        countdown_->stop();
    saved_ = shutDown();
    emit finished(exitStatus);
}

} // namespace tessaly
