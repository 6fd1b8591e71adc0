// The main window's commands: Start and Stop, the list commands, the speed
// box, the two timers, NZB requests, adding files, the command line, and the
// host side of the posting engine.
#include "shell/MainWindow.h"

#include "application/Lifecycle.h"
#include "application/UpdateCheck.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/PostStats.h"
#include "engine/Verifier.h"
#include "engine/PostingRun.h"
#include "platform/ProgramFolder.h"
#include "rarpar/FileLists.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "rarpar/Tools.h"
#include "shell/FileSetupDialog.h"
#include "shell/FillSegmentDialog.h"
#include "shell/Icons.h"
#include "shell/ModelViews.h"
#include "shell/NewsgroupsDialog.h"
#include "shell/Prompts.h"
#include "shell/RarParDialog.h"
#include "shell/SettingsDialog.h"
#include "shell/SpeedGraph.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/NzbFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QDesktopServices>
#include <QUrl>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QStatusBar>
#include <QTreeView>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

// ---------------------------------------------------------------- Start / Stop

void MainWindow::StartOrStop()
{
    if (jobRunner_ && jobRunner_->isRunning()) {
        QCoreApplication::processEvents();
        if (Prompts::message(this, msg(89), PromptIcon::Exclamation, PromptButtons::YesNo, msg(82)) == PromptAnswer::Yes
            && jobRunner_)
            jobRunner_->cancel();
        return;
    }
    if (runs_.running()) {
        QCoreApplication::processEvents();
        if (Prompts::message(this, msg(89), PromptIcon::Exclamation, PromptButtons::YesNo, msg(82)) == PromptAnswer::Yes)
            runs_.stop();
        return;
    }
    if (const int slot = missingSettingSlot()) {
        Prompts::message(this, msg(slot));
        openSettings();
        return;
    }
    if (uploadQueue().hasState(UploadState::Queued)) {
        startEngine();
        return;
    }
    // Uploads waiting come first; jobs run when nothing is queued.
    if (!tessaly::jobTree().hasJobs()) {
        Prompts::message(this, msg(93));
        return;
    }
    if (toolsPresent())
        startJobs();
}

void MainWindow::startEngine(int fillRow, const QList<int> &fillParts)
{
    std::optional<FillPlan> fill;
    if (fillRow > 0)
        fill = FillPlan{uploadQueue().item(fillRow).id, fillParts};
    runs_.start(fill);
}

// ---------------------------------------------------------------- fill, newsgroups, updates

void MainWindow::fillSelected()
{
    const QList<int> rows = selectedRows();
    if (rows.size() != 1 || engine() || verifier_ || (jobRunner_ && jobRunner_->isRunning()))
        return;
    const int row = rows.first();
    const UploadItem &it = uploadQueue().item(row);
    if (it.state != UploadState::PostedOK || !fileExists(it.path))
        return;
    frmFillSegment dialog(it.maxparts, this);
    dialog.openSettings = [this] { openSettings(); };
    const QList<int> parts = dialog.run();
    if (!parts.isEmpty())
        startFill(row, parts);
}

void MainWindow::startFill(int row, const QList<int> &parts)
{
    if (engine() || !uploadQueue().isValidIndex(row) || parts.isEmpty())
        return;
    AddLog(0, u"Upload individual parts."_s);
    startEngine(row, parts);
    applyMenuState();
}

void MainWindow::changeNewsgroups(bool allFiles)
{
    frmNewsgroups dialog(allFiles, selectedRows(), this);
    dialog.run();
}

