#include "shell/MainWindow.h"

#include "application/Collection.h"
#include "application/CommandLine.h"
#include "application/Lifecycle.h"
#include "application/UpdateCheck.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "config/Language.h"
#include "common/MessageTable.h"
#include "config/SslTunnel.h"
#include "common/Crc32.h"
#include "engine/Verifier.h"
#include "engine/yEnc.h"
#include "platform/ProgramFolder.h"
#include "rarpar/JobTree.h"
#include "shell/Icons.h"
#include "shell/ModelViews.h"
#include "shell/Prompts.h"
#include "shell/Splash.h"
#include "shell/SpeedGraph.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/LogFiles.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <utility>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDropEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QMenu>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenuBar>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {
int g_startupWait = 300;

QToolBar *makeToolbar(const QString &name, QWidget *parent, Qt::ToolButtonStyle style, int iconSize)
{
    auto *bar = new QToolBar(name, parent);
    bar->setObjectName(name);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(style);
    bar->setIconSize(QSize(iconSize, iconSize));
    return bar;
}

QString caption(int slot)
{
    return msg(slot);
}

// A menu title opens with Alt and its first letter, unless it names its own key.
QString withMnemonic(const QString &text)
{
    if (text.contains(u'&'))
        return text;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i].isLetterOrNumber())
            return text.left(i) + u'&' + text.mid(i);
    return text;
}

// Percentage of the first pane of a splitter, one decimal.
double firstPanePercent(const QSplitter *s)
{
    const QList<int> sizes = s->sizes();
    if (sizes.size() < 2 || sizes[0] + sizes[1] <= 0)
        return 0;
    return std::round(1000.0 * sizes[0] / (sizes[0] + sizes[1])) / 10.0;
}

void setFirstPanePercent(QSplitter *s, double percent)
{
    if (!(percent > 0 && percent < 100))
        return;
    s->setSizes({int(percent * 100), int((100 - percent) * 100)});
}
} // namespace

void MainWindow::setStartupWait(int milliseconds)
{
    g_startupWait = milliseconds;
}

MainWindow::MainWindow(const QStringList &commandLine, QWidget *parent)
    : QMainWindow(parent)
    , commandLine_(commandLine)
    , runs_(*this)
{
    setObjectName(u"frmMain"_s);
    setWindowIcon(Icons::appIcon());
    buildActions();
    buildMenus();
    buildToolbars();
    buildCentralArea();
    buildStatusBar();
    LoadMainWindow();
    QSize size(1180, 760);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 0.94);
    resize(size);
}

MainWindow::~MainWindow() = default;

void MainWindow::restoreGeometryFromSettings()
{
    const QStringList parts = appSettings().WindowGeometry.split(u',');
    if (parts.size() != 4)
        return;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return;
    }
    QRect r(v[0], v[1], v[2], v[3]);
    if (r.width() < 400 || r.height() < 300)
        return;
    // Only where a screen still is (a monitor may have gone since), and not
    // larger than it.
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        if (!area.intersects(r))
            continue;
        r.setSize(r.size().boundedTo(area.size()));
        resize(r.size());
        move(r.topLeft());
        return;
    }
    resize(r.size().boundedTo(QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableSize()
                                                                : r.size()));
}

