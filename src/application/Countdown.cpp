#include "application/Countdown.h"

#include "common/Clock.h"

namespace tessaly {

Countdown::Countdown(QObject *parent)
    : QObject(parent)
{
    // Several looks a second, so that a second shown is never late by more
    // than a fraction of one.
    timer_.setInterval(250);
    connect(&timer_, &QTimer::timeout, this, &Countdown::tick);
}

void Countdown::start(qint64 seconds)
{
    deadline_ = Clock::instance().now().addSecs(seconds);
    shown_ = seconds;
    running_ = true;
    timer_.start();
}

void Countdown::stop()
{
    running_ = false;
    timer_.stop();
}

qint64 Countdown::remaining() const
{
    if (!running_)
        return 0;
    const qint64 ms = Clock::instance().now().msecsTo(deadline_);
    return ms <= 0 ? 0 : (ms + 999) / 1000;
}

void Countdown::tick()
{
    if (!running_)
        return;
    const qint64 left = remaining();
    if (left != shown_) {
        shown_ = left;
        emit changed(left);
    }
    if (left == 0 && running_) {
        stop();
        emit expired();
    }
}

QString Countdown::clockText(qint64 seconds)
{
    const auto two = [](qint64 v) { return QString::number(v).rightJustified(2, u'0'); };
    return two(seconds / 3600) + u':' + two(seconds % 3600 / 60) + u':' + two(seconds % 60);
}

} // namespace tessaly
