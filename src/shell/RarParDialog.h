// The Rar & Par job dialog: input files and folders, the output folder and
// archive name, the archiver's and the recovery tool's options, extra files,
// subject, newsgroups and NZB. Add checks everything, appends the job (or one
// job per input item) to the job list, remembers the options and saves the list.
#pragma once

#include <QDialog>
#include <QList>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

namespace tessaly {

class frmRarPar : public QDialog
{
    Q_OBJECT
public:
    explicit frmRarPar(QWidget *parent = nullptr);

    // Shows the dialog modally (scripted and headless modes return at once);
    // true when jobs were added.
    bool run();

    // The commands, callable by tests.
    void addInputFiles(const QStringList &paths);
    void addInputFolder(const QString &path);
    void cmdBrowseFile_Click();
    void cmdBrowseFolder_Click();
    void cmdRemoveItem_Click();
    void cmdClearList_Click();
    void cmdExtraFile_Click();
    void cmdRemoveExtra_Click();
    void cmdClearExtra_Click();
    void cmdBrowseSave_Click();
    void cmdColName_Click();
    // Validates and adds; true when the dialog may close.
    bool cmdAdd_Click();

    qint64 totalSize() const { return totalSize_; }

    QTabWidget *TabStrip = nullptr;
    QListWidget *lvwFilesFolders = nullptr;
    QLineEdit *txtColName = nullptr;
    QLineEdit *txtOutputPath = nullptr;
    QLineEdit *txtArchiveName = nullptr;
    QComboBox *cboFormat = nullptr;
    QComboBox *cboSplitSize = nullptr;
    QComboBox *cboCompression = nullptr;
    QCheckBox *chkCalculateEff = nullptr;
    QCheckBox *chkCreateZip = nullptr;
    QCheckBox *chkNoArchive = nullptr;
    QCheckBox *chkOldNaming = nullptr;
    QComboBox *cboRedundancy = nullptr;
    QCheckBox *chkUniformSize = nullptr;
    QListWidget *lvwExtraFiles = nullptr;
    QLineEdit *txtSubject = nullptr;
    QLineEdit *txtExample = nullptr;
    QListWidget *lstNewsgroups = nullptr;
    QCheckBox *chkNZB = nullptr;
    QLineEdit *txtNZBPath = nullptr;
    QCheckBox *chkPostNZB = nullptr; // unticked: the NZB is written, not posted
    QCheckBox *chkObfuscate = nullptr;
    QCheckBox *chkSeparate = nullptr;
    QPushButton *cmdRemoveItem = nullptr, *cmdClearList = nullptr, *cmdRemoveExtra = nullptr,
                *cmdClearExtra = nullptr;

private:
    QWidget *buildInputPage();
    QWidget *buildOptionsPage();
    QWidget *buildPostPage();
    void fillSplitSizes();
    void splitTextChanged(const QString &text);
    void redundancyChanged(const QString &text);
    void archiveNameEdited(const QString &text);
    void zipToggled(bool on);
    void archiveControlsChanged();
    void refreshTitle();
    void appendInput(const QString &path, qint64 size);
    void itemsChanged();

    QList<qint64> sizes_; // beside lvwFilesFolders, row by row
    qint64 totalSize_ = 0;
    QString initialSubject_;
    bool added_ = false;
    bool fixing_ = false;
};

} // namespace tessaly
