// What a run writes down about its items: states, accepted parts, the IDs the
// server took, parts that went out without an answer, checks still to make.
// During a run it is the only writer of the queue's items, and it keeps them
// saved: Queue.dat at most once every two seconds (each save flushes the
// file to disk), and before its first byte goes, every part in the list of
// sent parts, so a run killed at any moment posts nothing twice.
#pragma once

#include "storage/UploadQueue.h"

#include <QBitArray>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

namespace tessaly {

class CheckSchedule;
class PostStatistics;

class PostingLedger
{
public:
    static constexpr int kSaveEveryMs = 2000;
    // Parts are noted in the list of sent parts this many at a time: the
    // part going out and the next ones of its file that are not in yet. A
    // part noted that never went out is asked for (STAT) on resume, once.
    static constexpr int kNoteAhead = 16;

    PostingLedger(UploadQueue &queue, PostStatistics &stats);

    UploadQueue &queue() { return queue_; }
    // The item with this id, or nullptr when it left the queue.
    const UploadItem *find(ItemId id) const;
    int row(ItemId id) const { return queue_.rowOf(id); }

    // A run starts: what is queued now is its to post; parts accepted but
    // not checked before are handed to the check schedule (or forgotten
    // when the check is off).
    void begin(bool fill, CheckSchedule &checks);

    // Item states, with the connection a posting item shows.
    void take(ItemId id, int link);
    void showLink(ItemId id, int link); // without changing the state (a fill run)
    void park(ItemId id);               // every part in: no connection on it, checks to come
    void release(ItemId id);            // back to the queue, keeping its parts
    void fail(ItemId id, const QString &note = {});
    // Every part in, but the checks could not be made: it fails with why,
    // and keeps its parts to be checked (a run that queues it again checks them).
    void notChecked(ItemId id, const QString &why);
    // Posted: every part accepted and found. False when it is not there yet.
    // The file is removed when asked (and the row with it).
    bool finishIfDone(ItemId id, bool removeFile);

    // The article of the part goes out now (under a fresh ID, when given):
    // written down first. False, with why, when that cannot be done.
    bool goingOut(ItemId id, int part, const QString &freshId, QString *why);
    // The part is known not to be on the server under its ID (refused).
    void notOnServer(ItemId id, int part);
    // Accepted under `messageId`; true when every part of the item is in now.
    bool accepted(ItemId id, int part, const QString &messageId, bool toCheck, bool fill);
    void checkedPresent(ItemId id, int part);
    void foundMissing(ItemId id, int part);
    // The check is off: no part of any item waits for one.
    void forgetChecks();
    // A collection's NZB lists what its items are known by now.
    void rewriteCollectionNzb(ItemId id, bool postedOnly);

    // Queue.dat now, or within the save interval when it was saved just now;
    // an error text when it cannot be written.
    QString saveSoon();
    QString saveIfDue();
    // The run is over: items still queued or posting wait for the next one.
    // Returns whether any did (the run stopped with work left).
    bool end(bool fill);

private:
    UploadItem *edit(ItemId id, int *row);
    void setState(int row, UploadState state, int link = 0);

    // The parts of each item in the list of sent parts since it was last emptied.
    struct Noted
    {
        quint64 generation = 0;
        QBitArray parts;
    };
    bool noteGoingOut(const UploadItem &item, int part, QString *why);
    bool saveNow(QString *why); // Queue.dat at once

    UploadQueue &queue_;
    PostStatistics &stats_;
    QHash<ItemId, Noted> noted_;
    bool changed_ = false; // not saved yet
    QElapsedTimer lastSave_;
};

} // namespace tessaly
