// What a posting connection (PostLink) deals in and whom it deals with: the
// attempt at one part and the checks it carries, the transport its bytes go
// through, its timers, and the run that owns it. The link has no socket and
// no clock of its own: these seams are all it sees, so tests drive every
// transition with bytes and a hand-moved clock.
#pragma once

#include "engine/NntpPipeline.h"
#include "storage/UploadQueue.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace tessaly {

// One part on its way to the server, as a value.
struct Attempt
{
    enum class Origin : quint8 { Stored, Fresh, Server };

    ItemId item = 0;
    int part = 0;
    int totalParts = 0;
    QString messageId; // the ID the article carries
    Origin origin = Origin::Stored;
    // The part went out before without an answer: a refusal of it may mean
    // the server holds it already under this ID.
    bool mayBeOnServer = false;
    bool lookFirst = false;  // asked for (STAT) before it is posted
    bool freshIdNext = false; // the next article of it gets a new ID
    int refusals = 0;         // in a row
};

// An accepted article to be asked for again.
struct CheckTicket
{
    ItemId item = 0;
    int part = 0;
    QString id;
    double dueMs = 0;
};

// What the run gives a link that has nothing in hand.
struct LinkWork
{
    enum class Kind : quint8 { Post, Checks, Wait, Retire };
    Kind kind = Kind::Retire;
    Attempt attempt;           // Post
    QList<CheckTicket> checks; // Checks
    int waitMs = 0;            // Wait: ask again after this long
};

// Why a link gave up its connection.
struct LinkFailure
{
    enum class Kind : quint8 {
        Passing,        // a reply or a socket error that trying again may mend
        LoginRefused,   // 481, 482, 502 to AUTHINFO
        LoginWanted,    // 480 to POST, and no login is set
        PostingRefused, // 440 or 5xx to POST
        Fatal,          // the transport says retrying cannot help (a refused certificate)
        Closed,         // the server closed the connection (the link said so in the log)
    };
    Kind kind = Kind::Passing;
    QString text;
};

class TransportEvents;

// The bytes of one connection. send() hands bytes over (the array is shared,
// not copied) and returns how many the network took at once; the rest follow
// as TransportEvents::written.
class LinkTransport
{
public:
    virtual ~LinkTransport() = default;
    virtual void setEvents(TransportEvents *events) = 0;
    virtual void open() = 0;
    virtual qint64 send(const QByteArray &bytes) = 0;
    virtual qint64 unsent() const = 0;
    virtual void close() = 0; // drops the connection; harmless when closed
    virtual bool isOpen() const = 0;
    // Nothing is to be sent until the server answers: acknowledge what it
    // sent at once, so that a server that holds small writes back (Nagle)
    // sends its next reply without waiting for our acknowledgement.
    virtual void awaitingReply() {}
};

class TransportEvents
{
public:
    virtual ~TransportEvents() = default;
    virtual void connected() = 0;
    virtual void received(const QByteArray &bytes) = 0;
    virtual void written(qint64 bytes) = 0;
    virtual void closedByPeer() = 0;
    virtual void transportFailed(const QString &why, bool fatal) = 0;
};

enum class LinkTimer : quint8 { Watchdog, Restart, Send, Wake };
inline constexpr int kLinkTimerCount = 4;

// A link's timers and clock; the link is told PostLink::timerFired.
class LinkTimers
{
public:
    virtual ~LinkTimers() = default;
    virtual double nowMs() const = 0;
    virtual void start(LinkTimer timer, int ms) = 0;
    virtual void stop(LinkTimer timer) = 0;
};

// The run, as a link sees it: where work comes from and where what happened
// goes. A link asks and reports; the run decides.
class LinkOwner
{
public:
    virtual ~LinkOwner() = default;

    // Work for a link with nothing in hand; `lastItem` is what it posted last.
    virtual LinkWork nextWork(int link, ItemId lastItem) = 0;
    // The part whose POST may go right behind the article of `current`; none
    // when nothing may. With checksAlone, due checks wait for the answer.
    virtual std::optional<Attempt> partBehind(int link, const Attempt &current, bool checksAlone) = 0;
    // Checks due now, when at least `atLeast` are (0: any).
    virtual QList<CheckTicket> dueChecks(int link, int atLeast) = 0;
    // Whether a part chosen behind an article is still to be posted.
    virtual bool stillWanted(const Attempt &attempt) = 0;
    // The group to select for a server that wants one before STAT.
    virtual QString groupFor(ItemId item) = 0;
    virtual bool mayLook() = 0;
    // Whether anything is left to post or check.
    virtual bool workLeft(int link) = 0;

    // The article for the attempt, its Message-ID chosen (a fresh one when
    // the attempt asks for it); empty when none can be made (the run says why).
    virtual QByteArray article(int link, Attempt &attempt, QByteArray recycled) = 0;
    // Its first byte goes now: recorded first; false when that cannot be done.
    virtual bool goingOut(int link, const Attempt &attempt) = 0;
    // Article bytes the network took.
    virtual void sent(int link, qint64 bytes) = 0;

    virtual void accepted(int link, const Attempt &attempt, const QString &serverId) = 0;
    virtual void found(int link, const Attempt &attempt) = 0; // a look found it on the server
    virtual void refused(int link, const Attempt &attempt, bool articleRefused, const QString &reply) = 0;
    // Refused kRefusalLimit times in a row; true when the run let the part's item fail.
    virtual bool refusedTooOften(int link, const Attempt &attempt, const QString &why) = 0;
    virtual void looksUnavailable(int link, const QString &reply) = 0;
    virtual void checked(int link, const CheckTicket &check, NntpPipeline::Event event, const QString &reply) = 0;
    // The link lets go of what it held (the attempt, a part behind it, checks unanswered).
    virtual void released(int link, const Attempt *attempt, const Attempt *behind, const QList<CheckTicket> &checks) = 0;
    virtual void failed(int link, const LinkFailure &failure) = 0;
    // The connection closed before the greeting: true when the run knows why
    // and stops (a tunnel that refused the server).
    virtual bool closedEarly(int link) = 0;
    virtual void changed(int link) = 0; // what the connection list shows of it
    virtual void retired(int link) = 0;
};

} // namespace tessaly
