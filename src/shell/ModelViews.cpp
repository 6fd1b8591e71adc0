#include "shell/ModelViews.h"

#include "common/Log.h"
#include "shell/Icons.h"
#include "storage/UploadQueue.h"

#include <QColor>
#include <QFont>

namespace tessaly {

QColor colourFromBgr(quint32 bgr)
{
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QVariant UploadListProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == UploadQueue::SubjectColumn)
        return Icons::stateIcon(QIdentityProxyModel::data(index, UploadQueue::StateRole).toInt());
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
