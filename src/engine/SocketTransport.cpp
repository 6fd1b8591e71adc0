#include "engine/SocketTransport.h"

#include "engine/TlsSocket.h"
#include "platform/SocketOptions.h"

#include <QAbstractSocket>
#include <QHostInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cmath>
#include <cstring>

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr qsizetype kReadChunk = 64 * 1024;

// A socket error in the words (and numbers) the log has always used.
QString errorText(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return QString::number(int(QAbstractSocket::ConnectionRefusedError)) + u" - Connection refused"_s;
    case ETIMEDOUT:
        return QString::number(int(QAbstractSocket::SocketTimeoutError)) + u" - Connection timed out"_s;
    case ENETUNREACH:
    case EHOSTUNREACH:
        return QString::number(int(QAbstractSocket::NetworkError)) + u" - Network unreachable"_s;
    case 0:
        return QString::number(int(QAbstractSocket::HostNotFoundError)) + u" - Host not found"_s;
    default:
        return QString::number(int(QAbstractSocket::UnknownSocketError)) + u" - "_s
            + QString::fromLocal8Bit(std::strerror(error));
    }
}

bool closedByPeerError(int error)
{
    return error == ECONNRESET || error == EPIPE;
}

} // namespace

ServerEndpoint ServerEndpoint::fromSettings(const AppSettings &s)
{
    ServerEndpoint e;
    e.mode = sslMode(s);
    e.port = quint16(s.Port);
    e.host = s.Server.trimmed();
    e.shownHost = s.Server;
    e.shownPort = quint16(s.Port);
    if (e.mode == SslMode::Tunnel) {
        // The tunnel's local end: the port it chose when it started.
        e.host = u"127.0.0.1"_s;
        e.port = quint16(s.tunnelLocalPort > 0 ? s.tunnelLocalPort : s.Port);
    }
    e.pinned = s.SSLFingerprint;
    return e;
}

ServerEndpoint ServerEndpoint::checkServer(const AppSettings &s)
{
    ServerEndpoint e;
    e.host = s.CheckServer.trimmed();
    e.port = quint16(s.CheckPort);
    e.mode = s.CheckSSL == 1 ? SslMode::BuiltIn : SslMode::Plain;
    e.pinned = s.CheckFingerprint;
    e.shownHost = e.host;
    e.shownPort = e.port;
    return e;
}

std::unique_ptr<SocketTransport> SocketTransport::make(const ServerEndpoint &endpoint, TransportEvents *events)
{
    if (endpoint.mode == SslMode::BuiltIn)
        return std::make_unique<TlsTransport>(endpoint, events);
    return std::make_unique<PlainTransport>(endpoint, events);
}

// ---------------------------------------------------------------- plain TCP

PlainTransport::PlainTransport(const ServerEndpoint &endpoint, TransportEvents *events)
    : SocketTransport(endpoint, events)
{
}

PlainTransport::~PlainTransport()
{
    drop();
}

void PlainTransport::open()
{
    drop();
    const quint64 generation = generation_;
    lookupId_ = QHostInfo::lookupHost(endpoint_.host, this, [this, generation](const QHostInfo &info) {
        if (generation != generation_)
            return;
        lookupId_ = -1;
        addresses_ = info.addresses();
        lastError_ = 0;
        tryAddresses();
    });
}

void PlainTransport::tryAddresses()
{
    if (addresses_.isEmpty()) {
        const int error = lastError_;
        drop();
        events_->transportFailed(errorText(error), false);
        return;
    }
    connectTo(addresses_.takeFirst());
}

void PlainTransport::connectTo(const QHostAddress &address)
{
#ifdef Q_OS_UNIX
    sockaddr_storage to{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&to);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(endpoint_.port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, 16);
        a->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&to);
        a->sin_family = AF_INET;
        a->sin_port = htons(endpoint_.port);
        a->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }
    fd_ = ::socket(to.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        lastError_ = errno;
        tryAddresses();
        return;
    }
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&to), length) < 0 && errno != EINPROGRESS) {
        lastError_ = errno;
        ::close(fd_);
        fd_ = -1;
        tryAddresses();
        return;
    }
    reader_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Read, this);
    writer_ = new QSocketNotifier(qintptr(fd_), QSocketNotifier::Write, this);
    reader_->setEnabled(false);
    connect(reader_, &QSocketNotifier::activated, this, &PlainTransport::onReadable);
    connect(writer_, &QSocketNotifier::activated, this, &PlainTransport::onWritable);
