// File names as bytes. On Linux a name is any string of bytes, and not every
// one is valid UTF-8; Qt would turn the other bytes into U+FFFD and could then
// not open the file again. Here each byte that is not part of valid UTF-8 is
// kept as a character of its own (U+DC80..U+DCFF, which UTF-8 text never
// holds), so that the name turns back into exactly its bytes. Paths that hold
// such characters are handled here, every other path by Qt as usual.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessaly {

QString decodeFileName(const QByteArray &bytes);
QByteArray encodeFileName(const QString &name);
// Whether a path holds bytes that are not UTF-8.
bool hasRawBytes(const QString &path);
// The name as a person (or a header) sees it: such bytes as U+FFFD.
QString displayName(const QString &name);

// -1 when the path is not a regular file (or not there).
qint64 regularFileSize(const QString &path);
bool removeFile(const QString &path);

struct FolderFile
{
    QString path;
    bool hidden = false; // a name that starts with "."
};
// The regular files of a folder (symbolic links to regular files included),
// sorted by name; their paths keep every byte of the names.
QList<FolderFile> filesInFolder(const QString &folder);

} // namespace tessaly
