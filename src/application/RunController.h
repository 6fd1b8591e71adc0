// Starting and ending posting runs, the same for the window and for a run
// without one: the plan taken from the settings, the speed limit as a
// number (the user's, or the hour's from the speed schedule), and what
// happens when a run ends (finished rows removed when the settings say so,
// waiting Rar & Par jobs, the on-complete action, giving up).
#pragma once

#include "engine/PostingRun.h"
#include "engine/RunView.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

namespace tessaly {

// What a run needs from whoever started it, besides what it shows.
class RunHost : public RunView
{
public:
    // The speed box shows the limit in force (the schedule changes it by the hour).
    virtual void showSpeedLimit(int /*kBps*/) {}
    // Start/Stop caption, the Settings and Scheduler buttons, the list
    // buttons and the queue menus follow the posting state.
    virtual void setPostingControls(bool /*posting*/) {}
    // The run has ended by itself: menus follow the list.
    virtual void runEnded() {}
    virtual bool removeFromDisk() const { return false; }
    virtual bool onCompleteChecked() const { return false; }
    // The on-complete action with its list index (0 close, 1-4 countdown, 5 balloon).
    virtual int onCompleteIndex() const { return 0; }
    virtual bool jobsWaiting() const { return false; }
    // Presses Start a moment later (tmrStart).
    virtual void enableStartTimer() {}
    virtual void runOnComplete(int /*index*/) {}
    // A reason the run stopped that the user must read (a refused certificate).
    virtual void tellUser(const QString &) {}
    // Nobody watches the run (no window, or the command line closes it when
    // done): it gives up after RetryMinutes without progress, and on errors
    // that retrying cannot mend, instead of retrying for ever.
    virtual bool unattended() const { return false; }
    // The run stopped without posting everything: status 3 (no progress) or
    // 2 (it needs a person), with the reason.
    virtual void runGaveUp(int /*exitStatus*/, const QString & /*why*/) {}
};

class RunController : public QObject
{
    Q_OBJECT
public:
    explicit RunController(RunHost &host, QObject *parent = nullptr);
    ~RunController() override;

    // A run over what is queued, or over chosen parts of one item.
    void start(const std::optional<FillPlan> &fill = {});
    void stop();
    bool running() const { return run_ && run_->isRunning(); }
    // The run under way (or just ended), nullptr for none.
    PostingRun *run() const { return run_.get(); }

    // The user's limit in kB/s (the speed box), 0 for none.
    void setSpeedLimit(int kBps);
    int speedLimit() const { return userLimit_; }
    // The limit in force now: the user's, or the hour's while the schedule runs.
    int limitInForce() const;
    bool scheduleRunning() const { return schedule_.isActive(); }
    void setRemoveFromDisk(bool remove);
    // Items of this many parts joined the queue while the run goes on.
    void partsAdded(int parts);

signals:
    void ended(const tessaly::RunOutcome &outcome);

private:
    void scheduleTick();
    void onFinished(const RunOutcome &outcome);

    RunHost &host_;
    std::unique_ptr<PostingRun> run_;
    QTimer schedule_; // the hour-of-day speed schedule, once a minute
    int userLimit_ = 0;
    int scheduled_ = -1; // the hour's limit while the schedule says one, else -1
    bool fill_ = false;
};

} // namespace tessaly
