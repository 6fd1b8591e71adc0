// A posting run's host for tests: records what the run asked for.
#pragma once

#include "application/RunController.h"

#include <QList>
#include <QString>

namespace tessaly::test {

class FakeRunHost : public RunHost
{
public:
    bool removeFiles = false;
    bool onComplete = false;
    int onCompleteAction = 0;
    bool jobs = false;
    bool nobodyWatching = false;

    QList<bool> postingControls;
    int runEndedCalls = 0;
    int startTimerCalls = 0;
    QList<int> onCompleteRuns;
    QString statusSpeed, statusRemaining, tooltip;

    void showSpeedLimit(int) override {}
    bool removeFromDisk() const override { return removeFiles; }
    bool onCompleteChecked() const override { return onComplete; }
    int onCompleteIndex() const override { return onCompleteAction; }
    void setPostingControls(bool posting) override { postingControls << posting; }
    void runEnded() override { ++runEndedCalls; }
    void setStatusTexts(const QString &s, const QString &r) override
    {
        statusSpeed = s;
        statusRemaining = r;
    }
    void setTrayTooltip(const QString &text) override { tooltip = text; }
    bool jobsWaiting() const override { return jobs; }
    void enableStartTimer() override { ++startTimerCalls; }
    void runOnComplete(int index) override { onCompleteRuns << index; }
    void tellUser(const QString &) override {}
    bool unattended() const override { return nobodyWatching; }
    void runGaveUp(int, const QString &) override {}
};

} // namespace tessaly::test
