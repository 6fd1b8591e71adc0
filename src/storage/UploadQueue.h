// The upload queue: the files to post, in posting order. It is the model that
// the upload list shows, so row k of the list and element k of the queue are
// the same item by construction. Element numbers are 1-based; element 0 is a
// placeholder that never holds an item.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVector>

namespace tessaly {

enum class UploadState { Queued = 1, Paused = 2, Posting = 3, PostedOK = 4, FileError = 5 };

struct UploadItem
{
    QString subject;
    int icon = int(UploadState::Queued);
    QString status;
    QString postparts;
    QString newsgroups;
    QString path;
    qint32 position = 1;
    qint32 maxparts = 0;
    QString tag;
    QStringList messageids; // entry k-1 belongs to part k

    UploadState state() const { return static_cast<UploadState>(icon); }
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

    // Adds an item at the end; returns its element number.
    int append(const UploadItem &item);
    // A new item in state Queued for a file of the given part count.
    static UploadItem newItem(const QString &subject, const QString &newsgroups, const QString &path,
                              int parts, const QString &tag, const QStringList &messageIds);

    void RemoveArrayItem(int index);
    void MoveUDTItemUp(int index);
    void MoveUDTItemDown(int index);
    void MoveUDTItemTop(int index, int target);
    void MoveUDTItemBottom(int index, int limit);
    void clear();

    // Writes the state code and its status text together. Posting carries the
    // connection number; an explicit status text replaces the usual one.
    void setState(int index, UploadState state, int connection = 0);
    void setState(int index, UploadState state, const QString &statusText);
    // Queued -> Paused; returns whether the item changed.
    bool pause(int index);
    // Any state but PostedOK -> Queued, keeping position, parts and IDs.
    bool requeue(int index);

    // Element number of the first Queued item, 0 when there is none.
    int firstQueued() const;
    bool hasState(UploadState state) const;

    // One part of the item was accepted: R of "R/T" goes down by one, not below 0.
    void countPostedPart(int index);
    static QString decrementedPostparts(const QString &postparts);

    // Sets every status text again from the message table after a change of language.
    void relabel();
    // Column headers follow the message table.
    void retranslateHeaders();

    static QString statusText(UploadState state, int connection = 0);
    static QString MakeCollectionTag();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    QVector<UploadItem> items_;
};

// The process-wide queue.
UploadQueue &uploadQueue();

} // namespace tessaly
