#include "engine/PostLink.h"

#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/SendPacer.h"

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

using Event = NntpPipeline::Event;

QString describe(Command command, bool articleWhole)
{
    switch (command) {
    case Command::Greeting:
        return u"the server's greeting"_s;
    case Command::AuthUser:
        return u"the reply to AUTHINFO user"_s;
    case Command::AuthPass:
        return u"the reply to AUTHINFO pass"_s;
    case Command::Post:
        return u"the reply to POST"_s;
    case Command::Article:
        return articleWhole ? u"the reply to the article"_s : u"the article to be sent"_s;
    case Command::Stat:
        return u"the reply to STAT"_s;
    case Command::Group:
        return u"the reply to GROUP"_s;
    }
    return {};
}

} // namespace

PostLink::PostLink(int number, const LinkSettings &settings, LinkOwner &owner, LinkTransport &transport,
                   LinkTimers &timers, SendPacer &pacer)
    : number_(number)
    , settings_(settings)
    , owner_(owner)
    , transport_(transport)
    , timers_(timers)
    , pacer_(pacer)
{
}

bool PostLink::live() const
{
    switch (state_) {
    case State::Greeting:
    case State::LoggingIn:
    case State::Ready:
    case State::Busy:
    case State::WaitingForChecks:
        return true;
    default:
        return false;
    }
}

QString PostLink::waitingFor() const
{
    if (state_ == State::Connecting)
        return u"the connection"_s;
    if (const InFlight *f = pipeline_.front())
        return describe(f->command, pipeline_.articleWrittenWhole());
    return u"nothing"_s;
}

// ---------------------------------------------------------------- connecting

void PostLink::start()
{
    connectNow();
}

void PostLink::connectNow()
{
    dropConnection();
    backoff_.acceptedSinceConnect = false;
    state_ = State::Connecting;
    error_.clear();
    timers_.start(LinkTimer::Watchdog, settings_.connectMs);
    owner_.changed(number_);
    transport_.open();
}

void PostLink::connected()
{
    if (state_ != State::Connecting)
        return;
    state_ = State::Greeting;
    pipeline_.reset();
    timers_.start(LinkTimer::Watchdog, settings_.replyMs);
    owner_.changed(number_);
}

void PostLink::send(const QByteArray &bytes)
{
    sentSinceRead_ = true;
    timers_.start(LinkTimer::Watchdog, settings_.replyMs);
    if (const qint64 took = transport_.send(bytes); took > 0)
        written(took);
}

void PostLink::received(const QByteArray &bytes)
{
    if (!live())
        return;
    pipeline_.append(bytes);
    timers_.start(LinkTimer::Watchdog, settings_.replyMs);
    sentSinceRead_ = false;
    // A reply that came a delayed acknowledgement late: this server holds
    // its small writes back until what it sent before is acknowledged.
    const double now = timers_.nowMs();
    if (waitingSince_ >= 0 && now - waitingSince_ >= kHeldBackMs)
        ackAtOnce_ = true;
    waitingSince_ = -1;
    // Replies are handled one by one, however the data arrived; each is
    // judged by what is in flight once the one before it was acted on.
    const quint64 generation = generation_;
    while (generation == generation_) {
        const std::optional<NntpPipeline::Reply> reply = pipeline_.next();
        if (!reply)
            break;
        onReply(*reply);
    }
    // Waiting for a reply with nothing sent in answer to what came (which
    // would have carried the acknowledgement): acknowledged at once where
    // the server waits for that.
    if (generation == generation_ && !sentSinceRead_ && !pipeline_.idle()) {
        waitingSince_ = now;
        if (ackAtOnce_)
            transport_.awaitingReply();
    }
}

void PostLink::written(qint64 bytes)
{
    if (!live())
        return;
    timers_.start(LinkTimer::Watchdog, settings_.replyMs);
    // Commands behind the article are not counted as posted.
    const qint64 counted = std::clamp<qint64>(out_.size - out_.counted, 0, bytes);
    if (counted > 0) {
        out_.counted += counted;
        owner_.sent(number_, counted);
    }
    if (transport_.unsent() > 0 || !sendingArticle() || out_.handedOver >= out_.bytes.size())
        return;
    // The next packet: at once without a limit, else when the pacer says.
    if (!pacer_.limited())
        sendPiece();
    else
        timers_.start(LinkTimer::Send, pacer_.waitMs(timers_.nowMs()));
}

