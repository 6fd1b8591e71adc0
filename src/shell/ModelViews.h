// Presentation layers over the core models: icons, colours and fonts are
// added here so that the models stay free of any user-interface code.
#pragma once

#include <QIdentityProxyModel>
#include <QTimer>

namespace tessaly {

// A view of a core model whose changes reach the view at most every
// IntervalMs: the first change of a quiet spell at once, the rows changed
// after it together when the interval ends. The engine changes progress,
// speed and parts many times a second; the window needs to draw them ten
// times a second at most. Rows added, removed or moved pass at once.
class CoalescingProxy : public QIdentityProxyModel
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 100;

    explicit CoalescingProxy(QObject *parent = nullptr);
    void setSourceModel(QAbstractItemModel *source) override;
    // Passes on what is waiting now.
    void flush();

private:
    void sourceChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);

    QTimer timer_;
    int first_ = -1;
    int last_ = -1;
};

// The upload queue with a state icon in the subject column.
class UploadListProxy : public CoalescingProxy
{
    Q_OBJECT
public:
    using CoalescingProxy::CoalescingProxy;
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
class ConnectionListProxy : public CoalescingProxy
{
    Q_OBJECT
public:
    using CoalescingProxy::CoalescingProxy;
    QVariant data(const QModelIndex &index, int role) const override;
};

// The job tree with an icon for each kind of node: job, header, value, placeholder.
class JobTreeProxy : public QIdentityProxyModel
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
