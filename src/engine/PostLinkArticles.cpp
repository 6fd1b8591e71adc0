// The articles of a posting connection: the go-ahead, the article sent in
// packets the speed limit allows, the POST for the next part behind it, the
// server's verdict on it, and the look (STAT) for a part that may be there.
#include "engine/PostLink.h"

#include "common/Log.h"
#include "engine/SendPacer.h"

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

using Event = NntpPipeline::Event;
constexpr qsizetype kPostBytes = 6; // "POST\r\n"

} // namespace

// ---------------------------------------------------------------- looks

void PostLink::look(Look kind)
{
    looking_ = kind;
    group_.askedForLook = false;
    owner_.changed(number_);
    send(pipeline_.stat(attempt_->messageId, kLookTag));
}

void PostLink::lookAnswered(const NntpPipeline::Reply &r)
{
    if (!attempt_ || looking_ == Look::None) {
        unexpected(r);
        return;
    }
    if (r.event == Event::NeedsGroup && !group_.askedForLook) {
        group_.askedForLook = true;
        group_.wanted = true;
        send(pipeline_.group(owner_.groupFor(attempt_->item), kLookTag));
        return;
    }
    const bool afterRefusal = looking_ == Look::AfterRefusal;
    looking_ = Look::None;
    if (r.event == Event::Present) {
        const Attempt there = *std::exchange(attempt_, std::nullopt);
        const quint64 generation = generation_;
        owner_.found(number_, there);
        if (generation == generation_) {
            state_ = State::Ready;
            askForWork();
        }
        return;
    }
    if (r.event != Event::Missing)
        owner_.looksUnavailable(number_, r.text);
    // Not there: posted, under a new ID when the old one was refused.
    attempt_->lookFirst = false;
    attempt_->freshIdNext = afterRefusal;
    attempt_->mayBeOnServer = !afterRefusal && r.event == Event::Missing;
    owner_.changed(number_);
    send(pipeline_.post());
}

// ---------------------------------------------------------------- articles

void PostLink::refusedReply(const NntpPipeline::Reply &r)
{
    AddLog(number_, r.text, LogColour::Red);
    if (!attempt_) {
        unexpected(r);
        return;
    }
    const bool articleRefused = r.answered == Command::Article;
    // A POST behind the refused article brings the go-ahead for it again;
    // the part it was sent for is let go.
    const bool postOnItsWay = pipeline_.inFlight(Command::Post) > 0;
    if (behind_) {
        const Attempt let = *std::exchange(behind_, std::nullopt);
        owner_.released(number_, nullptr, &let, {});
    }
    owner_.refused(number_, *attempt_, articleRefused, r.text);
    if (++attempt_->refusals >= kRefusalLimit) {
        // A refusal a new Message-ID does not cure (a bad group, an article
        // too large): retried later instead of hammering the server.
        const QString why = u"The server refused the same article %1 times in a row: "_s.arg(kRefusalLimit) + r.text;
        const quint64 generation = generation_;
        const bool itemFailed = owner_.refusedTooOften(number_, *attempt_, why);
        if (generation != generation_)
            return;
        if (itemFailed) {
            AddLog(number_, why, LogColour::Red);
            attempt_.reset();
            reconnectNow();
            return;
        }
        fail({LinkFailure::Kind::Passing, why});
        return;
    }
    // "Duplicate" to an ID an earlier post may have used: the server may
    // hold the part already, which a new ID would post twice.
    if (articleRefused && attempt_->mayBeOnServer && !postOnItsWay && owner_.mayLook()) {
        look(Look::AfterRefusal);
        return;
    }
    attempt_->freshIdNext = true;
    owner_.changed(number_);
    if (!postOnItsWay)
        send(pipeline_.post());
}

