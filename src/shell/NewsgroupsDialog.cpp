#include "shell/NewsgroupsDialog.h"

#include "common/Log.h"
#include "common/MessageTable.h"
#include "shell/NewsgroupList.h"
#include "shell/Prompts.h"
#include "storage/Newsgroups.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

frmNewsgroups::frmNewsgroups(bool allFiles, const QList<int> &rows, QWidget *parent)
    : QDialog(parent)
    , allFiles_(allFiles)
    , rows_(rows)
{
    setObjectName(u"frmNewsgroups"_s);
    setWindowTitle(msg(115));
    auto *frame = new QGroupBox(msg(116));
    lstNewsgroups = new QListWidget;
    lstNewsgroups->setObjectName(u"lstNewsgroups"_s);
    lstNewsgroups->setSelectionMode(QAbstractItemView::MultiSelection);
    lstNewsgroups->addItems(loadNewsgroups()); // nothing selected
    cmdAddgroup = new QPushButton(msg(118));
    cmdRemove = new QPushButton(msg(119));
    cmdOk = new QPushButton(msg(120));
    cmdCancel = new QPushButton(msg(121));
    cmdOk->setDefault(true);
    connect(cmdAddgroup, &QPushButton::clicked, this, &frmNewsgroups::cmdAddgroup_Click);
    connect(cmdRemove, &QPushButton::clicked, this, &frmNewsgroups::cmdRemove_Click);
    connect(cmdOk, &QPushButton::clicked, this, [this] {
        if (cmdOk_Click())
            accept();
    });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(cmdAddgroup);
    listButtons->addWidget(cmdRemove);
    listButtons->addStretch(1);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(lstNewsgroups, 1);
    frameLayout->addLayout(listButtons);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOk);
    buttons->addWidget(cmdCancel);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame, 1);
    layout->addLayout(buttons);
    resize(380, 360);
}

bool frmNewsgroups::run()
{
    if (Prompts::mode() == PromptMode::Interactive)
        exec();
    return changed_;
}

void frmNewsgroups::cmdAddgroup_Click()
{
    addNewsgroupTo(this, lstNewsgroups, NewsgroupAdd::ChangeDialog);
}

void frmNewsgroups::cmdRemove_Click()
{
    removeSelectedNewsgroups(lstNewsgroups);
}

bool frmNewsgroups::cmdOk_Click()
{
    QString positions;
    const QString groups = selectedNewsgroups(lstNewsgroups, &positions).join(u',');
    if (groups.isEmpty()) {
        Prompts::message(this, u"No newsgroup selected. "_s);
        return false;
    }
    UploadQueue &q = uploadQueue();
    for (int i = 1; i <= q.count(); ++i) {
        if ((!allFiles_ && !rows_.contains(i)) || q.item(i).state == UploadState::PostedOK)
            continue;
        if (q.item(i).newsgroups != groups) {
            q.item(i).newsgroups = groups;
            q.itemChanged(i);
            changed_ = true;
        }
    }
    saveNewsgroupList(lstNewsgroups);
    // Kept at once: a change made by hand should not wait for the next save.
    if (changed_)
        SaveQueue();
    return true;
}

} // namespace tessaly
