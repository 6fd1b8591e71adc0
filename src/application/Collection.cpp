#include "application/Collection.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/FileNames.h"
#include "rarpar/FileLists.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/NzbFile.h"
#include "storage/UploadQueue.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace tessaly {

QString collectionSubject(const QString &subject, int i, int n, const QString &fileName)
{
    const int width = (n >= 10 && n <= 9999) ? int(QString::number(n).size()) : 1;
    // The name stands in double quotes: one inside it would end it early for
    // a reader, so it shows as a single quote there (the yEnc name keeps it).
    QString quoted = fileName;
    quoted.replace(u'"', u'\'');
    return subject.trimmed() + u" - ["_s + u"%1"_s.arg(i, width, 10, QChar(u'0')) + u'/' + QString::number(n)
        + u"] - \""_s + quoted + u"\" yEnc"_s;
}

QString nzbPathFor(const QString &firstFile, const QString &subject)
{
    // Names that are also safe on the file systems other systems use.
    QString name;
    for (const QChar c : subject.trimmed())
        name += (c < u' ' || QStringView(u"/\\:*?\"<>|").contains(c)) ? u'_' : c;
    while (name.endsWith(u'.') || name.endsWith(u' '))
        name.chop(1);
    if (!name.isEmpty() && name != u"_"_s) {
        const qsizetype slash = firstFile.lastIndexOf(u'/');
        return firstFile.left(slash + 1) + name.left(200) + u".nzb"_s;
    }
    const qsizetype len = firstFile.size();
    if (len >= 4 && firstFile.at(len - 4) == u'.')
        return firstFile.left(len - 4) + u".nzb"_s;
    if (len >= 5 && firstFile.at(len - 5) == u'.')
        return firstFile.left(len - 5) + u".nzb"_s;
    return firstFile + u".nzb"_s;
}

namespace {

// Queues one file; returns its element number, 0 when it was skipped.
int queueOne(const QString &path, const QString &subject, const QString &newsgroups, const QString &tag,
             const CollectionRequest &request, const Disguise &collection)
{
    const qint64 size = regularFileSize(path);
    const QString name = displayName(fileNameOf(path));
    if (size <= 0)
        return 0; // empty files were left out of the collection, with a line each
    // A header line may hold 998 bytes: a server refuses a longer one for
    // every part, whatever its Message-ID.
    const int parts = int(partCount(size, appSettings().PartSize));
    const QByteArray subjectLine = "Subject: " + subject.toUtf8() + " (" + QByteArray::number(parts) + '/'
        + QByteArray::number(parts) + ')';
    if (subjectLine.size() > 998) {
        AddLog(0, u"File \""_s + name + u"\" could not be added, because its subject line would be %1 bytes long, "
                                       u"more than the 998 a news server takes: shorten the subject (or the name)."_s
                      .arg(subjectLine.size()),
               LogColour::Red);
        return 0;
    }
    if (hasRawBytes(path))
        AddLog(0, u"The name of \""_s + name + u"\" is not valid UTF-8: the file is posted as it is, its subject and "
                                             u"NZB entry show each such byte as \uFFFD."_s,
               LogColour::Orange);
    UploadItem item = UploadQueue::newItem(subject, newsgroups, path, parts, tag,
                                           collection.from.isEmpty() ? makeMessageIds(parts) : makeObfuscatedMessageIds(parts));
    if (!collection.from.isEmpty()) {
        item.disguise = collection;
        item.disguise.name = randomText(16); // the file's own, the same for all its parts
    }
    item.run = UploadItem::Run::Added;
    const int index = uploadQueue().append(item);
    if (request.onItemAdded)
        request.onItemAdded(parts);
    return index;
}

} // namespace

QStringList filesToQueueIn(const QString &folder)
{
    QStringList files{QString()};
    // Listed as bytes: a name that is not valid UTF-8 is posted too.
    for (const FolderFile &f : filesInFolder(QFileInfo(folder).absoluteFilePath()))
        if (!f.hidden)
            files << f.path;
    GnomeSort(files);
    files.removeFirst();
    return files;
}

int queueCollection(const CollectionRequest &original)
{
    // The collection's own NZB, left in the folder by an earlier run, is
    // written anew and posted last, not posted as one of the files.
    CollectionRequest request = original;
    if (!request.nzbPath.isEmpty()) {
        const QString nzb = QDir::cleanPath(QFileInfo(request.nzbPath).absoluteFilePath());
        request.files.removeIf([&](const QString &f) { return QDir::cleanPath(QFileInfo(f).absoluteFilePath()) == nzb; });
    }
    // An empty file is not posted, so it is not counted either: the subjects
    // number the files that are ("[1/2]", "[2/2]", not "[1/3]", "[3/3]").
    request.files.removeIf([](const QString &f) {
        if (regularFileSize(f) > 0)
            return false;
        AddLog(0, u"File \""_s + displayName(fileNameOf(f)) + u"\" could not be added, because the file size is 0 bytes."_s,
               LogColour::Red);
        return true;
    });
    const int n = int(request.files.size());
    const QString tag = UploadQueue::MakeCollectionTag();
    const Disguise collection = request.obfuscate ? makeDisguise() : Disguise();
    QList<int> rows;
    for (int i = 1; i <= n; ++i) {
        const QString &path = request.files.at(i - 1);
        const int index = queueOne(path, collectionSubject(request.subject, i, n, displayName(fileNameOf(path))),
                                   request.newsgroups, tag, request, collection);
        if (index > 0)
            rows << index;
    }
    int added = int(rows.size());
    if (request.nzbPath.isEmpty())
        return added;
    const QString nzbSubject = collectionSubject(request.subject, 0, n, displayName(fileNameOf(request.nzbPath)));
    QString why;
    if (CreateNZB(request.nzbPath, rows, &why)) {
        if (!request.postNzb) {
            // Kept off the server: written again as the collection is posted.
            for (int row : rows)
                uploadQueue().item(row).privateNzb = request.nzbPath;
            AddLog(0, u"The NZB file is written, not posted: "_s + displayName(request.nzbPath));
            return added;
        }
        if (queueOne(request.nzbPath, nzbSubject, request.newsgroups, tag, request, collection) > 0)
            ++added;
        return added;
    }
    // The one file a reader needs: its failure shows as a failed item of the
    // collection (and fails the run), while the files are posted. Once the
    // cause is mended, "Create NZB From This Collection" writes it from the
    // posted items.
    const QString note = u"The NZB file could not be written: "_s + why;
    AddLog(0, note + u" ("_s + displayName(request.nzbPath) + u')', LogColour::Red);
    UploadItem failed = UploadQueue::newItem(nzbSubject, request.newsgroups, request.nzbPath, 1, tag, makeMessageIds(1));
    failed.state = UploadState::FileError;
    failed.note = note;
    failed.run = UploadItem::Run::Added;
    uploadQueue().append(failed);
    return added;
}

} // namespace tessaly
