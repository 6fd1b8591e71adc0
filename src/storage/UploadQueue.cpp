#include "storage/UploadQueue.h"

#include "common/MessageTable.h"

#include <QRandomGenerator>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

UploadQueue::UploadQueue(QObject *parent)
    : QAbstractTableModel(parent)
    , items_(1)
{
}

void UploadQueue::itemChanged(int index)
{
    if (isValidIndex(index))
        emit dataChanged(this->index(index - 1, 0), this->index(index - 1, ColumnCount - 1));
}

int UploadQueue::append(const UploadItem &item)
{
    const int row = count();
    beginInsertRows({}, row, row);
    items_.append(item);
    endInsertRows();
    return count();
}

UploadItem UploadQueue::newItem(const QString &subject, const QString &newsgroups, const QString &path,
                                int parts, const QString &tag, const QStringList &messageIds)
{
    UploadItem it;
    it.subject = subject;
    it.state = UploadState::Queued;
    it.partsLeft = parts;
    it.newsgroups = newsgroups;
    it.path = path;
    it.position = 1;
    it.maxparts = parts;
    it.tag = tag;
    it.messageids = messageIds;
    return it;
}

void UploadQueue::RemoveArrayItem(int index)
{
    if (!isValidIndex(index))
        return;
    beginRemoveRows({}, index - 1, index - 1);
    items_.remove(index);
    endRemoveRows();
}

void UploadQueue::MoveUDTItemUp(int index)
{
    if (index < 2 || index > count())
        return;
    beginMoveRows({}, index - 1, index - 1, {}, index - 2);
    std::swap(items_[index], items_[index - 1]);
    endMoveRows();
}

void UploadQueue::MoveUDTItemDown(int index)
{
    if (index < 1 || index >= count())
        return;
    beginMoveRows({}, index, index, {}, index - 1);
    std::swap(items_[index], items_[index + 1]);
    endMoveRows();
}

void UploadQueue::MoveUDTItemTop(int index, int target)
{
    if (!isValidIndex(index) || !isValidIndex(target) || target >= index)
        return;
    beginMoveRows({}, index - 1, index - 1, {}, target - 1);
    UploadItem moving = std::move(items_[index]);
    for (int i = index; i > target; --i)
        items_[i] = std::move(items_[i - 1]);
    items_[target] = std::move(moving);
    endMoveRows();
}

void UploadQueue::MoveUDTItemBottom(int index, int limit)
{
    const int dest = limit - 1;
    if (!isValidIndex(index) || !isValidIndex(dest) || dest <= index)
        return;
    beginMoveRows({}, index - 1, index - 1, {}, dest);
    UploadItem moving = std::move(items_[index]);
    for (int i = index; i < dest; ++i)
        items_[i] = std::move(items_[i + 1]);
    items_[dest] = std::move(moving);
    endMoveRows();
}

void UploadQueue::clear()
{
    beginResetModel();
    items_.resize(1);
    items_[0] = UploadItem();
    endResetModel();
}

QString UploadQueue::statusText(const UploadItem &item)
{
    if (item.connection > 0)
        return msg(131) + u' ' + QString::number(item.connection);
    switch (item.state) {
    case UploadState::Queued:
        return msg(66);
    case UploadState::Paused:
        return msg(67);
    case UploadState::Posting:
        return msg(131);
    case UploadState::PostedOK:
        return msg(140) + u'!';
    case UploadState::FileError:
        return msg(132);
    }
    return {};
}

QString UploadQueue::partsText(const UploadItem &item)
{
    return QString::number(item.partsLeft) + u'/' + QString::number(item.maxparts);
}

void UploadQueue::setState(int index, UploadState state, int connection)
{
    if (!isValidIndex(index))
        return;
    items_[index].state = state;
    items_[index].connection = state == UploadState::Posting ? connection : 0;
    itemChanged(index);
}

void UploadQueue::setConnection(int index, int connection)
{
    if (!isValidIndex(index))
        return;
    items_[index].connection = connection;
    itemChanged(index);
}

bool UploadQueue::pause(int index)
{
    if (!isValidIndex(index) || items_[index].state != UploadState::Queued)
        return false;
    setState(index, UploadState::Paused);
    return true;
}

bool UploadQueue::requeue(int index)
{
    if (!isValidIndex(index) || items_[index].state == UploadState::PostedOK)
        return false;
    setState(index, UploadState::Queued);
    return true;
}

int UploadQueue::firstQueued() const
{
    for (int i = 1; i <= count(); ++i)
        if (items_[i].state == UploadState::Queued)
            return i;
    return 0;
}

bool UploadQueue::isCollectionNzb(int index) const
{
    if (!isValidIndex(index))
        return false;
    const UploadItem &it = items_[index];
    if (it.tag.isEmpty() || !it.path.endsWith(u".nzb"_s, Qt::CaseInsensitive))
        return false;
    for (int i = 1; i <= count(); ++i)
        if (i != index && items_[i].tag == it.tag)
            return true;
    return false;
}

