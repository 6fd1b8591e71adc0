// "Change Newsgroups": gives queued items other newsgroups, the selected
// rows or all of them. Rows posted already keep theirs.
#pragma once

#include <QDialog>
#include <QList>

class QListWidget;
class QPushButton;

namespace tessaly {

class frmNewsgroups : public QDialog
{
    Q_OBJECT
public:
    // rows: the items to change (1-based); with allFiles set, every item.
    frmNewsgroups(bool allFiles, const QList<int> &rows, QWidget *parent = nullptr);

    // Shows the dialog modally (scripted and headless modes return at once);
    // true when newsgroups were changed.
    bool run();

    // The commands, callable by tests.
    void cmdAddgroup_Click();
    void cmdRemove_Click();
    // True when the dialog may close.
    bool cmdOk_Click();

    QListWidget *lstNewsgroups = nullptr;
    QPushButton *cmdAddgroup = nullptr;
    QPushButton *cmdRemove = nullptr;
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    bool allFiles_;
    QList<int> rows_;
    bool changed_ = false;
};

} // namespace tessaly
