#include "shell/SchedulerDialog.h"

#include "common/Clock.h"
#include "common/MessageTable.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

frmScheduler::frmScheduler(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"frmScheduler"_s);
    setWindowTitle(msg(202));
    auto *frame = new QGroupBox(msg(203));
    picContainer = frame;
    cboHour = new QComboBox;
    cboHour->setObjectName(u"cboHour"_s);
    cboMinutes = new QComboBox;
    cboMinutes->setObjectName(u"cboMinutes"_s);
    for (int h = 0; h < 24; ++h)
        cboHour->addItem(QString::number(h).rightJustified(2, u'0'));
    for (int m = 0; m < 60; ++m)
        cboMinutes->addItem(QString::number(m).rightJustified(2, u'0'));
    auto *hourLabel = new QLabel(msg(204));
    hourLabel->setBuddy(cboHour);
    auto *minuteLabel = new QLabel(msg(205));
    minuteLabel->setBuddy(cboMinutes);
    auto *grid = new QGridLayout(frame);
    grid->addWidget(hourLabel, 0, 0);
    grid->addWidget(cboHour, 0, 1);
    grid->addWidget(minuteLabel, 1, 0);
    grid->addWidget(cboMinutes, 1, 1);
    grid->setColumnStretch(2, 1);

    // It opens at the time it is now, the nearest one to pick from.
    const QTime now = Clock::instance().now().time();
    cboHour->setCurrentIndex(now.hour());
    cboMinutes->setCurrentIndex(now.minute());
    lblRemaining = new QLabel;
    lblRemaining->setObjectName(u"lblRemaining"_s);
    showRemaining(0);
    cmdStart = new QPushButton(msg(206));
    cmdStart->setObjectName(u"cmdStart"_s);
    cmdStart->setDefault(true);
    cmdCancel = new QPushButton(msg(208));
    cmdCancel->setObjectName(u"cmdCancel"_s);
    connect(cmdStart, &QPushButton::clicked, this, &frmScheduler::cmdStart_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    connect(&tmrScheduler, &Countdown::changed, this, [this](qint64 left) {
        showRemaining(left);
        if (onTooltip)
            onTooltip(lblRemaining->text());
    });
    connect(&tmrScheduler, &Countdown::expired, this, [this] {
        fired_ = true;
        accept();
    });

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(lblRemaining, 1);
    buttons->addWidget(cmdStart);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    setMinimumWidth(340);
}

void frmScheduler::cmdStart_Click()
{
    if (tmrScheduler.isRunning()) {
        tmrScheduler.stop();
        showRemaining(0);
        cmdStart->setText(msg(206));
        picContainer->setEnabled(true);
        if (onTooltip)
            onTooltip(QString());
        return;
    }
    const QTime now = Clock::instance().now().time();
    const QTime target(cboHour->currentIndex(), cboMinutes->currentIndex(), 0);
    qint64 remaining = now.secsTo(target);
    // The time now, or a second ahead, means the same time tomorrow.
    if (remaining < 2)
        remaining += 86400;
    tmrScheduler.start(remaining);
    cmdStart->setText(msg(207));
    picContainer->setEnabled(false);
}

void frmScheduler::showRemaining(qint64 seconds)
{
    lblRemaining->setText(msg(209) + u' ' + Countdown::clockText(seconds));
}

} // namespace tessaly
