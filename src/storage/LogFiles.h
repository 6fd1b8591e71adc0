// The log pane saved as a rich-text file when the program closes, and the
// upkeep of the Logs folder.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

namespace tessaly {

struct LogLine;

// An RTF document of the lines, each in its colour and weight.
QByteArray logToRtf(const QVector<LogLine> &lines);

// "DD-MM-YYYY_HH.MM.SS.rtf"
QString logFileName(const QDateTime &when);

QString logsFolder();

// Writes the process-wide log to Logs/<name>; nothing when the log is empty.
// Returns the path written, empty when none was; failures are logged.
QString saveLogFile(const QDateTime &when);

// Deletes the oldest files of the folder while it holds more than keep files.
void pruneLogFiles(const QString &folder, int keep = 25);

} // namespace tessaly
