#include "engine/PostingRun.h"

#include "common/AppState.h"
#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/RunView.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/MessageIds.h"
#include "storage/NzbFile.h"

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr qint64 kSayAgainAfterMs = 60000;

PostingRun::TransportFactory &transportFactory()
{
    static PostingRun::TransportFactory factory;
    return factory;
}

} // namespace

void PostingRun::setTransportFactory(TransportFactory factory)
{
    transportFactory() = std::move(factory);
}

PostingRun::PostingRun(RunView &view, QObject *parent)
    : QObject(parent)
    , view_(view)
    , ledger_(uploadQueue(), stats_)
    , scheduler_(ledger_, checks_)
    , reporter_(view, connectionList(), stats_)
{
    statisticsTimer_.callOnTimeout(this, &PostingRun::statisticsTick);
    limitTimer_.setSingleShot(true);
    limitTimer_.callOnTimeout(this, &PostingRun::applyLimit);
}

PostingRun::~PostingRun()
{
    if (isRunning())
        finish(RunOutcome::of(RunOutcome::End::Stopped));
}

// ---------------------------------------------------------------- start and end

void PostingRun::start(const RunPlan &plan)
{
    plan_ = plan;
    started_ = true;
    clock_.start();
    const int connections = std::clamp(plan.connections, 1, int(ConnectionList::MaxConnections));
    const bool checkServer = plan.check.server && plan.check.on && !plan.fill;
    const int checking = checkServer ? std::clamp(plan.check.connections, 1, int(ConnectionList::MaxConnections)) : 0;
    if (connectionList().connectionCount() != connections || connectionList().checkConnectionCount() != checking)
        connectionList().rebuild(connections, checking);
    const int count = plan.fill ? 1 : connections;
    checks_.start(plan.check.on && !plan.fill, plan.check.delayMs, plan.check.tries);
    checksGivenUp_.clear();
    ledger_.begin(plan.fill.has_value(), checks_);
    scheduler_.start(plan.fill, plan.link.pipelinePosts, checkServer);
    source_ = std::make_unique<ArticleSource>(plan.identity, plan.partSize, plan.tuning.composeAheadFromBytes, count,
                                              plan.tuning.composeAhead);
    encodedPartSize_ = encodedPartSize(plan.partSize);
    lastProgressMs_ = Clock::instance().msecsSinceStart();
    setPostingInProgress(true);
    reporter_.start(count + checking, plan.server, bytesToPost(), Clock::instance().msecsSinceStart());
    if (checking > 0)
        reporter_.checksOn(count + 1, *plan.check.server);
    reporter_.checkCounts(checks_);
    pacer_.setLimit(plan.limitKBps, count);
    pendingLimit_ = plan.limitKBps;
    statisticsTimer_.start(plan.tuning.statisticsMs);
    makeLinks(count, checking);
    for (Link &l : links_)
        if (!ended_)
            l.link->start();
}

void PostingRun::makeLinks(int posting, int checking)
{
    const int count = posting + checking;
    postingLinks_ = posting;
    postRefused_.assign(std::size_t(count), false);
    checkFailures_.assign(std::size_t(count), 0);
    lostChecks_.assign(std::size_t(count), false);
    links_.resize(std::size_t(count));
    for (int k = 1; k <= count; ++k) {
        Link &l = links_[std::size_t(k - 1)];
        const bool check = isCheckLink(k);
        const ServerEndpoint &server = check ? *plan_.check.server : plan_.server;
        l.timers = std::make_unique<QtLinkTimers>(
            clock_, [this, k](LinkTimer t) { links_[std::size_t(k - 1)].link->timerFired(t); }, this);
        if (transportFactory())
            l.transport = transportFactory()(server);
        if (!l.transport)
            l.transport = SocketTransport::make(server, nullptr);
        LinkOwner &owner = *this;
        l.link = std::make_unique<PostLink>(k, check ? plan_.check.link : plan_.link, owner, *l.transport,
                                            *l.timers, pacer_);
        l.transport->setEvents(l.link.get());
    }
}