// ---------------------------------------------------------------- replies

void PostLink::onReply(const NntpPipeline::Reply &r)
{
    switch (r.event) {
    case Event::Farewell:
        return;
    case Event::OutOfTurn:
        unexpected(r);
        return;
    case Event::Failed:
        failedReply(r);
        return;
    case Event::Ready:
        greeted(r);
        return;
    case Event::SendPassword:
        AddLog(number_, r.text, LogColour::Blue);
        send(pipeline_.authPass(settings_.password));
        return;
    case Event::LoggedIn:
        AddLog(number_, r.text, LogColour::Blue);
        becomeReady();
        return;
    case Event::SendArticle:
        goAhead();
        return;
    case Event::Accepted:
        articleAccepted(r);
        return;
    case Event::Refused:
        refusedReply(r);
        return;
    case Event::Present:
    case Event::Missing:
    case Event::NeedsGroup:
    case Event::CannotCheck:
        r.tag == kLookTag ? lookAnswered(r) : checkAnswered(r);
        return;
    case Event::GroupChosen:
        groupChosen(r);
        return;
    }
}

void PostLink::unexpected(const NntpPipeline::Reply &r)
{
    const QString awaited = r.tag < 0 ? u"nothing"_s : describe(r.answered, true);
    fail({LinkFailure::Kind::Passing, u"Unexpected reply (waiting for "_s + awaited + u"): "_s + r.text});
}

void PostLink::failedReply(const NntpPipeline::Reply &r)
{
    const QByteArray code = r.code();
    LinkFailure f{LinkFailure::Kind::Passing, r.text};
    if (r.answered == Command::AuthUser || r.answered == Command::AuthPass) {
        if (code == "481" || code == "482" || code == "502")
            f.kind = LinkFailure::Kind::LoginRefused;
    } else if (r.answered == Command::Post) {
        if (code == "480" && !settings_.login)
            f.kind = LinkFailure::Kind::LoginWanted;
        else if (code == "440" || code.startsWith('5'))
            f.kind = LinkFailure::Kind::PostingRefused;
    }
    fail(f);
}

void PostLink::greeted(const NntpPipeline::Reply &r)
{
    AddLog(number_, r.text, LogColour::Blue);
    if (!settings_.login) {
        becomeReady();
        return;
    }
    state_ = State::LoggingIn;
    owner_.changed(number_);
    send(pipeline_.authUser(settings_.user));
}

void PostLink::becomeReady()
{
    state_ = State::Ready;
    owner_.changed(number_);
    askForWork();
}

void PostLink::askForWork()
{
    const quint64 generation = generation_;
    LinkWork work = owner_.nextWork(number_, lastItem_);
    if (generation != generation_ || !live())
        return;
    switch (work.kind) {
    case LinkWork::Kind::Post:
        attempt_ = std::move(work.attempt);
        lastItem_ = attempt_->item;
        state_ = State::Busy;
        owner_.changed(number_);
        if (attempt_->lookFirst && owner_.mayLook())
            look(Look::First);
        else
            postWithChecks();
        return;
    case LinkWork::Kind::Checks:
        state_ = State::Busy;
        sendChecks(work.checks, false);
        return;
    case LinkWork::Kind::Wait:
        waitForChecks(work.waitMs);
        return;
    case LinkWork::Kind::Retire:
        retire(true);
        return;
    }
}

// ---------------------------------------------------------------- checks

void PostLink::postWithChecks()
{
    // Checks that are due go in the same write as the POST, a few at a
    // time: their answers cost no extra wait. Until a server that wants a
    // group has one, a check goes alone, and the POST after its answer.
    if (group_.wanted && !group_.chosen) {
        const QList<CheckTicket> one = owner_.dueChecks(number_, 1).mid(0, 1);
        if (!one.isEmpty()) {
            sendChecks(one, false);
            return;
        }
    } else if (QList<CheckTicket> due = owner_.dueChecks(number_, kChecksWithAPost); !due.isEmpty()) {
        sendChecks(due, true);
        return;
    }
    send(pipeline_.post());
}