void MainWindow::checkForUpdates(bool onRequest)
{
    if (updateCheck_ && updateCheck_->isRunning())
        return;
    updateCheck_ = std::make_unique<UpdateCheck>();
    connect(updateCheck_.get(), &UpdateCheck::finished, this, [this, onRequest](const QString &text) {
        if (!isValidVersionText(text)) {
            if (onRequest)
                Prompts::message(this, msg(88));
            else
                AddLog(0, u"Update info not found!"_s, LogColour::Red);
            return;
        }
        if (text == versionNumber()) {
            if (onRequest)
                Prompts::message(this, msg(85), PromptIcon::Information);
            return;
        }
        const QString question = msg(86) + (onRequest ? u" "_s : u" v"_s) + text + u"\r\n\r\n"_s + msg(87);
        if (Prompts::message(this, question, PromptIcon::Information, PromptButtons::YesNo) == PromptAnswer::Yes
            && Prompts::mode() == PromptMode::Interactive)
            QDesktopServices::openUrl(homePageUrl());
    });
    updateCheck_->start();
}

bool MainWindow::toolsPresent()
{
    if (findTool(u"rar"_s).isEmpty()) {
        if (Prompts::message(this, messageTable().message(113), PromptIcon::Information, PromptButtons::YesNo)
                == PromptAnswer::Yes
            && Prompts::mode() == PromptMode::Interactive)
            QDesktopServices::openUrl(QUrl(u"https://www.rarlab.com/download.htm"_s));
        return false;
    }
    if (findTool(u"par2"_s).isEmpty()) {
        Prompts::message(this, messageTable().message(114));
        return false;
    }
    return true;
}

void MainWindow::startJobs()
{
    if (!jobRunner_) {
        jobRunner_ = std::make_unique<JobRunner>(*this, tessaly::jobTree(), this);
        connect(jobRunner_.get(), &JobRunner::finished, this, [this] {
            applyMenuState();
            applyJobCommandState();
        });
    }
    jobRunner_->start();
}

// ---------------------------------------------------------------- Rar & Par jobs

void MainWindow::openRarParDialog()
{
    if (!toolsPresent())
        return;
    frmRarPar dialog(this);
    if (dialog.run())
        applyJobCommandState();
}

int MainWindow::selectedJobRow() const
{
    QModelIndex index = jobProxy_->mapToSource(tvwRarPar->currentIndex());
    if (!index.isValid())
        return -1;
    while (index.parent().isValid())
        index = index.parent();
    const JobTree &tree = tessaly::jobTree();
    if (index.row() >= tree.rootCount() || tree.rootAt(index.row())->image == JobImagePlaceholder)
        return -1;
    return index.row();
}

void MainWindow::moveSelectedJob(JobMove how)
{
    const int row = selectedJobRow();
    JobTree &tree = tessaly::jobTree();
    if (row < 0 || (jobRunner_ && jobRunner_->isRunning()))
        return;
    const int last = tree.rootCount() - 1;
    int target = row;
    switch (how) {
    case JobMove::Up: target = row - 1; break;
    case JobMove::Down: target = row + 1; break;
    case JobMove::Top: target = 0; break;
    case JobMove::Bottom: target = last; break;
    }
    target = qBound(0, target, last);
    if (target == row)
        return;
    tree.moveRoot(row, target > row ? target + 1 : target);
    tvwRarPar->setCurrentIndex(jobProxy_->mapFromSource(tree.index(target, 0)));
    SaveRarPar();
}

void MainWindow::removeSelectedJob()
{
    const int row = selectedJobRow();
    if (row < 0 || (jobRunner_ && jobRunner_->isRunning()))
        return;
    tessaly::jobTree().removeRoot(row);
    SaveRarPar();
    applyJobCommandState();
}

void MainWindow::clearAllJobs()
{
    if (!tessaly::jobTree().hasJobs() || (jobRunner_ && jobRunner_->isRunning()))
        return;
    if (Prompts::message(this, msg(289), PromptIcon::Question, PromptButtons::YesNo, msg(84)) != PromptAnswer::Yes)
        return;
    tessaly::jobTree().resetToPlaceholder();
    SaveRarPar();
    applyJobCommandState();
}

