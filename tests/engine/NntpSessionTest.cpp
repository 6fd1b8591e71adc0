#include "engine/NntpSession.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;
using Event = NntpSession::Event;

namespace {

std::vector<Event> events(NntpSession &s)
{
    std::vector<Event> out;
    while (const auto r = s.next())
        out.push_back(r->event);
    return out;
}

} // namespace

TEST(NntpSession, RepliesCutAnywhereOrPaddedLeadToTheSameEvents)
{
    const QByteArray server = "200 hello\r\n\r\n   \r\n205 just saying\r\n";
    for (int cut = 1; cut < server.size(); ++cut) {
        NntpSession s;
        s.append(server.left(cut));
        std::vector<Event> seen = events(s);
        s.append(server.mid(cut));
        const std::vector<Event> rest = events(s);
        seen.insert(seen.end(), rest.begin(), rest.end());
        ASSERT_EQ(seen, (std::vector<Event>{Event::Ready, Event::Farewell})) << "cut at " << cut;
    }
    // A bare LF ends a line too, and the text comes without its line break.
    NntpSession s;
    s.append("201 no posting\n");
    const auto r = s.next();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->text, u"201 no posting"_s);
}

TEST(NntpSession, EachReplyIsJudgedByWhatIsAwaitedWhenItIsRead)
{
    NntpSession s;
    s.append("200 hi\r\n381 more\r\n281 ok\r\n340 go\r\n240 posted\r\n");
    ASSERT_EQ(s.next()->event, Event::Ready);
    EXPECT_EQ(s.authUser(u"me\r\nQUIT"_s), QByteArray("AUTHINFO user me  QUIT\r\n")); // one line, always
    ASSERT_EQ(s.next()->event, Event::SendPassword);
    EXPECT_EQ(s.authPass(u"pw"_s), QByteArray("AUTHINFO pass pw\r\n"));
    ASSERT_EQ(s.next()->event, Event::LoggedIn);
    EXPECT_EQ(s.post(), QByteArray("POST\r\n"));
    ASSERT_EQ(s.next()->event, Event::SendArticle);
    s.articleStarted();
    // The article is not written whole yet: its acceptance cannot have come.
    NntpSession early = s;
    EXPECT_EQ(early.next()->event, Event::OutOfTurn);
    s.articleWritten();
    EXPECT_EQ(s.next()->event, Event::Accepted);
    EXPECT_FALSE(s.next());
}

TEST(NntpSession, APostBehindAnArticleIsAnsweredAfterTheArticleWhateverBecameOfIt)
{
    for (const QByteArray result : {"240 posted", "441 refused", "435 duplicate"}) {
        NntpSession s;
        s.articleStarted();
        s.articleWritten();
        EXPECT_EQ(s.postAfterArticle(), QByteArray("POST\r\n"));
        s.append(result + "\r\n340 go\r\n");
        const auto first = s.next();
        ASSERT_TRUE(first) << result.constData();
        EXPECT_EQ(first->event, result.startsWith("240") ? Event::Accepted : Event::Refused);
        EXPECT_EQ(first->awaited, Expect::PostResult);
        const auto go = s.next();
        ASSERT_TRUE(go);
        EXPECT_EQ(go->event, Event::SendArticle) << result.constData();
        EXPECT_EQ(go->awaited, Expect::PostGo);
    }
    // Checks behind the article too: their answers come between.
    {
        NntpSession s;
        s.articleStarted();
        s.articleWritten();
        EXPECT_EQ(s.postAfterArticle({u"a@b"_s, u"c@d"_s}), QByteArray("STAT <a@b>\r\nSTAT <c@d>\r\nPOST\r\n"));
        s.append("240 posted\r\n223 0 <a@b>\r\n430 no\r\n340 go\r\n");
        EXPECT_EQ(events(s), (std::vector<Event>{Event::Accepted, Event::Present, Event::Missing, Event::SendArticle}));
    }
    // Without one, a go-ahead after the result is out of turn.
    NntpSession s;
    s.articleStarted();
    s.articleWritten();
    s.append("240 posted\r\n340 go\r\n");
    EXPECT_EQ(events(s), (std::vector<Event>{Event::Accepted, Event::OutOfTurn}));
}

