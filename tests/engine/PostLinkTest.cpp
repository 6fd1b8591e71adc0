// One posting connection's state machine, without a socket and without real
// time: the transport records what is written, the clock moves by hand, and
// the run is a script that hands out work and records what it is told.
#include "engine/PostLink.h"
#include "engine/SendPacer.h"

#include <QList>

#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

using namespace Qt::StringLiterals;
using namespace tessaly;
using State = PostLink::State;
using Event = NntpPipeline::Event;

namespace {

class FakeTransport : public LinkTransport
{
public:
    void setEvents(TransportEvents *e) override { events = e; }
    void open() override
    {
        ++opens;
        open_ = false;
    }
    qint64 send(const QByteArray &bytes) override
    {
        written += bytes;
        writes << bytes;
        if (holdBack) {
            unsent_ += bytes.size();
            return 0;
        }
        return bytes.size();
    }
    qint64 unsent() const override { return unsent_; }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    void awaitingReply() override { ++quickAcks; }

    void accept()
    {
        open_ = true;
        events->connected();
    }
    // Hands over what was held back, as the kernel takes it.
    void drain()
    {
        const qint64 n = std::exchange(unsent_, 0);
        events->written(n);
    }

    TransportEvents *events = nullptr;
    QByteArray written;
    QList<QByteArray> writes;
    int opens = 0;
    int quickAcks = 0;
    bool holdBack = false;

private:
    bool open_ = false;
    qint64 unsent_ = 0;
};

class ManualTimers : public LinkTimers
{
public:
    double nowMs() const override { return now; }
    void start(LinkTimer t, int ms) override { due[t] = now + ms; }
    void stop(LinkTimer t) override { due.erase(t); }
    bool armed(LinkTimer t) const { return due.count(t) > 0; }
    double in(LinkTimer t) const { return due.at(t) - now; }
    // Moves the clock on, firing what falls due in order.
    void advance(double ms, PostLink &link)
    {
        const double until = now + ms;
        for (;;) {
            auto first = due.end();
            for (auto it = due.begin(); it != due.end(); ++it)
                if (it->second <= until && (first == due.end() || it->second < first->second))
                    first = it;
            if (first == due.end())
                break;
            now = std::max(now, first->second);
            const LinkTimer t = first->first;
            due.erase(first);
            link.timerFired(t);
        }
        now = until;
    }

    double now = 1000;
    std::map<LinkTimer, double> due;
};

Attempt part(int k, const QString &id = {})
{
    Attempt a;
    a.item = 7;
    a.part = k;
    a.totalParts = 9;
    a.messageId = id.isEmpty() ? u"p%1@t"_s.arg(k) : id;
    return a;
}

LinkWork post(const Attempt &a)
{
    LinkWork w;
    w.kind = LinkWork::Kind::Post;
    w.attempt = a;
    return w;
}

CheckTicket ticket(int k)
{
    return {7, k, u"c%1@t"_s.arg(k), 0};
}

// The run, as a script: work and parts behind articles come from queues;
// what the link reports is recorded as short words.
class ScriptedOwner : public LinkOwner
{
public:
    std::deque<LinkWork> work;
    std::deque<Attempt> behindParts;
    QList<CheckTicket> checksWithPost; // handed out once, to the first ask for at least 8
    bool looks = true;
    bool itemFailsWhenRefusedTooOften = false;
    bool moreWork = false;
    bool wanted = true;
    QStringList said;
    QList<LinkFailure> failures;
    QString articleIds; // the IDs the articles were made with

