// CRC-32 (reflected polynomial 0xEDB88320, the checksum of ZIP, PNG and yEnc).
// The byte-wise table loop is the reference; carry-less multiplication folds
// large buffers on processors that have it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace tessaly {

namespace crc {

enum class Kernel { Table, Pclmul, VpclmulAvx2, VpclmulAvx512 };

// Runs the (uncomplemented) register over n bytes with the active kernel.
std::uint32_t update(std::uint32_t reg, const std::uint8_t *p, std::size_t n);
std::uint32_t updateWith(Kernel kernel, std::uint32_t reg, const std::uint8_t *p, std::size_t n);
std::uint32_t updateTable(std::uint32_t reg, const std::uint8_t *p, std::size_t n);

// The CRC-32 of a buffer.
inline std::uint32_t of(const std::uint8_t *p, std::size_t n) { return ~update(0xFFFFFFFFu, p, n); }

const std::uint32_t *table(); // 256 entries

Kernel activeKernel();
QString kernelName(Kernel kernel);
QList<Kernel> availableKernels();
bool setKernel(Kernel kernel);

// Kernels in their own files, built with their own instruction-set flags.
std::uint32_t updatePclmul(std::uint32_t reg, const std::uint8_t *p, std::size_t n);
std::uint32_t updateVpclmulAvx2(std::uint32_t reg, const std::uint8_t *p, std::size_t n);
std::uint32_t updateVpclmulAvx512(std::uint32_t reg, const std::uint8_t *p, std::size_t n);

} // namespace crc

// The checksum as the yEnc trailer writes it: upper-case hexadecimal of the
// unsigned value without leading zeros.
QString crcText(std::int32_t crc);
QByteArray crcHex(std::uint32_t crc);

class clsCRC
{
public:
    clsCRC() { Clear(); }

    void Clear() { reg_ = 0xFFFFFFFFu; }
    // Continues the checksum over the bytes; returns the CRC of everything
    // added since the last Clear.
    std::int32_t AddBytes(const QByteArray &bytes);
    std::int32_t AddString(const QString &text);
    std::int32_t CalculateBytes(const QByteArray &bytes);
    std::int32_t CalculateString(const QString &text);
    // Empty for a missing or empty file.
    std::optional<std::int32_t> CalculateFile(const QString &path);

private:
    std::uint32_t reg_;
};

// The one instance shared by all connections.
clsCRC &sharedCrc();

} // namespace tessaly
