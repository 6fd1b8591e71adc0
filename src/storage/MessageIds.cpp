#include "storage/MessageIds.h"

#include "common/AppState.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace tessaly {

bool isMessageId(const QString &id)
{
    const qsizetype at = id.indexOf(u'@');
    if (id.size() > 248 || at <= 0 || at == id.size() - 1)
        return false;
    return std::all_of(id.cbegin(), id.cend(), [](QChar c) { return c > u' ' && c <= u'~' && c != u'<' && c != u'>'; });
}

namespace {

// A random (version 4) UUID's 16 bytes as 32 upper-case hex digits.
QString idFrom(int part, int total, const quint32 random[4])
{
    uchar bytes[16];
    std::memcpy(bytes, random, sizeof bytes);
    bytes[6] = uchar((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = uchar((bytes[8] & 0x3F) | 0x80); // the RFC 4122 variant
    static constexpr char kHex[] = "0123456789ABCDEF";
    char hex[32];
    for (int k = 0; k < 16; ++k) {
        hex[2 * k] = kHex[bytes[k] >> 4];
        hex[2 * k + 1] = kHex[bytes[k] & 0x0F];
    }
    return u"Part"_s + QString::number(part) + u"of"_s + QString::number(total) + u'.'
        + QLatin1StringView(hex, sizeof hex) + u'@' + runTag() + u".local"_s;
}

} // namespace

QString makeMessageId(int part, int total)
{
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    return idFrom(part, total, random);
}

QString randomText(int length)
{
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString out(length, Qt::Uninitialized);
    std::vector<quint32> random(std::size_t(std::max(length, 0)));
    QRandomGenerator::system()->fillRange(random.data(), qsizetype(random.size()));
    for (int k = 0; k < length; ++k)
        out[k] = QLatin1Char(kAlphabet[random[std::size_t(k)] % 36]);
    return out;
}

QString makeObfuscatedMessageId()
{
    quint32 random[4];
    QRandomGenerator::system()->fillRange(random);
    QString id;
    for (quint32 r : random)
        id += u"%1"_s.arg(r, 8, 16, QChar(u'0'));
    QString right = randomText(12);
    // Letters only on the right, as a host name's.
    for (QChar &c : right)
        if (c.isDigit())
            c = QLatin1Char(char('a' + c.digitValue()));
    return id + u'@' + right;
}

QStringList makeObfuscatedMessageIds(int total)
{
    QStringList ids;
    ids.reserve(total);
    for (int k = 0; k < total; ++k)
        ids << makeObfuscatedMessageId();
    return ids;
}

Disguise makeDisguise()
{
    Disguise d;
    d.from = randomText(10) + u'@' + randomText(8) + u".com"_s;
    d.nick = randomText(8);
    return d;
}

QStringList makeMessageIds(int total)
{
    // The randomness for every ID at once: one request to the system, not
    // one for each of the thousands of parts of a large file.
    std::vector<quint32> random(std::size_t(std::max(total, 0)) * 4);
    QRandomGenerator::system()->fillRange(random.data(), qsizetype(random.size()));
    QStringList ids;
    ids.reserve(total);
    for (int k = 1; k <= total; ++k)
        ids << idFrom(k, total, random.data() + std::size_t(k - 1) * 4);
    return ids;
}

qint64 partCount(qint64 fileSize, qint64 partSize)
{
    if (fileSize <= 0 || partSize <= 0)
        return 0;
    return (fileSize + partSize - 1) / partSize;
}

} // namespace tessaly