void MainWindow::buildActions()
{
    auto action = [this](Icons::Tool icon, const QString &name) {
        auto *a = new QAction(Icons::toolIcon(icon), QString(), this);
        a->setObjectName(name);
        return a;
    };
    actStart = action(Icons::Tool::Start, u"tbStart"_s);
    actAddFiles = action(Icons::Tool::AddFiles, u"tbAddFiles"_s);
    actSettings = action(Icons::Tool::Settings, u"tbSettings"_s);
    actLog = action(Icons::Tool::Log, u"tbLog"_s);
    actLog->setCheckable(true);
    actLog->setChecked(true);
    actScheduler = action(Icons::Tool::Scheduler, u"tbScheduler"_s);
    actRarPar = action(Icons::Tool::RarPar, u"tbRarPar"_s);
    actAbout = action(Icons::Tool::About, u"tbAbout"_s);
    actTray = action(Icons::Tool::Tray, u"tbTray"_s);

    actUp = action(Icons::Tool::Up, u"tbUp"_s);
    actDown = action(Icons::Tool::Down, u"tbDown"_s);
    actTop = action(Icons::Tool::Top, u"tbTop"_s);
    actBottom = action(Icons::Tool::Bottom, u"tbBottom"_s);
    actClearAll = action(Icons::Tool::Clear, u"tbClearAll"_s);
    actTogglePane = action(Icons::Tool::TogglePane, u"tbTogglePane"_s);

    connect(actScheduler, &QAction::triggered, this, &MainWindow::openScheduler);
    connect(actRarPar, &QAction::triggered, this, &MainWindow::openRarParDialog);
    connect(actStart, &QAction::triggered, this, &MainWindow::startPressed);
    connect(actAddFiles, &QAction::triggered, this, &MainWindow::openAddFilesPicker);
    connect(actSettings, &QAction::triggered, this, &MainWindow::openSettings);
    connect(actUp, &QAction::triggered, this, &MainWindow::ListViewMoveSelUp);
    connect(actDown, &QAction::triggered, this, &MainWindow::ListViewMoveSelDown);
    connect(actTop, &QAction::triggered, this, &MainWindow::ListViewMoveToTop);
    connect(actBottom, &QAction::triggered, this, &MainWindow::ListViewMoveToBottom);
    connect(actClearAll, &QAction::triggered, this, &MainWindow::clearAll);

    tmrStart.setSingleShot(true);
    tmrStart.setInterval(800);
    connect(&tmrStart, &QTimer::timeout, this, [this] {
        tmrStart.stop();
        const bool continues = std::exchange(startContinuesRun_, false);
        if (uploadQueue().count() > 0 || jobsWaiting())
            continues ? StartOrStop() : startPressed();
    });

    connect(actLog, &QAction::toggled, this, [this](bool on) { RTBLog->setVisible(on); });
    connect(actAbout, &QAction::triggered, this, &MainWindow::showAbout);
    connect(actTray, &QAction::triggered, this, &MainWindow::sendToTray);
    connect(actTogglePane, &QAction::triggered, this, [this] {
        const QList<int> sizes = Splitter2->sizes();
        if (sizes.value(0) > 0)
            Splitter2->setSizes({0, sizes.value(0) + sizes.value(1)});
        else
            setFirstPanePercent(Splitter2, appSettings().SplitterPos2 > 0 ? appSettings().SplitterPos2 : 20);
    });
}

void MainWindow::buildMenus()
{
    mnuFile = menuBar()->addMenu(QString());
    mnuExit = mnuFile->addAction(QString(), this, &QWidget::close);
    mnuTools = menuBar()->addMenu(QString());
    mnuAddFiles = mnuTools->addAction(QString());
    mnuSettings = mnuTools->addAction(QString());
    mnuTools->addSeparator();
    mnuUpdates = mnuTools->addAction(QString());
    mnuAb = menuBar()->addMenu(QString());
    mnuHelpEN = mnuAb->addAction(QString(), this,
                                 [] { QDesktopServices::openUrl(QUrl(u"https://tessaly-poster.example.org/help/en/"_s)); });
    mnuHelpNL = mnuAb->addAction(QString(), this,
                                 [] { QDesktopServices::openUrl(QUrl(u"https://tessaly-poster.example.org/help/nl/"_s)); });
    mnuAb->addSeparator();
    mnuAbout = mnuAb->addAction(QString(), this, &MainWindow::showAbout);
    connect(mnuAddFiles, &QAction::triggered, this, &MainWindow::openAddFilesPicker);
    connect(mnuSettings, &QAction::triggered, this, &MainWindow::openSettings);
    connect(mnuUpdates, &QAction::triggered, this, [this] { checkForUpdates(true); });
    mnuUpdates->setObjectName(u"mnuUpdates"_s);
    buildListCommands();
    mnuExit->setObjectName(u"mnuExit"_s);
    mnuSettings->setObjectName(u"mnuSettings"_s);
    mnuAddFiles->setShortcut(QKeySequence::Open);
    mnuSettings->setShortcut(QKeySequence(u"Ctrl+,"_s));
    mnuExit->setShortcut(QKeySequence(u"Ctrl+Q"_s));
    mnuAbout->setShortcut(QKeySequence(Qt::Key_F1));
}

