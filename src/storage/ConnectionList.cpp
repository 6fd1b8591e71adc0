#include "storage/ConnectionList.h"

#include "common/GeneralFunc.h"
#include "common/MessageTable.h"

using namespace Qt::StringLiterals;

namespace tessaly {

ConnectionList::ConnectionList(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void ConnectionList::rebuild(int connections, int checkConnections)
{
    connections = std::clamp(connections, 0, MaxConnections);
    checkConnections_ = std::clamp(checkConnections, 0, MaxConnections);
    beginResetModel();
    rows_.clear();
    for (int i = 1; i <= connections; ++i)
        rows_.append({QString::number(i), StatusIcon::Offline, msg(94), QString(), 0, kbPerSecond(0)});
    for (int i = 1; i <= checkConnections_; ++i)
        rows_.append({QString::number(connections + i), StatusIcon::Offline, msg(94), QString(), 0, kbPerSecond(0)});
    rows_.append({u"RarPar"_s, StatusIcon::RarParIdle, msg(110), QString(), 0, QString()});
    endResetModel();
}

void ConnectionList::changed(int number, int column)
{
    const QModelIndex i = index(number - 1, column);
    emit dataChanged(i, i);
}

void ConnectionList::setIcon(int number, StatusIcon icon)
{
    if (number < 1 || number > rows_.size() || rows_[number - 1].icon == icon)
        return;
    rows_[number - 1].icon = icon;
    changed(number, NumberColumn);
}

void ConnectionList::setAction(int number, const QString &text)
{
    if (number < 1 || number > rows_.size() || rows_[number - 1].action == text)
        return;
    rows_[number - 1].action = text;
    changed(number, ActionColumn);
}

void ConnectionList::setDescription(int number, const QString &text)
{
    if (number < 1 || number > rows_.size() || rows_[number - 1].description == text)
        return;
    rows_[number - 1].description = text;
    changed(number, DescriptionColumn);
}

void ConnectionList::setProgress(int number, int percent)
{
    percent = std::clamp(percent, 0, 100);
    if (number < 1 || number > rows_.size() || rows_[number - 1].progress == percent)
        return;
    rows_[number - 1].progress = percent;
    changed(number, ProgressColumn);
}

void ConnectionList::setSpeed(int number, const QString &text)
{
    if (number < 1 || number > rows_.size() || rows_[number - 1].speed == text)
        return;
    rows_[number - 1].speed = text;
    changed(number, SpeedColumn);
}

void ConnectionList::relabel()
{
    for (int i = 0; i < rows_.size(); ++i) {
        ConnectionRow &r = rows_[i];
        if (i + 1 == rows_.size())
            r.action = msg(110);
        else if (r.icon == StatusIcon::Offline)
            r.action = msg(94);
    }
    if (!rows_.isEmpty())
        emit dataChanged(index(0, 0), index(int(rows_.size()) - 1, ColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int ConnectionList::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int ConnectionList::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ConnectionList::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const ConnectionRow &r = rows_.at(index.row());
    if (role == IconRole)
        return int(r.icon);
    if (role == ProgressRole)
        return r.progress;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case NumberColumn:
        return r.number;
    case ActionColumn:
        return r.action;
    case DescriptionColumn:
        return r.description;
    case ProgressColumn:
        return role == Qt::ToolTipRole ? QVariant(QString::number(r.progress) + u'%') : QVariant();
    case SpeedColumn:
        return r.speed;
    default:
        return {};
    }
}

QVariant ConnectionList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return msg(59 + section);
}

ConnectionList &connectionList()
{
    static ConnectionList list;
    return list;
}

} // namespace tessaly
