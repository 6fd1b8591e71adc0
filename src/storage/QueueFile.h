// Queue.dat: the upload queue kept across restarts, as an XML document.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessaly {

class UploadQueue;

QString queueFilePath();

// The document for the queue's items, in queue order.
QByteArray queueDocument(const UploadQueue &queue);

// Rewrites Queue.dat from the process-wide queue (atomically: a crash leaves
// the previous file whole). Failures are logged; returns whether it was saved
// (and *why when not).
bool SaveQueue(QString *why = nullptr);

// Notes that part `part` of the file is going out: appended at once to a
// small file beside Queue.dat (emptied by each save), so that a run killed
// before its next save knows on resume which parts the server may hold.
// Returns false (and *why) when it could not be written: the part must not
// go out then, or a later run could post it twice.
bool noteSentPart(const QString &path, int part, QString *why = nullptr);
// The same for several parts in one write.
bool noteSentParts(const QString &path, const QList<int> &parts, QString *why = nullptr);
// Goes up each time the list of sent parts is emptied (by a save): notes
// made before are gone from it then.
quint64 sentListGeneration();

// Appends the items of Queue.dat to the process-wide queue. An unreadable file
// is renamed to Queue.dat.bad and logged; a missing one is not read at all.
// Items that were being posted when the file was written come back Queued.
// Returns the number of items loaded.
int LoadStartXML();
// Why the last LoadStartXML() could not read the file, and where it was kept;
// empty when it was read (or there was none).
QString queueLoadProblem();
// Forgets it (a fresh start of the process state).
void forgetQueueLoadProblem();

} // namespace tessaly
