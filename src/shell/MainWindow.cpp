#include "shell/MainWindow.h"

#include "common/AppState.h"
#include "common/Log.h"
#include "shell/Icons.h"
#include "shell/ModelViews.h"
#include "storage/UploadQueue.h"

#include <QHeaderView>
#include <QListView>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>

using namespace Qt::StringLiterals;

namespace tessaly {

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QString::fromUtf16(kAppTitle));
    setWindowIcon(Icons::appIcon());
    resize(1100, 700);

    auto *splitter = new QSplitter(Qt::Vertical, this);

    uploadProxy_ = new UploadListProxy(this);
    uploadProxy_->setSourceModel(&uploadQueue());
    lvwUploads_ = new QTreeView(splitter);
    lvwUploads_->setObjectName(u"lvwUploads"_s);
    lvwUploads_->setModel(uploadProxy_);
    lvwUploads_->setRootIsDecorated(false);
    lvwUploads_->setUniformRowHeights(true);
    lvwUploads_->setAlternatingRowColors(true);
    lvwUploads_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwUploads_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwUploads_->header()->setStretchLastSection(true);

    logProxy_ = new LogViewProxy(this);
    logProxy_->setSourceModel(&logModel());
    RTBLog_ = new QListView(splitter);
    RTBLog_->setObjectName(u"RTBLog"_s);
    RTBLog_->setModel(logProxy_);
    RTBLog_->setUniformItemSizes(true);
    RTBLog_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    RTBLog_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(logProxy_, &QAbstractItemModel::rowsInserted, RTBLog_, [this] { RTBLog_->scrollToBottom(); });

    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    setCentralWidget(splitter);
    statusBar()->showMessage(versionString());
}

} // namespace tessaly
