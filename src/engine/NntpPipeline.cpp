#include "engine/NntpPipeline.h"

#include "common/GeneralFunc.h"

#include <cctype>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

bool failureCode(const QByteArray &code)
{
    return code.startsWith('4') || code.startsWith('5');
}

// A server going away (400, 502, 503) is no verdict on the command.
bool goingAway(const QByteArray &code)
{
    return code == "400 " || code == "502 " || code == "503 ";
}

bool knownPostingCode(const QByteArray &code)
{
    return code == "200 " || code == "201 " || code == "240 " || code == "281 " || code == "340 " || code == "381 "
        || code == "435 " || code == "441 ";
}

} // namespace

void NntpPipeline::reset()
{
    buffer_.clear();
    queue_.clear();
    queue_.push_back({Command::Greeting, 0});
    articleWritten_ = false;
}

QByteArray NntpPipeline::push(Command command, int tag, QByteArray bytes)
{
    queue_.push_back({command, tag});
    return bytes;
}

QByteArray NntpPipeline::authUser(const QString &name)
{
    return push(Command::AuthUser, 0, "AUTHINFO user " + withoutLineBreaks(name).toUtf8() + "\r\n");
}

QByteArray NntpPipeline::authPass(const QString &password)
{
    return push(Command::AuthPass, 0, "AUTHINFO pass " + withoutLineBreaks(password).toUtf8() + "\r\n");
}

QByteArray NntpPipeline::post()
{
    return push(Command::Post, 0, QByteArrayLiteral("POST\r\n"));
}

QByteArray NntpPipeline::stat(const QString &messageId, int tag)
{
    return push(Command::Stat, tag, "STAT <" + withoutLineBreaks(messageId).toUtf8() + ">\r\n");
}

QByteArray NntpPipeline::group(const QString &name, int tag)
{
    return push(Command::Group, tag, "GROUP " + withoutLineBreaks(name).toUtf8() + "\r\n");
}

void NntpPipeline::articleStarted()
{
    queue_.push_back({Command::Article, 0});
    articleWritten_ = false;
}

int NntpPipeline::inFlight(Command command) const
{
    int n = 0;
    for (const InFlight &f : queue_)
        n += f.command == command;
    return n;
}

QByteArray NntpPipeline::Reply::code() const
{
    const QByteArray head = text.left(4).toLatin1();
    return head.size() >= 3 && std::isdigit(uchar(head[0])) && std::isdigit(uchar(head[1]))
            && std::isdigit(uchar(head[2])) && (head.size() == 3 || head[3] == ' ')
        ? head.left(3)
        : QByteArray();
}

NntpPipeline::Event NntpPipeline::judge(const QByteArray &code) const
{
    const Command awaited = queue_.front().command;
    if (awaited == Command::Stat || awaited == Command::Group)
        return judgeCheck(awaited, code);
    // A reply out of turn (an acceptance for an article never sent, a
    // second greeting, a go-ahead while an article is on its way) would
    // count a part that did not reach the server or garble the stream.
    if (!knownPostingCode(code))
        return Event::Failed;
    switch (awaited) {
    case Command::Greeting:
        if (code == "200 " || code == "201 ")
            return Event::Ready;
        break;
    case Command::AuthUser:
        if (code == "381 ")
            return Event::SendPassword;
        [[fallthrough]];
    case Command::AuthPass:
        if (code == "281 ")
            return Event::LoggedIn;
        break;
    case Command::Post:
        if (code == "340 ")
            return Event::SendArticle;
        if (code == "435 " || code == "441 ")
            return Event::Refused;
        break;
    case Command::Article:
        if (code == "240 " && articleWritten_)
            return Event::Accepted;
        if (code == "435 " || code == "441 ")
            return Event::Refused;
        break;
    case Command::Stat:
    case Command::Group:
        break;
    }
    return Event::OutOfTurn;
}

NntpPipeline::Event NntpPipeline::judgeCheck(Command awaited, const QByteArray &code)
{
    if (awaited == Command::Group && code == "211 ")
        return Event::GroupChosen;
    if (awaited == Command::Stat) {
        if (code == "223 ")
            return Event::Present;
        if (code == "430 ")
            return Event::Missing;
        if (code == "412 ")
            return Event::NeedsGroup;
    }
    // Anything but a server going away says this server will not check:
    // asking again would loop.
    return failureCode(code) && !goingAway(code) ? Event::CannotCheck : Event::Failed;
}

std::optional<NntpPipeline::Reply> NntpPipeline::next()
{
    for (;;) {
        const qsizetype eol = buffer_.indexOf('\n');
        if (eol < 0) {
            if (buffer_.size() > MaxLine) {
                // A runaway line is an error, not a memory hog.
                buffer_.clear();
                return Reply{Event::Failed, u"The server sent a line longer than 64 KiB"_s};
            }
            return std::nullopt;
        }
        QByteArray line = buffer_.left(eol);
        buffer_.remove(0, eol + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty())
            continue;
        Reply r;
        r.text = QString::fromUtf8(line);
        const QByteArray code = line.left(4);
        if (code == "205 ") {
            r.event = Event::Farewell;
            return r;
        }
        if (queue_.empty()) {
            r.tag = -1; // nothing was awaited
            r.event = knownPostingCode(code) ? Event::OutOfTurn : Event::Failed;
            return r;
        }
        r.event = judge(code);
        r.answered = queue_.front().command;
        r.tag = queue_.front().tag;
        if (r.answered == Command::Article)
            articleWritten_ = false;
        queue_.pop_front();
        return r;
    }
}

QString NntpPipeline::messageIdIn(const QString &replyText)
{
    const qsizetype open = replyText.indexOf(u'<');
    const qsizetype close = open < 0 ? -1 : replyText.indexOf(u'>', open + 1);
    if (close < 0)
        return {};
    const QString id = replyText.mid(open + 1, close - open - 1);
    // id-left "@" id-right, printable ASCII without blanks or brackets.
    const qsizetype at = id.indexOf(u'@');
    if (at <= 0 || at == id.size() - 1 || id.size() > 250)
        return {};
    for (QChar c : id)
        if (c.unicode() <= 32 || c.unicode() >= 127 || c == u'<' || c == u'>')
            return {};
    return id;
}

} // namespace tessaly
