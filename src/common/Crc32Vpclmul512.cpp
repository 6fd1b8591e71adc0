// CRC-32 folding with VPCLMULQDQ on 512-bit registers: four accumulators of
// four lanes take 256 bytes per round, then fold into one 256-bit register
// for the finish the 256-bit kernel's method uses. See Crc32Pclmul.cpp.
#include "common/Crc32.h"

#include <immintrin.h>

namespace tessaly::crc {

namespace {

// x^(D-32) and x^(D+32) mod P, bit-reflected, for folding by D bits: in the
// high and low quadword of every lane.
inline __m512i foldBy(long long high, long long low)
{
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

inline __m512i fold(__m512i x, __m512i k, __m512i data)
{
    const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, data, 0x96); // lo ^ hi ^ data
}

inline __m256i fold256(__m256i x, __m256i k, __m256i data)
{
    const __m256i lo = _mm256_clmulepi64_epi128(x, k, 0x00);
    const __m256i hi = _mm256_clmulepi64_epi128(x, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(lo, hi), data);
}

inline __m128i fold128(__m128i x, __m128i k, __m128i data)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
}

inline __m512i load(const std::uint8_t *p)
{
    return _mm512_loadu_si512(p);
}

} // namespace

std::uint32_t updateVpclmulAvx512(std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    if (n < 512)
        return updateVpclmulAvx2(reg, p, n);

    const __m512i k2048 = foldBy(0x1322d1430, 0x11542778a);
    const __m512i k512 = foldBy(0x1c6e41596, 0x154442bd4);
    const __m256i k256 = _mm256_set_epi64x(0x15a546366, 0x0f1da05aa, 0x15a546366, 0x0f1da05aa);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);

    __m512i x0 = _mm512_xor_si512(load(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(int(reg))));
    __m512i x1 = load(p + 64);
    __m512i x2 = load(p + 128);
    __m512i x3 = load(p + 192);
    p += 256;
    n -= 256;
    while (n >= 256) {
        x0 = fold(x0, k2048, load(p));
        x1 = fold(x1, k2048, load(p + 64));
        x2 = fold(x2, k2048, load(p + 128));
        x3 = fold(x3, k2048, load(p + 192));
        p += 256;
        n -= 256;
    }
    __m512i y = fold(x0, k512, x1);
    y = fold(y, k512, x2);
    y = fold(y, k512, x3);
    while (n >= 64) {
        y = fold(y, k512, load(p));
        p += 64;
        n -= 64;
    }
    __m256i z = fold256(_mm512_castsi512_si256(y), k256, _mm512_extracti64x4_epi64(y, 1));
    while (n >= 32) {
        z = fold256(z, k256, _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
        p += 32;
        n -= 32;
    }
    __m128i x = fold128(_mm256_castsi256_si128(z), k128, _mm256_extracti128_si256(z, 1));
    alignas(16) std::uint8_t state[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(state), x);
    return updateTable(updateTable(0, state, 16), p, n);
}

} // namespace tessaly::crc
