#include "application/RunController.h"

#include "common/Clock.h"
#include "common/Log.h"
#include "storage/AppSettings.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

using namespace Qt::StringLiterals;

namespace tessaly {

RunController::RunController(RunHost &host, QObject *parent)
    : QObject(parent)
    , host_(host)
{
    userLimit_ = appSettings().MaxSpeed;
    schedule_.setInterval(60000);
    schedule_.callOnTimeout(this, &RunController::scheduleTick);
}

RunController::~RunController() = default;

int RunController::limitInForce() const
{
    return scheduled_ >= 0 ? scheduled_ : userLimit_;
}

void RunController::start(const std::optional<FillPlan> &fill)
{
    if (running())
        return;
    RunPlan plan = RunPlan::fromSettings(appSettings());
    plan.limitKBps = userLimit_;
    plan.unattended = host_.unattended();
    plan.removeFromDisk = host_.removeFromDisk();
    plan.fill = fill;
    fill_ = fill.has_value();
    if (run_) // the last one may still be on its way out
        run_.release()->deleteLater();
    run_ = std::make_unique<PostingRun>(host_);
    connect(run_.get(), &PostingRun::finished, this, &RunController::onFinished);
    host_.setPostingControls(true);
    scheduled_ = -1;
    if (appSettings().SpeedScheduler == 1) {
        // The first tick at once, then one a minute.
        schedule_.start();
        QTimer::singleShot(1, this, [this] {
            if (schedule_.isActive())
                scheduleTick();
        });
    }
    run_->start(plan);
}

void RunController::stop()
{
    if (running())
        run_->stop();
}

void RunController::setSpeedLimit(int kBps)
{
    userLimit_ = std::max(kBps, 0);
    if (running())
        run_->setSpeedLimit(limitInForce());
}

void RunController::setRemoveFromDisk(bool remove)
{
    if (running())
        run_->setRemoveFromDisk(remove);
}

void RunController::partsAdded(int parts)
{
    if (running())
        run_->addToPost(qint64(parts) * appSettings().PartSize);
}

void RunController::scheduleTick()
{
    const AppSettings &s = appSettings();
    if (s.speedHours.isEmpty()) {
        schedule_.stop();
        scheduled_ = -1;
    } else {
        const QString hour = Clock::instance().now().toString(u"HH"_s);
        scheduled_ = s.speedHours.contains(hour) ? s.LimitSpeed : -1;
    }
    host_.showSpeedLimit(limitInForce());
    if (running())
        run_->setSpeedLimit(limitInForce());
}

void RunController::onFinished(const RunOutcome &outcome)
{
    schedule_.stop();
    scheduled_ = -1;
    host_.showSpeedLimit(userLimit_);
    host_.setPostingControls(false);
    // The run finishes its own work first; it is released later.
    QTimer::singleShot(0, this, [this] {
        if (run_ && !run_->isRunning())
            run_.release()->deleteLater();
    });
    switch (outcome.end) {
    case RunOutcome::End::Finished:
        if (fill_)
            break;
        host_.runEnded();
        if (appSettings().RemoveFiles == 1) {
            UploadQueue &q = uploadQueue();
            for (int i = q.count(); i >= 1; --i)
                if (q.item(i).state == UploadState::PostedOK)
                    q.RemoveArrayItem(i);
            SaveQueue();
        }
        if (host_.jobsWaiting())
            host_.enableStartTimer();
        else if (host_.onCompleteChecked())
            host_.runOnComplete(host_.onCompleteIndex());
        break;
    case RunOutcome::End::GaveUp:
        host_.runGaveUp(outcome.exitStatus, outcome.why);
        break;
    case RunOutcome::End::Refused:
        host_.tellUser(outcome.why);
        break;
    case RunOutcome::End::Stopped:
        break;
    }
    emit ended(outcome);
}

} // namespace tessaly