void MainWindow::buildListCommands()
{
    mnupopup = new QMenu(this);
    mnupopup->setObjectName(u"mnupopup"_s);
    mnuPauseSelected = mnupopup->addAction(QString(), this, [this] { pauseItems(true); });
    mnuPauseAll = mnupopup->addAction(QString(), this, [this] { pauseItems(false); });
    mnupopup->addSeparator();
    mnuClearSelected = mnupopup->addAction(QString(), this, [this] { clearSelected(true); });
    mnuClearAll = mnupopup->addAction(QString(), this, &MainWindow::clearAll);
    mnupopup->addSeparator();
    mnuQueueSelected = mnupopup->addAction(QString(), this, [this] { requeueItems(true); });
    mnuQueueAll = mnupopup->addAction(QString(), this, [this] { requeueItems(false); });
    mnuQueueSelected->setObjectName(u"mnuQueueSelected"_s);
    mnuQueueAll->setObjectName(u"mnuQueueAll"_s);
    mnupopup->addSeparator();
    mnuNewsgroupSelected = mnupopup->addAction(QString(), this, [this] { changeNewsgroups(false); });
    mnuNewsgroupAll = mnupopup->addAction(QString(), this, [this] { changeNewsgroups(true); });
    mnuNewsgroupSelected->setObjectName(u"mnuNewsgroupSelected"_s);
    mnuNewsgroupAll->setObjectName(u"mnuNewsgroupAll"_s);
    mnuFillSeparator = mnupopup->addSeparator();
    mnuFillSegment = mnupopup->addAction(QString(), this, &MainWindow::fillSelected);
    mnuFillSegment->setObjectName(u"mnuFillSegment"_s);
    mnuFillSeparator->setVisible(false);
    mnuFillSegment->setVisible(false);
    mnupopup->addSeparator();
    mnuNZBSelected = mnupopup->addAction(QString(), this, &MainWindow::createNzbOfSelection);
    mnuNZBThisCollection = mnupopup->addAction(QString(), this, [this] { createNzbOfCollection(lastRightClickedTag_); });
    mnuNZBThisCollection->setObjectName(u"mnuNZBThisCollection"_s);
    mnuVerify = mnupopup->addAction(QString(), this, &MainWindow::verifySelected);
    mnuVerify->setObjectName(u"mnuVerify"_s);
}

void MainWindow::buildToolbars()
{
    Toolbar = makeToolbar(u"Toolbar"_s, this, Qt::ToolButtonTextUnderIcon, 24);
    const QList<QAction *> buttons{actStart, actAddFiles, actSettings, actLog, actScheduler, actRarPar, actAbout, actTray};
    for (int i = 0; i < buttons.size(); ++i) {
        Toolbar->addAction(buttons[i]);
        if (i + 1 < buttons.size())
            toolbarSeparators_ << Toolbar->addSeparator();
    }
    addToolBar(Qt::TopToolBarArea, Toolbar);
}

