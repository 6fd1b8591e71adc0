// What a connection does next: the next part of the file it posts, a queued
// file, a part of a file other connections post, checks that are due, a
// wait for checks to fall due, or nothing (it retires). In a fill run, the
// chosen parts of one file in turn. The decisions read the queue and what
// every connection holds; the ledger writes what they change.
#pragma once

#include "engine/Dispatcher.h"
#include "engine/LinkPorts.h"

#include <QList>

#include <utility>

#include <optional>
#include <vector>

namespace tessaly {

class CheckSchedule;
class PostingLedger;

struct FillPlan
{
    ItemId item = 0;
    QList<int> parts; // the parts to post again, in order
};

class PostScheduler
{
public:
    PostScheduler(PostingLedger &ledger, CheckSchedule &checks);

    // checksElsewhere: connections of their own make the checks (on a
    // second server); posting connections then carry none.
    void start(const std::optional<FillPlan> &fill, bool pipelinePosts, bool checksElsewhere = false);
    bool checksElsewhere() const { return checksElsewhere_; }
    bool fill() const { return fill_.has_value(); }
    const FillPlan *fillPlan() const { return fill_ ? &*fill_ : nullptr; }
    // The chosen parts accepted so far, and whether every one is.
    int fillDone() const { return fillIndex_; }
    bool fillComplete() const { return fill_ && fillIndex_ >= fill_->parts.size(); }
    void fillAccepted() { ++fillIndex_; }

    // Looks (STAT before posting a part that may be there) are asked while
    // the server answers them.
    bool looksOn = true;

    // Work for connection `link` (1-based; claims are indexed from 0).
    LinkWork work(int link, ItemId lastItem, const std::vector<WorkClaim> &claims, double nowMs);
    // An item taken by the last call to work(), for the list to show; 0 for none.
    ItemId newlyTaken() { return std::exchange(newlyTaken_, 0); }
    // The part whose POST may go behind the article of `current`.
    std::optional<Attempt> behind(int link, const Attempt &current, const std::vector<WorkClaim> &claims,
                                  bool checksAlone, bool limited, double nowMs);
    bool stillWanted(const Attempt &attempt) const;
    // Checks due now (at least `atLeast` of them, or none), those of items
    // that failed or changed their ID meanwhile dropped.
    QList<CheckTicket> dueChecks(double nowMs, int atLeast, int most);
    // The part connection `link` should have composed ahead; 0 for none.
    int partToPrepare(int link, const std::vector<WorkClaim> &claims) const;
    // Whether anything is left to post or check.
    bool workLeft(const std::vector<WorkClaim> &claims) const;
    // Every item is posted, failed or paused.
    bool queueDone() const;
    // The first attempt at a part, under its stored ID.
    Attempt attemptFor(ItemId item, int part) const;

private:
    std::optional<LinkWork> postWork(int link, ItemId lastItem, const std::vector<WorkClaim> &claims);
    LinkWork fillWork(int link);
    LinkWork post(ItemId item, int part) const;

    PostingLedger &ledger_;
    CheckSchedule &checks_;
    std::optional<FillPlan> fill_;
    int fillIndex_ = 0;
    bool pipelinePosts_ = true;
    bool checksElsewhere_ = false;
    ItemId newlyTaken_ = 0;
};

} // namespace tessaly