int PostingRun::postingLinksAtWork() const
{
    int n = 0;
    for (int k = 1; k <= postingLinks_; ++k)
        n += links_[std::size_t(k - 1)].link->state() != PostLink::State::Retired;
    return n;
}

qint64 PostingRun::partFileBytes(ItemId item, int part) const
{
    // The last part holds what is left of the file; a file gone meanwhile
    // counts in full parts.
    const UploadItem *it = ledger_.find(item);
    if (!it)
        return 0;
    return part < it->maxparts || !fileExists(it->path) ? plan_.partSize : GetLastPartSize(it->path, plan_.partSize);
}

qint64 PostingRun::bytesToPost() const
{
    // What the run is to post, in the parts' own sizes (a last part is
    // usually short), which is what its progress and summary count.
    qint64 total = 0;
    if (const FillPlan *fill = scheduler_.fillPlan()) {
        for (int part : fill->parts)
            total += partFileBytes(fill->item, part);
        return total;
    }
    const UploadQueue &q = uploadQueue();
    for (int i = 1; i <= q.count(); ++i) {
        const UploadItem &it = q.item(i);
        if (it.state != UploadState::Queued || it.partsLeft <= 0)
            continue;
        const bool lastLeft = !UploadQueue::isAccepted(it, it.maxparts);
        total += qint64(it.partsLeft - (lastLeft ? 1 : 0)) * plan_.partSize
            + (lastLeft ? partFileBytes(it.id, it.maxparts) : 0);
    }
    return total;
}

void PostingRun::stop()
{
    if (isRunning())
        finish(RunOutcome::of(RunOutcome::End::Stopped));
}

void PostingRun::finish(RunOutcome outcome)
{
    if (ended_)
        return;
    ended_ = true;
    statisticsTimer_.stop();
    limitTimer_.stop();
    for (Link &l : links_)
        l.link->stop();
    if (source_)
        source_->dropAll();
    const FillPlan *fill = scheduler_.fillPlan();
    outcome.unfinished = ledger_.end(fill != nullptr) || (fill && !scheduler_.fillComplete());
    if (fill)
        ledger_.showLink(fill->item, 0);
    setPostingInProgress(false);
    reporter_.ended(outcome.unfinished, Clock::instance().msecsSinceStart(), checks_);
    emit finished(outcome);
}

void PostingRun::checkRunEnd()
{
    if (ended_)
        return;
    if (retiredLinks() < linkCount() && !scheduler_.queueDone())
        return;
    finish(RunOutcome::of(RunOutcome::End::Finished));
}

int PostingRun::retiredLinks() const
{
    int n = 0;
    for (const Link &l : links_)
        n += l.link->state() == PostLink::State::Retired;
    return n;
}

void PostingRun::giveUp(int exitStatus, const QString &why)
{
    if (ended_)
        return;
    AddLog(0, why, LogColour::Red);
    finish(RunOutcome::of(RunOutcome::End::GaveUp, exitStatus, why));
}

void PostingRun::refuse(const QString &why)
{
    if (plan_.unattended) {
        giveUp(2, why);
        return;
    }
    if (ended_)
        return;
    AddLog(0, why, LogColour::Red);
    finish(RunOutcome::of(RunOutcome::End::Refused, 0, why));
}

void PostingRun::cannotRecord(const QString &why)
{
    const QString text = u"Posting stopped: what is posted cannot be recorded in the program folder (%1). Make room "
                         u"there (or make it writable) and start again; nothing posted so far is posted twice."_s.arg(why);
    if (plan_.unattended) {
        giveUp(2, text);
        return;
    }
    if (ended_)
        return;
    AddLog(0, text, LogColour::Red);
    finish(RunOutcome::of(RunOutcome::End::Stopped, 0, text));
}

// ---------------------------------------------------------------- timers

