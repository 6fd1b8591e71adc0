// Opening files the program reads but does not control (its own data files
// too, which a user may have replaced): only regular files are opened, a FIFO
// or a device is never waited for, and no more is read than such a file can
// sensibly hold.
#pragma once

#include <QByteArray>
#include <QString>

class QFile;

namespace tessaly {

// The most each kind of file may hold; more means it is damaged.
namespace FileLimit {
inline constexpr qint64 Settings = qint64(1) << 20; // Settings.ini, Newsgroups.dat, language files
inline constexpr qint64 Queue = qint64(256) << 20;  // Queue.dat, RarPar.dat
inline constexpr qint64 Nzb = qint64(64) << 20;
} // namespace FileLimit

// Opens path for reading when it is a regular file (without blocking on the
// open itself); otherwise false with *error saying why.
bool openRegularFile(QFile &file, const QString &path, QString *error);

struct SmallFile
{
    enum Outcome { Ok, Missing, Damaged } outcome = Missing;
    QByteArray data;
    QString problem; // what was wrong, for a log line
};

// The whole file when it is a regular one of at most limit bytes.
SmallFile readSmallFile(const QString &path, qint64 limit);

} // namespace tessaly
