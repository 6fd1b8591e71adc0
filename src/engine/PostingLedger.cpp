#include "engine/PostingLedger.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/CheckSchedule.h"
#include "engine/PostStats.h"
#include "platform/FileNames.h"
#include "platform/PartFiles.h"
#include "storage/NzbFile.h"
#include "storage/QueueFile.h"

using namespace Qt::StringLiterals;

namespace tessaly {

PostingLedger::PostingLedger(UploadQueue &queue, PostStatistics &stats)
    : queue_(queue)
    , stats_(stats)
{
}

const UploadItem *PostingLedger::find(ItemId id) const
{
    const int r = queue_.rowOf(id);
    return r > 0 ? &queue_.item(r) : nullptr;
}

UploadItem *PostingLedger::edit(ItemId id, int *row)
{
    *row = queue_.rowOf(id);
    return *row > 0 ? &queue_.item(*row) : nullptr;
}

void PostingLedger::setState(int row, UploadState state, int link)
{
    const UploadItem &it = queue_.item(row);
    if (it.state != state && (state == UploadState::PostedOK || state == UploadState::FileError))
        stats_.itemEnded(state == UploadState::PostedOK);
    queue_.markTaken(row);
    queue_.setState(row, state, link);
}

void PostingLedger::begin(bool fill, CheckSchedule &checks)
{
    queue_.ensureIds();
    noted_.clear();
    changed_ = false;
    lastSave_.invalidate();
    for (int i = 1; i <= queue_.count(); ++i) {
        UploadItem &it = queue_.item(i);
        if (it.state == UploadState::Queued)
            queue_.markTaken(i);
        if (fill || !UploadQueue::hasUnchecked(it) || it.state == UploadState::FileError)
            continue;
        // Parts accepted before the last run stopped are checked first.
        if (!checks.on() || it.state == UploadState::PostedOK) {
            it.unchecked.clear();
            queue_.itemChanged(i);
            continue;
        }
        for (int p = 1; p <= it.unchecked.size(); ++p)
            if (it.unchecked.testBit(p - 1))
                checks.addDueNow(it.id, p, it.messageids.value(p - 1));
    }
}

void PostingLedger::take(ItemId id, int link)
{
    if (const int r = queue_.rowOf(id))
        setState(r, UploadState::Posting, link);
}

void PostingLedger::showLink(ItemId id, int link)
{
    if (const int r = queue_.rowOf(id))
        queue_.setConnection(r, link);
}

void PostingLedger::park(ItemId id)
{
    if (const int r = queue_.rowOf(id); r > 0 && queue_.item(r).state == UploadState::Posting)
        queue_.setState(r, UploadState::Posting, 0);
}

void PostingLedger::release(ItemId id)
{
    if (const int r = queue_.rowOf(id); r > 0 && queue_.item(r).state == UploadState::Posting)
        queue_.setState(r, UploadState::Queued);
}

void PostingLedger::fail(ItemId id, const QString &note)
{
    const int r = queue_.rowOf(id);
    if (r <= 0)
        return;
    setState(r, UploadState::FileError);
    if (!note.isEmpty()) {
        queue_.item(r).note = note;
        queue_.itemChanged(r);
    }
}

void PostingLedger::notChecked(ItemId id, const QString &why)
{
    int r = 0;
    const UploadItem *item = edit(id, &r);
    if (!item || item->state != UploadState::Posting || item->partsLeft > 0
        || !UploadQueue::isAccepted(*item, item->maxparts))
        return;
    AddLog(0, msg(301).arg(why) + u": "_s + item->subject, LogColour::Red);
    fail(id, msg(301).arg(why));
    changed_ = true;
}

bool PostingLedger::finishIfDone(ItemId id, bool removeFile)
{
    int r = 0;
    const UploadItem *item = edit(id, &r);
    if (!item || item->state != UploadState::Posting || item->partsLeft > 0 || UploadQueue::hasUnchecked(*item)
        || !UploadQueue::isAccepted(*item, item->maxparts))
        return false;
    AddLog(0, msg(293).arg(item->subject), LogColour::Green);
    setState(r, UploadState::PostedOK);
    const QString path = item->path;
    closePartFiles(path);
    if (removeFile && fileExists(path)) {
        if (tessaly::removeFile(path)) {
            AddLog(0, u"Removed file: "_s + displayName(path), LogColour::Orange);
            queue_.RemoveArrayItem(r);
        } else {
            AddLog(0, u"Could not remove file: "_s + displayName(path), LogColour::Red);
        }
    }
    changed_ = true;
    return true;
}

bool PostingLedger::goingOut(ItemId id, int part, const QString &freshId, QString *why)
{
    int r = 0;
    UploadItem *it = edit(id, &r);
    if (!it)
        return true; // nothing to keep for an item that left the queue
    if (!noteGoingOut(*it, part, why))
        return false;
    UploadQueue::markUnsure(*it, part, true);
    if (!freshId.isEmpty() && part >= 1 && part <= it->messageids.size() && it->messageids[part - 1] != freshId) {
        // Written down before the article leaves: should it reach the server
        // unanswered, the next run asks for it under this ID, not the one
        // refused. (Rare: only after a refusal.)
        it->messageids[part - 1] = freshId;
        if (!saveNow(why))
            return false;
    }
    return true;
}

bool PostingLedger::noteGoingOut(const UploadItem &item, int part, QString *why)
{
    Noted &n = noted_[item.id];
    if (n.generation != sentListGeneration() || n.parts.size() != item.maxparts) {
        n.generation = sentListGeneration();
        n.parts = QBitArray(item.maxparts);
    }
    if (part < 1 || part > item.maxparts || n.parts.testBit(part - 1))
        return true; // noted already, since the last save
    QList<int> parts{part};
    for (int k = part + 1; k <= item.maxparts && parts.size() < kNoteAhead; ++k)
        if (!UploadQueue::isAccepted(item, k) && !n.parts.testBit(k - 1))
            parts << k;
    if (!noteSentParts(item.path, parts, why))
        return false;
    for (int k : parts)
        n.parts.setBit(k - 1);
    return true;
}

void PostingLedger::notOnServer(ItemId id, int part)
{
    int r = 0;
    if (UploadItem *it = edit(id, &r))
        UploadQueue::markUnsure(*it, part, false);
}

bool PostingLedger::accepted(ItemId id, int part, const QString &messageId, bool toCheck, bool fill)
{
    int r = 0;
    UploadItem *it = edit(id, &r);
    if (!it)
        return false;
    // The ID that counts is the one accepted: a fresh one after a refusal,
    // or the one the server says it stored the article under.
    if (!fill)
        UploadQueue::markUnsure(*it, part, false);
    QStringList &ids = it->messageids;
    if (part >= 1 && part <= ids.size() && !messageId.isEmpty() && ids.at(part - 1) != messageId) {
        ids[part - 1] = messageId;
        changed_ = true; // a fill run changes nothing else, but this must be kept
    }
    if (toCheck && part >= 1 && part <= it->maxparts) {
        if (it->unchecked.size() < it->maxparts)
            it->unchecked.resize(it->maxparts);
        it->unchecked.setBit(part - 1);
    }
    if (fill) {
        queue_.itemChanged(r);
        return false;
    }
    const bool complete = queue_.markAccepted(r, part);
    changed_ = true;
    return complete;
}

void PostingLedger::checkedPresent(ItemId id, int part)
{
    int r = 0;
    UploadItem *it = edit(id, &r);
    if (!it)
        return;
    if (part <= it->unchecked.size())
        it->unchecked.clearBit(part - 1);
    if (!UploadQueue::hasUnchecked(*it))
        it->unchecked.clear();
    queue_.itemChanged(r);
    changed_ = true;
}

void PostingLedger::foundMissing(ItemId id, int part)
{
    int r = 0;
    if (!edit(id, &r))
        return;
    queue_.markMissing(r, part);
    changed_ = true;
}

void PostingLedger::forgetChecks()
{
    for (int i = 1; i <= queue_.count(); ++i) {
        if (!UploadQueue::hasUnchecked(queue_.item(i)))
            continue;
        queue_.item(i).unchecked.clear();
        queue_.itemChanged(i);
        changed_ = true;
    }
}

void PostingLedger::rewriteCollectionNzb(ItemId id, bool postedOnly)
{
    if (const int r = queue_.rowOf(id); r > 0 && queue_.isCollectionNzb(r))
        tessaly::rewriteCollectionNzb(r, postedOnly);
}

QString PostingLedger::saveSoon()
{
    changed_ = true;
    return saveIfDue();
}

QString PostingLedger::saveIfDue()
{
    if (!changed_ || (lastSave_.isValid() && !lastSave_.hasExpired(kSaveEveryMs)))
        return {};
    QString why;
    return saveNow(&why) ? QString() : why;
}

bool PostingLedger::saveNow(QString *why)
{
    changed_ = false;
    lastSave_.start();
    return SaveQueue(why);
}

bool PostingLedger::end(bool fill)
{
    closePartFiles(); // the files posted from are not kept open between runs
    bool unfinished = false;
    for (int i = 1; i <= queue_.count(); ++i) {
        const UploadState st = queue_.item(i).state;
        if (st == UploadState::Queued || st == UploadState::Posting) {
            queue_.setState(i, UploadState::Queued);
            unfinished = true;
        }
    }
    if (changed_) {
        changed_ = false;
        SaveQueue();
    }
    // However the run ended, the collections' NZB files list the IDs known
    // now: those not posted yet, and on disk those posted before a part was
    // posted again (by Fill or after Verify), which is said in the log. Not
    // one that could not be written in the first place.
    for (int i = 1; i <= queue_.count(); ++i)
        if (queue_.isCollectionNzb(i) && (queue_.item(i).state != UploadState::FileError || fileExists(queue_.item(i).path)))
            tessaly::rewriteCollectionNzb(i, false);
    rewritePrivateNzbs();
    Q_UNUSED(fill);
    return unfinished;
}

} // namespace tessaly
