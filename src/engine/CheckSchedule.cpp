#include "engine/CheckSchedule.h"

#include <algorithm>

namespace tessaly {

void CheckSchedule::start(bool on, double delayMs, int tries)
{
    on_ = on;
    abandoned_ = false;
    delayMs_ = delayMs;
    tries_ = tries;
    inFlight_ = 0;
    list_.clear();
    timesMissing_.clear();
    checked = missing = 0;
}

void CheckSchedule::turnOff()
{
    on_ = false;
    list_.clear();
    inFlight_ = 0;
}

void CheckSchedule::abandon()
{
    abandoned_ = true;
    list_.clear();
    inFlight_ = 0;
}

void CheckSchedule::add(ItemId item, int part, const QString &id, double nowMs)
{
    if (on_ && !abandoned_)
        list_.push_back({item, part, id, nowMs + delayMs_});
}

void CheckSchedule::addDueNow(ItemId item, int part, const QString &id)
{
    if (on_ && !abandoned_)
        list_.push_back({item, part, id, 0});
}

void CheckSchedule::putBack(const QList<CheckTicket> &checks)
{
    inFlight_ = std::max(0, inFlight_ - int(checks.size()));
    if (!on_ || abandoned_)
        return;
    for (auto it = checks.crbegin(); it != checks.crend(); ++it)
        list_.push_front(*it);
}

QList<CheckTicket> CheckSchedule::takeDue(double nowMs, int atLeast, int most,
                                          const std::function<bool(const CheckTicket &)> &valid)
{
    QList<CheckTicket> out;
    if (!on_ || abandoned_ || dueCount(nowMs, std::max(atLeast, 1)) < std::max(atLeast, 1))
        return out;
    while (out.size() < most && !list_.empty() && list_.front().dueMs <= nowMs) {
        const CheckTicket c = list_.front();
        list_.pop_front();
        if (valid(c))
            out << c;
    }
    inFlight_ += int(out.size());
    return out;
}

int CheckSchedule::dueCount(double nowMs, int enough) const
{
    int n = 0;
    for (const CheckTicket &c : list_) {
        if (n >= enough || c.dueMs > nowMs)
            break;
        ++n;
    }
    return n;
}

double CheckSchedule::msUntilNext(double nowMs) const
{
    return list_.empty() ? delayMs_ : std::max(0.0, list_.front().dueMs - nowMs);
}

} // namespace tessaly