void MainWindow::buildCentralArea()
{
    // Upload pane: its toolbar and the list.
    ContUpload = new QWidget;
    ContUpload->setObjectName(u"ContUpload"_s);
    ToolbarUploads = makeToolbar(u"ToolbarUploads"_s, ContUpload, Qt::ToolButtonIconOnly, 16);
    ToolbarUploads->addAction(actUp);
    ToolbarUploads->addAction(actDown);
    ToolbarUploads->addSeparator();
    ToolbarUploads->addAction(actTop);
    ToolbarUploads->addAction(actBottom);
    ToolbarUploads->addSeparator();
    ToolbarUploads->addAction(actClearAll);
    ToolbarUploads->addSeparator();
    ToolbarUploads->addAction(actTogglePane);
    uploadProxy_ = new UploadListProxy(this);
    uploadProxy_->setSourceModel(&uploadQueue());
    lvwUploads = new QTreeView;
    lvwUploads->setObjectName(u"lvwUploads"_s);
    lvwUploads->setModel(uploadProxy_);
    lvwUploads->setRootIsDecorated(false);
    lvwUploads->setUniformRowHeights(true);
    lvwUploads->setAlternatingRowColors(true);
    lvwUploads->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvwUploads->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwUploads->setAllColumnsShowFocus(true);
    lvwUploads->header()->setStretchLastSection(true);
    lvwUploads->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvwUploads, &QWidget::customContextMenuRequested, this, &MainWindow::showUploadMenu);
    lvwUploads->setAcceptDrops(true);
    lvwUploads->viewport()->setAcceptDrops(true);
    lvwUploads->setDragDropMode(QAbstractItemView::DropOnly);
    lvwUploads->installEventFilter(this);
    lvwUploads->viewport()->installEventFilter(this);
    auto *uploadLayout = new QVBoxLayout(ContUpload);
    uploadLayout->setContentsMargins(0, 0, 0, 0);
    uploadLayout->setSpacing(0);
    uploadLayout->addWidget(ToolbarUploads);
    uploadLayout->addWidget(lvwUploads);

    // Rar & Par pane: its toolbar and the job tree with its placeholder node.
    ContRarPar = new QWidget;
    ContRarPar->setObjectName(u"ContRarPar"_s);
    ToolbarRarPar = makeToolbar(u"ToolbarRarPar"_s, ContRarPar, Qt::ToolButtonIconOnly, 16);
    const auto jobAction = [this](Icons::Tool t, const QString &name) {
        QAction *a = ToolbarRarPar->addAction(Icons::toolIcon(t), QString());
        a->setObjectName(name);
        return a;
    };
    actJobUp = jobAction(Icons::Tool::Up, u"tbJobUp"_s);
    actJobDown = jobAction(Icons::Tool::Down, u"tbJobDown"_s);
    ToolbarRarPar->addSeparator();
    actJobTop = jobAction(Icons::Tool::Top, u"tbJobTop"_s);
    actJobBottom = jobAction(Icons::Tool::Bottom, u"tbJobBottom"_s);
    ToolbarRarPar->addSeparator();
    actJobClear = jobAction(Icons::Tool::Clear, u"tbJobClear"_s);
    connect(actJobUp, &QAction::triggered, this, [this] { moveSelectedJob(JobMove::Up); });
    connect(actJobDown, &QAction::triggered, this, [this] { moveSelectedJob(JobMove::Down); });
    connect(actJobTop, &QAction::triggered, this, [this] { moveSelectedJob(JobMove::Top); });
    connect(actJobBottom, &QAction::triggered, this, [this] { moveSelectedJob(JobMove::Bottom); });
    connect(actJobClear, &QAction::triggered, this, &MainWindow::clearAllJobs);
    tvwRarPar = new QTreeView;
    tvwRarPar->setObjectName(u"tvwRarPar"_s);
    tvwRarPar->setHeaderHidden(true);
    jobProxy_ = new JobTreeProxy(this);
    jobProxy_->setSourceModel(&tessaly::jobTree());
    tvwRarPar->setModel(jobProxy_);
    tvwRarPar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tvwRarPar, &QWidget::customContextMenuRequested, this, &MainWindow::showJobMenu);
    connect(tvwRarPar->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &MainWindow::applyJobCommandState);
    connect(&tessaly::jobTree(), &QAbstractItemModel::rowsRemoved, this, &MainWindow::applyJobCommandState);
    RarParMenu = new QMenu(this);
    mnuRarParItem = RarParMenu->addAction(QString());
    mnuRarParItem->setObjectName(u"mnuRarParItem"_s);
    connect(mnuRarParItem, &QAction::triggered, this, &MainWindow::removeSelectedJob);
    auto *rarParLayout = new QVBoxLayout(ContRarPar);
    rarParLayout->setContentsMargins(0, 0, 0, 0);
    rarParLayout->setSpacing(0);
    rarParLayout->addWidget(ToolbarRarPar);
    rarParLayout->addWidget(tvwRarPar);

    Splitter2 = new QSplitter(Qt::Horizontal);
    Splitter2->setObjectName(u"Splitter2"_s);
    Splitter2->addWidget(ContRarPar);
    Splitter2->addWidget(ContUpload);
    Splitter2->setChildrenCollapsible(true);

    // Connections and the log below.
    connectionProxy_ = new ConnectionListProxy(this);
    connectionProxy_->setSourceModel(&connectionList());
    lvwConnections = new QTreeView;
    lvwConnections->setObjectName(u"lvwConnections"_s);
    lvwConnections->setModel(connectionProxy_);
    lvwConnections->setRootIsDecorated(false);
    lvwConnections->setUniformRowHeights(true);
    lvwConnections->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvwConnections->setItemDelegate(new ProgressDelegate(lvwConnections));
    lvwConnections->header()->setStretchLastSection(true);

    logProxy_ = new LogViewProxy(this);
    logProxy_->setSourceModel(&logModel());
    RTBLog = new QListView;
    RTBLog->setObjectName(u"RTBLog"_s);
    RTBLog->setModel(logProxy_);
    RTBLog->setUniformItemSizes(true);
    RTBLog->setLayoutMode(QListView::Batched);
    RTBLog->setBatchSize(500);
    RTBLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    RTBLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Follow new lines while the view is at the bottom; coalesce bursts.
    auto *scrollTimer = new QTimer(this);
    scrollTimer->setSingleShot(true);
    scrollTimer->setInterval(0);
    connect(scrollTimer, &QTimer::timeout, RTBLog, &QListView::scrollToBottom);
    connect(logProxy_, &QAbstractItemModel::rowsInserted, this, [this, scrollTimer] {
        QScrollBar *bar = RTBLog->verticalScrollBar();
        if (bar->value() >= bar->maximum() - 2 && !scrollTimer->isActive())
            scrollTimer->start();
    });

    // The log with the speed graph beside it.
    speedGraph_ = new SpeedGraph;
    auto *logRow = new QSplitter(Qt::Horizontal);
    logRow->setObjectName(u"logRow"_s);
    logRow->addWidget(RTBLog);
    logRow->addWidget(speedGraph_);
    logRow->setStretchFactor(0, 3);
    logRow->setStretchFactor(1, 1);
    logSplitter_ = new QSplitter(Qt::Vertical);
    logSplitter_->addWidget(lvwConnections);
    logSplitter_->addWidget(logRow);
    logSplitter_->setSizes({55, 45});

    Splitter1 = new QSplitter(Qt::Vertical);
    Splitter1->setObjectName(u"Splitter1"_s);
    Splitter1->addWidget(Splitter2);
    Splitter1->addWidget(logSplitter_);

    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);
    layout->addWidget(Splitter1, 1);
    setCentralWidget(central);
    buildOptionsBar();
    layout->addWidget(findChild<QWidget *>(u"optionsBar"_s));
}