    LinkWork nextWork(int, ItemId) override
    {
        if (work.empty())
            return {};
        LinkWork w = work.front();
        work.pop_front();
        return w;
    }
    std::optional<Attempt> partBehind(int, const Attempt &, bool) override
    {
        if (behindParts.empty())
            return std::nullopt;
        Attempt a = behindParts.front();
        behindParts.pop_front();
        return a;
    }
    QList<CheckTicket> dueChecks(int, int atLeast) override
    {
        if (atLeast < PostLink::kChecksWithAPost && atLeast > 1)
            return {};
        return std::exchange(checksWithPost, {});
    }
    bool stillWanted(const Attempt &) override { return wanted; }
    QString groupFor(ItemId) override { return u"alt.test"_s; }
    bool mayLook() override { return looks; }
    bool workLeft(int) override { return moreWork; }
    QByteArray article(int, Attempt &a, QByteArray) override
    {
        if (a.freshIdNext) {
            a.messageId = u"fresh%1@t"_s.arg(++fresh);
            a.origin = Attempt::Origin::Fresh;
            a.mayBeOnServer = false;
        }
        articleIds += a.messageId + u' ';
        return "Message-ID: <" + a.messageId.toUtf8() + ">\r\n\r\nbody of " + QByteArray::number(a.part) + "\r\n.\r\n";
    }
    bool goingOut(int, const Attempt &) override { return true; }
    void sent(int, qint64 bytes) override { sentBytes += bytes; }
    void accepted(int, const Attempt &a, const QString &serverId) override
    {
        said << u"accepted %1%2"_s.arg(a.part).arg(serverId.isEmpty() ? QString() : u" as "_s + serverId);
    }
    void found(int, const Attempt &a) override { said << u"found %1"_s.arg(a.part); }
    void refused(int, const Attempt &a, bool article, const QString &) override
    {
        said << u"refused %1%2"_s.arg(a.part).arg(article ? u" article"_s : QString());
    }
    bool refusedTooOften(int, const Attempt &a, const QString &) override
    {
        said << u"too often %1"_s.arg(a.part);
        return itemFailsWhenRefusedTooOften;
    }
    void looksUnavailable(int, const QString &) override { said << u"no looks"_s; }
    void checked(int, const CheckTicket &c, Event e, const QString &) override
    {
        const char *word = e == Event::Present ? "present" : e == Event::Missing ? "missing" : e == Event::NeedsGroup ? "again" : "cannot";
        said << u"check %1 %2"_s.arg(c.part).arg(QString::fromLatin1(word));
    }
    void released(int, const Attempt *a, const Attempt *b, const QList<CheckTicket> &checks) override
    {
        said << u"released%1%2%3"_s.arg(a ? u" part %1"_s.arg(a->part) : QString())
                    .arg(b ? u" behind %1"_s.arg(b->part) : QString())
                    .arg(checks.isEmpty() ? QString() : u" checks %1"_s.arg(checks.size()));
    }
    void failed(int, const LinkFailure &f) override { failures << f; }
    bool closedEarly(int) override { return false; }
    void changed(int) override {}
    void retired(int) override { said << u"retired"_s; }

    int fresh = 0;
    qint64 sentBytes = 0;
};

// A link and its fakes, wired to each other.
struct Rig
{
    Rig()
        : link(1, LinkSettings{.login = true, .user = u"me"_s, .password = u"pw"_s}, owner, transport, timers, pacer)
    {
        transport.setEvents(&link);
    }
    ScriptedOwner owner;
    FakeTransport transport;
    ManualTimers timers;
    SendPacer pacer;
    PostLink link;

    // Connected (again) and logged in, with the work given.
    void greet(std::initializer_list<LinkWork> work)
    {
        owner.work.assign(work.begin(), work.end());
        transport.accept();
        transport.events->received("200 hi\r\n381 more\r\n281 in\r\n");
    }
};

class Link : public ::testing::Test, protected Rig
{
protected:
    void ready(std::initializer_list<LinkWork> work = {})
    {
        link.start();
        greet(work);
    }
    void reply(const QByteArray &bytes) { transport.events->received(bytes); }
    QByteArray take() { return std::exchange(transport.written, {}); }
};

} // namespace

