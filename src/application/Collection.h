// Turning a list of files into queued uploads: numbered subject lines, one
// item per file with a Message-ID for every part, and optionally an NZB file
// of the collection that is queued with it. The add-files dialog and the
// command line both use it.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace tessaly {

// "<subject> - [i/n] - "<name>" yEnc" with i zero-padded to the width of n
// (for n of 2 to 4 digits); a double quote in the name shows as a single one.
QString collectionSubject(const QString &subject, int i, int n, const QString &fileName);

// The NZB path offered for a collection: beside its first file, named after
// the subject (characters a file name cannot hold become "_"); without a
// usable subject, the first file's name with its extension (3 or 4 letters)
// replaced by ".nzb".
QString nzbPathFor(const QString &firstFile, const QString &subject = {});

struct CollectionRequest
{
    QStringList files;     // full paths, in order
    QString subject;       // the user's subject text
    QString newsgroups;    // joined by ","
    QString nzbPath;       // empty: no NZB
    // Called with the part count of every new item (a running engine adds it
    // to its remaining-time estimate).
    std::function<void(int parts)> onItemAdded;
    bool postNzb = true; // the NZB is posted with the collection (else only written)
    // Every article gets a random subject, yEnc name and poster (the NZB
    // keeps the real names), see Disguise.
    bool obfuscate = false;
};

// The files of a folder as a collection takes them: not hidden ones, not
// those of subfolders, in name order.
QStringList filesToQueueIn(const QString &folder);

// Queues the collection; zero-byte files are skipped with a red log line and
// not counted in the subjects' numbers.
// A file that is the collection's own NZB (from an earlier run) is left out.
// Returns the number of items added, the NZB item included.
int queueCollection(const CollectionRequest &request);

} // namespace tessaly