void MainWindow::showJobMenu(const QPoint &pos)
{
    const QModelIndex under = tvwRarPar->indexAt(pos);
    if (under.isValid())
        tvwRarPar->setCurrentIndex(under);
    applyJobCommandState();
    if (mnuRarParItem->isEnabled())
        RarParMenu->exec(tvwRarPar->viewport()->mapToGlobal(pos));
}

namespace {
// Enables the action, or disables it with the reason added to its tooltip.
void enableOrSayWhy(QAction *a, bool on, const QString &why)
{
    if (!a->property("idleTip").isValid())
        a->setProperty("idleTip", a->toolTip());
    a->setEnabled(on);
    const QString idle = a->property("idleTip").toString();
    a->setToolTip(on ? idle : idle + u" ("_s + why + u')');
}
} // namespace

void MainWindow::applyJobCommandState()
{
    const bool running = jobRunner_ && jobRunner_->isRunning();
    const bool selected = !running && selectedJobRow() >= 0;
    const QString why = running ? msg(284) : msg(282);
    for (QAction *a : {actJobUp, actJobDown, actJobTop, actJobBottom, mnuRarParItem})
        enableOrSayWhy(a, selected, why);
    enableOrSayWhy(actJobClear, !running && tessaly::jobTree().hasJobs(), running ? msg(284) : msg(283));
}

bool MainWindow::noUpload() const
{
    return chkNoUpload->isChecked();
}

void MainWindow::setJobControls(bool running)
{
    actStart->setText(msg(running ? 40 : 39));
    actStart->setIcon(Icons::toolIcon(running ? Icons::Tool::Stop : Icons::Tool::Start));
    actSettings->setEnabled(!running);
    mnuSettings->setEnabled(!running);
    actScheduler->setEnabled(!running);
    applyJobCommandState();
}

void MainWindow::openSettings()
{
    ++settingsRequests_;
    if (postingInProgress())
        return;
    frmSettings dialog(this);
    dialog.onLanguageChanged = [this] { LoadMainWindow(); };
    dialog.run();
    // A language chosen in the list applies to the main window right away.
    LoadMainWindow();
}

// ---------------------------------------------------------------- RunHost

void MainWindow::showSpeedLimit(int kBps)
{
    // What the box shows, not a limit of the user's own.
    editingSpeed_ = true;
    txtSpeed->setText(QString::number(kBps));
    editingSpeed_ = false;
}

bool MainWindow::removeFromDisk() const
{
    return chkRemoveFromDisk->isChecked();
}

bool MainWindow::onCompleteChecked() const
{
    return chkOnComplete->isChecked();
}

int MainWindow::onCompleteIndex() const
{
    return cboOnComplete->currentIndex();
}

void MainWindow::setPostingControls(bool posting)
{
    actStart->setText(msg(posting ? 40 : 39));
    actStart->setIcon(Icons::toolIcon(posting ? Icons::Tool::Stop : Icons::Tool::Start));
    // What posting turns off says why in its tooltip.
    for (QAction *a : {actSettings, actScheduler, actUp, actDown, actTop, actBottom, actClearAll})
        enableOrSayWhy(a, !posting, msg(273));
    if (posting) {
        statusBar()->clearMessage();
        speedGraph_->clear();
    }
    if (posting)
        applyEmptyOrPostingMenuState();
    else
        applyMenuState();
}

void MainWindow::runEnded()
{
    applyMenuState();
}

void MainWindow::setStatusTexts(const QString &speed, const QString &remaining)
{
    lblUpSpeed->setText(speed);
    lblRemaining->setText(remaining);
}

void MainWindow::setRunProgress(qint64 posted, qint64 total)
{
    const qint64 done = std::clamp<qint64>(posted, 0, std::max<qint64>(total, 0));
    prgOverall->setValue(total > 0 ? qRound(1000 * double(done) / double(total)) : 0);
    lblOverall->setText(msg(271).arg(bytesText(done), bytesText(total))
                        + u" (%1%)"_s.arg(total > 0 ? qRound(100 * double(done) / double(total)) : 0));
}