#else
    Q_UNUSED(address);
    lastError_ = ENOSYS;
    tryAddresses();
#endif
}

void PlainTransport::onWritable()
{
#ifdef Q_OS_UNIX
    if (!connected_) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) {
            lastError_ = error;
            const QList<QHostAddress> rest = addresses_;
            drop();
            addresses_ = rest;
            tryAddresses();
            return;
        }
        connected_ = true;
        // Whole articles and commands go in one write each: nothing is
        // gained by holding a short last segment back for an acknowledgement.
        const int one = 1;
        (void)::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        writer_->setEnabled(false);
        reader_->setEnabled(true);
        events_->connected();
        return;
    }
    const quint64 generation = generation_;
    const qint64 took = flush();
    if (generation != generation_)
        return;
    if (took < 0) {
        failLater(errno);
        return;
    }
    if (queue_.empty())
        writer_->setEnabled(false);
    if (took > 0)
        events_->written(took);
#endif
}

qint64 PlainTransport::flush()
{
#ifdef Q_OS_UNIX
    qint64 total = 0;
    while (!queue_.empty()) {
        Pending &p = queue_.front();
        const ssize_t n = ::send(fd_, p.bytes.constData() + p.offset, std::size_t(p.bytes.size() - p.offset),
                                 MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            if (errno == EINTR)
                continue;
            return -1;
        }
        total += n;
        unsent_ -= n;
        p.offset += n;
        if (p.offset < p.bytes.size())
            break;
        queue_.pop_front();
    }
    return total;
#else
    return -1;
#endif
}

qint64 PlainTransport::send(const QByteArray &bytes)
{
    if (!connected_ || bytes.isEmpty())
        return 0;
    const bool waiting = !queue_.empty();
    queue_.push_back({bytes, 0});
    unsent_ += bytes.size();
    if (waiting)
        return 0; // the notifier goes on with the queue in order
    const qint64 took = flush();
    if (took < 0) {
        failLater(errno);
        return 0;
    }
    if (!queue_.empty())
        writer_->setEnabled(true);
    return took;
}

void PlainTransport::onReadable()
{
#ifdef Q_OS_UNIX
    QByteArray bytes(kReadChunk, Qt::Uninitialized);
    const ssize_t n = ::read(fd_, bytes.data(), std::size_t(bytes.size()));
    if (n > 0) {
        bytes.truncate(n);
        events_->received(bytes);
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    const int error = n == 0 ? 0 : errno;
    drop();
    if (n == 0 || closedByPeerError(error))
        events_->closedByPeer();
    else
        events_->transportFailed(errorText(error), false);
#endif
}

void PlainTransport::failLater(int error)
{
    // Not inside the caller's own send: after it, from the event loop.
    const quint64 generation = generation_;
    drop();
    QTimer::singleShot(0, this, [this, error, generation] {
        if (generation + 1 != generation_ || fd_ >= 0 || lookupId_ >= 0)
            return; // opened again meanwhile
        if (closedByPeerError(error))
            events_->closedByPeer();
        else
            events_->transportFailed(errorText(error), false);
    });
}

void PlainTransport::awaitingReply()
{
    if (endpoint_.acknowledgeAtOnce && connected_)
        acknowledgeAtOnce(qintptr(fd_));
}

void PlainTransport::close()
{
    drop();
}

void PlainTransport::drop()
{
    ++generation_;
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
    for (QSocketNotifier *n : {reader_, writer_}) {
        if (!n)
            continue;
        n->setEnabled(false);
        n->disconnect(this);
        n->deleteLater();
    }
    reader_ = writer_ = nullptr;
#ifdef Q_OS_UNIX
    if (fd_ >= 0)
        ::close(fd_);
#endif
    fd_ = -1;
    connected_ = false;
    addresses_.clear();
    queue_.clear();
    unsent_ = 0;
}

// ---------------------------------------------------------------- built-in TLS

TlsTransport::TlsTransport(const ServerEndpoint &endpoint, TransportEvents *events)
    : SocketTransport(endpoint, events)
    , socket_(new TlsSocket(this))
{
    connect(socket_, &QTcpSocket::connected, this, [this] { events_->connected(); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] { events_->received(socket_->readAll()); });
    connect(socket_, &QTcpSocket::bytesWritten, this, [this](qint64 n) { events_->written(n); });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (closing_ || refused_)
            return;
        if (e == QAbstractSocket::RemoteHostClosedError)
            events_->closedByPeer();
        else
            events_->transportFailed(QString::number(int(e)) + u" - "_s + socket_->errorString(), false);
    });
}

