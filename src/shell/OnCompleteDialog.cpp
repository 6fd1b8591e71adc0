#include "shell/OnCompleteDialog.h"

#include "common/MessageTable.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

frmOnComplete::frmOnComplete(int action, const QString &actionName, bool allPosted, QWidget *parent)
    : QDialog(parent)
    , action_(action)
{
    setObjectName(u"frmOnComplete"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(msg(122) + u" (Tessaly Poster)"_s);
    lblText = new QLabel;
    lblText->setObjectName(u"lblText"_s);
    lblText->setMinimumWidth(300);
    cmdCancel = new QPushButton(msg(123));
    cmdCancel->setObjectName(u"cmdCancel"_s);
    connect(cmdCancel, &QPushButton::clicked, this, &frmOnComplete::cmdCancel_Click);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    if (!allPosted) {
        cmdNow = new QPushButton(msg(264).arg(actionName));
        cmdNow->setObjectName(u"cmdNow"_s);
        connect(cmdNow, &QPushButton::clicked, this, &frmOnComplete::cmdNow_Click);
        buttons->addWidget(cmdNow);
        lblText->setText(msg(262));
    }
    buttons->addWidget(cmdCancel);
    cmdCancel->setDefault(true);
    auto *icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    auto *top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(8);
    top->addWidget(lblText, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    connect(&Timer1, &Countdown::changed, this, &frmOnComplete::showCounter);
    connect(&Timer1, &Countdown::expired, this, &frmOnComplete::act);
    if (allPosted) {
        showCounter(Countdown::kDefaultSeconds);
        Timer1.start(Countdown::kDefaultSeconds);
    }
}

void frmOnComplete::showCounter(qint64 seconds)
{
    lblText->setText(msg(124 + action_) + u' ' + QString::number(seconds) + u' ' + msg(124));
}

void frmOnComplete::act()
{
    if (done_)
        return;
    done_ = true;
    Timer1.stop();
    if (onAction)
        onAction(action_);
    close();
}

void frmOnComplete::cmdNow_Click()
{
    act();
}

void frmOnComplete::cmdCancel_Click()
{
    reject();
}

void frmOnComplete::reject()
{
    Timer1.stop();
    const bool cancelled = !done_;
    done_ = true;
    QDialog::reject();
    if (cancelled && onCancel)
        onCancel();
}

} // namespace tessaly
