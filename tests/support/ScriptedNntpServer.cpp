#include "support/ScriptedNntpServer.h"

#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace tessaly::test {

struct ScriptedNntpServer::Session
{
    QPointer<QTcpSocket> socket;
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

void ScriptedNntpServer::takeConnections(QTcpServer &from)
{
    {
        while (QTcpSocket *sock = from.nextPendingConnection()) {
            auto *s = new Session;
            s->socket = sock;
            s->number = ++connections;
            sessions_ << s;
            QByteArray hello = greetings.isEmpty() ? greeting : greetings.takeFirst();
            if (hello.startsWith("!close:")) {
                // Greets, then hangs up at once.
                sock->write(hello.mid(7));
                sock->disconnectFromHost();
                continue;
            }
            if (!hello.isEmpty())
                sock->write(hello);
            connect(sock, &QTcpSocket::readyRead, this, [this, s] { onData(*s); });
            connect(sock, &QTcpSocket::disconnected, this, [this, s] {
                sessions_.removeOne(s);
                if (s->socket)
                    s->socket->deleteLater();
                delete s;
            });
        }
    }
}

ScriptedNntpServer::~ScriptedNntpServer()
{
    for (Session *s : sessions_) {
        if (s->socket) {
            s->socket->disconnect(this);
            s->socket->abort();
        }
        delete s;
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

void ScriptedNntpServer::onData(Session &s)
{
    if (!s.socket)
        return;
    const QByteArray got = s.socket->readAll();
    bytesReceived += got.size();
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
                s.socket->abort();
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
            if (!s.socket)
                return;
            continue;
        }
        const qsizetype eol = s.buffer.indexOf("\r\n");
        if (eol < 0)
            return;
        const QByteArray line = s.buffer.left(eol);
        s.buffer.remove(0, eol + 2);
        onLine(s, line);
        if (!s.socket)
            return;
    }
}

void ScriptedNntpServer::reply(Session &s, const QByteArray &text)
{
    s.socket->write(text);
    if (eachReplyAlone)
        s.socket->flush(); // to the kernel now, not with the next reply
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
        s.socket->disconnectFromHost();
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
        s.socket->flush();
        QPointer<QTcpSocket> p(s.socket);
        QTimer::singleShot(30, this, [p] {
            if (p)
                p->write("0 article posted ok\r\n");
        });
        break;
    }
    case ArticleAction::AcceptThenHangUp: {
        a.accepted = true;
        held.insert(a.messageId);
        // Later: hanging up here would end the session under the caller's feet.
        QPointer<QTcpSocket> p(s.socket);
        QTimer::singleShot(0, this, [p] {
            if (p)
                p->abort();
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
