// The reply side of one NNTP posting session, without a socket: the bytes
// the server sends go in, and each complete reply line comes out as one
// event, checked against the reply the session waits for. The commands it
// sends come out as bytes. The posting engine owns the socket and acts on the
// events; tests and the fuzzer feed bytes straight in.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace tessaly {

// The reply a session waits for; a reply that does not fit is an error.
enum class Expect { Greeting, AuthUser, AuthPass, PostGo, PostResult, Stat, Group };

class NntpSession
{
public:
    enum class Event {
        Ready,        // 200/201 greeting
        SendPassword, // 381 after AUTHINFO user
        LoggedIn,     // 281
        SendArticle,  // 340 after POST
        Accepted,     // 240 after a whole article
        Refused,      // 435/441 after POST or an article
        Farewell,     // 205
        Present,      // 223 after STAT: the server holds the article
        Missing,      // 430 after STAT
        NeedsGroup,   // 412 after STAT: a group must be selected first
        GroupChosen,  // 211 after GROUP
        CannotCheck,  // another 4xx/5xx after STAT or GROUP (500, 480, 411...): no check here
        OutOfTurn,    // a known reply where another was awaited
        Failed,       // any other reply, or a line longer than MaxLine
    };
    struct Reply
    {
        Event event;
        QString text; // the line without its line break
        Expect awaited = Expect::Greeting; // what the session waited for when it came
        // The three-digit code ("480"), or empty.
        QByteArray code() const;
    };

    static constexpr qsizetype MaxLine = 65536;

    // A new connection: the greeting is awaited, nothing is buffered.
    void reset();

    // Commands; each sets the reply awaited next.
    QByteArray authUser(const QString &name);
    QByteArray authPass(const QString &password);
    QByteArray post();
    // Asks whether the server holds an article (RFC 3977 6.2.4), and selects
    // a group for servers that want one before STAT.
    QByteArray stat(const QString &messageId);
    QByteArray group(const QString &name);
    // Several STATs and a POST in one write (RFC 3977 3.5): the STAT
    // replies are awaited in turn, then the reply to POST (when asked for).
    QByteArray statsThenPost(const QStringList &messageIds, bool post);
    // The article is on its way (its result is awaited), and once it is
    // written whole, a 240 may come.
    void articleStarted();
    void articleWritten() { articleWritten_ = true; }
    // A POST for the next article, sent right behind the one being written
    // (RFC 3977 3.5), after STATs for the IDs given: the article's result is
    // awaited, then the STAT replies in turn, then the go-ahead.
    QByteArray postAfterArticle(const QStringList &statIds = {});

    // Bytes from the server, however they were cut.
    void append(const QByteArray &bytes) { buffer_ += bytes; }
    // The next complete reply, judged by what is awaited at this moment (so
    // a command sent in answer to one reply changes how the next is judged);
    // empty when no whole line is buffered. Blank lines are skipped. After a
    // runaway line the buffer is dropped.
    std::optional<Reply> next();

    Expect expecting() const { return expecting_; }

    // The Message-ID a reply names ("240 <id> article posted", as servers
    // that rewrite IDs say), without its brackets; empty when it names none.
    static QString messageIdIn(const QString &replyText);

private:
    std::optional<Reply> judge();
    bool inTurn(const QByteArray &code) const;

    QByteArray buffer_;
    Expect expecting_ = Expect::Greeting;
    bool articleWritten_ = false;
    bool postAfterStat_ = false;
    bool postAfterResult_ = false;
    int statsAfterResult_ = 0;
    int statsLeft_ = 0;
};

} // namespace tessaly