void PostLink::sendChecks(const QList<CheckTicket> &checks, bool withPost)
{
    QByteArray bytes;
    for (const CheckTicket &c : checks) {
        bytes += pipeline_.stat(c.id, kCheckTag);
        checks_.append(c);
    }
    if (withPost)
        bytes += pipeline_.post();
    group_.askedForCheck = false;
    owner_.changed(number_);
    send(bytes);
}

void PostLink::checkAnswered(const NntpPipeline::Reply &r)
{
    if (checks_.isEmpty()) {
        unexpected(r);
        return;
    }
    const CheckTicket done = checks_.takeFirst();
    Event event = r.event;
    if (event == Event::NeedsGroup) {
        group_.wanted = true;
        // Alone, a 412 is answered with GROUP (the item's first) and the STAT again.
        if (!group_.askedForCheck && checks_.isEmpty() && pipeline_.inFlight(Command::Post) == 0) {
            group_.askedForCheck = true;
            checks_.prepend(done);
            send(pipeline_.group(owner_.groupFor(done.item), kCheckTag));
            return;
        }
        if (group_.askedForCheck)
            event = Event::CannotCheck; // a group did not help
    }
    const quint64 generation = generation_;
    owner_.checked(number_, done, event, r.text);
    if (generation == generation_ && checks_.isEmpty())
        checksDone();
}

void PostLink::checksDone()
{
    group_.askedForCheck = false;
    // A POST sent with the checks (or behind an article) is answered next.
    if (!pipeline_.idle())
        return;
    owner_.changed(number_);
    if (attempt_)
        postWithChecks();
    else
        askForWork();
}

void PostLink::groupChosen(const NntpPipeline::Reply &r)
{
    group_.chosen = true;
    if (r.tag == kLookTag && attempt_)
        send(pipeline_.stat(attempt_->messageId, kLookTag));
    else if (r.tag == kCheckTag && !checks_.isEmpty())
        send(pipeline_.stat(checks_.first().id, kCheckTag));
    else
        unexpected(r);
}

// ---------------------------------------------------------------- waiting, retiring

void PostLink::waitForChecks(int ms)
{
    // Nothing to post, but checks to come: the connection stays and asks
    // again when the next one falls due (or when the run wakes it).
    state_ = State::WaitingForChecks;
    timers_.stop(LinkTimer::Watchdog);
    timers_.start(LinkTimer::Wake, std::max(ms, 0));
    owner_.changed(number_);
}

void PostLink::wakeSoon()
{
    if (state_ == State::WaitingForChecks)
        timers_.start(LinkTimer::Wake, 0);
}

void PostLink::wake()
{
    if (state_ != State::WaitingForChecks)
        return;
    timers_.stop(LinkTimer::Wake);
    if (!transport_.isOpen()) {
        connectNow();
        return;
    }
    state_ = State::Ready;
    askForWork();
}

void PostLink::retire(bool say)
{
    if (say)
        AddLog(number_, msg(294), LogColour::Blue);
    dropConnection();
    timers_.stop(LinkTimer::Restart);
    state_ = State::Retired;
    owner_.changed(number_);
    owner_.retired(number_);
}

void PostLink::stop()
{
    if (transport_.isOpen() && sendingArticle() && attempt_)
        transport_.send("CANCEL <" + attempt_->messageId.toUtf8() + ">\r\n");
    ++generation_;
    for (LinkTimer t : {LinkTimer::Watchdog, LinkTimer::Restart, LinkTimer::Send, LinkTimer::Wake})
        timers_.stop(t);
    transport_.close();
    attempt_.reset();
    behind_.reset();
    checks_.clear();
    looking_ = Look::None;
    out_.size = out_.handedOver = out_.counted = 0;
    state_ = State::Retired;
}

// ---------------------------------------------------------------- failures

