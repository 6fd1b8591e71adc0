// NZB files: for chosen queue items, the newsgroups and the Message-ID of
// every part, so that a reader can fetch what was (or will be) posted.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace tessaly {

// The size of the last part of a file: a whole part when the file is an exact
// multiple of the part size; half a part (a guess) when the file is missing.
qint64 GetLastPartSize(const QString &path, qint64 partSize);

// The document for the items at the given queue positions, in that order.
// date: seconds since 1970 for the "date" attributes.
QByteArray nzbDocument(const QList<int> &items, qint64 date);

// Writes the NZB of the items to path (atomically). Failures are logged in
// red (and said in *why when given); returns whether the file was written.
bool CreateNZB(const QString &path, const QList<int> &items, QString *why = nullptr);

// Writes the NZB file of a collection again from the Message-IDs the queue
// holds now (parts re-posted under a new ID, IDs the server rewrote), when
// they differ from the file. postedOnly: list only the items posted (the NZB
// is about to be posted; failed items are left out, each with a log line),
// else every item but the failed ones. An NZB item not begun yet takes the
// new file's part count. Returns whether the file was written.
bool rewriteCollectionNzb(int nzbIndex, bool postedOnly);
// The same for the NZB files collections keep without posting them.
void rewritePrivateNzbs();

// What an NZB file lists: per file its subject, groups and segments.
struct NzbListing
{
    struct Segment
    {
        int number = 0;
        QString messageId; // without brackets
    };
    QString subject;
    QStringList groups;
    QList<Segment> segments;
};

// Reads an NZB file (any writer's). On failure the list is empty and
// *error says why; a file without segments is no failure.
QList<NzbListing> readNzb(const QString &path, QString *error);

} // namespace tessaly