TEST_F(Link, LogsInPostsAndSendsTheNextPostBehindEachArticle)
{
    ready({post(part(1))});
    EXPECT_EQ(take(), "AUTHINFO user me\r\nAUTHINFO pass pw\r\nPOST\r\n");
    owner.behindParts = {part(2)};
    reply("340 go\r\n");
    // The article and the POST for part 2, in one write.
    ASSERT_EQ(transport.writes.size(), 4);
    EXPECT_TRUE(transport.writes.last().startsWith("Message-ID: <p1@t>"));
    EXPECT_TRUE(transport.writes.last().endsWith("body of 1\r\n.\r\nPOST\r\n"));
    EXPECT_EQ(link.behind()->part, 2);
    EXPECT_EQ(link.waitingFor(), u"the reply to the article"_s);
    take();
    // The 240 and the 340 come in writes of their own, the second a delayed
    // acknowledgement later: the server holds replies back until the one
    // before is acknowledged. From then on the link acknowledges at once
    // whenever it waits with nothing to send.
    EXPECT_EQ(transport.quickAcks, 0);
    reply("240 <srv.1@host> posted\r\n");
    EXPECT_EQ(link.attempt()->part, 2);
    EXPECT_EQ(link.waitingFor(), u"the reply to POST"_s);
    timers.now += 40;
    owner.behindParts = {part(3)};
    reply("340 go\r\n");
    EXPECT_EQ(transport.quickAcks, 0); // the article carries the acknowledgement
    EXPECT_TRUE(take().endsWith("body of 2\r\n.\r\nPOST\r\n"));
    reply("240 ok\r\n");
    EXPECT_EQ(transport.quickAcks, 1);
    reply("340 go\r\n");
    reply("240 ok\r\n");
    EXPECT_EQ(owner.said,
              (QStringList{u"accepted 1 as srv.1@host"_s, u"accepted 2"_s, u"accepted 3"_s, u"retired"_s}));
    EXPECT_EQ(link.state(), State::Retired);
    EXPECT_FALSE(take().endsWith("QUIT\r\n")); // no QUIT: the connection just closes
    EXPECT_FALSE(transport.isOpen());
    // Only article bytes count as posted, not the POST behind one.
    EXPECT_EQ(owner.sentBytes, 3 * QByteArray("Message-ID: <p1@t>\r\n\r\nbody of 1\r\n.\r\n").size());
}

