// Presentation layers over the core models: icons, colours and fonts are
// added here so that the models stay free of any user-interface code.
#pragma once

#include <QIdentityProxyModel>

namespace tessaly {

// The upload queue with a state icon in the subject column.
class UploadListProxy : public QIdentityProxyModel
{
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override;
};

// The log with each line's colour and weight.
class LogViewProxy : public QIdentityProxyModel
{
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override;
};

// 24-bit blue-green-red value as a colour.
QColor colourFromBgr(quint32 bgr);

} // namespace tessaly

#include <QStyledItemDelegate>

namespace tessaly {

// The connection list with the row's icon in its first column.
class ConnectionListProxy : public QIdentityProxyModel
{
    Q_OBJECT
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex &index, int role) const override;
};

// Paints the "Progress" cell of the connection list as a progress bar.
class ProgressDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace tessaly
