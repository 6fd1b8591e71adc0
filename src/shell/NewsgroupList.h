// The newsgroup list of the add-files and Rar & Par dialogs: filled from
// Newsgroups.dat with the remembered selection, names added and removed
// (Newsgroups.dat rewritten each time), and the selection read back.
#pragma once

#include <QString>
#include <QStringList>

class QListWidget;
class QWidget;

namespace tessaly {

// Newsgroups.dat into the list; with KeepGroups set, the GroupNames
// positions are selected.
void fillNewsgroupList(QListWidget *list);
// Asks for a name, checks it and appends it. The add-files and job dialogs
// refuse a name listed already and save the list at once; the change-newsgroups
// dialog takes any name twice, says what is wrong in fixed English texts and
// saves the list with OK.
enum class NewsgroupAdd { SavedAtOnce, ChangeDialog };
void addNewsgroupTo(QWidget *parent, QListWidget *list, NewsgroupAdd how = NewsgroupAdd::SavedAtOnce);
// Writes the list's names to Newsgroups.dat (a failure is logged).
void saveNewsgroupList(const QListWidget *list);
// Removes the selected names and saves the list.
void removeSelectedNewsgroups(QListWidget *list);
// The selected names in list order; positions gets "0|3|" for the first and fourth.
QStringList selectedNewsgroups(const QListWidget *list, QString *positions);

} // namespace tessaly
