#include "common/Clock.h"

#include <QElapsedTimer>

namespace tessaly {

namespace {
const Clock *g_clock = nullptr;

const SystemClock &systemClock()
{
    static const SystemClock clock;
    return clock;
}
} // namespace

const Clock &Clock::instance()
{
    return g_clock ? *g_clock : systemClock();
}

void Clock::setInstance(const Clock *clock)
{
    g_clock = clock;
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::msecsSinceStart() const
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

} // namespace tessaly
