#include "support/YencDecode.h"

#include <QRegularExpression>

#include <zlib.h>

using namespace Qt::StringLiterals;

namespace tessaly::test {

namespace {
QByteArray field(const QByteArray &line, const QByteArray &name)
{
    const qsizetype at = line.indexOf(QByteArray(' ' + name + '='));
    if (at < 0)
        return {};
    const qsizetype start = at + name.size() + 2;
    const qsizetype end = line.indexOf(' ', start);
    return line.mid(start, end < 0 ? -1 : end - start);
}
} // namespace

DecodedPart decodeArticle(const QByteArray &raw)
{
    DecodedPart d;
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        d.error = u"no end of headers"_s;
        return d;
    }
    for (const QByteArray &h : raw.left(headEnd).split('\n'))
        if (h.startsWith("Subject: "))
            d.subject = h.mid(9).trimmed();
    const QList<QByteArray> lines = raw.mid(headEnd + 4).split('\n');
    QByteArray ybegin, ypart, yend;
    QByteArray body;
    for (QByteArray l : lines) {
        if (l.endsWith('\r'))
            l.chop(1);
        if (l.startsWith("=ybegin "))
            ybegin = l;
        else if (l.startsWith("=ypart "))
            ypart = l;
        else if (l.startsWith("=yend "))
            yend = l;
        else if (!ybegin.isEmpty() && yend.isEmpty())
            body += l;
    }
    if (ybegin.isEmpty() || ypart.isEmpty() || yend.isEmpty()) {
        d.error = u"yEnc framing lines missing"_s;
        return d;
    }
    d.fileSize = field(ybegin, "size").toLongLong();
    d.part = field(ybegin, "part").toInt();
    d.name = ybegin.mid(ybegin.indexOf(" name=") + 6);
    d.begin = field(ypart, "begin").toLongLong();
    d.end = field(ypart, "end").toLongLong();
    d.data.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(body[i]);
        if (c == '=') {
            if (++i >= body.size())
                break;
            c = static_cast<unsigned char>(static_cast<unsigned char>(body[i]) - 64);
        }
        d.data += char(static_cast<unsigned char>(c - 42));
    }
    const qint64 size = field(yend, "size").toLongLong();
    const QByteArray crcText = field(yend, "pcrc32");
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(d.data.constData()), uInt(d.data.size()));
    if (size != d.data.size() || d.end - d.begin + 1 != d.data.size()) {
        d.error = u"size mismatch"_s;
        return d;
    }
    if (crcText.toULongLong(nullptr, 16) != crc) {
        d.error = u"CRC mismatch"_s;
        return d;
    }
    d.ok = true;
    return d;
}

} // namespace tessaly::test
