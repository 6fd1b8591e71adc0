// NZB files: for chosen queue items, the newsgroups and the Message-ID of
// every part, so that a reader can fetch what was (or will be) posted.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessaly {

// The size of the last part of a file; half a part when the file is missing
// or an exact multiple of the part size.
qint64 GetLastPartSize(const QString &path, qint64 partSize);

// The document for the items at the given queue positions, in that order.
// date: seconds since 1970 for the "date" attributes.
QByteArray nzbDocument(const QList<int> &items, qint64 date);

// Writes the NZB of the items to path (atomically). Failures are logged in
// red; returns whether the file was written.
bool CreateNZB(const QString &path, const QList<int> &items);

} // namespace tessaly
