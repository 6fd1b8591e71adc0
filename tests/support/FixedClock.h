// A clock that always shows the same local date and time, and whose
// monotonic count moves only when the test moves it.
#pragma once

#include "common/Clock.h"

namespace tessaly::test {

class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime at)
        : at_(std::move(at)) {}
    QDateTime now() const override { return at_; }
    qint64 msecsSinceStart() const override { return elapsedMs; }
    qint64 elapsedMs = 0; // moved on by the test
    // Moves the date and time (and the monotonic count) on.
    void moveOn(qint64 seconds)
    {
        at_ = at_.addSecs(seconds);
        elapsedMs += seconds * 1000;
    }

private:
    QDateTime at_;
};

} // namespace tessaly::test
