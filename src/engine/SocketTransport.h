// The network under a posting connection (and under --verify): plain TCP,
// the program's own TLS, or plain TCP to the local end of the SSL tunnel.
//
// Plain TCP is a non-blocking socket of its own, watched by socket
// notifiers: a read is one system call into a buffer of ours, a write goes
// straight from the caller's array to the kernel, and what the kernel does
// not take at once waits in that same (shared) array. That is a third of the
// system calls a general-purpose socket makes per reply, which at hundreds
// of articles a second is most of what the event loop does.
//
// Also here: the timers and clock of a connection, on Qt timers.
#pragma once

#include "engine/LinkPorts.h"
#include "storage/AppSettings.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <deque>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace tessaly {

class TlsSocket;

// Where a run's connections go and how.
struct ServerEndpoint
{
    QString host;      // the server (for the tunnel: 127.0.0.1)
    quint16 port = 119;
    SslMode mode = SslMode::Plain;
    QString pinned;    // built-in TLS: the certificate fingerprint to accept
    bool acknowledgeAtOnce = true;
    QString shownHost; // the server the user knows (through the tunnel too)
    quint16 shownPort = 119;

    static ServerEndpoint fromSettings(const AppSettings &s);
    // The second server that makes the post checks (CheckServer ...).
    static ServerEndpoint checkServer(const AppSettings &s);
};

class SocketTransport : public QObject, public LinkTransport
{
    Q_OBJECT
public:
    // The transport for an endpoint: built-in TLS, or plain TCP.
    static std::unique_ptr<SocketTransport> make(const ServerEndpoint &endpoint, TransportEvents *events);

    void setEvents(TransportEvents *events) override { events_ = events; }

protected:
    SocketTransport(const ServerEndpoint &endpoint, TransportEvents *events)
        : endpoint_(endpoint)
        , events_(events)
    {
    }
    const ServerEndpoint endpoint_;
    TransportEvents *events_;
};

class PlainTransport : public SocketTransport
{
    Q_OBJECT
public:
    PlainTransport(const ServerEndpoint &endpoint, TransportEvents *events);
    ~PlainTransport() override;

    void open() override;
    qint64 send(const QByteArray &bytes) override;
    qint64 unsent() const override { return unsent_; }
    void close() override;
    bool isOpen() const override { return connected_; }
    void awaitingReply() override;

private:
    void tryAddresses();
    void connectTo(const QHostAddress &address);
    void onWritable();
    void onReadable();
    qint64 flush(); // what the kernel takes of the queue; -1 on an error
    void failLater(int error);
    void drop();

    int fd_ = -1;
    bool connected_ = false;
    QList<QHostAddress> addresses_;
    int lookupId_ = -1;
    int lastError_ = 0;
    QSocketNotifier *reader_ = nullptr;
    QSocketNotifier *writer_ = nullptr;
    struct Pending
    {
        QByteArray bytes;
        qsizetype offset = 0;
    };
    std::deque<Pending> queue_;
    qint64 unsent_ = 0;
    quint64 generation_ = 0;
};

class TlsTransport : public SocketTransport
{
    Q_OBJECT
public:
    TlsTransport(const ServerEndpoint &endpoint, TransportEvents *events);
    ~TlsTransport() override;

    void open() override;
    qint64 send(const QByteArray &bytes) override;
    qint64 unsent() const override;
    void close() override;
    bool isOpen() const override;
    void awaitingReply() override;

private:
    TlsSocket *socket_;
    bool refused_ = false;
    bool closing_ = false;
};

// The timers of one connection on Qt timers, and the run's clock.
class QtLinkTimers : public QObject, public LinkTimers
{
    Q_OBJECT
public:
    QtLinkTimers(const QElapsedTimer &clock, std::function<void(LinkTimer)> fired, QObject *parent = nullptr);

    double nowMs() const override { return double(clock_.nsecsElapsed()) / 1e6; }
    void start(LinkTimer timer, int ms) override;
    void stop(LinkTimer timer) override;

private:
    void expired(LinkTimer timer);

    const QElapsedTimer &clock_;
    std::function<void(LinkTimer)> fired_;
    std::array<QTimer, kLinkTimerCount> timers_;
    // The watchdog is moved on at every byte that comes or goes: only its
    // deadline moves, and the timer is set again when it runs out early.
    double watchdogDeadline_ = -1;
};

} // namespace tessaly
