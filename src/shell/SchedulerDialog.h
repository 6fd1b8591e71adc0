// "Scheduler": waits until a chosen time of day, then has the main window
// press Start. While it is open the queue cannot be changed.
#pragma once

#include "application/Countdown.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

namespace tessaly {

class frmScheduler : public QDialog
{
    Q_OBJECT
public:
    explicit frmScheduler(QWidget *parent = nullptr);

    // The wait's text, for the notification-area tooltip while waiting; an
    // empty text when the standard tooltip is to come back.
    std::function<void(const QString &)> onTooltip;

    // Start while idle, Stop while waiting.
    void cmdStart_Click();
    bool isWaiting() const { return tmrScheduler.isRunning(); }
    // The time came (the dialog is closed then).
    bool fired() const { return fired_; }

    QComboBox *cboHour = nullptr;
    QComboBox *cboMinutes = nullptr;
    QWidget *picContainer = nullptr;
    QLabel *lblRemaining = nullptr;
    QPushButton *cmdStart = nullptr;
    QPushButton *cmdCancel = nullptr;
    Countdown tmrScheduler;

private:
    void showRemaining(qint64 seconds);

    bool fired_ = false;
};

} // namespace tessaly