bool UploadQueue::waitsForCollection(int index) const
{
    if (!isCollectionNzb(index))
        return false;
    for (int i = 1; i <= count(); ++i) {
        const UploadItem &other = items_[i];
        if (i != index && other.tag == items_[index].tag && other.state != UploadState::PostedOK
            && other.state != UploadState::FileError)
            return true;
    }
    return false;
}

int UploadQueue::firstPostable() const
{
    for (int i = 1; i <= count(); ++i)
        if (items_[i].state == UploadState::Queued && !waitsForCollection(i))
            return i;
    return 0;
}

bool UploadQueue::hasState(UploadState state) const
{
    for (int i = 1; i <= count(); ++i)
        if (items_[i].state == state)
            return true;
    return false;
}

void UploadQueue::countPostedPart(int index)
{
    if (!isValidIndex(index))
        return;
    items_[index].partsLeft = std::max(0, items_[index].partsLeft - 1);
    itemChanged(index);
}

bool UploadQueue::isAccepted(const UploadItem &item, int part)
{
    if (part < 1 || part > item.maxparts)
        return false;
    return part < item.position || (part <= item.accepted.size() && item.accepted.testBit(part - 1));
}

bool UploadQueue::markAccepted(int index, int part)
{
    if (!isValidIndex(index))
        return false;
    UploadItem &it = items_[index];
    if (part >= 1 && part <= it.maxparts && !isAccepted(it, part)) {
        if (it.accepted.size() < it.maxparts)
            it.accepted.resize(it.maxparts);
        it.accepted.setBit(part - 1);
        it.partsLeft = std::max(0, it.partsLeft - 1);
    }
    while (it.position < it.maxparts && isAccepted(it, it.position))
        ++it.position;
    bool all = it.maxparts > 0;
    for (int p = it.position; p <= it.maxparts && all; ++p)
        all = isAccepted(it, p);
    if (all)
        it.accepted.clear(); // in order again: the position says it all
    itemChanged(index);
    return all;
}

QString UploadQueue::acceptedAhead(const UploadItem &item)
{
    QStringList ranges;
    int p = item.position;
    while (p <= item.maxparts) {
        if (p > item.accepted.size() || !item.accepted.testBit(p - 1)) {
            ++p;
            continue;
        }
        int q = p;
        while (q + 1 <= item.maxparts && q + 1 <= item.accepted.size() && item.accepted.testBit(q))
            ++q;
        ranges << (q == p ? QString::number(p) : QString::number(p) + u'-' + QString::number(q));
        p = q + 1;
    }
    return ranges.join(u',');
}

void UploadQueue::setAcceptedAhead(UploadItem &item, const QString &text)
{
    item.accepted.clear();
    for (const QString &range : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList ends = range.trimmed().split(u'-');
        bool ok1 = false, ok2 = true;
        const int from = ends.value(0).trimmed().toInt(&ok1);
        const int to = ends.size() > 1 ? ends.value(1).trimmed().toInt(&ok2) : from;
        if (!ok1 || !ok2 || ends.size() > 2)
            continue;
        // Only parts the file has, after the position; a damaged list cannot
        // claim parts that were never posted beyond the file's end.
        for (int p = std::max(from, item.position); p <= std::min(to, item.maxparts); ++p) {
            if (item.accepted.size() < item.maxparts)
                item.accepted.resize(item.maxparts);
            item.accepted.setBit(p - 1);
        }
    }
}

void UploadQueue::relabel()
{
    if (count() > 0)
        emit dataChanged(index(0, 0), index(count() - 1, ColumnCount - 1));
}

void UploadQueue::retranslateHeaders()
{
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

QString UploadQueue::MakeCollectionTag()
{
    QString tag;
    auto *rng = QRandomGenerator::global();
    while (tag.size() < 8) {
        const int c = int(rng->generateDouble() * 127);
        if ((c >= 48 && c <= 57) || (c >= 97 && c <= 122))
            tag += QChar(c);
    }
    return tag;
}

int UploadQueue::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int UploadQueue::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant UploadQueue::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count())
        return {};
    const UploadItem &it = items_.at(index.row() + 1);
    if (role == StateRole)
        return int(iconOf(it.state));
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case SubjectColumn:
        return it.subject;
    case StatusColumn:
        return statusText(it);
    case PartsColumn:
        return partsText(it);
    case NewsgroupsColumn:
        return it.newsgroups;
    default:
        return {};
    }
}

QVariant UploadQueue::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return msg(55 + section);
}

Qt::ItemFlags UploadQueue::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

UploadQueue &uploadQueue()
{
    static UploadQueue queue;
    return queue;
}

} // namespace tessaly
