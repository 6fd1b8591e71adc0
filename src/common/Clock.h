// The time source of the program. Tests replace it to drive schedulers and
// time stamps without waiting.
#pragma once

#include <QDateTime>

namespace tessaly {

class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;          // local date and time
    virtual qint64 msecsSinceStart() const = 0; // a monotonic tick counter

    static const Clock &instance();
    // Installs a clock for the whole process; nullptr restores the system clock.
    // The caller keeps ownership.
    static void setInstance(const Clock *clock);
};

class SystemClock final : public Clock
{
public:
    QDateTime now() const override;
    qint64 msecsSinceStart() const override;
};

} // namespace tessaly
