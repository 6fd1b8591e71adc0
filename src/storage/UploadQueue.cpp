#include "storage/UploadQueue.h"

#include <QRegularExpression>

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

ItemId UploadQueue::nextId()
{
    static ItemId last = 0;
    return ++last;
}

int UploadQueue::append(const UploadItem &item)
{
    const int row = count();
    beginInsertRows({}, row, row);
    items_.append(item);
    items_.last().id = nextId();
    endInsertRows();
    return count();
}

int UploadQueue::rowOf(ItemId id) const
{
    if (id == 0)
        return 0;
    // Asked for the same few items over and over: the last row found, and
    // the rows next to it, come first.
    for (int row : {lastRow_, lastRow_ + 1, lastRow_ - 1})
        if (isValidIndex(row) && items_[row].id == id)
            return lastRow_ = row;
    for (int row = 1; row <= count(); ++row)
        if (items_[row].id == id)
            return lastRow_ = row;
    return 0;
}

void UploadQueue::ensureIds()
{
    for (int row = 1; row <= count(); ++row)
        if (items_[row].id == 0)
            items_[row].id = nextId();
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
        // Every part is in; the check of the server has not been made yet.
        return uncheckedText(item).isEmpty() ? msg(131) : msg(296);
    case UploadState::PostedOK:
        return msg(140) + u'!';
    case UploadState::FileError:
        return item.note.isEmpty() ? msg(132) : item.note;
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
    if (state != UploadState::FileError)
        items_[index].note.clear();
    itemChanged(index);
}

void UploadQueue::markTaken(int index)
{
    if (isValidIndex(index))
        items_[index].run = UploadItem::Run::Taken;
}

void UploadQueue::beginRun()
{
    for (int i = 1; i <= count(); ++i)
        items_[i].run = items_[i].run == UploadItem::Run::Added ? UploadItem::Run::Taken : UploadItem::Run::None;
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
    // Numbered 0 ("... - [0/3] - ..."), as a collection's own NZB is queued: a
    // .nzb file of the user's, posted as one of the files, has a number of
    // its own and is never written over.
    static const QRegularExpression numberedZero(u" - \\[0+/[0-9]+\\] - "_s);
    if (!numberedZero.match(it.subject).hasMatch())
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
    // Once every part is in, the position stays on the last one.
    return part < item.position || (part <= item.accepted.size() && item.accepted.testBit(part - 1))
        || (part == item.maxparts && item.position == item.maxparts && item.partsLeft == 0);
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

namespace {

// "7,9-12" for the set bits of parts from..bits.size().
QString rangesOf(const QBitArray &bits, int from)
{
    QStringList ranges;
    int p = std::max(from, 1);
    while (p <= bits.size()) {
        if (!bits.testBit(p - 1)) {
            ++p;
            continue;
        }
        int q = p;
        while (q + 1 <= bits.size() && bits.testBit(q))
            ++q;
        ranges << (q == p ? QString::number(p) : QString::number(p) + u'-' + QString::number(q));
        p = q + 1;
    }
    return ranges.join(u',');
}

// The other way round, keeping only parts from..maxparts: a damaged list
// cannot claim parts beyond the file's end.
QBitArray parseRanges(const QString &text, int from, int maxparts)
{
    QBitArray bits;
    for (const QString &range : text.split(u',', Qt::SkipEmptyParts)) {
        const QStringList ends = range.trimmed().split(u'-');
        bool ok1 = false, ok2 = true;
        const int lo = ends.value(0).trimmed().toInt(&ok1);
        const int hi = ends.size() > 1 ? ends.value(1).trimmed().toInt(&ok2) : lo;
        if (!ok1 || !ok2 || ends.size() > 2)
            continue;
        for (int p = std::max(lo, from); p <= std::min(hi, maxparts); ++p) {
            if (bits.size() < maxparts)
                bits.resize(maxparts);
            bits.setBit(p - 1);
        }
    }
    return bits;
}

} // namespace

QString UploadQueue::acceptedAhead(const UploadItem &item)
{
    QBitArray bits = item.accepted;
    if (bits.size() > item.maxparts)
        bits.resize(item.maxparts);
    return rangesOf(bits, item.position);
}

void UploadQueue::setAcceptedAhead(UploadItem &item, const QString &text)
{
    item.accepted = parseRanges(text, item.position, item.maxparts);
}

QString UploadQueue::uncheckedText(const UploadItem &item)
{
    return rangesOf(item.unchecked, 1);
}

void UploadQueue::setUnchecked(UploadItem &item, const QString &text)
{
    // Only accepted parts can wait for a check.
    QBitArray bits = parseRanges(text, 1, item.maxparts);
    for (int p = 1; p <= bits.size(); ++p)
        if (bits.testBit(p - 1) && !isAccepted(item, p))
            bits.clearBit(p - 1);
    item.unchecked = bits.count(true) > 0 ? bits : QBitArray();
}

QString UploadQueue::unsureText(const UploadItem &item)
{
    return rangesOf(item.unsure, 1);
}

void UploadQueue::setUnsure(UploadItem &item, const QString &text)
{
    const QBitArray bits = parseRanges(text, 1, item.maxparts);
    item.unsure = bits.count(true) > 0 ? bits : QBitArray();
}

void UploadQueue::markUnsure(UploadItem &item, int part, bool unsure)
{
    if (part < 1 || part > item.maxparts || isUnsure(item, part) == unsure)
        return;
    if (item.unsure.size() < item.maxparts)
        item.unsure.resize(item.maxparts);
    item.unsure.setBit(part - 1, unsure);
    if (!unsure && item.unsure.count(true) == 0)
        item.unsure.clear();
}

void UploadQueue::markMissing(int index, int part)
{
    if (!isValidIndex(index))
        return;
    UploadItem &it = items_[index];
    if (!isAccepted(it, part))
        return;
    if (it.accepted.size() < it.maxparts)
        it.accepted.resize(it.maxparts);
    // Parts between it and the position stay accepted, now recorded as bits.
    for (int p = part + 1; p < it.position; ++p)
        it.accepted.setBit(p - 1);
    // At the last part the position stays on it even when it is accepted.
    if (it.position == it.maxparts && part != it.maxparts && isAccepted(it, it.maxparts))
        it.accepted.setBit(it.maxparts - 1);
    it.accepted.clearBit(part - 1);
    it.position = std::min(it.position, part);
    it.partsLeft = std::min(it.maxparts, it.partsLeft + 1);
    if (part <= it.unchecked.size())
        it.unchecked.clearBit(part - 1);
    itemChanged(index);
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
