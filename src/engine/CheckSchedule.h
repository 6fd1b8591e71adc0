// The post check's schedule: every accepted article is asked for again a
// while after it went in (in the order they fall due); an answer that it is
// missing sends the part out again, as often as the tries allow. It holds
// the checks waiting and counts those on their way; it never sends one.
#pragma once

#include "engine/LinkPorts.h"

#include <QHash>
#include <QList>
#include <QPair>

#include <deque>
#include <functional>
#include <limits>

namespace tessaly {

class CheckSchedule
{
public:
    // A new run: on or off, the wait before a check and the tries allowed.
    void start(bool on, double delayMs, int tries);
    bool on() const { return on_; }
    // The server cannot check: off for the rest of the run, nothing kept.
    void turnOff();
    // The server that checks cannot be reached: nothing is asked any more,
    // but parts accepted still count as not checked (the check stays on).
    void abandon();
    bool abandoned() const { return abandoned_; }

    // An article accepted at nowMs; a check kept from an earlier run is due at once.
    void add(ItemId item, int part, const QString &id, double nowMs);
    void addDueNow(ItemId item, int part, const QString &id);
    // Checks sent but not answered (the connection failed) come first again.
    void putBack(const QList<CheckTicket> &checks);
    // Up to `most` checks due at nowMs, when at least `atLeast` are (0: any);
    // those `valid` refuses are dropped. They count as on their way.
    QList<CheckTicket> takeDue(double nowMs, int atLeast, int most, const std::function<bool(const CheckTicket &)> &valid);
    int dueCount(double nowMs, int enough) const;
    // An answer came for a check on its way.
    void answered() { inFlight_ = std::max(0, inFlight_ - 1); }
    // Milliseconds until the next check falls due (the delay when none waits).
    double msUntilNext(double nowMs) const;
    bool pending() const { return on_ && !abandoned_ && (!list_.empty() || inFlight_ > 0); }

    // The part was found missing once more; returns how often it has been.
    int missingAgain(ItemId item, int part) { return ++timesMissing_[{item, part}]; }
    int tries() const { return tries_; }

    // The counts the window shows: found, and found missing.
    int checked = 0;
    int missing = 0;

private:
    bool on_ = false;
    bool abandoned_ = false;
    double delayMs_ = 0;
    int tries_ = 0;
    int inFlight_ = 0;
    std::deque<CheckTicket> list_;
    QHash<QPair<ItemId, int>, int> timesMissing_;
};

} // namespace tessaly