void PostLink::goAhead()
{
    if (!attempt_) {
        fail({LinkFailure::Kind::Passing, u"The server asked for an article, but this connection has none to post"_s});
        return;
    }
    const quint64 generation = generation_;
    QByteArray bytes = owner_.article(number_, *attempt_, std::move(out_.bytes));
    if (generation != generation_)
        return;
    if (bytes.isEmpty()) {
        // Nothing can be posted from the file (the run said why); the server
        // waits for an article, so a fresh connection goes on.
        attempt_.reset();
        reconnectNow();
        return;
    }
    out_.bytes = std::move(bytes);
    out_.size = out_.bytes.size();
    out_.handedOver = out_.counted = 0;
    out_.behindAdded = false;
    attempt_->freshIdNext = false;
    pipeline_.articleStarted();
    owner_.changed(number_);
    sendPiece();
}

void PostLink::sendPiece()
{
    if (!sendingArticle() || out_.handedOver >= out_.bytes.size() || !transport_.isOpen())
        return;
    const double now = timers_.nowMs();
    if (const int wait = pacer_.waitMs(now); wait > 0) {
        timers_.start(LinkTimer::Send, wait);
        return;
    }
    const qint64 packet = pacer_.packetBytes();
    if (!out_.behindAdded && packet >= out_.bytes.size() - out_.handedOver + kPostBytes)
        addBehind();
    // Written down before it goes: from its first byte the server may end up
    // holding it. A run that cannot record what it posts posts nothing more.
    if (out_.handedOver == 0) {
        const quint64 generation = generation_;
        if (!owner_.goingOut(number_, *attempt_) || generation != generation_)
            return;
    }
    const qint64 remaining = out_.bytes.size() - out_.handedOver;
    // The whole article in one write when nothing limits it: the array is
    // shared with the transport, not copied.
    const QByteArray piece = out_.handedOver == 0 && packet >= remaining
        ? out_.bytes
        : out_.bytes.sliced(out_.handedOver, std::min<qint64>(packet, remaining));
    out_.handedOver += piece.size();
    pacer_.sent(now, piece.size());
    if (out_.handedOver >= out_.bytes.size())
        pipeline_.articleWritten();
    send(piece);
}

void PostLink::addBehind()
{
    out_.behindAdded = true;
    // Only where the answer can lead to nothing but that POST: no look or
    // check to ask first, no refusal that would look for the part.
    if (!settings_.pipelinePosts || attempt_->mayBeOnServer || !checks_.isEmpty() || looking_ != Look::None)
        return;
    const bool checksAlone = group_.wanted && !group_.chosen;
    std::optional<Attempt> next = owner_.partBehind(number_, *attempt_, checksAlone);
    if (!next)
        return;
    QByteArray commands;
    if (!pacer_.limited() && !checksAlone) {
        for (const CheckTicket &c : owner_.dueChecks(number_, kChecksWithAPost)) {
            commands += pipeline_.stat(c.id, kCheckTag);
            checks_.append(c);
        }
    }
    commands += pipeline_.post();
    behind_ = std::move(next);
    out_.bytes.append(commands); // into the room the article was made with
}

void PostLink::articleAccepted(const NntpPipeline::Reply &r)
{
    const Attempt done = *std::exchange(attempt_, std::nullopt);
    backoff_.acceptedSinceConnect = true;
    backoff_.quickFailures = 0;
    out_.size = 0;
    const quint64 generation = generation_;
    owner_.accepted(number_, done, NntpPipeline::messageIdIn(r.text));
    if (generation != generation_)
        return;
    if (behind_) {
        Attempt next = *std::exchange(behind_, std::nullopt);
        if (owner_.stillWanted(next)) {
            // Its POST is on its way, behind the checks that went with it.
            attempt_ = std::move(next);
            lastItem_ = attempt_->item;
            owner_.changed(number_);
            return;
        }
        // The go-ahead will come for a part no longer wanted: a fresh
        // connection takes up the work.
        owner_.released(number_, nullptr, &next, {});
        reconnectNow();
        return;
    }
    if (!pipeline_.idle())
        return; // cannot be: nothing goes behind an article without a POST
    state_ = State::Ready;
    askForWork();
}

} // namespace tessaly
