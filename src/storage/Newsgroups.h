// Newsgroups.dat: the list of known newsgroups, one name per line.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

QString newsgroupsFilePath();

constexpr int kMaxNewsgroupName = 500;
constexpr int kMaxHeaderLine = 998; // octets of a header line, its CR LF not counted

// A newsgroup name as a Newsgroups header carries it: components of ASCII
// letters, digits, "+", "-" and "_", joined by single dots, at most
// kMaxNewsgroupName characters ("alt.binaries.test"; not "a..b", ".a", "a.*").
bool isNewsgroupName(const QString &name);
// What is wrong with a list of names for one Newsgroups header (the first
// name that is not one, or a line too long); empty when nothing is.
QString newsgroupsProblem(const QStringList &names);

// Names in file order, blanks around them removed, empty lines skipped. Lines
// that are no newsgroup names (a damaged file) are skipped with a log line. A
// missing or empty file gives an empty list.
QStringList loadNewsgroups(const QString &path = newsgroupsFilePath());

// Rewrites the file, each name on its own line ended by CR LF. Returns an
// error text, empty on success.
QString saveNewsgroups(const QStringList &names, const QString &path = newsgroupsFilePath());

} // namespace tessaly