// Every reply to every command: what the link does next.
TEST_F(Link, EachReplyToEachCommand)
{
    enum class To { Greeting, AuthUser, AuthPass, Post, Article, Check, Look, Group };
    const struct
    {
        To to;
        QByteArray reply;
        QString outcome; // what the run is told first, "" for nothing
        State state;
        LinkFailure::Kind failure = LinkFailure::Kind::Passing;
    } cases[] = {
        {To::Greeting, "200 ok", {}, State::LoggingIn},
        {To::Greeting, "201 no posting", {}, State::LoggingIn},
        {To::Greeting, "400 busy", {}, State::BackingOff},
        {To::Greeting, "502 go away", {}, State::BackingOff},
        {To::Greeting, "240 what", {}, State::BackingOff},
        {To::Greeting, "hello there", {}, State::BackingOff},
        {To::Greeting, "200", {}, State::BackingOff},
        {To::AuthUser, "381 more", {}, State::LoggingIn},
        {To::AuthUser, "281 in", {}, State::Busy},
        {To::AuthUser, "481 no", {}, State::BackingOff, LinkFailure::Kind::LoginRefused},
        {To::AuthUser, "502 no", {}, State::BackingOff, LinkFailure::Kind::LoginRefused},
        {To::AuthPass, "281 in", {}, State::Busy},
        {To::AuthPass, "481 wrong", {}, State::BackingOff, LinkFailure::Kind::LoginRefused},
        {To::AuthPass, "482 sequence", {}, State::BackingOff, LinkFailure::Kind::LoginRefused},
        {To::AuthPass, "381 again", {}, State::BackingOff},
        {To::Post, "340 go", {}, State::Busy},
        {To::Post, "441 no", u"refused 1"_s, State::Busy},
        {To::Post, "435 no", u"refused 1"_s, State::Busy},
        {To::Post, "440 not allowed", u"released part 1"_s, State::BackingOff, LinkFailure::Kind::PostingRefused},
        {To::Post, "500 what", u"released part 1"_s, State::BackingOff, LinkFailure::Kind::PostingRefused},
        {To::Post, "480 login first", u"released part 1"_s, State::BackingOff}, // a login is set here
        {To::Post, "240 posted", u"released part 1"_s, State::BackingOff},
        {To::Post, "200 again", u"released part 1"_s, State::BackingOff},
        {To::Post, "205 closing", {}, State::Busy}, // the hang-up that follows says it
        {To::Article, "240 ok", u"accepted 1"_s, State::Retired},
        {To::Article, "441 failed", u"refused 1 article"_s, State::Busy},
        {To::Article, "435 duplicate", u"refused 1 article"_s, State::Busy},
        {To::Article, "437 rejected", u"released part 1"_s, State::BackingOff},
        {To::Article, "340 go", u"released part 1"_s, State::BackingOff},
        {To::Check, "223 0 <c1@t>", u"check 1 present"_s, State::Retired},
        {To::Check, "430 no such", u"check 1 missing"_s, State::Retired},
        {To::Check, "500 what", u"check 1 cannot"_s, State::Retired},
        {To::Check, "501 syntax", u"check 1 cannot"_s, State::Retired},
        {To::Check, "480 login first", u"check 1 cannot"_s, State::Retired},
        {To::Check, "240 posted", u"released checks 1"_s, State::BackingOff},
        {To::Check, "503 bye", u"released checks 1"_s, State::BackingOff},
        {To::Check, "412 group?", {}, State::Busy}, // GROUP, then the STAT again
        {To::Look, "223 0 <p1@t>", u"found 1"_s, State::Retired},
        {To::Look, "430 no such", {}, State::Busy},
        {To::Look, "500 what", u"no looks"_s, State::Busy},
        {To::Group, "211 5 1 5 alt.test", {}, State::Busy},
        {To::Group, "411 no such group", u"check 1 cannot"_s, State::Retired},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply.constData());
        Rig r;
        auto &[o, t, timers, pacer, l] = r;
        LinkWork w = post(part(1));
        w.attempt.lookFirst = w.attempt.mayBeOnServer = c.to == To::Look;
        if (c.to == To::Check || c.to == To::Group)
            w.kind = LinkWork::Kind::Checks, w.checks = {ticket(1)};
        o.work = {w};
        l.start();
        t.accept();
        // The replies before: none to the greeting, up to 340 to the article.
        const QList<QByteArray> before = {"200 hi\r\n", "381 more\r\n", "281 in\r\n", "340 go\r\n"};
        for (const QByteArray &line : before.mid(0, c.to == To::Article ? 4 : std::min(int(c.to), 3)))
            t.events->received(line);
        if (c.to == To::Group)
            t.events->received("412 group?\r\n");
        o.said.clear();
        t.events->received(c.reply + "\r\n");
        EXPECT_EQ(o.said.value(0), c.outcome);
        EXPECT_EQ(l.state(), c.state);
        if (c.state == State::BackingOff) {
            ASSERT_EQ(o.failures.size(), 1);
            EXPECT_EQ(o.failures[0].kind, c.failure);
            EXPECT_TRUE(o.failures[0].text.endsWith(QString::fromLatin1(c.reply)));
        }
    }
}

TEST_F(Link, RepliesCutAnywhereLeadToTheSameRun)
{
    // Blank and padded lines between replies are no replies.
    const QByteArray server =
        "200 hi\r\n\r\n381 more\r\n281 in\r\n340 go\r\n240 ok\r\n   \r\n340 go\r\n441 dup\r\n340 go\r\n240 ok\r\n";
    QByteArray whole;
    QStringList said;
    for (int cut = 0; cut < server.size(); ++cut) {
        SCOPED_TRACE(cut);
        Rig r;
        ScriptedOwner &o = r.owner;
        FakeTransport &t = r.transport;
        o.work = {post(part(1))};
        o.behindParts = {part(2)};
        r.link.start();
        t.accept();
        if (cut > 0)
            t.events->received(server.left(cut));
        t.events->received(server.mid(cut));
        if (cut == 0) {
            whole = t.written;
            said = o.said;
        }
        EXPECT_EQ(t.written, whole);
        EXPECT_EQ(o.said, said);
    }
    // Part 2 was refused and went again under a fresh ID, on the same connection.
    EXPECT_EQ(said, (QStringList{u"accepted 1"_s, u"refused 2 article"_s, u"accepted 2"_s, u"retired"_s}));
    EXPECT_EQ(whole.count("Message-ID: <fresh1@t>"), 1);
}

