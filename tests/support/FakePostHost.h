// The posting engine's host for tests: records what the engine asked for.
#pragma once

#include "engine/PostHost.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tessaly::test {

class FakePostHost : public PostHost
{
public:
    QString speed = QStringLiteral("0");
    bool removeFiles = false;
    bool onComplete = false;
    int onCompleteAction = 0;
    bool jobs = false;

    QList<bool> postingControls;
    int runEndedCalls = 0;
    int startTimerCalls = 0;
    QList<int> onCompleteRuns;
    QString statusSpeed, statusRemaining, tooltip;
    int schedulerStarts = 0, schedulerStops = 0;

    QString speedText() const override { return speed; }
    void setSpeedText(const QString &text) override { speed = text; }
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
    void startSpeedScheduler() override { ++schedulerStarts; }
    void stopSpeedScheduler() override { ++schedulerStops; }
    bool jobsWaiting() const override { return jobs; }
    void enableStartTimer() override { ++startTimerCalls; }
    void runOnComplete(int index) override { onCompleteRuns << index; }
    void showItem(int) override {}
    QStringList toldUser;
    void tellUser(const QString &text) override { toldUser << text; }
    bool nobodyWatching = false;
    QList<int> gaveUp;
    bool unattended() const override { return nobodyWatching; }
    void runGaveUp(int status, const QString &) override { gaveUp << status; }
};

} // namespace tessaly::test
