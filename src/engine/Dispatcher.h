// Which part of which file a connection posts next. The decisions only: they
// read the queue and what every connection holds, and change nothing; the
// run carries them out. Several connections may share one file: a part is
// taken while a connection posts it, has its POST on its way, or has it
// composed ahead.
#pragma once

#include "storage/UploadQueue.h"

#include <vector>

namespace tessaly {

// What one connection holds.
struct WorkClaim
{
    ItemId item = 0;  // the item it posts, 0 for none
    int part = 0;     // the part of it on its way
    ItemId behindItem = 0; // a part whose POST went behind the article, or composed ahead
    int behindPart = 0;
};

namespace dispatch {

// Whether a connection other than `asking` (an index into claims, -1 for
// none) posts the part of the item at `row` or has it composed ahead.
bool takenByOthers(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int row, int part);

// The first part of the item at `row` that is neither accepted nor taken by
// another connection; 0 when there is none.
int untakenPart(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int row);

// The part `asking` should compose ahead: the first part of its item that is
// not its own, not accepted and not taken by another; 0 when there is none.
int partToPrepare(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking);

// The row of a file being posted with a part nobody has taken, for a
// connection that found nothing queued; 0 when there is none.
int itemNeedingHelp(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking);

// Whether another connection works on the item.
bool othersOn(const std::vector<WorkClaim> &claims, int asking, ItemId item);

// A Queued item, or a part of an item being posted that nobody has taken.
bool workWaiting(const UploadQueue &queue, const std::vector<WorkClaim> &claims);

} // namespace dispatch
} // namespace tessaly