TEST_F(Link, ADisconnectMidArticleGoesBackAtOnceAfterProgressElseAfterTheWait)
{
    owner.moreWork = true;
    ready({post(part(1)), post(part(2))});
    transport.holdBack = true; // the article is still on its way
    reply("340 go\r\n");
    transport.drain();
    transport.holdBack = false;
    reply("240 ok\r\n");
    EXPECT_EQ(link.attempt()->part, 2);
    reply("340 go\r\n");
    owner.said.clear();
    transport.events->closedByPeer();
    EXPECT_EQ(owner.said, QStringList{u"released part 2"_s});
    EXPECT_TRUE(test::logHas(u"Disconnected while uploading part: 2"_s));
    EXPECT_EQ(owner.failures.last().kind, LinkFailure::Kind::Closed);
    // An article got through on this connection: it connects again at once.
    EXPECT_EQ(link.state(), State::Connecting);
    EXPECT_TRUE(timers.armed(LinkTimer::Restart));
    EXPECT_EQ(timers.in(LinkTimer::Restart), 0);
    timers.advance(0, link);
    EXPECT_EQ(transport.opens, 2);

    // Closed again before anything got through: it waits before the next try.
    greet({post(part(2))});
    reply("340 go\r\n");
    transport.events->closedByPeer();
    EXPECT_EQ(link.state(), State::BackingOff);
    EXPECT_EQ(timers.in(LinkTimer::Restart), 10000);
}

TEST_F(Link, RefusedFiveTimesItBacksOffTenSecondsDoublingToFiveMinutes)
{
    ready({post(part(1))});
    reply("340 go\r\n");
    for (int k = 0; k < 4; ++k)
        reply("441 no\r\n340 go\r\n");
    owner.said.clear();
    reply("441 no\r\n");
    EXPECT_EQ(owner.said, (QStringList{u"refused 1 article"_s, u"too often 1"_s, u"released part 1"_s}));
    EXPECT_TRUE(owner.failures.last().text.startsWith(u"The server refused the same article 5 times in a row"_s));
    EXPECT_EQ(link.state(), State::BackingOff);
    // Each failure before an article gets through doubles the wait, up to five minutes.
    QList<double> waits;
    for (int k = 0; k < 7; ++k) {
        waits << timers.in(LinkTimer::Restart) / 1000;
        timers.advance(timers.in(LinkTimer::Restart), link);
        EXPECT_EQ(link.state(), State::Connecting);
        transport.events->transportFailed(u"0 - Connection refused"_s, false);
    }
    EXPECT_EQ(waits, (QList<double>{10, 20, 40, 80, 160, 300, 300}));
    // One that lets the part's item fail goes on at once with other work.
    owner.itemFailsWhenRefusedTooOften = true;
    timers.advance(300000, link);
    greet({post(part(3))});
    for (int k = 0; k < 5; ++k)
        reply("441 no\r\n");
    EXPECT_EQ(link.state(), State::Connecting);
    EXPECT_EQ(timers.in(LinkTimer::Restart), 0);
}

TEST_F(Link, APartThatMayBeThereIsAskedForFirstAndAfterARefusal)
{
    Attempt unsure = part(1);
    unsure.mayBeOnServer = unsure.lookFirst = true;
    ready({post(unsure), post(unsure)});
    EXPECT_TRUE(take().endsWith("STAT <p1@t>\r\n"));
    reply("430 no such\r\n");
    EXPECT_EQ(take(), "POST\r\n");
    reply("340 go\r\n");
    take();
    // "Duplicate": the server may hold it under this ID after all.
    reply("435 duplicate\r\n");
    EXPECT_EQ(take(), "STAT <p1@t>\r\n");
    reply("223 0 <p1@t>\r\n");
    EXPECT_EQ(owner.said.mid(0, 2), (QStringList{u"refused 1 article"_s, u"found 1"_s}));

    // Not there after the refusal: posted under a fresh ID.
    take();
    reply("430 no such\r\n"); // the look before it
    reply("340 go\r\n");
    reply("441 refused\r\n");
    EXPECT_TRUE(take().endsWith("STAT <p1@t>\r\n"));
    reply("430 no such\r\n");
    EXPECT_EQ(take(), "POST\r\n");
    reply("340 go\r\n");
    EXPECT_TRUE(take().startsWith("Message-ID: <fresh1@t>"));
}

