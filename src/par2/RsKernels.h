// The multiply-accumulate at the heart of recovery data: a region of 16-bit
// words gains c_k times each of several source regions, c_k in GF(2^16).
//
// The kernels form a ladder (a portable one first, then table shuffles on
// 128-, 256- and 512-bit registers, then GFNI's affine transforms): each
// works in a layout of its own, into which a region is put before the work
// and from which it is taken after, both in place. The vector layouts keep
// the low bytes of a block's words apart from their high bytes, so that one
// register holds one byte of many words.
#pragma once

#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace tessaly::par2::rs {

enum class Kernel { Scalar, Ssse3, Avx2, Avx512, GfniAvx2, GfniAvx512 };

// Regions are a whole number of these bytes, aligned to kAlign.
inline constexpr std::size_t kBlock = 128;
inline constexpr std::size_t kAlign = 64;

struct Ops
{
    std::size_t coeffBytes; // what prepare() writes for one coefficient
    void (*prepare)(std::uint16_t c, std::uint8_t *out);
    void (*toLayout)(std::uint8_t *p, std::size_t n);
    void (*fromLayout)(std::uint8_t *p, std::size_t n);
    // acc[0, n) ^= sum over k < count of c_k * src[k][0, n), with c_k
    // prepared at coeffs + k * coeffBytes; all in the kernel's layout.
    void (*mulAdd)(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                   std::size_t n);
};

const Ops &ops(Kernel kernel);
Kernel activeKernel();
bool setKernel(Kernel kernel); // false when the processor lacks it
QString kernelName(Kernel kernel);
QList<Kernel> availableKernels();

// The plain definition, word by word through the field's tables (natural
// layout, little-endian words): what every kernel must agree with.
void mulAddReference(std::uint8_t *acc, const std::uint8_t *src, std::uint16_t c, std::size_t n);

// The coefficient data the kernels share.
void prepareTables(std::uint16_t c, std::uint8_t *out);  // 8 x 16 bytes of nibble products
void prepareMatrices(std::uint16_t c, std::uint8_t *out); // 4 x 8 bytes of bit matrices

// Kernels in their own files, built with their own instruction-set flags.
namespace ssse3 {
void toLayout(std::uint8_t *p, std::size_t n);
void fromLayout(std::uint8_t *p, std::size_t n);
void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n);
} // namespace ssse3
namespace avx2 {
void toLayout(std::uint8_t *p, std::size_t n);
void fromLayout(std::uint8_t *p, std::size_t n);
void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n);
void mulAddGfni(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                std::size_t n);
} // namespace avx2
namespace avx512 {
void toLayout(std::uint8_t *p, std::size_t n);
void fromLayout(std::uint8_t *p, std::size_t n);
void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n);
void mulAddGfni(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                std::size_t n);
} // namespace avx512

} // namespace tessaly::par2::rs
