#include "engine/PostScheduler.h"

#include "common/GeneralFunc.h"
#include "engine/CheckSchedule.h"
#include "engine/PostLink.h"
#include "engine/PostingLedger.h"

namespace tessaly {

PostScheduler::PostScheduler(PostingLedger &ledger, CheckSchedule &checks)
    : ledger_(ledger)
    , checks_(checks)
{
}

void PostScheduler::start(const std::optional<FillPlan> &fill, bool pipelinePosts, bool checksElsewhere)
{
    fill_ = fill;
    fillIndex_ = 0;
    pipelinePosts_ = pipelinePosts;
    checksElsewhere_ = checksElsewhere;
    looksOn = true;
    newlyTaken_ = 0;
}

Attempt PostScheduler::attemptFor(ItemId item, int part) const
{
    Attempt a;
    a.item = item;
    a.part = part;
    if (const UploadItem *it = ledger_.find(item)) {
        a.totalParts = it->maxparts;
        a.messageId = it->messageids.value(part - 1);
        a.freshIdNext = a.messageId.isEmpty();
        // Went out before without an answer: the server may hold it.
        a.mayBeOnServer = !a.freshIdNext && UploadQueue::isUnsure(*it, part);
        a.lookFirst = a.mayBeOnServer && looksOn;
    }
    return a;
}

LinkWork PostScheduler::post(ItemId item, int part) const
{
    LinkWork w;
    w.kind = LinkWork::Kind::Post;
    w.attempt = attemptFor(item, part);
    return w;
}

LinkWork PostScheduler::fillWork(int link)
{
    LinkWork w;
    if (fillComplete())
        return w; // retire
    w = post(fill_->item, fill_->parts.at(fillIndex_));
    w.attempt.freshIdNext = true; // a fill run posts every part under a new ID
    w.attempt.mayBeOnServer = w.attempt.lookFirst = false;
    ledger_.showLink(fill_->item, link);
    return w;
}

std::optional<LinkWork> PostScheduler::postWork(int link, ItemId lastItem, const std::vector<WorkClaim> &claims)
{
    UploadQueue &q = ledger_.queue();
    const int asking = link - 1;
    // The next part of the file it posts.
    if (const int row = ledger_.row(lastItem); row > 0 && q.item(row).state == UploadState::Posting)
        if (const int part = dispatch::untakenPart(q, claims, asking, row))
            return post(lastItem, part);
    // A queued file.
    while (const int row = q.firstPostable()) {
        const ItemId id = q.item(row).id;
        if (!fileExists(q.item(row).path)) {
            ledger_.fail(id);
            continue;
        }
        if (q.isCollectionNzb(row))
            ledger_.rewriteCollectionNzb(id, true); // what the collection's posts are known by now
        const int part = dispatch::untakenPart(q, claims, asking, ledger_.row(id));
        if (part == 0) {
            // Every part was accepted before the run stopped: done once the
            // checks still to make find them.
            ledger_.take(id, 0);
            ledger_.finishIfDone(id, false);
            continue;
        }
        ledger_.take(id, link);
        newlyTaken_ = id;
        return post(id, part);
    }
    // Nothing queued: a part of a file other connections are posting.
    if (const int row = dispatch::itemNeedingHelp(q, claims, asking))
        return post(q.item(row).id, dispatch::untakenPart(q, claims, asking, row));
    return std::nullopt;
}

LinkWork PostScheduler::work(int link, ItemId lastItem, const std::vector<WorkClaim> &claims, double nowMs)
{
    if (fill_)
        return fillWork(link);
    if (std::optional<LinkWork> w = postWork(link, lastItem, claims))
        return *w;
    LinkWork w;
    if (!checksElsewhere_)
        w.checks = dueChecks(nowMs, 1, PostLink::kMostChecksAtOnce);
    if (!w.checks.isEmpty()) {
        w.kind = LinkWork::Kind::Checks;
    } else if (checks_.pending()) {
        w.kind = LinkWork::Kind::Wait;
        w.waitMs = int(std::clamp(checks_.msUntilNext(nowMs), 0.0, 3600e3)) + 1;
    }
    return w;
}

QList<CheckTicket> PostScheduler::dueChecks(double nowMs, int atLeast, int most)
{
    return checks_.takeDue(nowMs, atLeast, most, [this](const CheckTicket &c) {
        // A check for an item that failed meanwhile, or whose ID changed, is void.
        const UploadItem *it = ledger_.find(c.item);
        return it && it->state != UploadState::FileError && it->messageids.value(c.part - 1) == c.id;
    });
}

std::optional<Attempt> PostScheduler::behind(int link, const Attempt &current, const std::vector<WorkClaim> &claims,
                                             bool checksAlone, bool limited, double nowMs)
{
    // Only the next part of the same item, and only where no check must go
    // first: due checks wait for the answer when they go alone, or, when a
    // limit cuts the article in pieces, for the next POST.
    if (fill_ || !pipelinePosts_)
        return std::nullopt;
    const UploadItem *it = ledger_.find(current.item);
    if (!it || it->state != UploadState::Posting)
        return std::nullopt;
    const bool checksHere = checks_.on() && !checksElsewhere_;
    if (checksHere && checksAlone && checks_.dueCount(nowMs, 1) >= 1)
        return std::nullopt;
    if (checksHere && limited && checks_.dueCount(nowMs, PostLink::kChecksWithAPost) >= PostLink::kChecksWithAPost)
        return std::nullopt;
    const WorkClaim &own = claims.at(std::size_t(link - 1));
    const int next = own.behindItem == current.item && own.behindPart > 0 ? own.behindPart : partToPrepare(link, claims);
    if (next <= 0 || UploadQueue::isUnsure(*it, next))
        return std::nullopt;
    return attemptFor(current.item, next);
}

bool PostScheduler::stillWanted(const Attempt &attempt) const
{
    const UploadItem *it = ledger_.find(attempt.item);
    return it && it->state == UploadState::Posting && !UploadQueue::isAccepted(*it, attempt.part);
}

int PostScheduler::partToPrepare(int link, const std::vector<WorkClaim> &claims) const
{
    if (fill_)
        return 0;
    return dispatch::partToPrepare(ledger_.queue(), claims, link - 1);
}

bool PostScheduler::workLeft(const std::vector<WorkClaim> &claims) const
{
    return !fill_ && (dispatch::workWaiting(ledger_.queue(), claims) || checks_.pending());
}

bool PostScheduler::queueDone() const
{
    const UploadQueue &q = ledger_.queue();
    for (int i = 1; i <= q.count(); ++i) {
        const UploadState st = q.item(i).state;
        if (st != UploadState::Paused && st != UploadState::PostedOK && st != UploadState::FileError)
            return false;
    }
    return true;
}

} // namespace tessaly
