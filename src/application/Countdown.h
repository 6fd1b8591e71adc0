// A countdown in seconds of the clock, not in timer ticks: a machine that was
// busy or suspended does not stretch it, and it ends exactly once. The
// scheduler's wait and the on-complete countdown both use it.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

namespace tessaly {

class Countdown : public QObject
{
    Q_OBJECT
public:
    // What the machine waits before it is powered off (and the like).
    static constexpr int kDefaultSeconds = 30;

    explicit Countdown(QObject *parent = nullptr);

    void start(qint64 seconds);
    void stop();
    bool isRunning() const { return running_; }
    // Whole seconds left, rounded up; 0 once the end is reached.
    qint64 remaining() const;
    // Looks at the clock: changed() when the whole seconds moved on, and
    // expired() (once) at the end. The timer calls it; tests that move the
    // clock call it too.
    void tick();

    // "HH:MM:SS", hours running past 23 when the wait is longer than a day.
    static QString clockText(qint64 seconds);

signals:
    void changed(qint64 secondsLeft);
    void expired();

private:
    QTimer timer_;
    QDateTime deadline_;
    qint64 shown_ = -1;
    bool running_ = false;
};

} // namespace tessaly
