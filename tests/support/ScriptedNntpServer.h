// An NNTP server inside the test process. It greets, answers AUTHINFO and
// POST, reads articles and answers each with what the test scripted: accept,
// refuse, close in the middle, stay silent, or split its reply over two
// writes. Accepted articles are kept for checking. It listens on loopback, or
// (startInProcess) takes a posting run's connections without any socket.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QQueue>
#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace tessaly::test {

// AcceptThenHangUp keeps the article but hangs up before the reply: the poster
// cannot know it arrived.
enum class ArticleAction { Accept, Refuse435, Refuse441, CloseMidArticle, Stall, SplitReply, AcceptThenHangUp };

struct ReceivedArticle
{
    int connection = 0; // which accepted connection (1-based, in order of arrival)
    QByteArray raw;     // headers and body as received, without the final "." line
    QByteArray messageId;
    bool accepted = false;
};

class ScriptedNntpServer : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedNntpServer(QObject *parent = nullptr);
    ~ScriptedNntpServer() override;

    bool start(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Listens with implicit TLS (NNTPS) instead, on a free port, showing this
    // certificate (and the chain above it).
    bool startTls(const QSslCertificate &certificate, const QSslKey &key, const QList<QSslCertificate> &chain = {},
                  const QHostAddress &address = QHostAddress::LocalHost);
    quint16 port() const;
    // No socket: a posting run's connections to 127.0.0.1 at port() reach
    // this server through in-process transports, each byte on the next turn
    // of the event loop. Ports below 1024 that no server took refuse.
    void startInProcess();
    // Routes a posting run's connections to in-process servers (and the
    // others to sockets) until the returned guard goes.
    static std::shared_ptr<void> routeInProcess();
    int failedHandshakes = 0; // TLS connections that never got to the greeting

    // Greeting for each new connection in turn; the default after the queue runs out.
    QByteArray greeting = "200 Tessaly test server ready\r\n";
    QList<QByteArray> greetings;         // an empty entry means: stay silent
    QByteArray user, password;           // AUTHINFO required when user is set
    QByteArray postReply = "340 send article to be posted\r\n";
    QList<ArticleAction> articleActions;  // per article; Accept after the queue runs out
    // The Message-ID an accepting reply names, when set: a server that
    // rewrites IDs ("240 <id> article posted ok").
    std::function<QByteArray(const ReceivedArticle &)> rewriteId;
    // Refuses (441) the whole articles it says yes to, whatever else was scripted.
    std::function<bool(const ReceivedArticle &)> refuse;
    // Decides per article when set (soak tests); overrides articleActions.
    std::function<ArticleAction(const ReceivedArticle &)> decide;

    // STAT answers 223 for the IDs held (every accepted article) and 430 for
    // others. `forget` makes it lose a held article when asked for it (with
    // how often that ID was asked for); `statReply` answers every STAT
    // alike; with `statNeedsGroup` STAT wants a GROUP first on each connection.
    QSet<QByteArray> held;
    // Answers STAT instead of `held`: a server that sees what was posted
    // elsewhere (a check server), or lacks some of it.
    std::function<bool(const QByteArray &id)> holds;
    QHash<QByteArray, int> statsAsked;
    std::function<bool(const QByteArray &id, int asked)> forget;
    QByteArray statReply;
    bool statNeedsGroup = false;
    bool refuseKnownIds = false; // 435 for an ID accepted before

    // Every reply goes to the kernel on its own as it is made, on a socket
    // with Nagle on: a second reply waits until the first is acknowledged
    // (as from many real servers), instead of leaving with it in one write.
    bool eachReplyAlone = false;

    QList<QByteArray> commands;           // command lines received (not article text)
    QList<ReceivedArticle> articles;      // every article received in full
    int connections = 0;
    int commandsBehindArticles = 0;       // articles whose end came with the next command

    QList<ReceivedArticle> accepted() const;

private:
    struct Session;
    class Loop;
    void greet(const std::shared_ptr<Session> &s);
    void hangUp(Session &s, bool abort);
    void onData(const std::shared_ptr<Session> &s, const QByteArray &got);
    void onLine(Session &s, const QByteArray &line);
    void finishArticle(Session &s);
    void reply(Session &s, const QByteArray &text);
    void takeConnections(QTcpServer &from);
    QTcpServer server_;
    QSslServer tlsServer_;
    quint16 inProcessPort_ = 0;
    QList<std::shared_ptr<Session>> sessions_;
    QSet<QByteArray> history_; // every ID accepted, lost or not
};

quint16 freePort(const QHostAddress &address = QHostAddress::LocalHost);

} // namespace tessaly::test