TlsTransport::~TlsTransport() = default;

void TlsTransport::open()
{
    close();
    closing_ = false;
    refused_ = false;
    QPointer<TlsTransport> self(this);
    socket_->connectToHostEncrypted(endpoint_.host, endpoint_.port, endpoint_.pinned, [self](const QString &why) {
        // Not a passing fault: said after the socket's own signal is over,
        // and the failed handshake is not tried again meanwhile.
        if (!self)
            return;
        self->refused_ = true;
        QTimer::singleShot(0, self, [self, why] {
            if (self)
                self->events_->transportFailed(why, true);
        });
    });
}

qint64 TlsTransport::send(const QByteArray &bytes)
{
    socket_->write(bytes);
    return 0; // the socket says what went, as it goes
}

qint64 TlsTransport::unsent() const
{
    return socket_->bytesToWrite();
}

void TlsTransport::close()
{
    closing_ = true;
    socket_->abort();
}

bool TlsTransport::isOpen() const
{
    return socket_->state() == QAbstractSocket::ConnectedState;
}

void TlsTransport::awaitingReply()
{
    if (endpoint_.acknowledgeAtOnce)
        acknowledgeAtOnce(socket_->transportDescriptor());
}

// ---------------------------------------------------------------- timers

QtLinkTimers::QtLinkTimers(const QElapsedTimer &clock, std::function<void(LinkTimer)> fired, QObject *parent)
    : QObject(parent)
    , clock_(clock)
    , fired_(std::move(fired))
{
    for (int k = 0; k < kLinkTimerCount; ++k) {
        QTimer &t = timers_[std::size_t(k)];
        t.setSingleShot(true);
        if (LinkTimer(k) == LinkTimer::Send)
            t.setTimerType(Qt::PreciseTimer);
        connect(&t, &QTimer::timeout, this, [this, k] { expired(LinkTimer(k)); });
    }
}

void QtLinkTimers::start(LinkTimer timer, int ms)
{
    QTimer &t = timers_[std::size_t(timer)];
    if (timer == LinkTimer::Watchdog) {
        const bool later = t.isActive() && watchdogDeadline_ >= 0 && nowMs() + ms >= watchdogDeadline_;
        watchdogDeadline_ = nowMs() + ms;
        if (later)
            return; // it runs out first and is set again for the rest
    }
    t.start(ms);
}

void QtLinkTimers::stop(LinkTimer timer)
{
    if (timer == LinkTimer::Watchdog)
        watchdogDeadline_ = -1;
    timers_[std::size_t(timer)].stop();
}

void QtLinkTimers::expired(LinkTimer timer)
{
    if (timer == LinkTimer::Watchdog) {
        if (watchdogDeadline_ < 0)
            return;
        if (const double left = watchdogDeadline_ - nowMs(); left > 0.5) {
            timers_[std::size_t(timer)].start(int(std::ceil(left)));
            return;
        }
        watchdogDeadline_ = -1;
    }
    fired_(timer);
}

} // namespace tessaly