void MainWindow::addSpeedSample(qint64 bytes)
{
    speedGraph_->addSample(bytes);
    speedGraph_->setLimit(qint64(leadingSpeed(txtSpeed->text())) * 1000);
}

void MainWindow::tellUser(const QString &text)
{
    Prompts::message(this, text, PromptIcon::Critical);
}

void MainWindow::setRunSummary(const QString &text)
{
    statusBar()->showMessage(text);
}

void MainWindow::setCheckText(const QString &text)
{
    lblChecked->setText(text.isEmpty() ? QString() : u"   "_s + text);
}

bool MainWindow::jobsWaiting() const
{
    return tessaly::jobTree().hasJobs();
}

void MainWindow::enableStartTimer()
{
    // Posting what the jobs made goes on with the run that ran them.
    startContinuesRun_ = true;
    tmrStart.start();
}

void MainWindow::startPressed()
{
    // A new run, when none is under way: what the last one left (failed
    // items among them) is not its own.
    if (!runs_.running() && !(jobRunner_ && jobRunner_->isRunning()))
        uploadQueue().beginRun();
    StartOrStop();
}

void MainWindow::runGaveUp(int exitStatus, const QString &)
{
    // The reason is in the log; a run that closes the window when done closes it now.
    exitStatus_ = exitStatus;
    QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::stopAndClose(int signalNumber)
{
    AddLog(0, u"Stopped by signal %1."_s.arg(signalNumber), LogColour::Orange);
    if (jobRunner_ && jobRunner_->isRunning())
        jobRunner_->cancel();
    runs_.stop();
    exitStatus_ = 128 + signalNumber;
    QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::showItem(int index)
{
    const QModelIndex i = lvwUploads->model()->index(index - 1, 0);
    lvwUploads->scrollTo(i);
}

// ---------------------------------------------------------------- menus

namespace {

QList<int> allRows()
{
    QList<int> rows;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        rows << i;
    return rows;
}

bool anyNotPosted(const QList<int> &rows)
{
    return std::any_of(rows.begin(), rows.end(),
                       [](int r) { return uploadQueue().item(r).state != UploadState::PostedOK; });
}

// Rows that Re-Queue changes: not posted, not queued already.
bool anyToRequeue(const QList<int> &rows)
{
    return std::any_of(rows.begin(), rows.end(), [](int r) {
        const UploadState state = uploadQueue().item(r).state;
        return state != UploadState::PostedOK && state != UploadState::Queued;
    });
}

} // namespace

void MainWindow::applyEmptyOrPostingMenuState()
{
    for (QAction *a : {mnuPauseSelected, mnuPauseAll, mnuClearSelected, mnuClearAll, mnuQueueSelected, mnuQueueAll,
                       mnuNewsgroupSelected, mnuNewsgroupAll, mnuFillSegment})
        a->setEnabled(false);
    mnuSettings->setEnabled(uploadQueue().count() == 0 && !postingInProgress());
    mnuUpdates->setEnabled(true); // asking for the latest version never disturbs a run
}

void MainWindow::applyHasWorkMenuState()
{
    if (postingInProgress())
        return;
    for (QAction *a : {mnuSettings, mnuPauseSelected, mnuPauseAll, mnuClearSelected, mnuClearAll})
        a->setEnabled(true);
    mnuQueueSelected->setEnabled(anyToRequeue(selectedRows()));
    mnuQueueAll->setEnabled(anyToRequeue(allRows()));
    mnuUpdates->setEnabled(true);
    // New newsgroups for what is not posted yet; the selection's and filling
    // are judged when the list's menu opens.
    mnuNewsgroupAll->setEnabled(anyNotPosted(allRows()));
}

void MainWindow::applyMenuState()
{
    if (uploadQueue().count() == 0)
        applyEmptyOrPostingMenuState();
    else
        applyHasWorkMenuState();
    mnuSettings->setEnabled(!postingInProgress());
}

QList<int> MainWindow::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &i : lvwUploads->selectionModel()->selectedRows())
        rows << i.row() + 1;
    std::sort(rows.begin(), rows.end());
    return rows;
}

