// What the posting engine needs from the window that hosts it. The main
// window implements it; tests implement it with a recorder. The engine never
// touches a widget itself.
#pragma once

#include <QString>
#include <QtGlobal>

namespace tessaly {

class PostHost
{
public:
    virtual ~PostHost() = default;

    // The speed-limit box ("txtSpeed").
    virtual QString speedText() const = 0;
    virtual void setSpeedText(const QString &text) = 0;

    // The option boxes below the lists.
    virtual bool removeFromDisk() const = 0;
    virtual bool onCompleteChecked() const = 0;
    virtual int onCompleteIndex() const = 0;

    // Start/Stop caption, the Settings and Scheduler buttons, the list
    // buttons and the queue menus follow the posting state.
    virtual void setPostingControls(bool posting) = 0;
    // The run has ended: the Scheduler button goes off, menus follow the list.
    virtual void runEnded() = 0;

    // Status bar panels and the notification-area tooltip.
    virtual void setStatusTexts(const QString &speed, const QString &remaining) = 0;
    virtual void setTrayTooltip(const QString &text) = 0;
    // The run's bytes posted of its total (the overall bar): as it starts,
    // once a second, and as it ends.
    virtual void setRunProgress(qint64 /*posted*/, qint64 /*total*/) {}
    // The bytes sent in the second just over (the speed graph).
    virtual void addSpeedSample(qint64 /*bytes*/) {}
    // The run's summary line as it ends (it is in the log too).
    virtual void setRunSummary(const QString &) {}
    // The post check's counts ("checked 12 / missing 1"); empty without a check.
    virtual void setCheckText(const QString &) {}

    // The hour-of-day speed scheduler timer of the main window.
    virtual void startSpeedScheduler() = 0;
    virtual void stopSpeedScheduler() = 0;

    // Rar & Par jobs waiting (the job tree has more than its root node).
    virtual bool jobsWaiting() const = 0;
    // Presses Start a moment later (tmrStart).
    virtual void enableStartTimer() = 0;
    // The on-complete action with its list index (0 close, 1-4 countdown, 5 balloon).
    virtual void runOnComplete(int index) = 0;

    // A reason the run stopped that the user must read (a refused certificate).
    virtual void tellUser(const QString &) {}

    // Select the row, scroll it into view, deselect it again.
    virtual void showItem(int index) = 0;

    // Nobody watches the run (no window, or the command line closes it when
    // done): it gives up after RetryMinutes without progress, and on errors
    // that retrying cannot mend, instead of retrying for ever.
    virtual bool unattended() const { return false; }
    // The run stopped without posting everything: status 3 (no progress) or
    // 2 (it needs a person), with the reason. The engine is unloaded already.
    virtual void runGaveUp(int /*exitStatus*/, const QString & /*why*/) {}
};

} // namespace tessaly
