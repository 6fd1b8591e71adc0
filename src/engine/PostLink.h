// One posting connection as a state machine: it connects, logs in, posts the
// parts the run gives it (asking the server first for a part that may be
// there already), sends the run's post checks, paces its article bytes by
// the run's speed limit, and after a failure backs off and connects again.
// It has no socket and no timer of its own (see LinkPorts.h): it reports
// what happened to its owner, the run, and asks it for work; the run decides.
//
// The commands in flight are the pipeline's queue: pipelining is more than
// one entry (the POST for the next part behind an article, STATs in front
// of a POST), and what the connection waits for is read off its front.
#pragma once

#include "engine/LinkPorts.h"
#include "engine/NntpPipeline.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tessaly {

class SendPacer;

struct LinkSettings
{
    bool login = false;
    QString user;
    QString password;
    int connectMs = 30000;     // connecting to the server
    int replyMs = 120000;      // a greeting, a reply, or sent data to drain
    int restartMs = 10000;     // the first wait after a failure, doubled per quick failure
    int backoffMaxMs = 300000; // the longest wait between failures
    bool pipelinePosts = true; // the next POST behind the article before it
};

class PostLink : public TransportEvents
{
public:
    enum class State : quint8 { Idle, Connecting, Greeting, LoggingIn, Ready, Busy, WaitingForChecks, BackingOff, Retired };

    static constexpr int kRefusalLimit = 5;
    static constexpr int kChecksWithAPost = 8; // checks go with a POST once this many are due
    static constexpr int kMostChecksAtOnce = 64;
    // A reply this much later than the one before it, with nothing sent in
    // between, was held back for an acknowledgement (delayed by 40 ms or
    // more): from then on acknowledgements go at once on this connection.
    static constexpr double kHeldBackMs = 30;

    PostLink(int number, const LinkSettings &settings, LinkOwner &owner, LinkTransport &transport,
             LinkTimers &timers, SendPacer &pacer);

    void start();
    // The run is over: an article on its way is cancelled, the connection
    // closed; nothing is reported.
    void stop();
    // Work may have come back for a link that waits for checks: it asks
    // again on the next turn of the event loop.
    void wakeSoon();
    void timerFired(LinkTimer timer);

    // TransportEvents
    void connected() override;
    void received(const QByteArray &bytes) override;
    void written(qint64 bytes) override;
    void closedByPeer() override;
    void transportFailed(const QString &why, bool fatal) override;

    // What the connection list shows.
    int number() const { return number_; }
    State state() const { return state_; }
    const Attempt *attempt() const { return attempt_ ? &*attempt_ : nullptr; }
    const Attempt *behind() const { return behind_ ? &*behind_ : nullptr; }
    const InFlight *front() const { return pipeline_.front(); }
    // "the reply to POST", as the time-out message and the log say it.
    QString waitingFor() const;
    bool sendingArticle() const { return out_.size > 0 && pipeline_.inFlight(Command::Article) > 0; }
    qint64 articleBytes() const { return out_.size; }
    qint64 articleSent() const { return out_.counted; }
    const QString &errorText() const { return error_; }
    int checksInFlight() const { return int(checks_.size()); }

private:
    enum class Look : quint8 { None, First, AfterRefusal };
    static constexpr int kLookTag = 1;
    static constexpr int kCheckTag = 2;

    bool live() const;
    void connectNow();
    void send(const QByteArray &bytes);
    void onReply(const NntpPipeline::Reply &reply);
    void failedReply(const NntpPipeline::Reply &reply);
    void unexpected(const NntpPipeline::Reply &reply);
    void greeted(const NntpPipeline::Reply &reply);
    void becomeReady();
    void askForWork();
    void postWithChecks();
    void sendChecks(const QList<CheckTicket> &checks, bool withPost);
    void checkAnswered(const NntpPipeline::Reply &reply);
    void checksDone();
    void groupChosen(const NntpPipeline::Reply &reply);
    void look(Look kind);
    void lookAnswered(const NntpPipeline::Reply &reply);
    void refusedReply(const NntpPipeline::Reply &reply);
    void goAhead();
    void sendPiece();
    void addBehind();
    void articleAccepted(const NntpPipeline::Reply &reply);
    void waitForChecks(int ms);
    void wake();
    void retire(bool say);
    void dropConnection();
    void fail(const LinkFailure &failure);
    void retryLater();
    void reconnectNow();
    void reconnectSoon();

    const int number_;
    const LinkSettings settings_;
    LinkOwner &owner_;
    LinkTransport &transport_;
    LinkTimers &timers_;
    SendPacer &pacer_;

    // The article on its way.
    struct Outgoing
    {
        QByteArray bytes;      // the article (and the commands behind it)
        qint64 size = 0;       // the article's own bytes
        qint64 handedOver = 0; // bytes given to the transport
        qint64 counted = 0;    // article bytes the network took
        bool behindAdded = false;
    };
    // A server that wants a group selected before STAT.
    struct Groups
    {
        bool wanted = false; // it said 412: checks here select a group first
        bool chosen = false;
        bool askedForCheck = false; // GROUP sent for the check in front
        bool askedForLook = false;
    };
    // Failures before an article was accepted since the connection was
    // made; each one doubles the wait before the next try.
    struct Backoff
    {
        int quickFailures = 0;
        bool acceptedSinceConnect = false;
    };

    State state_ = State::Idle;
    NntpPipeline pipeline_;
    std::optional<Attempt> attempt_; // the part in hand
    std::optional<Attempt> behind_;  // the part whose POST went behind its article
    QList<CheckTicket> checks_;      // the checks in flight, in order
    ItemId lastItem_ = 0;
    Look looking_ = Look::None;
    Groups group_;
    Outgoing out_;
    Backoff backoff_;
    quint64 generation_ = 0; // bumped whenever the connection is dropped
    bool sentSinceRead_ = false;
    double waitingSince_ = -1; // when the last read left it waiting with nothing to send
    bool ackAtOnce_ = false;   // the server holds replies back for acknowledgements
    QString error_;
};

} // namespace tessaly
