#include "engine/PostCheck.h"

#include <algorithm>

namespace tessaly {

std::optional<PendingCheck> CheckList::takeDue(double nowMs)
{
    if (list_.empty() || list_.front().dueMs > nowMs)
        return std::nullopt;
    PendingCheck c = list_.front();
    list_.pop_front();
    return c;
}

int CheckList::dueCount(double nowMs, int enough) const
{
    int n = 0;
    for (const PendingCheck &c : list_) {
        if (n >= enough || c.dueMs > nowMs)
            break;
        ++n;
    }
    return n;
}

void CheckList::itemRemoved(int index)
{
    dropItem(index);
    for (PendingCheck &c : list_)
        if (c.item > index)
            --c.item;
}

void CheckList::dropItem(int index)
{
    list_.erase(std::remove_if(list_.begin(), list_.end(), [index](const PendingCheck &c) { return c.item == index; }),
                list_.end());
}

} // namespace tessaly