void MainWindow::buildOptionsBar()
{
    auto *bar = new QWidget(this);
    bar->setObjectName(u"optionsBar"_s);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(2, 2, 2, 2);
    lblSpeed = new QLabel;
    txtSpeed = new QLineEdit;
    txtSpeed->setObjectName(u"txtSpeed"_s);
    txtSpeed->setValidator(new QIntValidator(0, 99999999, txtSpeed));
    txtSpeed->setMaxLength(8);
    txtSpeed->setFixedWidth(70);
    txtSpeed->setAlignment(Qt::AlignRight);
    lblSpeedUnit = new QLabel(u"kB/s"_s);
    chkNoUpload = new QCheckBox;
    chkNoUpload->setObjectName(u"chkNoUpload"_s);
    chkRemoveFromDisk = new QCheckBox;
    chkRemoveFromDisk->setObjectName(u"chkRemoveFromDisk"_s);
    chkOnComplete = new QCheckBox;
    chkOnComplete->setObjectName(u"chkOnComplete"_s);
    cboOnComplete = new QComboBox;
    cboOnComplete->setObjectName(u"cboOnComplete"_s);
    cboOnComplete->setEnabled(false);
    connect(chkOnComplete, &QCheckBox::toggled, this, [this](bool on) {
        cboOnComplete->setEnabled(on);
        cboOnComplete->setToolTip(on ? QString() : msg(274).arg(QString(chkOnComplete->text()).remove(u':')));
    });
    connect(txtSpeed, &QLineEdit::textChanged, this, &MainWindow::onSpeedTextChanged);
    connect(chkRemoveFromDisk, &QCheckBox::clicked, this, &MainWindow::onRemoveFromDiskClicked);
    connect(chkRemoveFromDisk, &QCheckBox::toggled, this, [this](bool on) { runs_.setRemoveFromDisk(on); });

    row->addWidget(lblSpeed);
    row->addWidget(txtSpeed);
    row->addWidget(lblSpeedUnit);
    row->addSpacing(16);
    row->addWidget(chkNoUpload);
    row->addSpacing(8);
    row->addWidget(chkRemoveFromDisk);
    row->addSpacing(8);
    row->addWidget(chkOnComplete);
    row->addWidget(cboOnComplete);
    row->addStretch(1);
    // The run's overall progress: bytes posted of all it set out to post.
    prgOverall = new QProgressBar;
    prgOverall->setObjectName(u"prgOverall"_s);
    prgOverall->setRange(0, 1000);
    prgOverall->setValue(0);
    prgOverall->setTextVisible(false);
    prgOverall->setFixedWidth(140);
    lblOverall = new QLabel;
    lblOverall->setObjectName(u"lblOverall"_s);
    lblOverall->setMinimumWidth(1);
    row->addWidget(lblOverall);
    row->addWidget(prgOverall);
}

void MainWindow::buildStatusBar()
{
    lblUpSpeed = new QLabel;
    lblUpSpeed->setObjectName(u"lblUpSpeed"_s);
    lblRemaining = new QLabel;
    lblRemaining->setObjectName(u"lblRemaining"_s);
    statusBar()->addWidget(lblUpSpeed);
    statusBar()->addWidget(new QLabel(u"   "_s));
    statusBar()->addWidget(lblRemaining);
    lblChecked = new QLabel;
    lblChecked->setObjectName(u"lblChecked"_s);
    statusBar()->addWidget(lblChecked, 1);
    // Texts that change during a run are cut where the window ends; they
    // never widen it (it must fit a laptop's screen).
    for (QLabel *label : {lblUpSpeed, lblRemaining, lblChecked})
        label->setMinimumWidth(1);
    lblChecked->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // The legend of the item states.
    auto *legend = new QWidget;
    legend->setObjectName(u"legend"_s);
    auto *row = new QHBoxLayout(legend);
    row->setContentsMargins(0, 0, 4, 0);
    row->setSpacing(4);
    for (int i = 0; i < 5; ++i) {
        auto *pic = new QLabel;
        pic->setPixmap(Icons::stateIcon(iconOf(UploadState(i + 1))).pixmap(16, 16));
        auto *label = new QLabel;
        PicArray << pic;
        lblArray << label;
        row->addWidget(pic);
        row->addWidget(label);
        row->addSpacing(8);
    }
    statusBar()->addPermanentWidget(legend);
}

