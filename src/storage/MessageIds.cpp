#include "storage/MessageIds.h"

#include "common/AppState.h"

#include <QUuid>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

bool isMessageId(const QString &id)
{
    const qsizetype at = id.indexOf(u'@');
    if (id.size() > 248 || at <= 0 || at == id.size() - 1)
        return false;
    return std::all_of(id.cbegin(), id.cend(), [](QChar c) { return c > u' ' && c <= u'~' && c != u'<' && c != u'>'; });
}

QString makeMessageId(int part, int total)
{
    return u"Part"_s + QString::number(part) + u"of"_s + QString::number(total) + u'.'
        + QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex().toUpper()) + u'@' + runTag() + u".local"_s;
}

QStringList makeMessageIds(int total)
{
    QStringList ids;
    ids.reserve(total);
    for (int k = 1; k <= total; ++k)
        ids << makeMessageId(k, total);
    return ids;
}

qint64 partCount(qint64 fileSize, qint64 partSize)
{
    if (fileSize <= 0 || partSize <= 0)
        return 0;
    return (fileSize + partSize - 1) / partSize;
}

} // namespace tessaly
