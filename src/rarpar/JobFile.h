// RarPar.dat: the job list kept across restarts, one <Node> element per node
// of the job tree (caption, key, image, parent key), parents first.
#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly {

class JobTree;

QString jobFilePath();

// The document for a tree.
QByteArray jobDocument(const JobTree &tree);
// Writes the whole tree to RarPar.dat, replacing the file atomically; false
// (with an error line, and the reason in why) when it cannot be written,
// the old file kept.
bool SaveRarPar(const JobTree &tree, QString *why = nullptr);
bool SaveRarPar();

// Rebuilds the tree from a document. Returns false when it is not
// well-formed (the tree is left as it was). A node whose parent is unknown,
// or whose key is already used, ends the reading with an error line; the
// nodes read before it stay.
bool loadJobDocument(JobTree &tree, const QByteArray &document, QString *problem = nullptr);
// Rebuilds the tree from RarPar.dat. A missing file leaves the tree as it is;
// an unreadable one is kept as RarPar.dat.bad, logged, and the tree shows the
// placeholder.
void LoadRarPar(JobTree &tree);
void LoadRarPar();

} // namespace tessaly
