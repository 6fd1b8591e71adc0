// "Upload Individual Parts": posts chosen parts of a file that was posted
// already, to fill the gaps readers report. Parts are ticked in the list or
// typed ("2, 5, 9-12"), which is how a file of thousands of parts is filled.
#pragma once

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QTreeWidget;
class QPushButton;

namespace tessaly {

// The parts a typed list names, ascending and each once ("" names none).
// A number outside 1..maxparts or anything but numbers, ranges ("9-12"),
// commas and blanks gives nullopt, with *problem saying what was wrong.
std::optional<QList<int>> parsePartList(const QString &text, int maxparts, QString *problem);

class frmFillSegment : public QDialog
{
    Q_OBJECT
public:
    // maxparts: the item's part count, one row each.
    explicit frmFillSegment(int maxparts, QWidget *parent = nullptr);

    // Shows the dialog modally (scripted and headless modes return at once);
    // the chosen parts, empty when it was cancelled.
    QList<int> run();
    // OK: true when the dialog may close; parts() then holds the choice.
    bool cmdOk_Click();
    const QList<int> &parts() const { return parts_; }
    // Opens the settings when one that posting needs is missing.
    std::function<void()> openSettings;

    void tick(int part, bool ticked = true);

    QLabel *Label1 = nullptr;
    QTreeWidget *lvwSegments = nullptr;
    QLabel *lblTyped = nullptr;
    QLineEdit *txtParts = nullptr;
    QPushButton *cmdOk = nullptr;
    QPushButton *cmdCancel = nullptr;

private:
    int maxparts_;
    QList<int> parts_;
};

} // namespace tessaly
