// The folders a Rar & Par run makes below the job's save path
// ("Tessaly_Temp0001" and on). Each holds a marker file that says the
// program made it, which process is working in it, and whether the run
// finished: a folder is taken for ours by its marker, never by its name.
// An unfinished one whose process is gone is removed at the next start;
// ours, finished or not, are never packed into a later job.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

inline constexpr auto TempMarkerName = ".tessaly-rarpar";

// Writes the marker: "running" with this process's id, or "finished".
bool markTempFolder(const QString &folder, bool finished);
// Whether the folder holds our marker.
bool isOwnTempFolder(const QString &folder);

// Our folders below base (not deeper) whose run did not finish and whose
// process is gone, removed; returns the ones removed.
QStringList removeStaleTempFolders(const QString &base);

// Our folders inside the folder input, at any depth: marked ones, and
// unmarked ones with our name that hold recovery files (made by versions
// that wrote no marker). None of them is the user's to pack.
QStringList resultFoldersInside(const QString &input);

} // namespace tessaly