void PostingRun::setSpeedLimit(int kBps)
{
    pendingLimit_ = std::max(kBps, 0);
    if (isRunning())
        limitTimer_.start(plan_.tuning.packetMs);
}

void PostingRun::applyLimit()
{
    pacer_.setLimit(pendingLimit_, postingLinksAtWork());
}

void PostingRun::statisticsTick()
{
    const int minutes = plan_.retryMinutes;
    if (plan_.unattended && minutes > 0 && !scheduler_.fill()
        && Clock::instance().msecsSinceStart() - lastProgressMs_ >= qint64(minutes) * 60000) {
        giveUp(3, u"No progress for %1 minutes: %2"_s.arg(minutes)
                      .arg(lastError_.isEmpty() ? u"the server did not answer"_s : lastError_));
        return;
    }
    // A save put off (at most one every two seconds) is made now.
    if (const QString why = ledger_.saveIfDue(); !why.isEmpty()) {
        cannotRecord(why);
        return;
    }
    reporter_.tick(checks_);
}

void PostingRun::save()
{
    if (const QString why = ledger_.saveSoon(); !why.isEmpty())
        cannotRecord(why);
}

bool PostingRun::sayNow(const QString &text)
{
    const qint64 now = Clock::instance().msecsSinceStart();
    const auto it = saidAt_.constFind(text);
    if (it != saidAt_.cend() && now - it.value() < kSayAgainAfterMs)
        return false;
    saidAt_.insert(text, now);
    return true;
}

// ---------------------------------------------------------------- work

std::vector<WorkClaim> PostingRun::claims() const
{
    // What each posting connection holds (check connections hold no parts).
    std::vector<WorkClaim> out(static_cast<std::size_t>(postingLinks_));
    for (std::size_t k = 0; k < out.size(); ++k) {
        const PostLink &l = *links_[k].link;
        WorkClaim &w = out[k];
        if (const Attempt *a = l.attempt()) {
            w.item = a->item;
            w.part = a->part;
        }
        if (const Attempt *b = l.behind()) {
            w.behindItem = b->item;
            w.behindPart = b->part;
        } else if (source_) {
            w.behindItem = source_->aheadItem(int(k) + 1);
            w.behindPart = source_->aheadPart(int(k) + 1);
        }
    }
    return out;
}

bool PostingRun::heldByALink(ItemId item) const
{
    for (const Link &l : links_)
        if ((l.link->attempt() && l.link->attempt()->item == item) || (l.link->behind() && l.link->behind()->item == item))
            return true;
    return false;
}

LinkWork PostingRun::nextWork(int link, ItemId lastItem)
{
    if (ended_)
        return {};
    if (isCheckLink(link))
        return checkWork(link);
    LinkWork work = scheduler_.work(link, lastItem, claims(), nowMs());
    if (const ItemId taken = scheduler_.newlyTaken())
        reporter_.showItem(ledger_.row(taken));
    return work;
}

std::optional<Attempt> PostingRun::partBehind(int link, const Attempt &current, bool checksAlone)
{
    if (ended_)
        return std::nullopt;
    return scheduler_.behind(link, current, claims(), checksAlone, pacer_.limited(), nowMs());
}

QList<CheckTicket> PostingRun::dueChecks(int link, int atLeast)
{
    // With a check server, posting connections carry no checks.
    if (ended_ || !checks_.on() || scheduler_.checksElsewhere() != isCheckLink(link))
        return {};
    return scheduler_.dueChecks(nowMs(), atLeast, PostLink::kMostChecksAtOnce);
}

bool PostingRun::stillWanted(const Attempt &attempt)
{
    return !ended_ && scheduler_.stillWanted(attempt);
}

QString PostingRun::groupFor(ItemId item)
{
    const UploadItem *it = ledger_.find(item);
    return it ? it->newsgroups.section(u',', 0, 0).trimmed() : QString();
}

bool PostingRun::mayLook()
{
    return scheduler_.looksOn && !scheduler_.fill();
}

