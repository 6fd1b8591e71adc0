#include "engine/NntpPipeline.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;
using Event = NntpPipeline::Event;

namespace {

std::vector<Event> events(NntpPipeline &p)
{
    std::vector<Event> out;
    while (const auto r = p.next())
        out.push_back(r->event);
    return out;
}

} // namespace

TEST(NntpPipeline, BareLineFeedsAndRunawayLines)
{
    // A bare LF ends a line too, and the text comes without its line break.
    NntpPipeline p;
    p.reset();
    p.append("201 no posting\n");
    const auto r = p.next();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->text, u"201 no posting"_s);
    EXPECT_TRUE(p.idle());

    // A line that never ends is an error once it passes 64 KiB, and is dropped.
    p.reset();
    p.append(QByteArray(NntpPipeline::MaxLine, 'x'));
    EXPECT_FALSE(p.next());
    p.append("x");
    const auto runaway = p.next();
    ASSERT_TRUE(runaway);
    EXPECT_EQ(runaway->event, Event::Failed);
    EXPECT_EQ(runaway->text, u"The server sent a line longer than 64 KiB"_s);
    p.append("200 fresh\r\n");
    EXPECT_EQ(p.next()->event, Event::Ready);
}

TEST(NntpPipeline, EachReplyAnswersTheCommandInFrontInTheOrderTheyWent)
{
    NntpPipeline p;
    p.reset();
    EXPECT_EQ(p.authUser(u"me\r\nQUIT"_s), QByteArray("AUTHINFO user me  QUIT\r\n")); // one line, always
    EXPECT_EQ(p.authPass(u"pw"_s), QByteArray("AUTHINFO pass pw\r\n"));
    EXPECT_EQ(p.post(), QByteArray("POST\r\n"));
    p.append("200 hi\r\n381 more\r\n281 ok\r\n340 go\r\n240 posted\r\n");
    EXPECT_EQ(p.next()->event, Event::Ready);
    EXPECT_EQ(p.next()->event, Event::SendPassword);
    EXPECT_EQ(p.next()->event, Event::LoggedIn);
    EXPECT_EQ(p.next()->event, Event::SendArticle);
    p.articleStarted();
    // The article is not written whole yet: its acceptance cannot have come.
    NntpPipeline early = p;
    EXPECT_EQ(early.next()->event, Event::OutOfTurn);
    p.articleWritten();
    const auto accepted = p.next();
    EXPECT_EQ(accepted->event, Event::Accepted);
    EXPECT_EQ(accepted->answered, Command::Article);
    EXPECT_TRUE(p.idle());
    EXPECT_FALSE(p.next());
    EXPECT_EQ(p.group(u"alt.test\r\n"_s, 1), QByteArray("GROUP alt.test  \r\n"));
    p.append("211 5 1 5 alt.test\r\n");
    EXPECT_EQ(p.next()->event, Event::GroupChosen);

    // Behind an article: checks and the next POST, whatever became of the article.
    for (const QByteArray result : {"240 posted", "441 refused", "435 duplicate"}) {
        NntpPipeline q;
        q.articleStarted();
        q.articleWritten();
        QByteArray sent = q.stat(u"a@b"_s, 7);
        sent += q.stat(u"c@d"_s, 7);
        sent += q.post();
        EXPECT_EQ(sent, QByteArray("STAT <a@b>\r\nSTAT <c@d>\r\nPOST\r\n"));
        EXPECT_EQ(q.inFlight(Command::Stat), 2);
        q.append(result + "\r\n223 0 <a@b>\r\n430 no\r\n340 go\r\n");
        const auto first = q.next();
        EXPECT_EQ(first->event, result.startsWith("240") ? Event::Accepted : Event::Refused);
        const auto stat = q.next();
        EXPECT_EQ(stat->event, Event::Present);
        EXPECT_EQ(stat->tag, 7);
        EXPECT_EQ(events(q), (std::vector<Event>{Event::Missing, Event::SendArticle}));
    }
    // With nothing in flight, a go-ahead is out of turn (and answers nothing).
    NntpPipeline q;
    q.append("340 go\r\n");
    const auto stray = q.next();
    EXPECT_EQ(stray->event, Event::OutOfTurn);
    EXPECT_EQ(stray->tag, -1);
}

TEST(NntpPipeline, TheIdAnAcceptingReplyNames)
{
    EXPECT_EQ(NntpPipeline::messageIdIn(u"240 <new.1@host> article posted ok"_s), u"new.1@host"_s);
    EXPECT_EQ(NntpPipeline::messageIdIn(u"240 article posted <a@b>"_s), u"a@b"_s);
    for (const QString &none : {u"240 article posted ok"_s, u"240 <no-at-sign> ok"_s, u"240 <@host>"_s,
                                u"240 <a b@c>"_s, u"240 <a@b"_s, u"240 <>"_s})
        EXPECT_TRUE(NntpPipeline::messageIdIn(none).isEmpty()) << qPrintable(none);
}
