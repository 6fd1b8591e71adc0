#include "support/ScriptedNntpServer.h"

#include "engine/LinkPorts.h"
#include "engine/PostingRun.h"
#include "engine/SocketTransport.h"

#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace tessaly::test {

// One connection, over a socket or in process: the server writes and hangs
// up through these.
struct ScriptedNntpServer::Session : std::enable_shared_from_this<Session>
{
    std::function<void(const QByteArray &)> write;
    std::function<void(bool abort)> close;
    std::function<void()> flush;
    bool closed = false;
    int number = 0;
    QByteArray buffer;
    bool inArticle = false;
    bool authenticated = false;
    QByteArray pendingUser;
    QByteArray article;
    ArticleAction action = ArticleAction::Accept;
    bool actionChosen = false;
    bool groupChosen = false;
};

// The client's end of an in-process connection. Each side's bytes reach the
// other on the next turn of the event loop, in order; a hang-up follows
// what was written before it.
class ScriptedNntpServer::Loop : public LinkTransport
{
public:
    explicit Loop(QPointer<ScriptedNntpServer> server) : server_(std::move(server)) {}
    ~Loop() override { close(); }
    void setEvents(TransportEvents *events) override { events_ = events; }
    void open() override
    {
        close();
        const int generation = generation_;
        later([this, generation] {
            if (generation != generation_)
                return;
            if (!server_) {
                events_->transportFailed(u"Connection refused"_s, false);
                return;
            }
            auto s = std::make_shared<Session>();
            s->write = [this, generation](const QByteArray &bytes) {
                later([this, generation, bytes] {
                    if (generation == generation_)
                        events_->received(bytes);
                });
            };
            s->close = [this, generation](bool) {
                later([this, generation] {
                    if (generation == generation_ && session_) {
                        session_.reset();
                        events_->closedByPeer();
                    }
                });
            };
            session_ = s;
            events_->connected();
            if (server_)
                server_->greet(s);
        });
    }
    qint64 send(const QByteArray &bytes) override
    {
        if (!session_)
            return 0;
        std::weak_ptr<Session> s = session_;
        later([this, s, bytes] {
            if (const auto live = s.lock(); live && server_ && !live->closed)
                server_->onData(live, bytes);
        });
        return bytes.size();
    }
    qint64 unsent() const override { return 0; }
    void close() override
    {
        ++generation_;
        if (session_) {
            session_->closed = true;
            if (server_)
                server_->sessions_.removeOne(session_);
            session_.reset();
        }
    }
    bool isOpen() const override { return bool(session_); }

private:
    template<typename F>
    void later(F f) { QTimer::singleShot(0, &context_, std::move(f)); }
    QPointer<ScriptedNntpServer> server_;
    TransportEvents *events_ = nullptr;
    std::shared_ptr<Session> session_;
    int generation_ = 0;
    QObject context_; // what is pending goes with the transport
};

namespace {
QList<QPointer<ScriptedNntpServer>> &inProcessServers()
{
    static QList<QPointer<ScriptedNntpServer>> servers;
    return servers;
}
} // namespace

void ScriptedNntpServer::startInProcess()
{
    // Ports 2-999, over again when they run out (a server gone is off the
    // list); port 1 is left for "nobody there".
    static quint16 next = 1000;
    next = next <= 2 ? 999 : next - 1;
    inProcessPort_ = next;
    inProcessServers() << this;
}

std::shared_ptr<void> ScriptedNntpServer::routeInProcess()
{
    PostingRun::setTransportFactory([](const ServerEndpoint &e) -> std::unique_ptr<LinkTransport> {
        if (e.port >= 1024)
            return nullptr; // a socket
        QPointer<ScriptedNntpServer> found;
        for (const QPointer<ScriptedNntpServer> &s : inProcessServers())
            if (s && s->inProcessPort_ == e.port && e.host == u"127.0.0.1"_s)
                found = s;
        return std::make_unique<Loop>(found);
    });
    return std::shared_ptr<void>(nullptr, [](void *) { PostingRun::setTransportFactory({}); });
}

ScriptedNntpServer::ScriptedNntpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server_, &QTcpServer::newConnection, this, [this] { takeConnections(server_); });
    // A TLS connection is handed over once its handshake is done.
    connect(&tlsServer_, &QTcpServer::pendingConnectionAvailable, this, [this] { takeConnections(tlsServer_); });
    connect(&tlsServer_, &QSslServer::errorOccurred, this, [this](QSslSocket *, QAbstractSocket::SocketError) {
        ++failedHandshakes;
    });
}

void ScriptedNntpServer::greet(const std::shared_ptr<Session> &s)
{
    s->number = ++connections;
    sessions_ << s;
    const QByteArray hello = greetings.isEmpty() ? greeting : greetings.takeFirst();
    if (hello.startsWith("!close:")) { // greets, then hangs up at once
        s->write(hello.mid(7));
        hangUp(*s, false);
        return;
    }
    if (!hello.isEmpty())
        s->write(hello);
}

