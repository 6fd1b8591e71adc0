// Message-IDs and part counts of queued files: every part of an item gets its
// own Message-ID when the item is queued, and posting uses them in part order.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

// "Part" k "of" T "." 32 hex digits "@" RunTag ".local"
QString makeMessageId(int part, int total);
// A Message-ID (without its angle brackets) as a header may carry one: a
// left and a right side around an "@", printable ASCII without blanks or
// angle brackets, at most 248 characters (250 with the brackets).
bool isMessageId(const QString &id);
// One Message-ID per part, in part order, for a newly queued item.
QStringList makeMessageIds(int total);
// Number of parts of a file of the given size.
qint64 partCount(qint64 fileSize, qint64 partSize);

} // namespace tessaly
