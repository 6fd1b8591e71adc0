// The add-files dialog: one subject and the newsgroups for a set of files,
// and optionally an NZB file of the collection; OK queues them all.
#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace tessaly {

class FileSetupDialog : public QDialog
{
    Q_OBJECT
public:
    // files: full paths, sorted.
    explicit FileSetupDialog(const QStringList &files, QWidget *parent = nullptr);

    // Called with the part count of every queued item (a running engine's estimate).
    void setBytesAdded(std::function<void(int parts)> f) { onItemAdded_ = std::move(f); }

    // Shows the dialog (or, in scripted and headless modes, presses OK at
    // once); true when files were queued.
    bool run();
    // The OK button: validates, queues, saves; true when the dialog may close.
    bool cmdOk_Click();
    void cmdAddgroup_Click();
    void cmdRemove_Click();

    QLineEdit *txtSubject = nullptr;
    QLineEdit *txtExample = nullptr;
    QListWidget *lstNewsgroups = nullptr;
    QCheckBox *chkNZB = nullptr;
    QCheckBox *chkPostNZB = nullptr; // unticked: the NZB is written, not posted
    QCheckBox *chkObfuscate = nullptr;
    QLineEdit *txtNZBPath = nullptr;
    QPushButton *cmdSave = nullptr;

private:
    QStringList files_;
    QString initialSubject_;
    std::function<void(int)> onItemAdded_;
    bool queued_ = false;
};

} // namespace tessaly