void ScriptedNntpServer::hangUp(Session &s, bool abort)
{
    if (s.closed)
        return;
    s.closed = true;
    for (qsizetype k = 0; k < sessions_.size(); ++k)
        if (sessions_[k].get() == &s)
            sessions_.removeAt(k);
    s.close(abort);
}

void ScriptedNntpServer::takeConnections(QTcpServer &from)
{
    while (QTcpSocket *sock = from.nextPendingConnection()) {
        auto s = std::make_shared<Session>();
        QPointer<QTcpSocket> p(sock);
        s->write = [p](const QByteArray &bytes) {
            if (p)
                p->write(bytes);
        };
        s->flush = [p] {
            if (p)
                p->flush();
        };
        s->close = [p](bool abort) {
            if (p && abort)
                p->abort();
            else if (p)
                p->disconnectFromHost();
        };
        std::weak_ptr<Session> weak = s;
        connect(sock, &QTcpSocket::readyRead, this, [this, weak, p] {
            if (const auto live = weak.lock(); live && p && !live->closed)
                onData(live, p->readAll());
        });
        connect(sock, &QTcpSocket::disconnected, this, [this, weak, p] {
            if (const auto live = weak.lock()) {
                live->closed = true;
                sessions_.removeOne(live);
            }
            if (p)
                p->deleteLater();
        });
        greet(s);
    }
}

ScriptedNntpServer::~ScriptedNntpServer()
{
    inProcessServers().removeAll(this);
    // The listeners delete their sockets after this body: nothing of theirs
    // may reach the half-destroyed server then.
    for (QTcpServer *listener : {&server_, static_cast<QTcpServer *>(&tlsServer_)})
        for (QTcpSocket *socket : listener->findChildren<QTcpSocket *>())
            socket->disconnect(this);
    const auto open = sessions_;
    for (const std::shared_ptr<Session> &s : open) {
        s->closed = true;
        if (s->close)
            s->close(true);
    }
}

bool ScriptedNntpServer::startTls(const QSslCertificate &certificate, const QSslKey &key,
                                  const QList<QSslCertificate> &chain, const QHostAddress &address)
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificate(certificate);
    c.setLocalCertificateChain(QList<QSslCertificate>{certificate} + chain);
    c.setPrivateKey(key);
    c.setPeerVerifyMode(QSslSocket::VerifyNone);
    tlsServer_.setSslConfiguration(c);
    return tlsServer_.listen(address, 0);
}

quint16 ScriptedNntpServer::port() const
{
    if (inProcessPort_)
        return inProcessPort_;
    return tlsServer_.isListening() ? tlsServer_.serverPort() : server_.serverPort();
}

bool ScriptedNntpServer::start(const QHostAddress &address, quint16 port)
{
    return server_.listen(address, port);
}

QList<ReceivedArticle> ScriptedNntpServer::accepted() const
{
    QList<ReceivedArticle> out;
    for (const ReceivedArticle &a : articles)
        if (a.accepted)
            out << a;
    return out;
}

void ScriptedNntpServer::onData(const std::shared_ptr<Session> &session, const QByteArray &got)
{
    Session &s = *session;
    s.buffer += got;
    for (;;) {
        if (s.inArticle) {
            if (!s.actionChosen) {
                ReceivedArticle probe;
                probe.connection = s.number;
                s.action = decide ? decide(probe) : (articleActions.isEmpty() ? ArticleAction::Accept
                                                                              : articleActions.takeFirst());
                s.actionChosen = true;
            }
            if (s.action == ArticleAction::CloseMidArticle && s.article.size() + s.buffer.size() > 1000) {
                hangUp(s, true);
                return;
            }
            const qsizetype end = s.buffer.indexOf("\r\n.\r\n");
            const bool onlyDot = s.article.isEmpty() && s.buffer.startsWith(".\r\n");
            if (end < 0 && !onlyDot) {
                // Keep the tail that may start the terminator.
                if (s.buffer.size() > 8) {
                    const qsizetype keep = 4;
                    s.article += s.buffer.left(s.buffer.size() - keep);
                    s.buffer.remove(0, s.buffer.size() - keep);
                }
                return;
            }
            const qsizetype take = onlyDot ? 0 : end + 2;
            s.article += s.buffer.left(take);
            s.buffer.remove(0, take + 3);
            s.inArticle = false;
            s.actionChosen = false;
            if (!s.buffer.isEmpty())
                ++commandsBehindArticles;
            finishArticle(s);
            if (s.closed)
                return;
            continue;
        }
        const qsizetype eol = s.buffer.indexOf("\r\n");
        if (eol < 0)
            return;
        const QByteArray line = s.buffer.left(eol);
        s.buffer.remove(0, eol + 2);
        onLine(s, line);
        if (s.closed)
            return;
    }
}

