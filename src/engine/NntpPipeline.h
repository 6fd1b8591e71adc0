// The protocol side of one NNTP connection, without a socket: the commands it
// sends come out as bytes and join a queue of commands in flight; the bytes
// the server sends go in, and each complete reply line comes out judged
// against the command at the front of that queue, which it then leaves.
// Pipelining (RFC 3977 3.5) is simply more than one command in flight: a
// POST behind the article before it, STATs in front of a POST.
#pragma once

#include <QByteArray>
#include <QString>

#include <deque>
#include <optional>

namespace tessaly {

enum class Command : quint8 { Greeting, AuthUser, AuthPass, Post, Article, Stat, Group };

struct InFlight
{
    Command command = Command::Greeting;
    int tag = 0; // whose STAT or GROUP it is: the connection's own mark
};

class NntpPipeline
{
public:
    enum class Event : quint8 {
        Ready,        // 200/201 greeting
        SendPassword, // 381 after AUTHINFO user
        LoggedIn,     // 281
        SendArticle,  // 340 after POST
        Accepted,     // 240 after a whole article
        Refused,      // 435/441 after POST or an article
        Farewell,     // 205, wherever it comes
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
        Event event = Event::Failed;
        QString text;                       // the line without its line break
        Command answered = Command::Greeting; // the command it answers (the front one)
        int tag = 0;                        // the command's tag; -1 when nothing was awaited
        // The three-digit code ("480"), or empty.
        QByteArray code() const;
    };

    static constexpr qsizetype MaxLine = 65536;

    // A new connection: the greeting is awaited, nothing is buffered.
    void reset();

    // Commands, each as the bytes to write; each joins the back of the queue.
    QByteArray authUser(const QString &name);
    QByteArray authPass(const QString &password);
    QByteArray post();
    QByteArray stat(const QString &messageId, int tag);
    QByteArray group(const QString &name, int tag);
    // The go-ahead is used: the article joins the queue; once every byte of
    // it is written, a 240 may answer it.
    void articleStarted();
    void articleWritten() { articleWritten_ = true; }

    // Bytes from the server, however they were cut.
    void append(const QByteArray &bytes) { buffer_ += bytes; }
    // The next complete reply, judged by the command in front; empty when no
    // whole line is buffered. Blank lines are skipped. After a runaway line
    // the buffer is dropped.
    std::optional<Reply> next();

    bool idle() const { return queue_.empty(); }
    const InFlight *front() const { return queue_.empty() ? nullptr : &queue_.front(); }
    int inFlight(Command command) const;
    bool articleWrittenWhole() const { return articleWritten_; }

    // The Message-ID a reply names ("240 <id> article posted", as servers
    // that rewrite IDs say), without its brackets; empty when it names none.
    static QString messageIdIn(const QString &replyText);

private:
    QByteArray push(Command command, int tag, QByteArray bytes);
    Event judge(const QByteArray &code) const;
    static Event judgeCheck(Command awaited, const QByteArray &code);

    QByteArray buffer_;
    std::deque<InFlight> queue_;
    bool articleWritten_ = false;
};

} // namespace tessaly
