#include "shell/RarParDialog.h"

#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobOptions.h"
#include "rarpar/JobTree.h"
#include "shell/NewsgroupList.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

const QString kBadNameCharacters = u"\\/:*?\"<>|"_s;

QPushButton *button(int slot, QWidget *parent)
{
    return new QPushButton(msg(slot), parent);
}

QString withSlash(QString path)
{
    if (!path.isEmpty() && !path.endsWith(u'/'))
        path += u'/';
    return path;
}

QString lastComponent(QString path)
{
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

frmRarPar::frmRarPar(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(u"frmRarPar"_s);
    setWindowTitle(u"Rar & Par2"_s);
    TabStrip = new QTabWidget;
    TabStrip->addTab(buildInputPage(), msg(149));
    TabStrip->addTab(buildOptionsPage(), msg(150));
    TabStrip->addTab(buildPostPage(), msg(151));

    auto *buttons = new QDialogButtonBox;
    auto *add = buttons->addButton(msg(170), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    add->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (cmdAdd_Click())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(TabStrip, 1);
    layout->addWidget(buttons);

    // The remembered options, or the defaults.
    const AppSettings &s = appSettings();
    const bool stored = s.StoreRarPar == 1;
    cboFormat->setCurrentIndex(stored ? qBound(0, s.BytesMB, 1) : 0);
    fillSplitSizes();
    cboCompression->setCurrentIndex(stored ? qBound(0, s.RarCompression, 2) : 0);
    cboRedundancy->setCurrentIndex(stored && s.Redundancy >= 0 && s.Redundancy < 20 ? s.Redundancy : 1);
    if (stored) {
        cboSplitSize->setEditText(s.RarSplitSize);
        chkCreateZip->setChecked(s.CreateZip == 1);
        chkOldNaming->setChecked(s.OldNamingScheme == 1);
        chkCalculateEff->setChecked(s.CalcEfficient == 1);
        chkUniformSize->setChecked(s.UniformSize == 1);
        chkNoArchive->setChecked(s.NoArchive == 1);
    } else {
        cboSplitSize->setEditText(QString());
    }
    archiveControlsChanged();
    initialSubject_ = s.Subject;
    txtSubject->setText(s.Subject);
    txtExample->setText(s.Subject + u" - [01/10] - \"file.xyz\" yEnc"_s);
    chkNZB->setChecked(s.EnableNZB > 0);
    txtNZBPath->setEnabled(chkNZB->isChecked());
    chkPostNZB->setChecked(s.PostNzb != 0);
    chkPostNZB->setEnabled(chkNZB->isChecked());
    chkObfuscate->setChecked(s.Obfuscate != 0);
    itemsChanged();
    resize(640, 500);
}

QWidget *frmRarPar::buildInputPage()
{
    auto *page = new QWidget;
    auto *inputBox = new QGroupBox(msg(152));
    lvwFilesFolders = new QListWidget;
    lvwFilesFolders->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto *files = button(164, page);
    auto *folder = button(165, page);
    cmdRemoveItem = button(166, page);
    cmdClearList = button(167, page);
    connect(files, &QPushButton::clicked, this, &frmRarPar::cmdBrowseFile_Click);
    connect(folder, &QPushButton::clicked, this, &frmRarPar::cmdBrowseFolder_Click);
    connect(cmdRemoveItem, &QPushButton::clicked, this, &frmRarPar::cmdRemoveItem_Click);
    connect(cmdClearList, &QPushButton::clicked, this, &frmRarPar::cmdClearList_Click);
    auto *side = new QVBoxLayout;
    for (QPushButton *b : {files, folder, cmdRemoveItem, cmdClearList})
        side->addWidget(b);
    side->addStretch(1);
    chkSeparate = new QCheckBox(msg(160));
    auto *inputGrid = new QGridLayout(inputBox);
    inputGrid->addWidget(new QLabel(msg(159)), 0, 0);
    inputGrid->addWidget(lvwFilesFolders, 1, 0);
    inputGrid->addLayout(side, 1, 1);
    inputGrid->addWidget(chkSeparate, 2, 0, 1, 2);

    auto *outputBox = new QGroupBox;
    txtColName = new QLineEdit;
    txtOutputPath = new QLineEdit;
    txtArchiveName = new QLineEdit;
    auto *random = button(168, page);
    auto *save = button(169, page);
    connect(random, &QPushButton::clicked, this, &frmRarPar::cmdColName_Click);
    connect(save, &QPushButton::clicked, this, &frmRarPar::cmdBrowseSave_Click);
    connect(txtArchiveName, &QLineEdit::textEdited, this, &frmRarPar::archiveNameEdited);
    auto *outGrid = new QGridLayout(outputBox);
    outGrid->addWidget(new QLabel(msg(161)), 0, 0);
    outGrid->addWidget(txtColName, 0, 1);
    outGrid->addWidget(random, 0, 2);
    outGrid->addWidget(new QLabel(msg(162)), 1, 0);
    outGrid->addWidget(txtOutputPath, 1, 1);
    outGrid->addWidget(save, 1, 2);
    outGrid->addWidget(new QLabel(msg(163)), 2, 0);
    outGrid->addWidget(txtArchiveName, 2, 1, 1, 2);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(inputBox, 1);
    layout->addWidget(outputBox);
    return page;
}

QWidget *frmRarPar::buildOptionsPage()
{
    auto *page = new QWidget;
    auto *rarBox = new QGroupBox(msg(153));
    cboFormat = new QComboBox;
    cboFormat->addItems({u"Bytes"_s, u"MegaBytes"_s});
    cboSplitSize = new QComboBox;
    cboSplitSize->setEditable(true);
    cboSplitSize->setInsertPolicy(QComboBox::NoInsert);
    cboCompression = new QComboBox;
    cboCompression->addItems({msg(176), msg(177), msg(178)});
    chkCalculateEff = new QCheckBox(msg(173));
    chkCalculateEff->setChecked(true);
    chkCreateZip = new QCheckBox(msg(174));
    chkOldNaming = new QCheckBox(msg(175));
    chkNoArchive = new QCheckBox(msg(287));
    connect(chkNoArchive, &QCheckBox::toggled, this, [this] { archiveControlsChanged(); });
    connect(cboFormat, &QComboBox::currentIndexChanged, this, [this] { fillSplitSizes(); });
    connect(cboSplitSize, &QComboBox::editTextChanged, this, &frmRarPar::splitTextChanged);
    connect(chkCreateZip, &QCheckBox::clicked, this, &frmRarPar::zipToggled);
    auto *rarGrid = new QGridLayout(rarBox);
    rarGrid->addWidget(new QLabel(msg(171)), 0, 0);
    rarGrid->addWidget(cboSplitSize, 0, 1);
    rarGrid->addWidget(cboFormat, 0, 2);
    rarGrid->addWidget(new QLabel(msg(172)), 1, 0);
    rarGrid->addWidget(cboCompression, 1, 1, 1, 2);
    rarGrid->addWidget(chkCalculateEff, 2, 0, 1, 3);
    rarGrid->addWidget(chkCreateZip, 3, 0, 1, 3);
    rarGrid->addWidget(chkOldNaming, 4, 0, 1, 3);
    rarGrid->addWidget(chkNoArchive, 5, 0, 1, 3);
    rarGrid->setColumnStretch(1, 1);

    auto *parBox = new QGroupBox(msg(154));
    cboRedundancy = new QComboBox;
    cboRedundancy->setEditable(true);
    cboRedundancy->setInsertPolicy(QComboBox::NoInsert);
    for (int p = 5; p <= 100; p += 5)
        cboRedundancy->addItem(QString::number(p));
    cboRedundancy->setValidator(new QRegularExpressionValidator(QRegularExpression(u"[0-9]{0,3}"_s), cboRedundancy));
    connect(cboRedundancy, &QComboBox::editTextChanged, this, &frmRarPar::redundancyChanged);
    chkUniformSize = new QCheckBox(msg(180));
    auto *parGrid = new QGridLayout(parBox);
    parGrid->addWidget(new QLabel(msg(179)), 0, 0);
    parGrid->addWidget(cboRedundancy, 0, 1);
    parGrid->addWidget(chkUniformSize, 1, 0, 1, 2);
    parGrid->setColumnStretch(1, 1);

    auto *extraBox = new QGroupBox(msg(155));
    lvwExtraFiles = new QListWidget;
    lvwExtraFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto *add = button(182, page);
    cmdRemoveExtra = button(183, page);
    cmdClearExtra = button(184, page);
    connect(add, &QPushButton::clicked, this, &frmRarPar::cmdExtraFile_Click);
    connect(cmdRemoveExtra, &QPushButton::clicked, this, &frmRarPar::cmdRemoveExtra_Click);
    connect(cmdClearExtra, &QPushButton::clicked, this, &frmRarPar::cmdClearExtra_Click);
    auto *side = new QVBoxLayout;
    for (QPushButton *b : {add, cmdRemoveExtra, cmdClearExtra})
        side->addWidget(b);
    side->addStretch(1);
    auto *extraGrid = new QGridLayout(extraBox);
    extraGrid->addWidget(new QLabel(msg(181)), 0, 0);
    extraGrid->addWidget(lvwExtraFiles, 1, 0);
    extraGrid->addLayout(side, 1, 1);

    auto *layout = new QVBoxLayout(page);
    auto *row = new QHBoxLayout;
    row->addWidget(rarBox, 3);
    row->addWidget(parBox, 2);
    layout->addLayout(row);
    layout->addWidget(extraBox, 1);
    return page;
}

QWidget *frmRarPar::buildPostPage()
{
    auto *page = new QWidget;
    auto *subjectBox = new QGroupBox(msg(156));
    txtSubject = new QLineEdit;
    txtExample = new QLineEdit;
    txtExample->setReadOnly(true);
    connect(txtSubject, &QLineEdit::textChanged, this, [this](const QString &t) {
        txtExample->setText(t + u" - [01/10] - \"file.xyz\" yEnc"_s);
    });
    auto *subjectGrid = new QGridLayout(subjectBox);
    subjectGrid->addWidget(txtSubject, 0, 0, 1, 2);
    subjectGrid->addWidget(new QLabel(msg(185)), 1, 0);
    subjectGrid->addWidget(txtExample, 1, 1);

    auto *groupBox = new QGroupBox(msg(157));
    lstNewsgroups = new QListWidget;
    fillNewsgroupList(lstNewsgroups);
    auto *add = button(187, page);
    auto *remove = button(188, page);
    connect(add, &QPushButton::clicked, this, [this] { addNewsgroupTo(this, lstNewsgroups); });
    connect(remove, &QPushButton::clicked, this, [this] { removeSelectedNewsgroups(lstNewsgroups); });
    auto *side = new QVBoxLayout;
    side->addWidget(add);
    side->addWidget(remove);
    side->addStretch(1);
    auto *groupLayout = new QHBoxLayout(groupBox);
    groupLayout->addWidget(lstNewsgroups, 1);
    groupLayout->addLayout(side);

    chkNZB = new QCheckBox(msg(158).trimmed());
    txtNZBPath = new QLineEdit;
    connect(chkNZB, &QCheckBox::toggled, txtNZBPath, &QLineEdit::setEnabled);
    chkPostNZB = new QCheckBox(msg(299));
    chkPostNZB->setObjectName(u"chkPostNZB"_s);
    connect(chkNZB, &QCheckBox::toggled, chkPostNZB, &QWidget::setEnabled);
    chkObfuscate = new QCheckBox(msg(297));
    chkObfuscate->setObjectName(u"chkObfuscate"_s);
    chkObfuscate->setToolTip(msg(298));

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(subjectBox);
    layout->addWidget(groupBox, 1);
    layout->addWidget(chkNZB);
    layout->addWidget(txtNZBPath);
    layout->addWidget(chkPostNZB);
    layout->addWidget(chkObfuscate);
    return page;
}

bool frmRarPar::run()
{
    if (Prompts::mode() == PromptMode::Interactive)
        exec();
    return added_;
}

// ---------------------------------------------------------------- options

void frmRarPar::fillSplitSizes()
{
    const bool megabytes = cboFormat->currentIndex() == 1;
    const QString text = cboSplitSize->currentText();
    fixing_ = true;
    cboSplitSize->clear();
    static const char *const bytes[] = {"1000000", "5000000", "10000000", "15000000", "20000000", "25000000",
                                        "50000000", "75000000", "100000000", "150000000", "200000000", "250000000"};
    static const char *const mb[] = {"1", "5", "10", "15", "20", "25", "50", "75", "100", "150", "200", "250"};
    for (int i = 0; i < 12; ++i)
        cboSplitSize->addItem(QString::fromLatin1(megabytes ? mb[i] : bytes[i]));
    cboSplitSize->setValidator(new QRegularExpressionValidator(
        QRegularExpression(megabytes ? u"[0-9]{0,3}"_s : u"[0-9]{0,9}"_s), cboSplitSize));
    cboSplitSize->setEditText(text.size() <= (megabytes ? 3 : 9) ? text : QString());
    fixing_ = false;
}

void frmRarPar::splitTextChanged(const QString &text)
{
    if (fixing_ || text.isEmpty())
        return;
    const bool megabytes = cboFormat->currentIndex() == 1;
    fixing_ = true;
    if (text.size() > (megabytes ? 3 : 9)) {
        cboSplitSize->setEditText(QString());
    } else if (!isAllDigits(text)) {
        cboSplitSize->setEditText(QString());
        Prompts::message(this, msg(196));
    }
    fixing_ = false;
}

void frmRarPar::redundancyChanged(const QString &text)
{
    if (fixing_)
        return;
    fixing_ = true;
    if (text.isEmpty()) {
        cboRedundancy->setEditText(u"1"_s);
    } else if (!isAllDigits(text)) {
        cboRedundancy->setEditText(u"1"_s);
        Prompts::message(this, msg(196));
    } else if (text.toInt() < 1) {
        cboRedundancy->setEditText(u"1"_s);
        Prompts::message(this, msg(197));
    } else if (text.toInt() > 100) {
        cboRedundancy->setEditText(u"100"_s);
        Prompts::message(this, msg(198));
    }
    fixing_ = false;
}

void frmRarPar::archiveNameEdited(const QString &text)
{
    QString clean = text;
    for (QChar c : kBadNameCharacters)
        clean.remove(c);
    if (clean == text)
        return;
    // A refused key keeps the rest of the name; pasted text goes as a whole.
    txtArchiveName->setText(clean.size() == text.size() - 1 ? clean : QString());
    Prompts::message(this, messageTable().message(201));
}

void frmRarPar::zipToggled(bool on)
{
    if (on) {
        cboSplitSize->setEditText(QString());
        Prompts::message(this, msg(199), PromptIcon::Information);
    }
    archiveControlsChanged();
}

void frmRarPar::archiveControlsChanged()
{
    // Without an archive only the recovery options and the name apply.
    const bool archive = !chkNoArchive->isChecked();
    const bool split = archive && !chkCreateZip->isChecked();
    for (QWidget *w : {static_cast<QWidget *>(cboSplitSize), static_cast<QWidget *>(cboFormat),
                       static_cast<QWidget *>(chkCalculateEff)})
        w->setEnabled(split);
    for (QWidget *w : {static_cast<QWidget *>(cboCompression), static_cast<QWidget *>(chkCreateZip),
                       static_cast<QWidget *>(chkOldNaming)})
        w->setEnabled(archive);
}

// ---------------------------------------------------------------- inputs

void frmRarPar::refreshTitle()
{
    if (lvwFilesFolders->count() == 0 && totalSize_ == 0) {
        setWindowTitle(u"Rar & Par2"_s);
        return;
    }
    const QLocale locale;
    const double kb = std::round(double(totalSize_) / 1024.0 * 10000.0) / 10000.0;
    const double mb = std::round(double(totalSize_) / 1048576.0 * 10000.0) / 10000.0;
    const double gb = std::round(double(totalSize_) / 1073741824.0 * 10000.0) / 10000.0;
    setWindowTitle(u"Rar & Par2 - ("_s + locale.toString(kb, 'f', 0) + u" KB - "_s + locale.toString(mb, 'f', 1)
                   + u" MB - "_s + locale.toString(gb, 'f', 2) + u" GB)"_s);
}

void frmRarPar::itemsChanged()
{
    const bool any = lvwFilesFolders->count() > 0;
    cmdRemoveItem->setEnabled(any);
    cmdClearList->setEnabled(any);
    chkSeparate->setEnabled(lvwFilesFolders->count() >= 2);
    const bool extras = lvwExtraFiles->count() > 0;
    cmdRemoveExtra->setEnabled(extras);
    cmdClearExtra->setEnabled(extras);
    refreshTitle();
}

void frmRarPar::appendInput(const QString &path, qint64 size)
{
    lvwFilesFolders->addItem(path);
    sizes_ << size;
    totalSize_ += size;
}

void frmRarPar::addInputFiles(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    for (const QString &path : paths)
        appendInput(path, QFileInfo(path).size());
    appSettings().LastPath = withSlash(QFileInfo(paths.first()).absolutePath());
    const QString first = lvwFilesFolders->item(0)->text();
    const QString name = lastComponent(first);
    if (name.size() >= 4 && name.at(name.size() - 4) == u'.') {
        txtColName->setText(withoutExtension(name));
        txtNZBPath->setText(withoutExtension(name) + u".nzb"_s);
    }
    txtOutputPath->setText(withSlash(QFileInfo(first).absolutePath()));
    txtArchiveName->setText(withExtension(name, u"rar"_s));
    itemsChanged();
}

void frmRarPar::addInputFolder(const QString &picked)
{
    QString path = picked;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    if (path.isEmpty())
        return;
    if (path == u"/"_s || (path.size() < 4 && path.contains(u":\\"_s))) {
        Prompts::message(this, msg(200));
        return;
    }
    appendInput(path, itemSize(path));
    if (lvwFilesFolders->count() == 1) {
        const QString name = lastComponent(path);
        txtColName->setText(name);
        txtNZBPath->setText(name + u".nzb"_s);
        txtOutputPath->setText(withSlash(path));
        txtArchiveName->setText(withExtension(name, u"rar"_s));
    }
    itemsChanged();
}

void frmRarPar::cmdBrowseFile_Click()
{
    addInputFiles(Prompts::openFileNames(this, u"Open"_s, appSettings().LastPath, u"All Files (*)"_s));
}

void frmRarPar::cmdBrowseFolder_Click()
{
    addInputFolder(Prompts::existingFolder(this, u"Select folder:"_s, appSettings().LastPath));
}

void frmRarPar::cmdRemoveItem_Click()
{
    for (int i = lvwFilesFolders->count() - 1; i >= 0; --i) {
        if (lvwFilesFolders->item(i)->isSelected()) {
            totalSize_ -= sizes_.takeAt(i);
            delete lvwFilesFolders->takeItem(i);
        }
    }
    itemsChanged();
}

void frmRarPar::cmdClearList_Click()
{
    lvwFilesFolders->clear();
    sizes_.clear();
    totalSize_ = 0;
    txtColName->clear();
    txtOutputPath->clear();
    txtArchiveName->clear();
    itemsChanged();
}

void frmRarPar::cmdExtraFile_Click()
{
    const QStringList paths = Prompts::openFileNames(this, u"Open"_s, appSettings().LastPath, u"All Files (*)"_s);
    for (const QString &path : paths)
        if (lvwExtraFiles->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
            lvwExtraFiles->addItem(path);
    itemsChanged();
}

void frmRarPar::cmdRemoveExtra_Click()
{
    for (int i = lvwExtraFiles->count() - 1; i >= 0; --i)
        if (lvwExtraFiles->item(i)->isSelected())
            delete lvwExtraFiles->takeItem(i);
    itemsChanged();
}

void frmRarPar::cmdClearExtra_Click()
{
    lvwExtraFiles->clear();
    itemsChanged();
}

void frmRarPar::cmdBrowseSave_Click()
{
    const QString folder = Prompts::existingFolder(this, u"Select folder:"_s, txtOutputPath->text());
    if (!folder.isEmpty())
        txtOutputPath->setText(withSlash(folder));
}

void frmRarPar::cmdColName_Click()
{
    txtColName->setText(u"Tessaly Poster - "_s
                        + QLocale().toString(Clock::instance().now(), QLocale::ShortFormat));
}

// ---------------------------------------------------------------- Add

bool frmRarPar::cmdAdd_Click()
{
    JobRequest r;
    for (int i = 0; i < lvwFilesFolders->count(); ++i)
        r.inputs << lvwFilesFolders->item(i)->text();
    for (int i = 0; i < lvwExtraFiles->count(); ++i)
        r.extraFiles << lvwExtraFiles->item(i)->text();
    r.collectionName = txtColName->text();
    r.outputPath = txtOutputPath->text();
    r.subject = txtSubject->text();
    QString positions;
    r.newsgroups = selectedNewsgroups(lstNewsgroups, &positions);
    r.nzb = chkNZB->isChecked();
    r.nzbName = txtNZBPath->text();
    r.postNzb = chkPostNZB->isChecked();
    r.obfuscate = chkObfuscate->isChecked();
    r.separate = chkSeparate->isEnabled() && chkSeparate->isChecked();
    JobOptions &o = r.options;
    o.compression = cboCompression->currentIndex();
    o.oldNaming = chkOldNaming->isChecked();
    o.splitText = chkCreateZip->isChecked() ? QString() : cboSplitSize->currentText();
    o.megabytes = cboFormat->currentIndex() == 1;
    o.calcEfficient = chkCalculateEff->isChecked();
    o.createZip = chkCreateZip->isChecked() && !chkNoArchive->isChecked();
    o.noArchive = chkNoArchive->isChecked();
    o.redundancy = cboRedundancy->currentText();
    o.uniformSize = chkUniformSize->isChecked();
    o.archiveName = txtArchiveName->text();
    o.partSize = appSettings().PartSize;

    const int slot = validateJob(r, totalSize_);
    txtArchiveName->setText(r.options.archiveName);
    if (slot != 0) {
        Prompts::message(this, slot == 285 ? messageTable().message(slot).arg(patternNames(r.inputs).join(u"\r\n"_s))
                                           : messageTable().message(slot));
        return false;
    }
    if (appSettings().ConfirmSubject == 0 && txtSubject->text() == initialSubject_
        && Prompts::message(this, messageTable().message(27), PromptIcon::Question, PromptButtons::YesNo)
               != PromptAnswer::Yes)
        return false;
    txtNZBPath->setText(withExtension(txtNZBPath->text().trimmed(), u"nzb"_s));
    r.nzbName = txtNZBPath->text();

    const QVector<RarParJob> jobs = makeJobs(r, totalSize_);
    for (const RarParJob &job : jobs)
        jobTree().addJob(job);

    AppSettings &s = appSettings();
    s.Subject = txtSubject->text();
    s.GroupNames = positions;
    s.BytesMB = cboFormat->currentIndex();
    s.RarSplitSize = cboSplitSize->currentText();
    s.RarCompression = cboCompression->currentIndex();
    s.CreateZip = chkCreateZip->isChecked() ? 1 : 0;
    s.OldNamingScheme = chkOldNaming->isChecked() ? 1 : 0;
    s.CalcEfficient = chkCalculateEff->isChecked() ? 1 : 0;
    s.UniformSize = chkUniformSize->isChecked() ? 1 : 0;
    s.NoArchive = chkNoArchive->isChecked() ? 1 : 0;
    s.Redundancy = cboRedundancy->findText(cboRedundancy->currentText());
    s.Obfuscate = chkObfuscate->isChecked() ? 1 : 0;
    s.PostNzb = chkPostNZB->isChecked() ? 1 : 0;
    writeSettingKeys({u"Subject"_s, u"GroupNames"_s, u"BytesMB"_s, u"RarSplitSize"_s, u"RarCompression"_s,
                      u"CreateZip"_s, u"OldNamingScheme"_s, u"CalcEfficient"_s, u"Redundancy"_s, u"UniformSize"_s,
                      u"NoArchive"_s, u"Obfuscate"_s, u"PostNzb"_s});
    AddLog(0, jobs.size() == 1 ? u"Adding 1 Rar & Par job."_s
                               : u"Adding "_s + QString::number(jobs.size()) + u" Rar & Par jobs."_s);
    SaveRarPar();
    added_ = true;
    return true;
}

} // namespace tessaly