// ---------------------------------------------------------------- list commands

void MainWindow::pauseItems(bool selectedOnly)
{
    UploadQueue &q = uploadQueue();
    const QList<int> rows = selectedOnly ? selectedRows() : QList<int>();
    for (int i = 1; i <= q.count(); ++i)
        if (!selectedOnly || rows.contains(i))
            q.pause(i);
    SaveQueue();
}

void MainWindow::requeueItems(bool selectedOnly)
{
    UploadQueue &q = uploadQueue();
    if (q.count() == 0)
        return;
    const QList<int> rows = selectedOnly ? selectedRows() : QList<int>();
    for (int i = 1; i <= q.count(); ++i)
        if (!selectedOnly || rows.contains(i))
            q.requeue(i);
    applyHasWorkMenuState();
    SaveQueue();
}

bool MainWindow::confirmClearSelected()
{
    const QList<int> rows = selectedRows();
    bool unposted = false;
    for (int r : rows)
        unposted = unposted || uploadQueue().item(r).state != UploadState::PostedOK;
    // Rows that are posted already go without a question.
    return !unposted || Prompts::message(this, msg(268).arg(rows.size()),
                                         PromptIcon::Question, PromptButtons::YesNo, msg(84)) == PromptAnswer::Yes;
}

void MainWindow::clearSelected(bool saveAfter)
{
    const QList<int> rows = selectedRows();
    for (auto it = rows.crbegin(); it != rows.crend(); ++it)
        uploadQueue().RemoveArrayItem(*it);
    if (uploadQueue().count() == 0)
        applyEmptyOrPostingMenuState();
    if (saveAfter)
        SaveQueue();
}

void MainWindow::clearAll()
{
    if (Prompts::message(this, msg(83), PromptIcon::Question, PromptButtons::YesNo, msg(84)) != PromptAnswer::Yes)
        return;
    uploadQueue().clear();
    applyEmptyOrPostingMenuState();
    SaveQueue();
}

namespace {
// Selects the rows (1-based) again after a move.
void reselect(QTreeView *view, const QList<int> &rows)
{
    QItemSelection sel;
    for (int r : rows)
        sel.select(view->model()->index(r - 1, 0), view->model()->index(r - 1, view->model()->columnCount() - 1));
    view->selectionModel()->select(sel, QItemSelectionModel::ClearAndSelect);
}
} // namespace

void MainWindow::ListViewMoveSelUp()
{
    const QList<int> rows = selectedRows();
    QList<int> now;
    bool passedUnselected = false;
    for (int i = 1; i <= uploadQueue().count(); ++i) {
        const bool selected = rows.contains(i);
        if (!selected) {
            passedUnselected = true;
        } else if (passedUnselected) {
            uploadQueue().MoveUDTItemUp(i);
            now << i - 1;
            continue;
        }
        if (selected)
            now << i;
    }
    reselect(lvwUploads, now);
    SaveQueue();
}

void MainWindow::ListViewMoveSelDown()
{
    const QList<int> rows = selectedRows();
    QList<int> now;
    bool passedUnselected = false;
    for (int i = uploadQueue().count(); i >= 1; --i) {
        const bool selected = rows.contains(i);
        if (!selected) {
            passedUnselected = true;
        } else if (passedUnselected) {
            uploadQueue().MoveUDTItemDown(i);
            now << i + 1;
            continue;
        }
        if (selected)
            now << i;
    }
    reselect(lvwUploads, now);
    SaveQueue();
}

void MainWindow::ListViewMoveToTop()
{
    const QList<int> rows = selectedRows();
    int target = 1;
    QList<int> now;
    for (int r : rows) {
        uploadQueue().MoveUDTItemTop(r, target);
        now << target++;
    }
    reselect(lvwUploads, now);
    SaveQueue();
}