void MainWindow::LoadMainWindow()
{
    setWindowTitle(QString::fromUtf16(kAppTitle));
    actStart->setText(caption(postingInProgress() ? 40 : 39));
    actAddFiles->setText(caption(41));
    actSettings->setText(caption(42));
    actLog->setText(caption(43));
    actScheduler->setText(caption(44));
    actRarPar->setText(u"Rar && Par"_s);
    actAbout->setText(caption(45));
    actTray->setText(caption(46));
    speedGraph_->setToolTip(msg(272));
    actUp->setToolTip(u"Move up"_s);
    actDown->setToolTip(u"Move down"_s);
    actTop->setToolTip(u"Move to top"_s);
    actBottom->setToolTip(u"Move to bottom"_s);
    actClearAll->setText(caption(98));
    actTogglePane->setToolTip(u"Show or hide the Rar && Par pane"_s);

    mnuFile->setTitle(withMnemonic(caption(71)));
    mnuExit->setText(caption(72));
    mnuTools->setTitle(withMnemonic(caption(73)));
    mnuAddFiles->setText(caption(74));
    mnuSettings->setText(caption(75));
    mnuUpdates->setText(caption(76));
    mnuAb->setTitle(withMnemonic(caption(77)));
    mnuHelpEN->setText(caption(78));
    mnuHelpNL->setText(caption(79));
    mnuAbout->setText(caption(80));
    if (systraymenu) {
        mnuRestore->setText(caption(261));
        mnuExit1->setText(caption(72));
    }
    if (tray_ && scheduler_.isNull())
        setTrayTooltip(standardTrayTooltip());

    lblSpeed->setText(caption(54));
    chkNoUpload->setText(caption(107));
    chkRemoveFromDisk->setText(caption(108));
    chkOnComplete->setText(caption(47));
    const int chosen = std::max(0, cboOnComplete->currentIndex());
    cboOnComplete->clear();
    for (int slot = 48; slot <= 53; ++slot)
        cboOnComplete->addItem(caption(slot));
    cboOnComplete->setCurrentIndex(chosen);
    if (!chkOnComplete->isChecked())
        cboOnComplete->setToolTip(msg(274).arg(QString(chkOnComplete->text()).remove(u':')));
    for (int i = 0; i < lblArray.size(); ++i)
        lblArray[i]->setText(caption(66 + i));
    tessaly::jobTree().relabel();
    mnuRarParItem->setText(caption(166));
    actJobUp->setToolTip(u"UP"_s);
    actJobDown->setToolTip(u"DOWN"_s);
    actJobTop->setToolTip(u"TOP"_s);
    actJobBottom->setToolTip(u"BOTTOM"_s);
    actJobClear->setToolTip(caption(98));
    // The texts just set are the ones a greyed-out button adds its reason to.
    for (QAction *a : findChildren<QAction *>())
        a->setProperty("idleTip", QVariant());
    applyJobCommandState();
    mnuPauseSelected->setText(caption(95));
    mnuPauseAll->setText(caption(96));
    mnuClearSelected->setText(caption(97));
    mnuClearAll->setText(caption(98));
    mnuQueueSelected->setText(caption(99));
    mnuQueueAll->setText(caption(100));
    mnuNewsgroupSelected->setText(caption(101));
    mnuNewsgroupAll->setText(caption(102));
    mnuFillSegment->setText(caption(103));
    mnuNZBSelected->setText(caption(104));
    mnuVerify->setText(caption(253));
    mnuNZBThisCollection->setText(caption(105));
    lblUpSpeed->setText(caption(64) + u' ' + kbPerSecond(0));
    lblRemaining->setText(caption(65) + u" 00:00:00"_s);

    uploadQueue().relabel();
    uploadQueue().retranslateHeaders();
    connectionList().relabel();
    fitColumnsToTheirTexts();
}

void MainWindow::wait()
{
    if (g_startupWait > 0)
        WaitWithEvents(g_startupWait);
}

