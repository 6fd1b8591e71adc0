// The upload queue: the files to post, in posting order. It is the model that
// the upload list shows, so row k of the list and element k of the queue are
// the same item by construction. Element numbers are 1-based; element 0 is a
// placeholder that never holds an item.
#pragma once

#include "storage/StatusIcon.h"

#include <QAbstractTableModel>
#include <QBitArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace tessaly {

// What names an item while the program runs, whatever its row: rows move and
// go while a run posts. Never written to Queue.dat; 0 is no item.
using ItemId = quint64;

// What an obfuscated item's articles carry in place of the real names: a
// yEnc name of the file's own and a poster of the collection's own, all
// random (their subjects are random per article). Empty: not obfuscated.
struct Disguise
{
    QString name; // the yEnc name=, the same for every part of the file
    QString from; // the From address, the same for the whole collection
    QString nick; // the From display name

    bool on() const { return !name.isEmpty(); }
};

struct UploadItem
{
    ItemId id = 0; // given when the item joins the queue
    QString subject;
    UploadState state = UploadState::Queued;
    // The connection posting this file, shown as "Upload in Thread n"; 0 when none.
    int connection = 0;
    // Parts not yet accepted by the server ("R" of the "R/T" the list shows).
    int partsLeft = 0;
    QString newsgroups;
    QString path;
    // The first part not yet accepted (the last part once all are). Parts
    // before it are accepted; several connections posting one file can have
    // parts after it accepted too, which `accepted` records (bit k-1 for part
    // k; empty while the parts went in order).
    qint32 position = 1;
    qint32 maxparts = 0;
    QBitArray accepted;
    // Parts accepted but not yet found on the server by the post check (bit
    // k-1 for part k); the item is PostedOK only once this is empty.
    QBitArray unchecked;
    // Parts whose article went out whole without an answer (the connection
    // dropped, the run stopped): the server may hold them, so they are asked
    // for before they are posted again.
    QBitArray unsure;
    // Why the item failed, shown after its state ("missing on the server: 3, 7").
    QString note;
    QString tag;
    QStringList messageids; // entry k-1 belongs to part k
    Disguise disguise;
    // The collection's NZB file when it is written but not posted (it is
    // then no item of its own): written again as its items are posted.
    QString privateNzb;
    // Whether the item belongs to the run under way (or the last one), which
    // is what a run's exit status and after-run action are about. Not saved:
    // items read from Queue.dat belong to no run until one takes them.
    enum class Run : quint8 { None, Added, Taken };
    Run run = Run::None;
};

class UploadQueue : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { SubjectColumn = 0, StatusColumn, PartsColumn, NewsgroupsColumn, ColumnCount };
    enum Roles { StateRole = Qt::UserRole + 1 };

    explicit UploadQueue(QObject *parent = nullptr);

    // Number of items, which is also the upper bound of the 1-based array.
    int count() const { return int(items_.size()) - 1; }
    bool isValidIndex(int index) const { return index >= 1 && index <= count(); }
    const UploadItem &item(int index) const { return items_.at(index); }
    // Changes made through this reference must be announced with itemChanged().
    UploadItem &item(int index) { return items_[index]; }
    void itemChanged(int index);

    // Adds an item at the end (with an id of its own); returns its element number.
    int append(const UploadItem &item);
    // The element number of the item with this id, 0 when it is gone.
    int rowOf(ItemId id) const;
    // Gives every item an id that lacks one (an item written over whole).
    void ensureIds();
    // A new item in state Queued for a file of the given part count.
    static UploadItem newItem(const QString &subject, const QString &newsgroups, const QString &path,
                              int parts, const QString &tag, const QStringList &messageIds);

    void RemoveArrayItem(int index);
    void MoveUDTItemUp(int index);
    void MoveUDTItemDown(int index);
    void MoveUDTItemTop(int index, int target);
    void MoveUDTItemBottom(int index, int limit);
    void clear();

    // Sets the state; Posting carries the number of the connection posting it.
    void setState(int index, UploadState state, int connection = 0);
    // Shows (or, with 0, stops showing) the connection working on the item
    // without changing its state, as a fill run does.
    void setConnection(int index, int connection);
    // Queued -> Paused; returns whether the item changed.
    bool pause(int index);
    // Any state but PostedOK -> Queued, keeping position, parts and IDs.
    bool requeue(int index);

    // Element number of the first Queued item, 0 when there is none.
    int firstQueued() const;
    // The NZB file queued with a collection (an item named .nzb, numbered 0
    // in its subject, sharing its tag with other items).
    bool isCollectionNzb(int index) const;
    // A collection's NZB waits until every other item of the collection is
    // posted or has failed, so that it lists what the server holds.
    bool waitsForCollection(int index) const;
    // The first Queued item that may be posted now, 0 when there is none.
    int firstPostable() const;
    bool hasState(UploadState state) const;

    // A run takes the item (it is to be posted now): it is that run's.
    void markTaken(int index);
    // Start pressed again in the window: the items of the run before are not
    // this one's; those added since are.
    void beginRun();

    // One part of the item was accepted: parts left goes down by one, not below 0.
    void countPostedPart(int index);
    // Part `part` was accepted: it is counted once, and the position moves
    // past every accepted part. Returns whether every part is accepted now.
    bool markAccepted(int index, int part);
    static bool isAccepted(const UploadItem &item, int part);
    // The parts accepted after the position ("7,9-12"), as Queue.dat keeps
    // them, and the other way round.
    static QString acceptedAhead(const UploadItem &item);
    static void setAcceptedAhead(UploadItem &item, const QString &text);
    // The same for the parts waiting for their check.
    static QString uncheckedText(const UploadItem &item);
    static void setUnchecked(UploadItem &item, const QString &text);
    static bool hasUnchecked(const UploadItem &item) { return item.unchecked.count(true) > 0; }
    static QString unsureText(const UploadItem &item);
    static void setUnsure(UploadItem &item, const QString &text);
    static bool isUnsure(const UploadItem &item, int part)
    {
        return part >= 1 && part <= item.unsure.size() && item.unsure.testBit(part - 1);
    }
    // Records whether part `part` may be on the server without an answer saying so.
    static void markUnsure(UploadItem &item, int part, bool unsure);
    // Part `part`, accepted before, is not on the server: it is to be posted
    // again (parts left goes up by one).
    void markMissing(int index, int part);

    // The texts follow the message table: after a change of language the
    // views are told that every row changed.
    void relabel();
    // Column headers follow the message table.
    void retranslateHeaders();

    // The status column: the connection at work, else the state.
    static QString statusText(const UploadItem &item);
    // The parts column, "R/T".
    static QString partsText(const UploadItem &item);
    static QString MakeCollectionTag();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    static ItemId nextId();
    QVector<UploadItem> items_;
    mutable int lastRow_ = 0; // where the last id looked for was found
};

// The process-wide queue.
UploadQueue &uploadQueue();

} // namespace tessaly
