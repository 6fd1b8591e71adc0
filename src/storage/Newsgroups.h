// Newsgroups.dat: the list of known newsgroups, one name per line.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

QString newsgroupsFilePath();

// Names in file order, blanks around them removed, empty lines skipped. A
// missing or empty file gives an empty list.
QStringList loadNewsgroups(const QString &path = newsgroupsFilePath());

// Rewrites the file, each name on its own line ended by CR LF. Returns an
// error text, empty on success.
QString saveNewsgroups(const QStringList &names, const QString &path = newsgroupsFilePath());

} // namespace tessaly
