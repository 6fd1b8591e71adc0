#include "engine/Dispatcher.h"

#include "storage/UploadQueue.h"

#include <algorithm>

namespace tessaly::dispatch {

bool takenByOthers(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int item, int part)
{
    const QString &path = queue.item(item).path;
    for (int k = 0; k < int(claims.size()); ++k) {
        if (k == asking)
            continue;
        const WorkClaim &c = claims[std::size_t(k)];
        if ((c.item == item && c.part == part) || (c.aheadPart == part && c.aheadPath == path))
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

int untakenPart(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int item)
{
    if (!queue.isValidIndex(item))
        return 0;
    return firstPart(queue.item(item),
                     [&](int part) { return !takenByOthers(queue, claims, asking, item, part); });
}

int partToPrepare(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking)
{
    const WorkClaim &own = claims.at(std::size_t(asking));
    if (!queue.isValidIndex(own.item))
        return 0;
    return firstPart(queue.item(own.item), [&](int part) {
        return part != own.part && !takenByOthers(queue, claims, asking, own.item, part);
    });
}

int itemNeedingHelp(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking)
{
    for (int i = 1; i <= queue.count(); ++i)
        if (queue.item(i).state == UploadState::Posting && untakenPart(queue, claims, asking, i) > 0)
            return i;
    return 0;
}

bool othersOn(const std::vector<WorkClaim> &claims, int asking, int item)
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
