// Message-IDs and part counts of queued files: every part of an item gets its
// own Message-ID when the item is queued, and posting uses them in part order.
#pragma once

#include <QString>
#include <QStringList>

#include "storage/UploadQueue.h"

namespace tessaly {

// "Part" k "of" T "." 32 hex digits "@" RunTag ".local"
QString makeMessageId(int part, int total);
// A Message-ID (without its angle brackets) as a header may carry one: a
// left and a right side around an "@", printable ASCII without blanks or
// angle brackets, at most 248 characters (250 with the brackets).
bool isMessageId(const QString &id);
// One Message-ID per part, in part order, for a newly queued item.
QStringList makeMessageIds(int total);
// For obfuscated posting: IDs that say nothing of the file, its part, the
// poster or the time (32 random hex digits "@" 12 random letters), and
// random texts for subjects, names and posters.
QString makeObfuscatedMessageId();
QStringList makeObfuscatedMessageIds(int total);
// `length` random letters and digits.
QString randomText(int length);
// A collection's disguise without the file's name (made per file).
Disguise makeDisguise();
// Number of parts of a file of the given size.
qint64 partCount(qint64 fileSize, qint64 partSize);

} // namespace tessaly
