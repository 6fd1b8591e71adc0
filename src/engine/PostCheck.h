// The articles waiting to be asked for again: each accepted part is checked
// on the server a while after it went in. Kept in the order they fall due.
#pragma once

#include <QString>

#include <deque>
#include <limits>
#include <optional>

namespace tessaly {

struct PendingCheck
{
    int item = 0; // queue element number
    int part = 0;
    QString id;   // the Message-ID the part was accepted under
    double dueMs = 0;
};

class CheckList
{
public:
    void add(const PendingCheck &check) { list_.push_back(check); }
    // A check that got no answer (the connection failed) comes first again.
    void putBack(const PendingCheck &check) { list_.push_front(check); }
    // The first check due at `nowMs`, taken off the list.
    std::optional<PendingCheck> takeDue(double nowMs);
    // How many are due at `nowMs`, counting no further than `enough`.
    int dueCount(double nowMs, int enough) const;
    double nextDueMs() const { return list_.empty() ? std::numeric_limits<double>::infinity() : list_.front().dueMs; }
    bool empty() const { return list_.empty(); }
    int size() const { return int(list_.size()); }
    // Queue element `index` was removed: later elements move up one.
    void itemRemoved(int index);
    void dropItem(int index);
    void clear() { list_.clear(); }

private:
    std::deque<PendingCheck> list_;
};

} // namespace tessaly
