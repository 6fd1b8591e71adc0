// The post checks of a run: answers to STAT, parts found missing and posted
// again, a server that cannot check, and the connections to a check server.
#include "engine/PostingRun.h"

#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Log.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

void PostingRun::checked(int link, const CheckTicket &check, NntpPipeline::Event event, const QString &reply)
{
    if (ended_)
        return;
    lastProgressMs_ = Clock::instance().msecsSinceStart();
    bool workBack = false;
    if (event == NntpPipeline::Event::NeedsGroup) {
        checks_.putBack({check}); // asked again once a group is chosen
    } else {
        checks_.answered();
        checkFailures_[std::size_t(link - 1)] = 0;
        if (event == NntpPipeline::Event::CannotCheck && isCheckLink(link)) {
            giveUpChecks(u"it cannot say whether it holds an article: \""_s + reply + u'"');
            return;
        } else if (event == NntpPipeline::Event::CannotCheck) {
            serverCannotCheck(link, reply);
            workBack = true;
        } else if (!checks_.on() || !ledger_.find(check.item)) {
            // An answer that comes after the check was turned off is let go.
        } else if (event == NntpPipeline::Event::Present) {
            ++checks_.checked;
            ledger_.checkedPresent(check.item, check.part);
            finishIfDone(check.item);
        } else {
            partMissing(link, check, reply);
            workBack = true;
        }
    }
    wakeWaitingLinks(workBack);
}

void PostingRun::partMissing(int link, const CheckTicket &check, const QString &reply)
{
    const UploadItem *it = ledger_.find(check.item);
    ++checks_.missing;
    const int times = checks_.missingAgain(check.item, check.part);
    AddLog(link, u"Part %1 of %2 is missing on the server (%3)"_s.arg(check.part).arg(it->subject, reply),
           LogColour::Red);
    if (times > checks_.tries()) {
        // Posted again as often as allowed: the item fails, the run goes on.
        QStringList parts = it->note.isEmpty() ? QStringList() : it->note.section(u": "_s, 1).split(u", "_s);
        parts << QString::number(check.part);
        const QString subject = it->subject;
        ledger_.fail(check.item, u"Missing on the server: "_s + parts.join(u", "_s));
        AddLog(link, u"Still missing after %1 posts, given up: "_s.arg(times) + subject, LogColour::Red);
        save();
        return;
    }
    ledger_.foundMissing(check.item, check.part);
    stats_.addToPost(partFileBytes(check.item, check.part));
    if (!heldByALink(check.item))
        ledger_.release(check.item);
}

void PostingRun::serverCannotCheck(int link, const QString &reply)
{
    if (!checks_.on())
        return;
    AddLog(link, u"The server cannot check articles (\""_s + reply + u"\"): the post check is off for the rest of this run"_s,
           LogColour::Orange);
    checks_.turnOff();
    ledger_.forgetChecks();
    finishItemsAwaitingChecks();
    reporter_.checkCounts(checks_);
}

void PostingRun::finishItemsAwaitingChecks()
{
    const UploadQueue &q = uploadQueue();
    QList<ItemId> waiting;
    for (int i = 1; i <= q.count(); ++i)
        if (q.item(i).state == UploadState::Posting)
            waiting << q.item(i).id;
    for (ItemId id : waiting)
        finishIfDone(id);
}

// ---------------------------------------------------------------- a check server

bool PostingRun::checkWorkLeft() const
{
    // Checks to make, or posts still going on that will bring some.
    return checks_.on() && !checks_.abandoned() && (checks_.pending() || postingLinksAtWork() > 0);
}

LinkWork PostingRun::checkWork(int)
{
    LinkWork w;
    if (!checkWorkLeft())
        return w; // retire
    w.checks = scheduler_.dueChecks(nowMs(), 1, PostLink::kMostChecksAtOnce);
    if (!w.checks.isEmpty()) {
        w.kind = LinkWork::Kind::Checks;
        return w;
    }
    // Woken when an article is accepted or the last posting connection ends.
    w.kind = LinkWork::Kind::Wait;
    w.waitMs = checks_.pending() ? int(std::clamp(checks_.msUntilNext(nowMs()), 0.0, 3600e3)) + 1 : 60000;
    return w;
}

void PostingRun::wakeCheckLinks()
{
    for (int k = postingLinks_ + 1; k <= linkCount(); ++k)
        links_[std::size_t(k - 1)].link->wakeSoon();
}

void PostingRun::checkLinkFailed(int link, const LinkFailure &f)
{
    if (checks_.abandoned())
        return;
    const std::size_t i = std::size_t(link - 1);
    // An idle connection the server closed is made again when checks are due.
    const bool lost = lostChecks_[i];
    lostChecks_[i] = false;
    if (f.kind == LinkFailure::Kind::Closed && !lost)
        return;
    const bool lasting = f.kind != LinkFailure::Kind::Passing && f.kind != LinkFailure::Kind::Closed;
    if (lasting || ++checkFailures_[i] >= plan_.check.failuresToGiveUp) {
        giveUpChecks(f.text);
        return;
    }
    if (sayNow(f.text))
        AddLog(link, u"Check server: "_s + f.text, LogColour::Red);
}

void PostingRun::giveUpChecks(const QString &why)
{
    // The posts stand; what they hold is not known. Items fail as "posted,
    // not checked", their parts kept for a later run to check.
    checksGivenUp_ = why;
    AddLog(0, u"The check server %1 cannot check the posts (%2): the parts posted are not checked"_s
                  .arg(plan_.check.server ? plan_.check.server->shownHost : QString(), why),
           LogColour::Red);
    checks_.abandon();
    for (int k = postingLinks_ + 1; k <= linkCount(); ++k) {
        PostLink &l = *links_[std::size_t(k - 1)].link;
        l.stop();
        reporter_.show(l, uploadQueue());
    }
    finishItemsAwaitingChecks();
    save();
    reporter_.checkCounts(checks_);
    wakeWaitingLinks(true);
    checkRunEnd();
}

void PostingRun::wakeWaitingLinks(bool workBack)
{
    // Work came back (a part to post again), or nothing is left to wait for.
    if (!workBack && checks_.pending())
        return;
    for (Link &l : links_)
        l.link->wakeSoon();
}

} // namespace tessaly
