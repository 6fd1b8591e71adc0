// The signals that ask a program to end (SIGINT, SIGTERM, SIGHUP: Ctrl-C, a
// logout, systemctl stop, kill) as a Qt signal. The handler only writes the
// signal number to a socket pair; the event loop does the rest, so the run
// can stop the orderly way. A second signal while the first is being handled
// ends the outside tool that runs (its whole process group) and then the
// process at once with 128 + its number (the files it writes are replaced
// atomically, so nothing is left half written; what changed since they were
// last written is lost, and standard error says so).
#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace tessaly {

class StopSignals : public QObject
{
    Q_OBJECT
public:
    // One per process: the handlers are process-wide.
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    bool installed() const { return notifier_ != nullptr; }

    // The process group of the outside tool that runs now (0: none), for a
    // second signal to end it too.
    static void setToolGroup(qint64 group);

signals:
    void received(int signalNumber);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace tessaly
