#include "shell/ModelViews.h"

#include "common/Log.h"
#include "rarpar/JobTree.h"
#include "shell/Icons.h"
#include "storage/UploadQueue.h"

#include <QApplication>
#include <QColor>
#include <QFont>

#include <algorithm>

namespace tessaly {

CoalescingProxy::CoalescingProxy(QObject *parent)
    : QIdentityProxyModel(parent)
{
    timer_.setSingleShot(true);
    timer_.setInterval(IntervalMs);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (first_ < 0)
            return;
        flush();
        timer_.start(); // changes keep coming: the next batch after another interval
    });
}

void CoalescingProxy::setSourceModel(QAbstractItemModel *source)
{
    if (sourceModel())
        disconnect(sourceModel(), &QAbstractItemModel::dataChanged, this, nullptr);
    first_ = last_ = -1;
    QIdentityProxyModel::setSourceModel(source);
    if (!source)
        return;
    // In place of the identity proxy's own forwarding.
    disconnect(source, &QAbstractItemModel::dataChanged, this, nullptr);
    connect(source, &QAbstractItemModel::dataChanged, this, &CoalescingProxy::sourceChanged);
}

void CoalescingProxy::sourceChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    first_ = first_ < 0 ? topLeft.row() : std::min(first_, topLeft.row());
    last_ = std::max(last_, bottomRight.row());
    if (!timer_.isActive()) {
        flush();
        timer_.start();
    }
}

void CoalescingProxy::flush()
{
    const int rows = rowCount();
    const int first = first_, last = std::min(last_, rows - 1);
    first_ = last_ = -1;
    if (first < 0 || first > last || columnCount() == 0)
        return;
    emit dataChanged(index(first, 0), index(last, columnCount() - 1));
}

QColor colourFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QVariant UploadListProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == UploadQueue::SubjectColumn)
        return Icons::stateIcon(StatusIcon(QIdentityProxyModel::data(index, UploadQueue::StateRole).toInt()));
    return QIdentityProxyModel::data(index, role);
}

QVariant LogViewProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::ForegroundRole)
        return colourFromBgr(QIdentityProxyModel::data(index, LogModel::ColourRole).toUInt());
    if (role == Qt::FontRole && QIdentityProxyModel::data(index, LogModel::BoldRole).toBool()) {
        QFont f;
        f.setBold(true);
        return f;
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace tessaly

#include "storage/ConnectionList.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace tessaly {

QVariant ConnectionListProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == ConnectionList::NumberColumn)
        return Icons::stateIcon(StatusIcon(QIdentityProxyModel::data(index, ConnectionList::IconRole).toInt()));
    return QIdentityProxyModel::data(index, role);
}

QVariant JobTreeProxy::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DecorationRole)
        return QIdentityProxyModel::data(index, role);
    switch (QIdentityProxyModel::data(index, JobTree::ImageRole).toInt()) {
    case JobImageJob:
        return Icons::toolIcon(Icons::Tool::RarPar);
    case JobImageHeader:
        return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
    case JobImageValue:
        return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    case JobImagePlaceholder:
        return Icons::stateIcon(StatusIcon::RarParIdle);
    default:
        return {};
    }
}

void ProgressDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() != ConnectionList::ProgressColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(3, 3, -3, -3);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = index.data(ConnectionList::ProgressRole).toInt();
    bar.textVisible = false;
    bar.state = option.state | QStyle::State_Horizontal;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

} // namespace tessaly
