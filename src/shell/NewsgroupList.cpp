#include "shell/NewsgroupList.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"
#include "storage/Newsgroups.h"

#include <QListWidget>

using namespace Qt::StringLiterals;

namespace tessaly {

void saveNewsgroupList(const QListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    const QString error = saveNewsgroups(names);
    if (!error.isEmpty())
        AddLog(0, u"Could not save the newsgroup list: "_s + error, LogColour::Red);
}

void fillNewsgroupList(QListWidget *list)
{
    const AppSettings &s = appSettings();
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    list->addItems(loadNewsgroups());
    if (s.KeepGroups >= 1) {
        for (const QString &pos : s.GroupNames.split(u'|', Qt::SkipEmptyParts)) {
            bool ok = false;
            const int row = pos.toInt(&ok);
            if (ok && row >= 0 && row < list->count())
                list->item(row)->setSelected(true);
        }
    }
    list->scrollToTop();
}

void addNewsgroupTo(QWidget *parent, QListWidget *list, NewsgroupAdd how)
{
    // A name that is refused is offered again as typed, to be mended.
    QString typed = u"alt.binaries."_s;
    QString clean;
    for (;;) {
        const std::optional<QString> answer = Prompts::input(parent, u"Add a Newsgroup"_s, u"Add a Newsgroup:"_s, typed);
        if (!answer || answer->isEmpty())
            return;
        const QString name = *answer;
        QString problem;
        if (how == NewsgroupAdd::ChangeDialog) {
            if (name == u"alt.binaries."_s)
                problem = u"\"alt.binaries.\" is an invalid newsgroup name. "_s;
            else if (name.startsWith(u'.'))
                problem = u"Newsgroup names can't start with a dot (.)"_s;
            else if (name.endsWith(u'.'))
                problem = u"Newsgroup names can't end with a dot (.)"_s;
        } else if (name == u"alt.binaries."_s)
            problem = u"\"alt.binaries.\" "_s + msg(20);
        else if (name.startsWith(u'.'))
            problem = msg(21);
        else if (name.endsWith(u'.'))
            problem = msg(22);
        else if (!list->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive).isEmpty())
            problem = msg(23);
        clean = withoutLineBreaks(name).trimmed();
        if (problem.isEmpty() && !isNewsgroupName(clean))
            problem = u"\"%1\" is not a newsgroup name: letters, digits, \"+\", \"-\" and \"_\", with single dots "
                      u"between the parts."_s.arg(clean.left(80));
        if (problem.isEmpty())
            break;
        Prompts::message(parent, problem);
        typed = name;
    }
    list->addItem(clean);
    // A group just added is the one wanted.
    list->item(list->count() - 1)->setSelected(true);
    list->scrollToItem(list->item(list->count() - 1));
    if (how == NewsgroupAdd::SavedAtOnce)
        saveNewsgroupList(list);
}

void removeSelectedNewsgroups(QListWidget *list)
{
    for (int i = list->count() - 1; i >= 0; --i)
        if (list->item(i)->isSelected())
            delete list->takeItem(i);
    saveNewsgroupList(list);
}

QStringList selectedNewsgroups(const QListWidget *list, QString *positions)
{
    QStringList groups;
    positions->clear();
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->isSelected()) {
            groups << list->item(i)->text();
            *positions += QString::number(i) + u'|';
        }
    }
    return groups;
}

} // namespace tessaly
