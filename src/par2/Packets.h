// The packets of a recovery set, as bytes: each a 64-byte header (magic,
// length, the packet's MD5, the set's ID, the type) and a body whose length
// is a multiple of 4.
#pragma once

#include "par2/Md5.h"

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace tessaly::par2 {

using Id = md5::Digest;

inline constexpr char kMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
inline constexpr std::size_t kHeaderBytes = 64;

namespace packet {
inline constexpr char kMain[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'M', 'a', 'i', 'n', '\0', '\0', '\0', '\0'};
inline constexpr char kFileDesc[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'F', 'i', 'l', 'e', 'D', 'e', 's', 'c'};
inline constexpr char kIfsc[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'I', 'F', 'S', 'C', '\0', '\0', '\0', '\0'};
inline constexpr char kRecovery[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'R', 'e', 'c', 'v', 'S', 'l', 'i', 'c'};
inline constexpr char kCreator[16] = {'P', 'A', 'R', ' ', '2', '.', '0', '\0', 'C', 'r', 'e', 'a', 't', 'o', 'r', '\0'};
} // namespace packet

struct SliceCheck
{
    md5::Digest md5{};
    std::uint32_t crc = 0;
};

// File IDs in the order the main packet lists them (as 128-bit numbers,
// the last byte the most significant).
bool idLess(const Id &a, const Id &b);

// A whole packet: header and body (padded with zeros to a multiple of 4).
QByteArray makePacket(const Id &setId, const char (&type)[16], const QByteArray &body);

QByteArray mainBody(std::uint64_t sliceSize, const std::vector<Id> &sortedFileIds);
// The set's ID: the MD5 of the main packet's body.
Id setIdOf(const QByteArray &mainBody);
QByteArray fileDescBody(const Id &fileId, const md5::Digest &hash, const md5::Digest &hash16k, std::uint64_t length,
                        const QByteArray &name);
// The file's ID: the MD5 of its first 16 KiB's MD5, its length and its name.
Id fileIdOf(const md5::Digest &hash16k, std::uint64_t length, const QByteArray &name);
QByteArray ifscBody(const Id &fileId, const std::vector<SliceCheck> &checks);
QByteArray creatorBody(const QByteArray &text);

// The header of a recovery packet (exponent and data follow it): its MD5
// is that of headFor() and the data, made elsewhere, many at a time.
QByteArray recoveryHeader(const Id &setId, std::uint64_t sliceSize, const md5::Digest &packetHash);
// The 36 bytes a recovery packet's MD5 starts with: the set ID, the type
// and the exponent.
QByteArray recoveryHashHead(const Id &setId, std::uint32_t exponent);

} // namespace tessaly::par2
