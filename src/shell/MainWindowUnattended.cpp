// The main window's unattended side: the start-time scheduler, the
// on-complete actions with their countdown, and the notification-area icon.
#include "shell/MainWindow.h"

#include "application/Lifecycle.h"
#include "common/AppState.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "platform/SystemActions.h"
#include "shell/Icons.h"
#include "shell/OnCompleteDialog.h"
#include "shell/Prompts.h"
#include "shell/SchedulerDialog.h"
#include "storage/AppSettings.h"
#include "storage/UploadQueue.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolBar>

using namespace Qt::StringLiterals;

namespace tessaly {

// ---------------------------------------------------------------- scheduler

frmScheduler *MainWindow::scheduler() const
{
    return scheduler_.data();
}

frmOnComplete *MainWindow::onCompleteWindow() const
{
    return onComplete_.data();
}

void MainWindow::openScheduler()
{
    if (postingInProgress() || scheduler_ || (jobRunner_ && jobRunner_->isRunning()))
        return;
    if (const int slot = missingSettingSlot()) {
        Prompts::message(this, msg(slot));
        return;
    }
    if (!uploadQueue().hasState(UploadState::Queued)) {
        Prompts::message(this, msg(93));
        return;
    }
    // Nothing may change the queue while the scheduler waits.
    for (QAction *a : {actStart, actAddFiles, actSettings, actScheduler, mnuAddFiles})
        a->setEnabled(false);
    applyEmptyOrPostingMenuState();

    auto *dialog = new frmScheduler(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    scheduler_ = dialog;
    dialog->onTooltip = [this](const QString &text) { setTrayTooltip(text.isEmpty() ? standardTrayTooltip() : text); };
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        // However it closed, a waiting countdown is dropped here.
        dialog->tmrScheduler.stop();
        scheduler_ = nullptr;
        for (QAction *a : {actStart, actAddFiles, actSettings, actScheduler, mnuAddFiles})
            a->setEnabled(true);
        applyMenuState();
        setTrayTooltip(standardTrayTooltip());
        if (!dialog->fired())
            return;
        if (uploadQueue().hasState(UploadState::Queued) || jobsWaiting())
            tmrStart.start(); // Start, with all of its checks
        else
            AddLog(0, msg(266), LogColour::Orange);
    });
    dialog->open();
}

// ---------------------------------------------------------------- on complete

void MainWindow::runOnComplete(int index)
{
    switch (index) {
    case 0:
        // Close: a command-line run reports whether everything was posted.
        exitStatus_ = queueExitStatus();
        QTimer::singleShot(0, this, [this] { close(); });
        break;
    case 1:
    case 2:
    case 3:
    case 4: {
        // One countdown at a time; the newest run's.
        if (onComplete_) {
            onComplete_->onCancel = nullptr;
            onComplete_->close();
        }
        const bool allPosted = queueExitStatus() == ExitAllPosted;
        if (!allPosted) {
            AddLog(0, msg(262) + u' ' + itemsNotPosted().join(u"; "_s), LogColour::Orange);
            showOnComplete(index, false);
            break;
        }
        // The system is asked first: a refusal is said now, not after the countdown.
        canDoSystemAction(SystemAction(index), this, [this, index](bool may, const QString &why) {
            if (may) {
                showOnComplete(index, true);
                return;
            }
            AddLog(0, msg(263).arg(cboOnComplete->itemText(index), why), LogColour::Red);
            exitStatus_ = ExitActionRefused;
        });
        break;
    }
    case 5:
        showBalloon();
        break;
    default:
        break;
    }
}

void MainWindow::showOnComplete(int index, bool allPosted)
{
    {
        auto *window = new frmOnComplete(index, cboOnComplete->itemText(index), allPosted, this);
        window->setWindowFlag(Qt::Dialog);
        onComplete_ = window;
        // Asked already where everything was posted; "now" after a run that was not is asked then.
        window->onAction = [this, allPosted](int action) { runSystemAction(action, !allPosted); };
        window->onCancel = [this] {
            update();
            bringToFront();
        };
        window->show();
        window->raise();
    }
}

