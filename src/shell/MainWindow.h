// The main window: toolbars and menus, the upload list, the job tree, the
// connection list, the log pane and the option boxes. It runs the start-up
// sequence when it loads and the shut-down sequence when it closes.
#pragma once

#include "application/JobRunner.h"
#include "application/RunController.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QProgressBar;
class QMenu;
class QSplitter;
class QToolBar;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace tessaly {

class UploadListProxy;
class LogViewProxy;
class ConnectionListProxy;
class JobTreeProxy;
class SplashWindow;

class SpeedGraph;
class Verifier;
class UpdateCheck;
class frmScheduler;
class frmOnComplete;

class MainWindow : public QMainWindow, public RunHost, public JobHost
{
    Q_OBJECT
public:
    // commandLine: the arguments after the program name.
    explicit MainWindow(const QStringList &commandLine = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The start-up sequence: settings, queue, language, connection rows,
    // command line; shows the window.
    void Form_Load();
    // The shut-down sequence; false (and nothing changed) while posting.
    bool Form_QueryUnload();

    // Pause between start-up steps so each splash text can be read (tests use 0).
    static void setStartupWait(int milliseconds);

    // Brings the window to the front (a second start asked for it).
    void bringToFront();
    // Every caption, menu, column and legend text from the message table.
    void LoadMainWindow();
    // Widens columns too narrow for their titles (after a change of language too).
    void fitColumnsToTheirTexts();

    QTreeView *uploadList() const { return lvwUploads; }
    QTreeView *connectionView() const { return lvwConnections; }
    QListView *logPane() const { return RTBLog; }
    QTreeView *jobView() const { return tvwRarPar; }
    QToolBar *jobToolbar() const { return ToolbarRarPar; }
    JobRunner *jobRunner() const { return jobRunner_.get(); }
    QLineEdit *speedBox() const { return txtSpeed; }
    QToolBar *mainToolbar() const { return Toolbar; }
    QSplitter *splitter1() const { return Splitter1; }
    QSplitter *splitter2() const { return Splitter2; }
    QCheckBox *noUploadBox() const { return chkNoUpload; }
    QCheckBox *removeFromDiskBox() const { return chkRemoveFromDisk; }
    bool settingsReadFailed() const { return settingsReadFailed_; }
    QCheckBox *onCompleteBox() const { return chkOnComplete; }
    QComboBox *onCompleteList() const { return cboOnComplete; }
    QAction *startAction() const { return actStart; }
    // The posting run under way (or just over), nullptr for none.
    PostingRun *engine() const { return runs_.run(); }
    RunController &runs() { return runs_; }
    QTimer *startTimer() { return &tmrStart; }
    int settingsRequests() const { return settingsRequests_; }

    // Commands (toolbars, menus, keys).
    void StartOrStop();
    // Start as the user (or the scheduler, or a command line) presses it: a
    // run of its own.
    void startPressed();
    void pauseItems(bool selectedOnly);
    void requeueItems(bool selectedOnly);
    void clearSelected(bool saveAfter);
    // Delete: asks first when a selected row is not posted yet; true to go on.
    bool confirmClearSelected();
    void clearAll();
    void ListViewMoveSelUp();
    void ListViewMoveSelDown();
    void ListViewMoveToTop();
    void ListViewMoveToBottom();
    void createNzbOfSelection();
    void createNzbOfCollection(const QString &tag);
    // Asks the server for every part of the chosen finished items; offers to
    // post what is missing again.
    void verifySelected();
    Verifier *verifier() const { return verifier_.get(); }
    // Sets what the upload list's context menu offers for the selection.
    void updateUploadMenu(bool overARow);
    QMenu *uploadMenu() const { return mnupopup; }
    // The change-newsgroups dialog for the selected rows or for all.
    void changeNewsgroups(bool allFiles);
    // The fill dialog for the selected finished row, then a fill run.
    void fillSelected();
    // Posts the given parts (1-based) of one item again, under new IDs.
    void startFill(int row, const QList<int> &parts);
    // The version check: at start-up it only speaks when there is news
    // (or logs that it found nothing); on request it always answers.
    void checkForUpdates(bool onRequest);
    UpdateCheck *updateCheck() const { return updateCheck_.get(); }
    void addFiles(const QStringList &paths);
    void openAddFilesPicker();
    // Queues what an unattended command line asks for; true when it queued work.
    bool runCommandLine(const QStringList &arguments);
    // Opens the settings dialog (it comes with its own feature; counted meanwhile).
    void openSettings();
    // The Rar & Par commands: the job dialog (after checking for both tools),
    // moving the selected job, removing it, clearing the list.
    void openRarParDialog();
    enum class JobMove { Up, Down, Top, Bottom };
    void moveSelectedJob(JobMove how);
    void removeSelectedJob();
    void clearAllJobs();

    // The start-time scheduler (after Start's checks); the window stays
    // usable while it waits, but the queue cannot change.
    void openScheduler();
    frmScheduler *scheduler() const;
    frmOnComplete *onCompleteWindow() const;
    // The notification-area icon and its menu (the icon exists for the whole
    // run, shown where the desktop has a notification area).
    QSystemTrayIcon *trayIcon() const { return tray_; }
    QMenu *trayMenu() const { return systraymenu; }
    void trayActivated(QSystemTrayIcon::ActivationReason reason);
    // Tray: hidden where a notification area can bring it back, else minimised.
    void sendToTray();
    void restoreFromTray();

    // How a command-line run went: 0 when everything was posted.
    int exitStatus() const { return exitStatus_; }
    // Closed before start-up was over: the program ends without its event loop.
    bool closedWhileStartingUp() const { return closedWhileStartingUp_; }
    // A signal to end (SIGTERM at logout, say): posting stops as with Stop,
    // and the window closes with everything saved; the status is 128 + n.
    void stopAndClose(int signalNumber);

    // RunHost
    void showSpeedLimit(int kBps) override;
    bool removeFromDisk() const override;
    bool onCompleteChecked() const override;
    int onCompleteIndex() const override;
    void setPostingControls(bool posting) override;
    void runEnded() override;
    void setStatusTexts(const QString &speed, const QString &remaining) override;
    void setTrayTooltip(const QString &text) override;
    void setCheckText(const QString &text) override;
    void setRunProgress(qint64 posted, qint64 total) override;
    void addSpeedSample(qint64 bytes) override;
    void setRunSummary(const QString &text) override;
    bool jobsWaiting() const override;
    void enableStartTimer() override;
    void runOnComplete(int index) override;
    void showItem(int index) override;
    void tellUser(const QString &text) override;
    bool unattended() const override { return unattendedRun_; }
    void runGaveUp(int exitStatus, const QString &why) override;

    // JobHost
    bool noUpload() const override;
    void setJobControls(bool running) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildActions();
    void buildListCommands();
    void applyEmptyOrPostingMenuState();
    void applyHasWorkMenuState();
    QList<int> selectedRows() const;
    void onSpeedTextChanged();
    void onRemoveFromDiskClicked();
    void showUploadMenu(const QPoint &pos);
    void showJobMenu(const QPoint &pos);
    // The root row of the selected node, -1 without a job selected.
    int selectedJobRow() const;
    // Checks that both tools are there (saying so when one is not).
    bool toolsPresent();
    void startJobs();
    void applyJobCommandState();
    void buildMenus();
    void buildToolbars();
    void buildCentralArea();
    void buildOptionsBar();
    void buildStatusBar();
    void applySettingsToWindow();
    // The place and size of the last run, where a screen still shows them.
    void restoreGeometryFromSettings();
    void applyMenuState();
    void step(const QString &splashText);
    void wait();
    void showAbout();
    void addTrayIcon();
    void removeTrayIcon();
    // The power action of the countdown window, once it ran out (or was asked for).
    void runSystemAction(int action, bool askFirst = true);
    void showOnComplete(int index, bool allPosted);
    void showBalloon();

    void CheckCMDData(const QStringList &arguments) { runCommandLine(arguments); }
    void AutoUpdateCheck() { checkForUpdates(false); }
    void startEngine(int fillRow = 0, const QList<int> &fillParts = {});

    QStringList commandLine_;
    RunController runs_;
    std::unique_ptr<Verifier> verifier_;
    std::unique_ptr<UpdateCheck> updateCheck_;
    std::unique_ptr<JobRunner> jobRunner_;
    QTimer tmrStart;
    int settingsRequests_ = 0;
    int exitStatus_ = 0;
    bool unattendedRun_ = false; // started by a command line that closes the window when done
    bool editingSpeed_ = false;
    bool startContinuesRun_ = false; // the next timed start posts what a run's jobs made
    bool startingUp_ = false;
    bool closedWhileStartingUp_ = false;
    QPointer<frmScheduler> scheduler_;
    QPointer<frmOnComplete> onComplete_;
    QSystemTrayIcon *tray_ = nullptr;
    QMenu *systraymenu = nullptr;
    QAction *mnuRestore = nullptr, *mnuExit1 = nullptr;
    bool wasMaximized_ = false;
    QMenu *mnupopup = nullptr;
    QAction *mnuPauseSelected = nullptr, *mnuPauseAll = nullptr, *mnuClearSelected = nullptr,
            *mnuClearAll = nullptr, *mnuQueueSelected = nullptr, *mnuQueueAll = nullptr,
            *mnuNewsgroupSelected = nullptr, *mnuNewsgroupAll = nullptr, *mnuFillSegment = nullptr,
            *mnuFillSeparator = nullptr, *mnuNZBSelected = nullptr, *mnuNZBThisCollection = nullptr,
            *mnuVerify = nullptr;
    QString lastRightClickedTag_;
    bool settingsReadFailed_ = false;
    SplashWindow *frmSplash = nullptr;

    QToolBar *Toolbar = nullptr;
    QToolBar *ToolbarUploads = nullptr;
    QToolBar *ToolbarRarPar = nullptr;
    QTreeView *lvwUploads = nullptr;
    QTreeView *lvwConnections = nullptr;
    QListView *RTBLog = nullptr;
    QTreeView *tvwRarPar = nullptr;
    QMenu *RarParMenu = nullptr;
    QAction *mnuRarParItem = nullptr;
    QAction *actJobUp = nullptr, *actJobDown = nullptr, *actJobTop = nullptr, *actJobBottom = nullptr,
            *actJobClear = nullptr;
    QSplitter *Splitter1 = nullptr;
    QSplitter *Splitter2 = nullptr;
    QSplitter *logSplitter_ = nullptr;
    QWidget *ContRarPar = nullptr;
    QWidget *ContUpload = nullptr;
    QLineEdit *txtSpeed = nullptr;
    QLabel *lblSpeed = nullptr;
    QLabel *lblSpeedUnit = nullptr;
    QCheckBox *chkNoUpload = nullptr;
    QCheckBox *chkRemoveFromDisk = nullptr;
    QCheckBox *chkOnComplete = nullptr;
    QComboBox *cboOnComplete = nullptr;
    QList<QLabel *> PicArray;
    QList<QLabel *> lblArray;
    QLabel *lblUpSpeed = nullptr;
    QLabel *lblRemaining = nullptr;
    QLabel *lblChecked = nullptr;
    QProgressBar *prgOverall = nullptr;
    QLabel *lblOverall = nullptr;
    SpeedGraph *speedGraph_ = nullptr;

    QAction *actStart = nullptr, *actAddFiles = nullptr, *actSettings = nullptr, *actLog = nullptr,
            *actScheduler = nullptr, *actRarPar = nullptr, *actAbout = nullptr, *actTray = nullptr;
    QList<QAction *> toolbarSeparators_;
    QAction *actUp = nullptr, *actDown = nullptr, *actTop = nullptr, *actBottom = nullptr, *actClearAll = nullptr,
            *actTogglePane = nullptr;
    QMenu *mnuFile = nullptr, *mnuTools = nullptr, *mnuAb = nullptr;
    QAction *mnuExit = nullptr, *mnuAddFiles = nullptr, *mnuSettings = nullptr, *mnuUpdates = nullptr,
            *mnuHelpEN = nullptr, *mnuHelpNL = nullptr, *mnuAbout = nullptr;

    UploadListProxy *uploadProxy_ = nullptr;
    LogViewProxy *logProxy_ = nullptr;
    ConnectionListProxy *connectionProxy_ = nullptr;
    JobTreeProxy *jobProxy_ = nullptr;
};

} // namespace tessaly