void MainWindow::ListViewMoveToBottom()
{
    const QList<int> rows = selectedRows();
    int limit = uploadQueue().count() + 1;
    QList<int> now;
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        uploadQueue().MoveUDTItemBottom(*it, limit);
        now << --limit;
    }
    reselect(lvwUploads, now);
    SaveQueue();
}

namespace {
// Asks where to save, then writes the NZB of the rows.
void saveNzbOf(QWidget *parent, const QList<int> &rows)
{
    QString path = Prompts::saveFileName(parent, u"Save"_s, appSettings().LastPath, u"NZB File (*.nzb)"_s);
    if (path.isEmpty())
        return;
    if (!path.endsWith(u".nzb"_s, Qt::CaseInsensitive))
        path += u".nzb"_s; // the name typed without it
    appSettings().LastPath = folderOf(path);
    CreateNZB(path, rows);
}
} // namespace

void MainWindow::createNzbOfSelection()
{
    saveNzbOf(this, selectedRows());
}

void MainWindow::createNzbOfCollection(const QString &tag)
{
    // The collection's files; its own NZB (posted or not) is not one of them.
    QList<int> rows;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        if (uploadQueue().item(i).tag == tag && !uploadQueue().isCollectionNzb(i))
            rows << i;
    saveNzbOf(this, rows);
}

void MainWindow::verifySelected()
{
    QList<int> rows;
    for (int r : selectedRows())
        if (uploadQueue().item(r).state == UploadState::PostedOK && !uploadQueue().item(r).messageids.isEmpty())
            rows << r;
    if (rows.isEmpty() || engine() || verifier_ || missingSettingSlot() != 0)
        return;
    AddLog(0, u"Verifying %1 item(s) on "_s.arg(rows.size()) + appSettings().Server, LogColour::Blue);
    verifier_ = std::make_unique<Verifier>(verifyFilesOfItems(rows));
    connect(verifier_.get(), &Verifier::finished, this, [this](bool complete) {
        // Released later: this runs inside the verifier's own signal.
        std::unique_ptr<Verifier> done = std::move(verifier_);
        done->deleteLater();
        Verifier *v = done.release();
        QStringList lines;
        for (const VerifyFile &f : v->files()) {
            AddLog(0, verifyReport(f), f.missing.isEmpty() ? LogColour::Green : LogColour::Red);
            lines << verifyReport(f);
        }
        if (!complete) {
            AddLog(0, v->error(), LogColour::Red);
            Prompts::message(this, v->error());
            return;
        }
        if (v->missingTotal() == 0) {
            Prompts::message(this, lines.join(u"\r\n"_s), PromptIcon::Information);
            return;
        }
        if (Prompts::message(this, lines.join(u"\r\n"_s) + u"\r\n\r\n"_s + msg(256), PromptIcon::Question,
                             PromptButtons::YesNo)
            != PromptAnswer::Yes)
            return;
        // The missing parts are queued again: posted (and checked) like any other.
        UploadQueue &q = uploadQueue();
        for (const VerifyFile &f : v->files()) {
            if (f.missing.isEmpty() || !q.isValidIndex(f.queueItem) || q.item(f.queueItem).state != UploadState::PostedOK)
                continue;
            for (int part : f.missing)
                q.markMissing(f.queueItem, part);
            q.setState(f.queueItem, UploadState::Queued);
        }
        SaveQueue();
        StartOrStop();
    });
    verifier_->start();
}

void MainWindow::showUploadMenu(const QPoint &pos)
{
    const QModelIndex under = lvwUploads->indexAt(pos);
    if (under.isValid())
        lastRightClickedTag_ = uploadQueue().item(under.row() + 1).tag;
    updateUploadMenu(under.isValid());
    if (jobsWaiting() && !engine())
        return;
    mnupopup->exec(lvwUploads->viewport()->mapToGlobal(pos));
}

