#include "engine/NntpSession.h"

#include "common/GeneralFunc.h"

#include <cctype>
#include <utility>

using namespace Qt::StringLiterals;

namespace tessaly {

void NntpSession::reset()
{
    buffer_.clear();
    expecting_ = Expect::Greeting;
    articleWritten_ = false;
    postAfterStat_ = false;
    postAfterResult_ = false;
    statsAfterResult_ = 0;
    statsLeft_ = 0;
}

QByteArray NntpSession::authUser(const QString &name)
{
    expecting_ = Expect::AuthUser;
    return "AUTHINFO user " + withoutLineBreaks(name).toUtf8() + "\r\n";
}

QByteArray NntpSession::authPass(const QString &password)
{
    expecting_ = Expect::AuthPass;
    return "AUTHINFO pass " + withoutLineBreaks(password).toUtf8() + "\r\n";
}

QByteArray NntpSession::post()
{
    expecting_ = Expect::PostGo;
    articleWritten_ = false;
    postAfterResult_ = false;
    statsAfterResult_ = 0;
    return QByteArrayLiteral("POST\r\n");
}

QByteArray NntpSession::stat(const QString &messageId)
{
    expecting_ = Expect::Stat;
    postAfterStat_ = false;
    statsLeft_ = 1;
    return "STAT <" + withoutLineBreaks(messageId).toUtf8() + ">\r\n";
}

QByteArray NntpSession::statsThenPost(const QStringList &messageIds, bool post)
{
    QByteArray out;
    for (const QString &id : messageIds)
        out += "STAT <" + withoutLineBreaks(id).toUtf8() + ">\r\n";
    expecting_ = Expect::Stat;
    statsLeft_ = int(messageIds.size());
    postAfterStat_ = post;
    if (post)
        out += "POST\r\n";
    return out;
}

QByteArray NntpSession::group(const QString &name)
{
    expecting_ = Expect::Group;
    return "GROUP " + withoutLineBreaks(name).toUtf8() + "\r\n";
}

void NntpSession::articleStarted()
{
    expecting_ = Expect::PostResult;
    articleWritten_ = false;
    postAfterResult_ = false;
    statsAfterResult_ = 0;
}

QByteArray NntpSession::postAfterArticle(const QStringList &statIds)
{
    QByteArray out;
    for (const QString &id : statIds)
        out += "STAT <" + withoutLineBreaks(id).toUtf8() + ">\r\n";
    postAfterResult_ = true;
    statsAfterResult_ = int(statIds.size());
    return out + "POST\r\n";
}

bool NntpSession::inTurn(const QByteArray &code) const
{
    switch (expecting_) {
    case Expect::Greeting:
        return code == "200 " || code == "201 ";
    case Expect::AuthUser:
        return code == "381 " || code == "281 ";
    case Expect::AuthPass:
        return code == "281 ";
    case Expect::PostGo:
        return code == "340 " || code == "435 " || code == "441 ";
    case Expect::PostResult:
        return (code == "240 " && articleWritten_) || code == "441 " || code == "435 ";
    case Expect::Stat:
    case Expect::Group:
        return false; // answered before the table of posting replies
    }
    return false;
}

QByteArray NntpSession::Reply::code() const
{
    const QByteArray head = text.left(4).toLatin1();
    return head.size() >= 3 && std::isdigit(uchar(head[0])) && std::isdigit(uchar(head[1]))
            && std::isdigit(uchar(head[2])) && (head.size() == 3 || head[3] == ' ')
        ? head.left(3)
        : QByteArray();
}

std::optional<NntpSession::Reply> NntpSession::next()
{
    const Expect awaited = expecting_;
    std::optional<Reply> r = judge();
    if (r)
        r->awaited = awaited;
    return r;
}

std::optional<NntpSession::Reply> NntpSession::judge()
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
        const QString text = QString::fromUtf8(line);
        if (text.trimmed().isEmpty())
            continue;
        const QByteArray code = line.left(4);
        if (code == "205 ")
            return Reply{Event::Farewell, text};
        if (expecting_ == Expect::Stat) {
            Event e = Event::Failed;
            if (code == "223 ")
                e = Event::Present;
            else if (code == "430 ")
                e = Event::Missing;
            else if (code == "412 ")
                e = Event::NeedsGroup;
            else if (code.startsWith('4') || code.startsWith('5'))
                // Anything but a server going away (400, 502, 503) says
                // this server will not check: retrying would loop.
                e = code == "400 " || code == "502 " || code == "503 " ? Event::Failed : Event::CannotCheck;
            if (--statsLeft_ <= 0 && postAfterStat_) {
                // The POST sent with the STATs is answered next.
                postAfterStat_ = false;
                expecting_ = Expect::PostGo;
                articleWritten_ = false;
            }
            return Reply{e, text};
        }
        if (expecting_ == Expect::Group) {
            if (code == "211 ")
                return Reply{Event::GroupChosen, text};
            if ((code.startsWith('4') || code.startsWith('5')) && code != "400 " && code != "502 " && code != "503 ")
                return Reply{Event::CannotCheck, text};
            return Reply{Event::Failed, text};
        }
        // A reply out of turn (an acceptance for an article never sent, a
        // second greeting, a go-ahead while an article is on its way) would
        // count a part that did not reach the server or garble the stream.
        const bool known = code == "200 " || code == "201 " || code == "240 " || code == "281 " || code == "340 "
            || code == "381 " || code == "435 " || code == "441 ";
        if (!known)
            return Reply{Event::Failed, text};
        if (!inTurn(code))
            return Reply{Event::OutOfTurn, text};
        if (code == "200 " || code == "201 ")
            return Reply{Event::Ready, text};
        if (code == "381 ")
            return Reply{Event::SendPassword, text};
        if (code == "281 ")
            return Reply{Event::LoggedIn, text};
        if (code == "340 ")
            return Reply{Event::SendArticle, text};
        if (expecting_ == Expect::PostResult && postAfterResult_) {
            // Whatever became of the article, what was sent behind it is
            // answered next: the STATs, then the POST.
            postAfterResult_ = false;
            articleWritten_ = false;
            expecting_ = statsAfterResult_ > 0 ? Expect::Stat : Expect::PostGo;
            statsLeft_ = std::exchange(statsAfterResult_, 0);
            postAfterStat_ = statsLeft_ > 0;
        }
        if (code == "240 ")
            return Reply{Event::Accepted, text};
        return Reply{Event::Refused, text};
    }
}

QString NntpSession::messageIdIn(const QString &replyText)
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
