#include "par2/Packets.h"

#include <cstring>

namespace tessaly::par2 {

namespace {

void put64(QByteArray &b, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        b.append(char(v >> (8 * i)));
}

void put32(QByteArray &b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char(v >> (8 * i)));
}

void putId(QByteArray &b, const Id &id)
{
    b.append(reinterpret_cast<const char *>(id.data()), qsizetype(id.size()));
}

void padTo4(QByteArray &b)
{
    while (b.size() % 4)
        b.append('\0');
}

const std::uint8_t *bytes(const QByteArray &b)
{
    return reinterpret_cast<const std::uint8_t *>(b.constData());
}

} // namespace

bool idLess(const Id &a, const Id &b)
{
    for (int i = 15; i >= 0; --i)
        if (a[std::size_t(i)] != b[std::size_t(i)])
            return a[std::size_t(i)] < b[std::size_t(i)];
    return false;
}

QByteArray makePacket(const Id &setId, const char (&type)[16], const QByteArray &body)
{
    QByteArray tail;
    putId(tail, setId);
    tail.append(type, 16);
    tail.append(body);
    padTo4(tail);
    QByteArray p(kMagic, 8);
    put64(p, std::uint64_t(32 + tail.size()));
    const md5::Digest hash = md5::of(bytes(tail), std::size_t(tail.size()));
    p.append(reinterpret_cast<const char *>(hash.data()), 16);
    p.append(tail);
    return p;
}

QByteArray mainBody(std::uint64_t sliceSize, const std::vector<Id> &sortedFileIds)
{
    QByteArray b;
    put64(b, sliceSize);
    put32(b, std::uint32_t(sortedFileIds.size()));
    for (const Id &id : sortedFileIds)
        putId(b, id);
    return b;
}

Id setIdOf(const QByteArray &mainBody)
{
    return md5::of(bytes(mainBody), std::size_t(mainBody.size()));
}

QByteArray fileDescBody(const Id &fileId, const md5::Digest &hash, const md5::Digest &hash16k, std::uint64_t length,
                        const QByteArray &name)
{
    QByteArray b;
    putId(b, fileId);
    putId(b, hash);
    putId(b, hash16k);
    put64(b, length);
    b.append(name);
    padTo4(b);
    return b;
}

Id fileIdOf(const md5::Digest &hash16k, std::uint64_t length, const QByteArray &name)
{
    QByteArray b;
    putId(b, hash16k);
    put64(b, length);
    b.append(name);
    return md5::of(bytes(b), std::size_t(b.size()));
}

QByteArray ifscBody(const Id &fileId, const std::vector<SliceCheck> &checks)
{
    QByteArray b;
    b.reserve(16 + 20 * qsizetype(checks.size()));
    putId(b, fileId);
    for (const SliceCheck &c : checks) {
        putId(b, c.md5);
        put32(b, c.crc);
    }
    return b;
}

QByteArray creatorBody(const QByteArray &text)
{
    QByteArray b = text;
    padTo4(b);
    return b;
}

QByteArray recoveryHeader(const Id &setId, std::uint64_t sliceSize, const md5::Digest &packetHash)
{
    QByteArray p(kMagic, 8);
    put64(p, kHeaderBytes + 4 + sliceSize);
    p.append(reinterpret_cast<const char *>(packetHash.data()), 16);
    putId(p, setId);
    p.append(packet::kRecovery, 16);
    return p;
}

QByteArray recoveryHashHead(const Id &setId, std::uint32_t exponent)
{
    QByteArray b;
    putId(b, setId);
    b.append(packet::kRecovery, 16);
    put32(b, exponent);
    return b;
}

} // namespace tessaly::par2