void PostLink::dropConnection()
{
    ++generation_;
    const QList<CheckTicket> unanswered = std::exchange(checks_, {});
    const std::optional<Attempt> held = std::exchange(attempt_, std::nullopt);
    const std::optional<Attempt> next = std::exchange(behind_, std::nullopt);
    looking_ = Look::None;
    group_.askedForLook = group_.askedForCheck = group_.chosen = false;
    out_.size = out_.handedOver = out_.counted = 0;
    for (LinkTimer t : {LinkTimer::Watchdog, LinkTimer::Send, LinkTimer::Wake})
        timers_.stop(t);
    transport_.close();
    if (held || next || !unanswered.isEmpty())
        owner_.released(number_, held ? &*held : nullptr, next ? &*next : nullptr, unanswered);
}

void PostLink::fail(const LinkFailure &failure)
{
    error_ = failure.text;
    dropConnection();
    state_ = State::BackingOff;
    owner_.failed(number_, failure);
    if (state_ != State::BackingOff)
        return; // the run stopped it
    if (failure.kind != LinkFailure::Kind::Fatal)
        retryLater();
    owner_.changed(number_);
}

void PostLink::retryLater()
{
    if (backoff_.acceptedSinceConnect)
        backoff_.quickFailures = 0;
    backoff_.acceptedSinceConnect = false;
    const int doublings = std::min(backoff_.quickFailures++, 20);
    const qint64 longest = std::max(settings_.backoffMaxMs, settings_.restartMs);
    timers_.start(LinkTimer::Restart, int(std::min<qint64>(qint64(settings_.restartMs) << doublings, longest)));
}

void PostLink::reconnectNow()
{
    // Later, not inside whatever the transport is reporting now.
    dropConnection();
    state_ = State::Connecting;
    timers_.start(LinkTimer::Restart, 0);
}

void PostLink::reconnectSoon()
{
    if (backoff_.acceptedSinceConnect) {
        backoff_.quickFailures = 0;
        reconnectNow();
        return;
    }
    dropConnection();
    state_ = State::BackingOff;
    retryLater();
    owner_.changed(number_);
}

void PostLink::closedByPeer()
{
    if (!live())
        return;
    // Through a tunnel, a close before the greeting may be the tunnel
    // refusing the server: the run knows why and stops.
    if (state_ == State::Greeting) {
        const quint64 generation = generation_;
        if (owner_.closedEarly(number_)) {
            if (generation == generation_) {
                dropConnection();
                state_ = State::BackingOff;
            }
            return;
        }
    }
    const bool articleOut = sendingArticle() && attempt_;
    const int part = attempt_ ? attempt_->part : 0;
    error_ = u"The server closed the connection"_s;
    if (articleOut || attempt_) {
        AddLog(number_, articleOut ? u"Disconnected while uploading part: "_s + QString::number(part) : msg(294),
               articleOut ? LogColour::Red : LogColour::Blue);
        owner_.failed(number_, {LinkFailure::Kind::Closed, error_});
        reconnectSoon();
        return;
    }
    AddLog(number_, msg(294), LogColour::Blue);
    dropConnection();
    if (!owner_.workLeft(number_)) {
        retire(false);
        return;
    }
    // Work is waiting: tried again later instead of ending the run.
    owner_.failed(number_, {LinkFailure::Kind::Closed, error_});
    state_ = State::BackingOff;
    retryLater();
    owner_.changed(number_);
}

void PostLink::transportFailed(const QString &why, bool fatal)
{
    if (state_ == State::Retired || state_ == State::Idle)
        return;
    fail({fatal ? LinkFailure::Kind::Fatal : LinkFailure::Kind::Passing, why});
}

void PostLink::timerFired(LinkTimer timer)
{
    switch (timer) {
    case LinkTimer::Watchdog:
        if (state_ == State::Connecting)
            fail({LinkFailure::Kind::Passing,
                  u"No connection to the server after %1 s"_s.arg(settings_.connectMs / 1000.0)});
        else if (live())
            fail({LinkFailure::Kind::Passing, u"The server did not answer for %1 s (waiting for %2)"_s
                                                  .arg(settings_.replyMs / 1000.0)
                                                  .arg(waitingFor())});
        return;
    case LinkTimer::Restart:
        if (state_ == State::BackingOff || state_ == State::Connecting)
            connectNow();
        return;
    case LinkTimer::Send:
        sendPiece();
        return;
    case LinkTimer::Wake:
        wake();
        return;
    }
}

} // namespace tessaly
