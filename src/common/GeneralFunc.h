// Small helpers shared by every part of the program.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tessaly {

// True for a path that exists and is not a folder; any error counts as "no".
bool fileExists(const QString &path);

// The part of a path after its last separator ("/" or "\").
QString fileNameOf(const QString &path);
// The part of a path up to and including its last separator; empty without one.
QString folderOf(const QString &path);

// A whole number: optional blanks, an optional "+", then decimal digits only.
// No sign, decimal point, thousands separator, exponent or radix prefix.
bool isWholeNumber(const QString &text);
// Non-empty and made of the digits 0 to 9 only.
bool isAllDigits(const QString &text);

// Smallest whole number not below value.
qint64 roundUp(double value);
inline qint64 megabytesToBytes(qint64 mb) { return mb * 1048576; }

// Seconds as "hh:mm:ss" (hours may grow past two digits); negative counts as 0.
QString secondsToHms(qint64 seconds);

// Every number with a fraction the user sees: one decimal, the locale's
// decimal sign, no thousands separator ("2086,5" or "2086.5").
QString oneDecimal(double value);
// A speed as the lists and the status bar show it: oneDecimal + " kB/s".
QString kbPerSecond(double kilobytes);
// An amount of data in decimal units: "512 B", "12.3 kB", "45.2 MB", "4.5 GB".
QString bytesText(qint64 bytes);

// Waits the given time while handing pending events to the event loop.
void WaitWithEvents(int milliseconds);

// The file of a folder with the oldest modification time (the first found on a
// tie); empty when the folder holds no file.
QString oldestFileIn(const QString &folder);

// Replaces CR, LF and NUL by a blank so that user text cannot break a header line.
QString withoutLineBreaks(const QString &text);

// Writes data to path by way of a temporary file in the same folder and a
// rename, so a crash leaves either the old or the new file whole. The file
// gets owner-only permissions when privateFile is set. Returns an error text,
// empty on success.
QString writeFileAtomically(const QString &path, const QByteArray &data, bool privateFile = false);

// Whether atomic writes also wait for the disk (on by default; fuzzing turns it off).
void setSyncWrites(bool sync);

// Removes temporary files that an interrupted writeFileAtomically left beside path.
void removeStaleTemporaries(const QString &path);

} // namespace tessaly
