// The main window: the upload list, the log pane and the status bar.
#pragma once

#include <QMainWindow>

class QTreeView;
class QListView;

namespace tessaly {

class UploadListProxy;
class LogViewProxy;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    QTreeView *uploadList() const { return lvwUploads_; }
    QListView *logPane() const { return RTBLog_; }

private:
    QTreeView *lvwUploads_ = nullptr;
    QListView *RTBLog_ = nullptr;
    UploadListProxy *uploadProxy_ = nullptr;
    LogViewProxy *logProxy_ = nullptr;
};

} // namespace tessaly
