#include "par2/RsKernels.h"

#include "common/CpuFeatures.h"
#include "common/KernelChoice.h"
#include "par2/Gf16.h"

#include <cstring>

namespace tessaly::par2::rs {

namespace {

// The portable kernel: two 256-entry tables per coefficient (the products
// of the low byte and of the high byte), natural layout.
void prepareScalar(std::uint16_t c, std::uint8_t *out)
{
    std::uint16_t lo[256], hi[256];
    for (unsigned v = 0; v < 256; ++v) {
        lo[v] = gf::mul(c, std::uint16_t(v));
        hi[v] = gf::mul(c, std::uint16_t(v << 8));
    }
    std::memcpy(out, lo, sizeof lo);
    std::memcpy(out + sizeof lo, hi, sizeof hi);
}

void noLayout(std::uint8_t *, std::size_t) {}

void mulAddScalar(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                  std::size_t n)
{
    // A few kilobytes of the accumulator at a time, kept in the cache while
    // every source is added.
    constexpr std::size_t kTile = 4096;
    for (std::size_t at = 0; at < n; at += kTile) {
        const std::size_t len = std::min(kTile, n - at);
        for (int k = 0; k < count; ++k) {
            std::uint16_t lo[256], hi[256];
            std::memcpy(lo, coeffs + std::size_t(k) * 1024, sizeof lo);
            std::memcpy(hi, coeffs + std::size_t(k) * 1024 + 512, sizeof hi);
            const std::uint8_t *s = src[k] + at;
            std::uint8_t *a = acc + at;
            for (std::size_t i = 0; i < len; i += 2) {
                const std::uint16_t v = std::uint16_t(lo[s[i]] ^ hi[s[i + 1]]);
                a[i] ^= std::uint8_t(v);
                a[i + 1] ^= std::uint8_t(v >> 8);
            }
        }
    }
}

bool always() { return true; }

using Choice = KernelChoice<Kernel, const Ops *, 6>;

const Ops kScalar{1024, prepareScalar, noLayout, noLayout, mulAddScalar};
#if TESSALY_X86
const Ops kSsse3{128, prepareTables, ssse3::toLayout, ssse3::fromLayout, ssse3::mulAdd};
const Ops kAvx2{128, prepareTables, avx2::toLayout, avx2::fromLayout, avx2::mulAdd};
const Ops kAvx512{128, prepareTables, avx512::toLayout, avx512::fromLayout, avx512::mulAdd};
const Ops kGfniAvx2{32, prepareMatrices, avx2::toLayout, avx2::fromLayout, avx2::mulAddGfni};
const Ops kGfniAvx512{32, prepareMatrices, avx512::toLayout, avx512::fromLayout, avx512::mulAddGfni};
#else
bool never() { return false; }
#endif

Choice &choice()
{
#if TESSALY_X86
    static Choice c(std::array<KernelEntry<Kernel, const Ops *>, 6>{{
                        {Kernel::Scalar, u"scalar", always, &kScalar},
                        {Kernel::Ssse3, u"ssse3", cpu::hasSsse3, &kSsse3},
                        {Kernel::Avx2, u"avx2", cpu::hasAvx2, &kAvx2},
                        {Kernel::Avx512, u"avx512", cpu::hasAvx512Bw, &kAvx512},
                        {Kernel::GfniAvx2, u"gfni-avx2", cpu::hasGfniAvx2, &kGfniAvx2},
                        {Kernel::GfniAvx512, u"gfni-avx512", cpu::hasGfniAvx512, &kGfniAvx512},
                    }},
                    "TESSALY_PAR2_KERNEL");
#else
    static Choice c(std::array<KernelEntry<Kernel, const Ops *>, 6>{{
                        {Kernel::Scalar, u"scalar", always, &kScalar},
                        {Kernel::Ssse3, u"ssse3", never, &kScalar},
                        {Kernel::Avx2, u"avx2", never, &kScalar},
                        {Kernel::Avx512, u"avx512", never, &kScalar},
                        {Kernel::GfniAvx2, u"gfni-avx2", never, &kScalar},
                        {Kernel::GfniAvx512, u"gfni-avx512", never, &kScalar},
                    }},
                    "TESSALY_PAR2_KERNEL");
#endif
    return c;
}

} // namespace

const Ops &ops(Kernel kernel)
{
    return *choice().fnFor(kernel);
}

Kernel activeKernel()
{
    return choice().active();
}

bool setKernel(Kernel kernel)
{
    return choice().set(kernel);
}

QString kernelName(Kernel kernel)
{
    return choice().name(kernel);
}

QList<Kernel> availableKernels()
{
    return choice().available();
}

void mulAddReference(std::uint8_t *acc, const std::uint8_t *src, std::uint16_t c, std::size_t n)
{
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        const std::uint16_t w = std::uint16_t(src[i] | (src[i + 1] << 8));
        const std::uint16_t p = gf::mul(c, w);
        acc[i] ^= std::uint8_t(p);
        acc[i + 1] ^= std::uint8_t(p >> 8);
    }
}

void prepareTables(std::uint16_t c, std::uint8_t *out)
{
    // Table q (0, 1: the low byte's nibbles; 2, 3: the high byte's) holds
    // c * (v << 4q) for v < 16: its low bytes at out[16q], its high bytes at
    // out[64 + 16q].
    for (unsigned q = 0; q < 4; ++q) {
        for (unsigned v = 0; v < 16; ++v) {
            const std::uint16_t p = gf::mul(c, std::uint16_t(v << (4 * q)));
            out[16 * q + v] = std::uint8_t(p);
            out[64 + 16 * q + v] = std::uint8_t(p >> 8);
        }
    }
}

void prepareMatrices(std::uint16_t c, std::uint8_t *out)
{
    // Multiplying by c is a 16 x 16 bit matrix: column j is c * 2^j. Its
    // four 8 x 8 quarters, as the affine instruction takes them (the row of
    // output bit i in byte 7 - i): low from low, low from high, high from
    // low, high from high.
    std::uint16_t column[16];
    for (unsigned j = 0; j < 16; ++j)
        column[j] = gf::mul(c, std::uint16_t(1u << j));
    std::uint16_t row[16] = {};
    for (unsigned i = 0; i < 16; ++i)
        for (unsigned j = 0; j < 16; ++j)
            row[i] = std::uint16_t(row[i] | (((column[j] >> i) & 1u) << j));
    std::uint64_t m[4] = {};
    for (unsigned i = 0; i < 8; ++i) {
        const unsigned shift = 8 * (7 - i);
        m[0] |= std::uint64_t(row[i] & 0xFF) << shift;
        m[1] |= std::uint64_t(row[i] >> 8) << shift;
        m[2] |= std::uint64_t(row[8 + i] & 0xFF) << shift;
        m[3] |= std::uint64_t(row[8 + i] >> 8) << shift;
    }
    std::memcpy(out, m, sizeof m);
}

} // namespace tessaly::par2::rs
