#include "engine/Dispatcher.h"

#include <algorithm>

namespace tessaly::dispatch {

bool takenByOthers(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int row, int part)
{
    const ItemId id = queue.item(row).id;
    for (int k = 0; k < int(claims.size()); ++k) {
        if (k == asking)
            continue;
        const WorkClaim &c = claims[std::size_t(k)];
        if ((c.item == id && c.part == part) || (c.behindItem == id && c.behindPart == part))
            return true;
    }
    return false;
}

namespace {

// The first part from the position on that is not accepted and passes `free`.
template <typename Free>
int firstPart(const UploadItem &it, Free free)
{
    for (int part = std::max(1, it.position); part <= it.maxparts; ++part)
        if (!UploadQueue::isAccepted(it, part) && free(part))
            return part;
    return 0;
}

} // namespace

int untakenPart(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int row)
{
    if (!queue.isValidIndex(row))
        return 0;
    return firstPart(queue.item(row), [&](int part) { return !takenByOthers(queue, claims, asking, row, part); });
}

int partToPrepare(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking)
{
    const WorkClaim &own = claims.at(std::size_t(asking));
    const int row = queue.rowOf(own.item);
    if (row <= 0)
        return 0;
    return firstPart(queue.item(row), [&](int part) {
        return part != own.part && !takenByOthers(queue, claims, asking, row, part);
    });
}

int itemNeedingHelp(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking)
{
    for (int i = 1; i <= queue.count(); ++i)
        if (queue.item(i).state == UploadState::Posting && untakenPart(queue, claims, asking, i) > 0)
            return i;
    return 0;
}

bool othersOn(const std::vector<WorkClaim> &claims, int asking, ItemId item)
{
    for (int k = 0; k < int(claims.size()); ++k)
        if (k != asking && claims[std::size_t(k)].item == item)
            return true;
    return false;
}

bool workWaiting(const UploadQueue &queue, const std::vector<WorkClaim> &claims)
{
    return queue.firstPostable() != 0 || itemNeedingHelp(queue, claims, -1) != 0;
}

} // namespace tessaly::dispatch