TEST(NntpSession, RepliesOutOfTurnUnknownRepliesAndRunawayLines)
{
    struct Case
    {
        const char *name;
        Expect state;
        QByteArray reply;
        Event event;
    };
    const Case cases[] = {
        {"second greeting", Expect::PostGo, "200 again\r\n", Event::OutOfTurn},
        {"240 to POST", Expect::PostGo, "240 posted\r\n", Event::OutOfTurn},
        {"340 during an article", Expect::PostResult, "340 go\r\n", Event::OutOfTurn},
        {"381 to the password", Expect::AuthPass, "381 again\r\n", Event::OutOfTurn},
        {"refusal of POST", Expect::PostGo, "441 no\r\n", Event::Refused},
        {"refusal of an article", Expect::PostResult, "435 dup\r\n", Event::Refused},
        {"service not available", Expect::Greeting, "400 busy\r\n", Event::Failed},
        {"posting not allowed", Expect::PostGo, "440 no posting\r\n", Event::Failed},
        {"no code at all", Expect::Greeting, "hello there\r\n", Event::Failed},
        {"code without its blank", Expect::Greeting, "200\r\n", Event::Failed},
    };
    for (const Case &c : cases) {
        NntpSession s;
        switch (c.state) {
        case Expect::Greeting: break;
        case Expect::AuthUser: s.authUser(u"u"_s); break;
        case Expect::AuthPass: s.authPass(u"p"_s); break;
        case Expect::PostGo: s.post(); break;
        case Expect::PostResult: s.articleStarted(); break;
        case Expect::Stat: case Expect::Group: break;
        }
        s.append(c.reply);
        const auto r = s.next();
        ASSERT_TRUE(r) << c.name;
        EXPECT_EQ(r->event, c.event) << c.name;
    }

    // A line that never ends is an error once it passes 64 KiB, and is dropped.
    NntpSession s;
    s.append(QByteArray(NntpSession::MaxLine, 'x'));
    EXPECT_FALSE(s.next());
    s.append("x");
    const auto r = s.next();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->event, Event::Failed);
    EXPECT_EQ(r->text, u"The server sent a line longer than 64 KiB"_s);
    s.append("200 fresh\r\n");
    EXPECT_EQ(s.next()->event, Event::Ready);
}

TEST(NntpSession, TheIdAnAcceptingReplyNames)
{
    EXPECT_EQ(NntpSession::messageIdIn(u"240 <new.1@host> article posted ok"_s), u"new.1@host"_s);
    EXPECT_EQ(NntpSession::messageIdIn(u"240 article posted <a@b>"_s), u"a@b"_s);
    for (const QString &none : {u"240 article posted ok"_s, u"240 <no-at-sign> ok"_s, u"240 <@host>"_s,
                                u"240 <a b@c>"_s, u"240 <a@b"_s, u"240 <>"_s})
        EXPECT_TRUE(NntpSession::messageIdIn(none).isEmpty()) << qPrintable(none);
}

TEST(NntpSession, ChecksAskWithStatAndSelectAGroupWhenTold)
{
    NntpSession s;
    EXPECT_EQ(s.stat(u"a.1@host"_s), QByteArray("STAT <a.1@host>\r\n"));
    s.append("223 0 <a.1@host>\r\n");
    EXPECT_EQ(s.next()->event, Event::Present);
    const struct
    {
        QByteArray reply;
        Event event;
    } stat[] = {{"430 no such article\r\n", Event::Missing}, {"412 no group selected\r\n", Event::NeedsGroup},
                {"500 what?\r\n", Event::CannotCheck},        {"501 syntax\r\n", Event::CannotCheck},
                {"240 posted\r\n", Event::Failed},            {"480 login first\r\n", Event::CannotCheck},
                {"503 going away\r\n", Event::Failed},       {"hello\r\n", Event::Failed}};
    for (const auto &c : stat) {
        s.stat(u"x@y"_s);
        s.append(c.reply);
        EXPECT_EQ(s.next()->event, c.event) << c.reply.constData();
    }
    EXPECT_EQ(s.group(u"alt.test\r\n"_s), QByteArray("GROUP alt.test  \r\n"));
    s.append("211 5 1 5 alt.test\r\n");
    EXPECT_EQ(s.next()->event, Event::GroupChosen);
    s.group(u"alt.none"_s);
    s.append("411 no such group\r\n");
    EXPECT_EQ(s.next()->event, Event::CannotCheck);
    // After a check the session posts again; STAT and POST can go in one
    // write, their replies judged in turn (whatever the STAT's answer).
    EXPECT_EQ(s.post(), QByteArray("POST\r\n"));
    s.append("340 go\r\n");
    EXPECT_EQ(s.next()->event, Event::SendArticle);
    for (const QByteArray answer : {"223 0 <a@b>\r\n", "430 gone\r\n", "412 group?\r\n", "500 what?\r\n"}) {
        EXPECT_EQ(s.statsThenPost({u"a@b"_s, u"c@d"_s}, true), QByteArray("STAT <a@b>\r\nSTAT <c@d>\r\nPOST\r\n"));
        s.append(answer + answer + "340 go\r\n");
        EXPECT_NE(s.next()->event, Event::Failed) << answer.constData();
        EXPECT_NE(s.next()->event, Event::Failed) << answer.constData();
        EXPECT_EQ(s.next()->event, Event::SendArticle) << answer.constData();
    }
}
