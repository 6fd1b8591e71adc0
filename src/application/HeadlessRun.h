// An unattended run without a display: the command line, the queue, the
// posting engine and the log, with no window at all. It hosts the engine in
// place of the main window; whatever would need a person (a missing server
// setting, nothing to post) is written to standard error and ends the run
// with status 2. finished() reports the exit status once everything is saved.
#pragma once

#include "application/Countdown.h"
#include "application/JobRunner.h"
#include "application/RunController.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace tessaly {

class Verifier;

class HeadlessRun : public QObject, public RunHost, public JobHost
{
    Q_OBJECT
public:
    explicit HeadlessRun(const QStringList &arguments, QObject *parent = nullptr);
    ~HeadlessRun() override;

    // Start-up and the command line; posting starts on the next turn of the
    // event loop when the command line asks for it.
    void start();
    // Stops posting, saves and finishes with the status given.
    void abort(int exitStatus = 2);
    // SIGINT, SIGTERM, SIGHUP: the same, with 128 + the signal's number.
    void stopBySignal(int signalNumber);

    bool isFinished() const { return finished_; }
    // The on-complete countdown, once it began.
    Countdown *countdown() const { return countdown_.get(); }
    int exitStatus() const { return exitStatus_; }
    RunController &runs() { return runs_; }

    // RunHost
    bool removeFromDisk() const override;
    bool onCompleteChecked() const override { return true; }
    // Close, unless the command line asked for a power action.
    int onCompleteIndex() const override { return action_ > 0 ? action_ : 0; }
    void setStatusTexts(const QString &, const QString &) override {}
    void setTrayTooltip(const QString &) override {}
    bool jobsWaiting() const override;
    void enableStartTimer() override { startTimer_.start(); }
    // JobHost
    bool noUpload() const override;
    void setJobControls(bool) override {}
    void runOnComplete(int index) override;
    void showItem(int) override {}
    bool unattended() const override { return true; }
    void runGaveUp(int exitStatus, const QString &why) override;

signals:
    void finished(int exitStatus);

private:
    // What Start does: post what is queued, else run the next Rar & Par job.
    void startPosting();
    void runJob();
    // The 30-second countdown on standard output, then the system's answer.
    void countDown(int action);
    void startCountdown(int action);
    // Says what a person would have been asked and ends the run.
    void needsAPerson(const QString &text);
    static void sayOnStandardError(const QString &text);
    void finish(int exitStatus);
    // --verify: every segment of the NZB asked for; exit 0, 1 (missing) or 2.
    void verifyNzb(const QString &path);

    QStringList arguments_;
    RunController runs_;
    std::unique_ptr<JobRunner> jobs_;
    std::unique_ptr<Verifier> verifier_;
    std::unique_ptr<Countdown> countdown_;
    QTimer startTimer_;
    int exitStatus_ = 0;
    int action_ = -1; // the on-complete list position of the command line
    bool finished_ = false;
    bool saved_ = false;
};

} // namespace tessaly