void MainWindow::updateUploadMenu(bool overARow)
{
    const QList<int> rows = selectedRows();
    mnuNZBSelected->setEnabled(!rows.isEmpty());
    mnuNZBThisCollection->setEnabled(overARow);
    bool finished = false;
    for (int r : rows)
        finished |= uploadQueue().item(r).state == UploadState::PostedOK && !uploadQueue().item(r).messageids.isEmpty();
    mnuVerify->setEnabled(finished && !engine() && !verifier_);
    // Filling: one finished row whose file is still there.
    const bool fillable = rows.size() == 1 && uploadQueue().item(rows.first()).state == UploadState::PostedOK
        && fileExists(uploadQueue().item(rows.first()).path) && !engine();
    mnuFillSeparator->setVisible(fillable);
    mnuFillSegment->setVisible(fillable);
    mnuFillSegment->setEnabled(fillable);
    // New newsgroups: for rows not posted yet, never while posting.
    mnuNewsgroupSelected->setEnabled(anyNotPosted(rows) && !postingInProgress());
    mnuNewsgroupAll->setEnabled(anyNotPosted(allRows()) && !postingInProgress());
    // Re-Queue where it changes something: posted rows stay posted.
    if (!postingInProgress()) {
        mnuQueueSelected->setEnabled(anyToRequeue(rows));
        mnuQueueAll->setEnabled(anyToRequeue(allRows()));
    }
}

// ---------------------------------------------------------------- option boxes

void MainWindow::onSpeedTextChanged()
{
    if (editingSpeed_)
        return;
    if (!isWholeNumber(txtSpeed->text()) || txtSpeed->text().contains(u' ')) {
        editingSpeed_ = true;
        txtSpeed->setText(u"0"_s);
        editingSpeed_ = false;
    }
    runs_.setSpeedLimit(leadingSpeed(txtSpeed->text()));
}

void MainWindow::onRemoveFromDiskClicked()
{
    if (!chkRemoveFromDisk->isChecked())
        return; // unticking needs no confirmation
    QString text = msg(111);
    text.replace(u"//"_s, u"\r\n\r\n"_s);
    if (Prompts::message(this, text, PromptIcon::Exclamation, PromptButtons::YesNo, msg(112)) != PromptAnswer::Yes)
        chkRemoveFromDisk->setChecked(false);
}

// ---------------------------------------------------------------- adding files

void MainWindow::openAddFilesPicker()
{
    // The folder files came from last time, else the home folder (never the program's own).
    const QString last = appSettings().LastPath;
    const bool useful = !last.isEmpty() && QFileInfo(last).isDir()
                        && QFileInfo(last).canonicalFilePath() != QFileInfo(programFolder()).canonicalFilePath();
    const QString start = useful ? last : QDir::homePath();
    const QStringList files = Prompts::openFileNames(this, u"Open"_s, start, u"All Files (*)"_s);
    if (!files.isEmpty())
        addFiles(files);
}

void MainWindow::addFiles(const QStringList &paths)
{
    const QString folder = setPickedFiles(paths);
    if (!folder.isEmpty())
        appSettings().LastPath = folder;
    FileSetupDialog dialog(PickedFiles().mid(1), this);
    dialog.setBytesAdded([this](int parts) {
        runs_.partsAdded(parts);
    });
    if (dialog.run())
        applyMenuState();
}

bool MainWindow::runCommandLine(const QStringList &arguments)
{
    const CommandLineStart start = beginCommandLine(arguments);
    if (start.exitStatus >= 0)
        exitStatus_ = start.exitStatus;
    if (!start.problem.isEmpty())
        AddLog(0, start.problem, LogColour::Red);
    unattendedRun_ = start.post && start.action == 0;
    if (!start.queued)
        return false;
    applyHasWorkMenuState();
    if (start.post) {
        if (start.action >= 0) {
            chkOnComplete->setChecked(true);
            cboOnComplete->setCurrentIndex(start.action);
        }
        tmrStart.start();
    }
    return true;
}

} // namespace tessaly