void MainWindow::runSystemAction(int action, bool askFirst)
{
    setPostingInProgress(false);
    const QString name = cboOnComplete->itemText(action);
    // Whatever the system does next, nothing is lost.
    AppSettings &s = appSettings();
    s.MaxSpeed = txtSpeed->text().trimmed().toInt();
    s.NoUpload = chkNoUpload->isChecked() ? 1 : 0;
    s.RemoveFromDisk = chkRemoveFromDisk->isChecked() ? 1 : 0;
    saveFiles();
    requestSystemAction(SystemAction(action), this, [this, action, name](bool accepted, const QString &why) {
        if (!accepted) {
            // The program goes on as if the action had not been chosen.
            AddLog(0, msg(263).arg(name, why), LogColour::Red);
            return;
        }
        AddLog(0, msg(267).arg(name), LogColour::Green);
        // Powering off, rebooting and logging off end the program; a machine
        // back from hibernation finds it as it was.
        if (SystemAction(action) != SystemAction::Hibernate) {
            exitStatus_ = queueExitStatus();
            QTimer::singleShot(0, this, [this] { close(); });
        }
    }, askFirst);
}

void MainWindow::showBalloon()
{
    const QString title = QString::fromUtf16(kProgramName);
    const QString text = msg(134) + u' ';
    if (tray_ && tray_->isVisible() && QSystemTrayIcon::supportsMessages()) {
        tray_->showMessage(title, text, QSystemTrayIcon::Information);
        return;
    }
    // No notification area: the desktop's notifications, else the log.
    showDesktopNotification(title, text, this, [text](bool shown) {
        if (!shown)
            AddLog(0, text);
    });
}

// ---------------------------------------------------------------- notification area

void MainWindow::addTrayIcon()
{
    systraymenu = new QMenu(this);
    systraymenu->setObjectName(u"systraymenu"_s);
    mnuRestore = systraymenu->addAction(msg(261), this, &MainWindow::restoreFromTray);
    mnuRestore->setObjectName(u"mnuRestore"_s);
    mnuExit1 = systraymenu->addAction(msg(72), this, &QWidget::close);
    mnuExit1->setObjectName(u"mnuExit1"_s);
    tray_ = new QSystemTrayIcon(Icons::appIcon(), this);
    tray_->setObjectName(u"trayIcon"_s);
    tray_->setContextMenu(systraymenu);
    setTrayTooltip(standardTrayTooltip());
    connect(tray_, &QSystemTrayIcon::activated, this, &MainWindow::trayActivated);
    if (QSystemTrayIcon::isSystemTrayAvailable())
        tray_->show();
}

void MainWindow::removeTrayIcon()
{
    if (!tray_)
        return;
    tray_->hide();
    delete tray_;
    tray_ = nullptr;
}

void MainWindow::setTrayTooltip(const QString &text)
{
    if (!tray_)
        return;
    QString plain = text;
    plain.replace(u"\r\n"_s, u"\n"_s);
    // A tooltip holds 127 characters; a longer one is cut.
    tray_->setToolTip(plain.left(127));
}

void MainWindow::trayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
        restoreFromTray();
    } else if (reason == QSystemTrayIcon::Context && !systraymenu->isVisible()) {
        systraymenu->popup(QCursor::pos());
    }
}

void MainWindow::sendToTray()
{
    wasMaximized_ = isMaximized();
    // Without a notification area to come back from, minimising keeps the
    // window reachable.
    if (tray_ && tray_->isVisible())
        hide();
    else
        showMinimized();
}

void MainWindow::restoreFromTray()
{
    if (isVisible() && !isMinimized()) {
        raise();
        activateWindow();
        return;
    }
    if (wasMaximized_)
        showMaximized();
    else
        showNormal();
    Toolbar->setEnabled(true);
    raise();
    activateWindow();
}

} // namespace tessaly