void ScriptedNntpServer::reply(Session &s, const QByteArray &text)
{
    s.write(text);
    if (eachReplyAlone && s.flush)
        s.flush(); // to the kernel now, not with the next reply
}

void ScriptedNntpServer::onLine(Session &s, const QByteArray &line)
{
    commands << line;
    const QList<QByteArray> words = line.split(' ');
    const QByteArray command = words.value(0).toUpper();
    if (command == "AUTHINFO" && words.value(1).toUpper() == "USER") {
        s.pendingUser = words.value(2);
        reply(s, "381 password required\r\n");
    } else if (command == "AUTHINFO" && words.value(1).toUpper() == "PASS") {
        if (s.pendingUser == user && words.value(2) == password) {
            s.authenticated = true;
            reply(s, "281 authentication accepted\r\n");
        } else {
            reply(s, "481 authentication failed\r\n");
        }
    } else if (command == "POST") {
        if (!user.isEmpty() && !s.authenticated) {
            reply(s, "480 authentication required\r\n");
            return;
        }
        reply(s, postReply);
        if (postReply.startsWith("340")) {
            s.inArticle = true;
            s.article.clear();
        }
    } else if (command == "QUIT") {
        reply(s, "205 closing connection\r\n");
        hangUp(s, false);
    } else if (command == "STAT") {
        QByteArray id = words.value(1);
        if (id.startsWith('<') && id.endsWith('>'))
            id = id.mid(1, id.size() - 2);
        const int asked = ++statsAsked[id];
        if (!statReply.isEmpty()) {
            reply(s, statReply);
        } else if (statNeedsGroup && !s.groupChosen) {
            reply(s, "412 no newsgroup selected\r\n");
        } else {
            if (held.contains(id) && forget && forget(id, asked))
                held.remove(id);
            const bool has = holds ? holds(id) : held.contains(id);
            reply(s, has ? "223 0 <" + id + ">\r\n" : QByteArray("430 no such article\r\n"));
        }
    } else if (command == "GROUP") {
        s.groupChosen = true;
        reply(s, "211 0 0 0 " + words.value(1) + "\r\n");
    } else if (command == "CANCEL") {
        reply(s, "500 unknown command\r\n");
    } else {
        reply(s, "500 what?\r\n");
    }
}

void ScriptedNntpServer::finishArticle(Session &s)
{
    ReceivedArticle a;
    a.connection = s.number;
    a.raw = s.article;
    const qsizetype at = a.raw.indexOf("\r\nMessage-ID: <");
    if (at >= 0) {
        const qsizetype start = at + 15;
        a.messageId = a.raw.mid(start, a.raw.indexOf('>', start) - start);
    }
    if (refuse && refuse(a))
        s.action = ArticleAction::Refuse441;
    // A server with a history refuses an ID it took before, even one it lost.
    if (refuseKnownIds && history_.contains(a.messageId))
        s.action = ArticleAction::Refuse435;
    if (s.action == ArticleAction::Accept || s.action == ArticleAction::SplitReply
        || s.action == ArticleAction::AcceptThenHangUp)
        history_.insert(a.messageId);
    switch (s.action) {
    case ArticleAction::Accept:
        a.accepted = true;
        if (rewriteId) {
            const QByteArray id = rewriteId(a);
            held.insert(id);
            reply(s, "240 <" + id + "> article posted ok\r\n");
        } else {
            held.insert(a.messageId);
            reply(s, "240 article posted ok\r\n");
        }
        break;
    case ArticleAction::Refuse435:
        reply(s, "435 article not wanted\r\n");
        break;
    case ArticleAction::Refuse441:
        reply(s, "441 posting failed\r\n");
        break;
    case ArticleAction::SplitReply: {
        a.accepted = true;
        held.insert(a.messageId);
        reply(s, "24");
        if (s.flush)
            s.flush();
        QTimer::singleShot(30, this, [write = s.write] { write("0 article posted ok\r\n"); });
        break;
    }
    case ArticleAction::AcceptThenHangUp: {
        a.accepted = true;
        held.insert(a.messageId);
        // Later: hanging up here would end the session under the caller's feet.
        QTimer::singleShot(0, this, [this, weak = s.weak_from_this()] {
            if (const auto live = weak.lock())
                hangUp(*live, true);
        });
        break;
    }
    case ArticleAction::Stall:
    case ArticleAction::CloseMidArticle:
        break;
    }
    articles << a;
}

quint16 freePort(const QHostAddress &address)
{
    QTcpServer probe;
    if (!probe.listen(address, 0))
        return 0;
    return probe.serverPort();
}

} // namespace tessaly::test
