// "On Complete": the 30-second countdown before the machine is powered off,
// logged off, hibernated or rebooted, with Cancel. After a run that did not
// post everything nothing counts down: the window says so and offers the
// action instead of taking it over a failed post.
#pragma once

#include "application/Countdown.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace tessaly {

class frmOnComplete : public QDialog
{
    Q_OBJECT
public:
    // action: 1 power off, 2 log off, 3 hibernate, 4 reboot (the list position);
    // actionName: its text in the list, for the button of a failed run.
    frmOnComplete(int action, const QString &actionName, bool allPosted, QWidget *parent = nullptr);

    // Called once, when the countdown ends or the user asks for it at once.
    std::function<void(int action)> onAction;
    // Called when Cancel (or the close box) ended it.
    std::function<void()> onCancel;

    int action() const { return action_; }
    void cmdCancel_Click();
    void cmdNow_Click();

    QLabel *lblText = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdNow = nullptr; // only after a failed run
    Countdown Timer1;

protected:
    void reject() override;

private:
    void showCounter(qint64 seconds);
    void act();

    int action_;
    bool done_ = false;
};

} // namespace tessaly
