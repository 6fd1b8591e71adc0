// yEnc encoding of one part. The scalar encoder is the reference; faster
// kernels for x86-64 produce the same bytes and are chosen once at start-up
// from what the processor offers.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace tessaly {

struct EncodeEntry
{
    std::uint8_t value = 0;        // written plain, or after "=" when always escaped
    bool safe = false;             // never escaped
    bool lineStartEscape = false;  // escaped only at the start of a line (".")
    std::uint8_t escapedValue = 0; // written after "=" when escaped at a line start
};

using EncodeTableType = std::array<EncodeEntry, 256>;
// The lookup table for every input byte value.
const EncodeTableType &EncodeTable();

namespace yenc {

inline constexpr int LineLength = 128;

enum class Kernel { Scalar, Sse2, Avx2, Avx512 };

// Bytes an output buffer needs for n input bytes, including the slack that the
// vector kernels may write past the end of their output.
constexpr std::size_t maxEncodedSize(std::size_t n)
{
    return 2 * n + 2 * (n / (LineLength / 2) + 1) + 64;
}

// Encodes n bytes into out (at least maxEncodedSize(n) bytes) with the active
// kernel; returns the number of bytes written. Every call starts at column 0.
std::size_t encode(const std::uint8_t *in, std::size_t n, std::uint8_t *out);
std::size_t encodeWith(Kernel kernel, const std::uint8_t *in, std::size_t n, std::uint8_t *out);

// The reference encoder.
std::size_t encodeScalar(const std::uint8_t *in, std::size_t n, std::uint8_t *out);

Kernel activeKernel();
QString kernelName(Kernel kernel);
// Kernels this processor can run, the scalar one first.
QList<Kernel> availableKernels();
// Every kernel built into the program, whether this processor runs it or not.
QList<Kernel> allKernels();
// Chooses a kernel (tests, benchmarks); false when the processor lacks it.
bool setKernel(Kernel kernel);

// Kernels in their own files, built with their own instruction-set flags.
std::size_t encodeSse2(const std::uint8_t *in, std::size_t n, std::uint8_t *out);
std::size_t encodeAvx2(const std::uint8_t *in, std::size_t n, std::uint8_t *out);
std::size_t encodeAvx512(const std::uint8_t *in, std::size_t n, std::uint8_t *out);

} // namespace yenc

// The encoded text of a buffer, as the article body carries it.
QByteArray yEncode(const QByteArray &bytes);

} // namespace tessaly
