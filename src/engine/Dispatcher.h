// Which part of which file a connection posts next. The decisions only: they
// read the queue and what every connection holds, and change nothing; the
// engine carries them out. Several connections may share one file: a part is
// taken while a connection posts it or has it composed ahead.
#pragma once

#include <QString>

#include <vector>

namespace tessaly {

class UploadQueue;

// What one connection holds.
struct WorkClaim
{
    int item = 0;       // the queue item it posts, 0 for none
    int part = 0;       // the part of it on its way
    QString aheadPath;  // the file of the article composed ahead, if any
    int aheadPart = 0;
};

namespace dispatch {

// Whether a connection other than `asking` (an index into claims, -1 for
// none) posts the part or has it composed ahead.
bool takenByOthers(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int item, int part);

// The first part of the item that is neither accepted nor taken by another
// connection; 0 when there is none.
int untakenPart(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking, int item);

// The part `asking` should compose ahead: the first part of its item that is
// not its own, not accepted and not taken by another; 0 when there is none.
int partToPrepare(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking);

// A file being posted with a part nobody has taken, for a connection that
// found nothing queued: its item number, 0 when there is none.
int itemNeedingHelp(const UploadQueue &queue, const std::vector<WorkClaim> &claims, int asking);

// Whether another connection works on the item.
bool othersOn(const std::vector<WorkClaim> &claims, int asking, int item);

// A Queued item, or a part of an item being posted that nobody has taken.
bool workWaiting(const UploadQueue &queue, const std::vector<WorkClaim> &claims);

} // namespace dispatch
} // namespace tessaly
