// Newsgroups.dat: the list of known newsgroups, one name per line.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

QString newsgroupsFilePath();

constexpr int kMaxNewsgroupName = 500;

// A name that can go into a Newsgroups header: no blanks, commas or control
// characters, valid UTF-8, at most kMaxNewsgroupName characters.
bool isNewsgroupName(const QString &name);

// Names in file order, blanks around them removed, empty lines skipped. Lines
// that are no newsgroup names (a damaged file) are skipped with a log line. A
// missing or empty file gives an empty list.
QStringList loadNewsgroups(const QString &path = newsgroupsFilePath());

// Rewrites the file, each name on its own line ended by CR LF. Returns an
// error text, empty on success.
QString saveNewsgroups(const QStringList &names, const QString &path = newsgroupsFilePath());

} // namespace tessaly