TEST_F(Link, ChecksGoBehindAPostAndTheirAnswersComeInTurn)
{
    ready({post(part(1))});
    take();
    owner.behindParts = {part(2)};
    for (int k = 1; k <= PostLink::kChecksWithAPost; ++k)
        owner.checksWithPost << ticket(k);
    reply("340 go\r\n");
    const QByteArray sent = take();
    EXPECT_TRUE(sent.endsWith("\r\n.\r\nSTAT <c1@t>\r\nSTAT <c2@t>\r\nSTAT <c3@t>\r\nSTAT <c4@t>\r\nSTAT <c5@t>\r\n"
                              "STAT <c6@t>\r\nSTAT <c7@t>\r\nSTAT <c8@t>\r\nPOST\r\n"));
    EXPECT_EQ(link.checksInFlight(), 8);
    owner.said.clear();
    reply("240 ok\r\n223 0\r\n430 gone\r\n");
    EXPECT_EQ(link.waitingFor(), u"the reply to STAT"_s);
    // The connection drops with six checks unanswered: they go back.
    transport.events->closedByPeer();
    EXPECT_EQ(owner.said, (QStringList{u"accepted 1"_s, u"check 1 present"_s, u"check 2 missing"_s,
                                       u"released part 2 checks 6"_s}));
}

TEST_F(Link, TimeOutsSayWhatWasAwaitedAndWaitsForChecksEnd)
{
    link.start();
    timers.advance(30000, link);
    EXPECT_EQ(owner.failures.last().text, u"No connection to the server after 30 s"_s);
    timers.advance(10000, link);
    transport.accept();
    timers.advance(120000, link);
    EXPECT_EQ(owner.failures.last().text, u"The server did not answer for 120 s (waiting for the server's greeting)"_s);
    timers.advance(20000, link);
    greet({post(part(1))});
    reply("340 go\r\n");
    timers.advance(119000, link);
    EXPECT_EQ(link.state(), State::Busy);
    reply("\r\n"); // a blank line is no answer, but the server is there
    timers.advance(119000, link);
    EXPECT_EQ(link.state(), State::Busy);
    timers.advance(1000, link);
    EXPECT_EQ(owner.failures.last().text, u"The server did not answer for 120 s (waiting for the reply to the article)"_s);

    // Nothing to post but checks to come: the link waits, without a time-out.
    timers.advance(40000, link);
    LinkWork wait;
    wait.kind = LinkWork::Kind::Wait;
    wait.waitMs = 5000;
    greet({wait, post(part(2))});
    EXPECT_EQ(link.state(), State::WaitingForChecks);
    EXPECT_FALSE(timers.armed(LinkTimer::Watchdog));
    take();
    timers.advance(5000, link);
    EXPECT_EQ(take(), "POST\r\n");
}

TEST_F(Link, TheSpeedLimitCutsArticlesIntoPacketsAndStopCancels)
{
    pacer.setLimit(1, 1); // 1024 bytes a second, 16-byte packets
    ready({post(part(1))});
    reply("340 go\r\n");
    const int before = int(transport.writes.size());
    timers.advance(1000, link);
    const qsizetype pieces = transport.writes.size() - before;
    EXPECT_GT(pieces, 1);
    for (qsizetype k = before; k < transport.writes.size(); ++k)
        EXPECT_LE(transport.writes[k].size(), 16);
    take();
    link.stop();
    EXPECT_EQ(take(), "CANCEL <p1@t>\r\n"); // a line of the article, which never ends
    EXPECT_EQ(link.state(), State::Retired);
    EXPECT_FALSE(timers.armed(LinkTimer::Send));

    // Between commands nothing is sent: CANCEL is no NNTP command.
    Rig waiting;
    waiting.link.start();
    waiting.greet({post(part(2))});
    waiting.transport.written.clear();
    waiting.link.stop();
    EXPECT_EQ(waiting.transport.written, "");
}