bool PostingRun::workLeft(int link)
{
    if (isCheckLink(link))
        return !ended_ && checkWorkLeft();
    return !ended_ && scheduler_.workLeft(claims());
}

// ---------------------------------------------------------------- articles

QByteArray PostingRun::article(int link, Attempt &attempt, QByteArray recycled)
{
    const UploadItem *it = ledger_.find(attempt.item);
    if (ended_ || !it)
        return {};
    if (attempt.freshIdNext || attempt.messageId.isEmpty()) {
        attempt.messageId = it->disguise.on() ? makeObfuscatedMessageId() : makeMessageId(attempt.part, it->maxparts);
        attempt.origin = Attempt::Origin::Fresh;
        attempt.mayBeOnServer = false; // nobody has seen this ID
    }
    ChunkResult r = source_->take(link, *it, attempt.part, attempt.messageId, std::move(recycled));
    if (r.status != ChunkResult::Ok) {
        // Nothing can be posted from this file: it fails, the run goes on.
        const QString why = r.status == ChunkResult::BeyondEnd
            ? u"part %1 lies beyond the end of the file"_s.arg(attempt.part)
            : r.error;
        if (r.status == ChunkResult::FileError)
            LogError(ErrorCode::FileIo, r.error);
        AddLog(link, u"Cannot post "_s + it->path + u": "_s + why, LogColour::Red);
        ledger_.fail(attempt.item);
        if (scheduler_.fill())
            finish(RunOutcome::of(RunOutcome::End::Stopped));
        return {};
    }
    // While this one is sent, the connection's next one is composed.
    if (const int next = scheduler_.partToPrepare(link, claims()))
        source_->prepare(link, *it, next);
    return std::move(r.article);
}

bool PostingRun::goingOut(int, const Attempt &attempt)
{
    if (ended_)
        return false;
    if (scheduler_.fill())
        return true;
    QString why;
    const QString fresh = attempt.origin == Attempt::Origin::Fresh ? attempt.messageId : QString();
    if (ledger_.goingOut(attempt.item, attempt.part, fresh, &why))
        return true;
    cannotRecord(why);
    return false;
}

void PostingRun::sent(int link, qint64 bytes)
{
    reporter_.sent(*links_[std::size_t(link - 1)].link, bytes);
}

// ---------------------------------------------------------------- outcomes

void PostingRun::accepted(int link, const Attempt &attempt, const QString &serverId)
{
    partAccepted(link, attempt, serverId.isEmpty() ? attempt.messageId : serverId, false);
}

void PostingRun::found(int link, const Attempt &attempt)
{
    if (const UploadItem *it = ledger_.find(attempt.item))
        AddLog(link, u"Part %1 of %2 is on the server already"_s.arg(attempt.part).arg(it->subject), LogColour::Blue);
    partAccepted(link, attempt, attempt.messageId, true);
}

void PostingRun::partAccepted(int, const Attempt &attempt, const QString &id, bool found)
{
    if (ended_)
        return;
    lastProgressMs_ = Clock::instance().msecsSinceStart();
    stats_.partAccepted(partFileBytes(attempt.item, attempt.part));
    postRefused_.assign(postRefused_.size(), false);
    const bool fill = scheduler_.fill();
    const bool toCheck = checks_.on() && !found;
    const bool complete = ledger_.accepted(attempt.item, attempt.part, id, toCheck, fill);
    if (toCheck) {
        checks_.add(attempt.item, attempt.part, id, nowMs());
        wakeCheckLinks();
    }
    if (fill) {
        scheduler_.fillAccepted();
        save();
        return;
    }
    if (complete && !heldByALink(attempt.item)) {
        // With checks to come the item waits for them, off every connection.
        ledger_.park(attempt.item);
        finishIfDone(attempt.item);
    }
    save(); // progress kept every few seconds, not per file
}

