// A clock that always shows the same local date and time.
#pragma once

#include "common/Clock.h"

namespace tessaly::test {

class FixedClock : public Clock
{
public:
    explicit FixedClock(QDateTime at)
        : at_(std::move(at)) {}
    QDateTime now() const override { return at_; }
    qint64 msecsSinceStart() const override { return 0; }

private:
    QDateTime at_;
};

} // namespace tessaly::test
