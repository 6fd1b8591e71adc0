// What a posting run shows besides the queue and the connection list: the
// status bar, the tray tooltip, the overall progress and speed graph, the
// post check's counts, the row of an item that starts. The main window
// implements it; a run without a window and tests implement it with little.
// The engine never touches a widget itself.
#pragma once

#include <QString>
#include <QtGlobal>

namespace tessaly {

class RunView
{
public:
    virtual ~RunView() = default;

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
    // Select the row, scroll it into view, deselect it again.
    virtual void showItem(int /*row*/) {}
};

} // namespace tessaly