void MainWindow::step(const QString &splashText)
{
    if (frmSplash)
        frmSplash->setText(splashText);
}

void MainWindow::Form_Load()
{
    setWindowTitle(QString::fromUtf16(kAppTitle));
    addTrayIcon();
    startingUp_ = true;
    // Closing at any moment of start-up ends it there.
    const auto closed = [this] {
        if (!closedWhileStartingUp_)
            return false;
        startingUp_ = false;
        if (frmSplash) {
            frmSplash->deleteLater();
            frmSplash = nullptr;
        }
        return true;
    };

    frmSplash = new SplashWindow(this);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        frmSplash->move(screen->availableGeometry().center() - frmSplash->rect().center());
    frmSplash->show();
    wait();
    if (closed())
        return;

    settingsReadFailed_ = !startUp([this](const QString &text) {
        step(text);
        if (!closedWhileStartingUp_)
            wait();
    });
    if (closed())
        return;
    applySettingsToWindow();

    applyJobCommandState();

    txtSpeed->setText(QString::number(appSettings().MaxSpeed));
    LoadMainWindow();

    applyMenuState();
    connectionList().rebuild(std::min(appSettings().Connections, int(ConnectionList::MaxConnections)));

    restoreGeometryFromSettings();
    if (appSettings().WindowState == u"2"_s)
        showMaximized();
    else
        show();
    QCoreApplication::processEvents();

    if (closed())
        return;
    if (!commandLine_.isEmpty()) {
        step(u"Loading Commandline Switches..."_s);
        wait();
        if (closed())
            return;
        // Files and folders opened with the program from a file manager go
        // to the Adding dialog, as if dropped on the list.
        if (const QStringList files = filesToOpen(commandLine_); !files.isEmpty())
            QTimer::singleShot(0, this, [this, files] { addFiles(files); });
        else
            runCommandLine(commandLine_);
    }
    startingUp_ = false;

    frmSplash->hide();
    frmSplash->deleteLater();
    frmSplash = nullptr;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    if (commandLine_.isEmpty()) {
        if (appSettings().CheckUpdates == 1) {
            QCoreApplication::processEvents();
            AutoUpdateCheck();
        }
        if (settingsReadFailed_) {
            Prompts::message(this,
                             u"Something went wrong while reading the 'Settings.ini' file (corrupted?). \r\n"
                             u"A new ini file has been created, but all entered information has been lost. "_s,
                             PromptIcon::Exclamation);
        }
    }
}

void MainWindow::applySettingsToWindow()
{
    const AppSettings &s = appSettings();
    setFirstPanePercent(Splitter1, s.SplitterPos1);
    setFirstPanePercent(Splitter2, s.SplitterPos2);
    chkNoUpload->setChecked(s.NoUpload == 1);
    chkRemoveFromDisk->setChecked(s.RemoveFromDisk == 1);
    const int uploadWidths[] = {s.Column1, s.Column2, s.Column3, s.Column4};
    for (int i = 0; i < 4; ++i)
        if (uploadWidths[i] > 0)
            lvwUploads->setColumnWidth(i, uploadWidths[i]);
    const int connectionWidths[] = {s.Column5, s.Column6, s.Column7, s.Column8, s.Column9};
    for (int i = 0; i < 5; ++i)
        if (connectionWidths[i] > 0)
            lvwConnections->setColumnWidth(i, connectionWidths[i]);
    // The number column must at least show "RarPar" beside its icon.
    const int numberWidth = lvwConnections->fontMetrics().horizontalAdvance(u"RarPar"_s) + 40;
    if (lvwConnections->columnWidth(0) < numberWidth)
        lvwConnections->setColumnWidth(0, numberWidth);
    fitColumnsToTheirTexts();
    if (s.HideSeparators == 1 && toolbarSeparators_.size() >= 2) {
        toolbarSeparators_[toolbarSeparators_.size() - 1]->setVisible(false);
        toolbarSeparators_[toolbarSeparators_.size() - 2]->setVisible(false);
    }
}

void MainWindow::fitColumnsToTheirTexts()
{
    // Every title whole, in the language chosen; the status column fits
    // "Upload in Thread 25" beside its icon.
    for (QTreeView *view : {lvwUploads, lvwConnections}) {
        QHeaderView *header = view->header();
        for (int i = 0; i < header->count() - 1; ++i)
            if (const int wanted = header->sectionSizeHint(i); header->sectionSize(i) < wanted)
                header->resizeSection(i, wanted);
    }
    const int status = lvwUploads->fontMetrics().horizontalAdvance(msg(131) + u" 25"_s) + 40;
    if (lvwUploads->columnWidth(1) < status)
        lvwUploads->setColumnWidth(1, status);
}