void PostingRun::finishIfDone(ItemId item)
{
    if (heldByALink(item))
        return;
    if (ledger_.finishIfDone(item, plan_.removeFromDisk))
        save();
    else if (checks_.abandoned())
        ledger_.notChecked(item, checksGivenUp_); // every part in, none to be checked
}

void PostingRun::refused(int, const Attempt &attempt, bool articleRefused, const QString &)
{
    if (articleRefused && !scheduler_.fill())
        ledger_.notOnServer(attempt.item, attempt.part);
}

bool PostingRun::refusedTooOften(int, const Attempt &attempt, const QString &why)
{
    // Nobody can mend it: the file fails, the run goes on without it.
    if (ended_ || !plan_.unattended || scheduler_.fill())
        return false;
    ledger_.fail(attempt.item, why);
    save();
    return true;
}

void PostingRun::looksUnavailable(int link, const QString &reply)
{
    if (!scheduler_.looksOn)
        return;
    AddLog(link, u"The server cannot say whether it holds an article (\""_s + reply
                     + u"\"): parts are posted again without asking for the rest of this run"_s,
           LogColour::Orange);
    scheduler_.looksOn = false;
}

void PostingRun::released(int link, const Attempt *attempt, const Attempt *, const QList<CheckTicket> &checks)
{
    if (ended_)
        return;
    if (!checks.isEmpty())
        lostChecks_[std::size_t(link - 1)] = true;
    checks_.putBack(checks);
    if (source_ && !isCheckLink(link))
        source_->drop(link);
    // The item goes back to the queue when no other connection works on it.
    if (attempt && !scheduler_.fill() && !heldByALink(attempt->item))
        ledger_.release(attempt->item);
}

void PostingRun::failed(int link, const LinkFailure &f)
{
    if (ended_)
        return;
    if (isCheckLink(link)) {
        checkLinkFailed(link, f);
        return;
    }
    lastError_ = f.text;
    if (f.kind == LinkFailure::Kind::Closed)
        return;
    if (f.kind == LinkFailure::Kind::Fatal) {
        refuse(f.text);
        return;
    }
    QString lasting;
    if (f.kind == LinkFailure::Kind::LoginRefused) {
        lasting = u"The server refused the login: "_s + f.text;
    } else if (f.kind == LinkFailure::Kind::LoginWanted) {
        lasting = u"The server wants a login, and none is set: "_s + f.text;
    } else if (f.kind == LinkFailure::Kind::PostingRefused) {
        // Posting refused here; once every connection hears it, trying
        // again will not help.
        postRefused_[std::size_t(link - 1)] = true;
        if (std::all_of(postRefused_.begin(), postRefused_.end(), [](bool b) { return b; }))
            lasting = u"The server does not take articles: "_s + f.text;
    }
    if (!lasting.isEmpty() && plan_.unattended) {
        giveUp(2, lasting);
        return;
    }
    // The same reason from every retry of every connection: once a minute.
    if (sayNow(f.text)) {
        AddLog(link, f.text, LogColour::Red);
        AddLog(link, msg(294), LogColour::Blue);
    }
}

bool PostingRun::closedEarly(int link)
{
    if (ended_ || isCheckLink(link) || plan_.server.mode != SslMode::Tunnel)
        return false;
    const QString why = tunnelDiagnosis();
    if (why.isEmpty())
        return false;
    refuse(u"The SSL tunnel refused the server: "_s + why + u" (from Stunnel/stunnel.log)"_s);
    return true;
}

void PostingRun::changed(int link)
{
    if (!ended_)
        reporter_.show(*links_[std::size_t(link - 1)].link, uploadQueue());
}

void PostingRun::retired(int link)
{
    if (ended_)
        return;
    // The limit is shared by the connections still at work.
    pacer_.setLimit(pacer_.limitKBps(), postingLinksAtWork());
    // Check connections waiting for posts to check end with the last post.
    if (!isCheckLink(link) && postingLinksAtWork() == 0)
        wakeCheckLinks();
    checkRunEnd();
}

} // namespace tessaly
