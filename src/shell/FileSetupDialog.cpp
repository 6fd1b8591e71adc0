#include "shell/FileSetupDialog.h"

#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "shell/NewsgroupList.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"
#include "application/Collection.h"
#include "storage/Newsgroups.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace tessaly {

FileSetupDialog::FileSetupDialog(const QStringList &files, QWidget *parent)
    : QDialog(parent)
    , files_(files)
{
    setObjectName(u"frmFileSetup"_s);
    setWindowTitle(messageTable().addingFilesText(int(files.size())));
    const AppSettings &s = appSettings();

    auto *subjectBox = new QGroupBox(msg(10));
    txtSubject = new QLineEdit(s.Subject);
    txtSubject->setObjectName(u"txtSubject"_s);
    // The remembered subject is a suggestion: typing replaces it.
    txtSubject->selectAll();
    txtSubject->setFocus();
    txtExample = new QLineEdit;
    txtExample->setReadOnly(true);
    auto *subjectLayout = new QGridLayout(subjectBox);
    subjectLayout->addWidget(txtSubject, 0, 0, 1, 2);
    subjectLayout->addWidget(new QLabel(msg(11)), 1, 0);
    subjectLayout->addWidget(txtExample, 1, 1);
    connect(txtSubject, &QLineEdit::textChanged, this, [this](const QString &t) {
        txtExample->setText(t + u" - [01/10] - \"file.xyz\" yEnc"_s);
    });
    initialSubject_ = s.Subject;
    txtExample->setText(s.Subject + u" - [01/10] - \"file.xyz\" yEnc"_s);

    auto *groupBox = new QGroupBox(msg(12));
    lstNewsgroups = new QListWidget;
    fillNewsgroupList(lstNewsgroups);
    auto *add = new QPushButton(msg(14));
    auto *remove = new QPushButton(msg(15));
    // Enter means OK, wherever the focus is.
    add->setAutoDefault(false);
    remove->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &FileSetupDialog::cmdAddgroup_Click);
    connect(remove, &QPushButton::clicked, this, &FileSetupDialog::cmdRemove_Click);
    auto *groupButtons = new QVBoxLayout;
    groupButtons->addWidget(add);
    groupButtons->addWidget(remove);
    groupButtons->addStretch(1);
    auto *groupLayout = new QHBoxLayout(groupBox);
    groupLayout->addWidget(lstNewsgroups, 1);
    groupLayout->addLayout(groupButtons);

    chkNZB = new QCheckBox(msg(16));
    txtNZBPath = new QLineEdit(files.isEmpty() ? QString() : nzbPathFor(files.first(), s.Subject));
    // Named after the subject while it is typed, until the name is edited.
    connect(txtSubject, &QLineEdit::textChanged, this, [this](const QString &t) {
        if (files_.isEmpty() || txtNZBPath->isModified())
            return;
        txtNZBPath->setText(nzbPathFor(files_.first(), t));
    });
    cmdSave = new QPushButton(msg(17));
    cmdSave->setAutoDefault(false);
    txtNZBPath->setEnabled(false);
    cmdSave->setEnabled(false);
    connect(chkNZB, &QCheckBox::toggled, this, [this](bool on) {
        txtNZBPath->setEnabled(on);
        cmdSave->setEnabled(on);
    });
    connect(cmdSave, &QPushButton::clicked, this, [this] {
        const QString path = Prompts::saveFileName(this, u"Save"_s, txtNZBPath->text(), u"NZB File (*.nzb)"_s);
        if (!path.isEmpty()) {
            txtNZBPath->setText(path);
            txtNZBPath->setModified(true); // chosen: the subject no longer names it
        }
    });
    chkNZB->setChecked(s.EnableNZB > 0);
    auto *nzbRow = new QHBoxLayout;
    nzbRow->addWidget(txtNZBPath, 1);
    nzbRow->addWidget(cmdSave);
    // Written but kept off the server, when unticked.
    chkPostNZB = new QCheckBox(msg(299));
    chkPostNZB->setObjectName(u"chkPostNZB"_s);
    chkPostNZB->setChecked(s.PostNzb != 0);
    chkPostNZB->setEnabled(chkNZB->isChecked());
    connect(chkNZB, &QCheckBox::toggled, chkPostNZB, &QWidget::setEnabled);
    chkObfuscate = new QCheckBox(msg(297));
    chkObfuscate->setObjectName(u"chkObfuscate"_s);
    chkObfuscate->setToolTip(msg(298));
    chkObfuscate->setChecked(s.Obfuscate != 0);

    auto *buttons = new QDialogButtonBox;
    auto *ok = buttons->addButton(msg(18), QDialogButtonBox::AcceptRole);
    buttons->addButton(msg(19), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (cmdOk_Click())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(subjectBox);
    layout->addWidget(groupBox, 1);
    layout->addWidget(chkNZB);
    layout->addLayout(nzbRow);
    layout->addWidget(chkPostNZB);
    layout->addWidget(chkObfuscate);
    layout->addWidget(buttons);
    resize(560, 460);
}

bool FileSetupDialog::run()
{
    if (Prompts::mode() == PromptMode::Interactive)
        exec();
    else if (cmdOk_Click())
        accept();
    return queued_;
}

void FileSetupDialog::cmdAddgroup_Click()
{
    addNewsgroupTo(this, lstNewsgroups);
}

void FileSetupDialog::cmdRemove_Click()
{
    removeSelectedNewsgroups(lstNewsgroups);
}

bool FileSetupDialog::cmdOk_Click()
{
    const QString subject = txtSubject->text().trimmed();
    if (subject.isEmpty()) {
        Prompts::message(this, msg(24));
        return false;
    }
    QString groupNames;
    const QStringList groups = selectedNewsgroups(lstNewsgroups, &groupNames);
    if (groups.isEmpty()) {
        Prompts::message(this, msg(25));
        return false;
    }
    if (chkNZB->isChecked() && txtNZBPath->text().trimmed().isEmpty()) {
        Prompts::message(this, msg(26));
        return false;
    }
    if (txtSubject->text() == initialSubject_ && appSettings().ConfirmSubject == 0) {
        if (Prompts::message(this, messageTable().message(27), PromptIcon::Question, PromptButtons::YesNo)
            != PromptAnswer::Yes)
            return false;
    }

    CollectionRequest r;
    r.files = files_;
    r.subject = subject;
    r.newsgroups = groups.join(u',');
    if (chkNZB->isChecked())
        r.nzbPath = txtNZBPath->text().trimmed();
    r.postNzb = chkPostNZB->isChecked();
    r.obfuscate = chkObfuscate->isChecked();
    r.onItemAdded = onItemAdded_;
    const int added = queueCollection(r);

    AppSettings &s = appSettings();
    s.Subject = txtSubject->text();
    s.GroupNames = groupNames;
    s.Obfuscate = chkObfuscate->isChecked() ? 1 : 0;
    s.PostNzb = chkPostNZB->isChecked() ? 1 : 0;
    writeSettingKeys({u"Subject"_s, u"GroupNames"_s, u"Obfuscate"_s, u"PostNzb"_s});
    if (uploadQueue().count() > 0 && added > 0)
        AddLog(0, added == 1 ? u"Added 1 file to queue."_s : u"Added %1 files to queue."_s.arg(added));
    SaveQueue();
    queued_ = added > 0;
    return true;
}

} // namespace tessaly