bool MainWindow::Form_QueryUnload()
{
    if (postingInProgress() || (jobRunner_ && jobRunner_->isRunning())) {
        Prompts::message(this, msg(81), PromptIcon::Exclamation, PromptButtons::Ok, msg(82));
        return false;
    }

    AppSettings &s = appSettings();
    s.MaxSpeed = txtSpeed->text().trimmed().toInt();
    s.WindowState = isMaximized() ? u"2"_s : (isMinimized() ? u"1"_s : u"0"_s);
    const QRect normal = normalGeometry().isValid() ? normalGeometry() : geometry();
    s.WindowGeometry = u"%1,%2,%3,%4"_s.arg(normal.x()).arg(normal.y()).arg(normal.width()).arg(normal.height());
    if (!Splitter1->sizes().isEmpty() && Splitter1->sizes().value(0) + Splitter1->sizes().value(1) > 0)
        s.SplitterPos1 = firstPanePercent(Splitter1);
    if (Splitter2->sizes().value(0) > 0)
        s.SplitterPos2 = firstPanePercent(Splitter2);
    int *uploadWidths[] = {&s.Column1, &s.Column2, &s.Column3, &s.Column4};
    for (int i = 0; i < 4; ++i)
        *uploadWidths[i] = lvwUploads->columnWidth(i);
    int *connectionWidths[] = {&s.Column5, &s.Column6, &s.Column7, &s.Column8, &s.Column9};
    for (int i = 0; i < 5; ++i)
        *connectionWidths[i] = lvwConnections->columnWidth(i);
    s.NoUpload = chkNoUpload->isChecked() ? 1 : 0;
    s.RemoveFromDisk = chkRemoveFromDisk->isChecked() ? 1 : 0;
    shutDown();
    removeTrayIcon();
    return true;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lvwUploads && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete && !postingInProgress()) {
            if (!selectedRows().isEmpty() && confirmClearSelected())
                clearSelected(true);
            return true;
        }
    }
    if (watched == lvwUploads->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto *drag = static_cast<QDropEvent *>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto *drop = static_cast<QDropEvent *>(event);
            // Files make one collection; each folder makes one of its own, as /F does.
            QStringList files;
            QList<QStringList> folders;
            for (const QUrl &url : drop->mimeData()->urls()) {
                if (!url.isLocalFile())
                    continue;
                if (fileExists(url.toLocalFile()))
                    files << url.toLocalFile();
                else if (QFileInfo(url.toLocalFile()).isDir())
                    folders << filesToQueueIn(url.toLocalFile());
            }
            drop->acceptProposedAction();
            if (!files.isEmpty())
                folders.prepend(files);
            for (const QStringList &collection : std::as_const(folders))
                if (!collection.isEmpty())
                    QTimer::singleShot(0, this, [this, collection] { addFiles(collection); });
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (startingUp_) {
        // Closed (or stopped by a signal) while starting: nothing has changed
        // yet, and what is only half loaded must not be saved over the files.
        closedWhileStartingUp_ = true;
        removeTrayIcon();
        if (frmSplash)
            frmSplash->hide();
        event->accept();
        return;
    }
    if (Form_QueryUnload())
        event->accept();
    else
        event->ignore();
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    if (QWindow *w = windowHandle())
        w->requestActivate();
}

void MainWindow::showAbout()
{
    QDialog about(this);
    about.setObjectName(u"frmAbout"_s);
    about.setWindowTitle(msg(80));
    auto *icon = new QLabel;
    icon->setPixmap(Icons::appIcon().pixmap(64, 64));
    auto *name = new QLabel(u"<b style='font-size:16pt'>%1</b>"_s.arg(QString::fromUtf16(kProgramName)));
    auto *lblVersion = new QLabel(versionNumber());
    lblVersion->setObjectName(u"lblVersion"_s);
    auto *lblHyperlink = new QLabel(u"<a href='%1'>%1</a>"_s.arg(QString::fromUtf16(kHomePageUrl)));
    lblHyperlink->setObjectName(u"lblHyperlink"_s);
    lblHyperlink->setOpenExternalLinks(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    auto *text = new QVBoxLayout;
    text->addWidget(name);
    text->addWidget(lblVersion);
    text->addWidget(lblHyperlink);
    auto *top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(12);
    top->addLayout(text, 1);
    auto *layout = new QVBoxLayout(&about);
    layout->addLayout(top);
    layout->addWidget(buttons);
    about.exec();
}

} // namespace tessaly
