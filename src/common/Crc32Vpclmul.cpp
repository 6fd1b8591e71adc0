// CRC-32 folding with VPCLMULQDQ on 256-bit registers: four accumulators of
// two lanes take 128 bytes per round. See Crc32Pclmul.cpp for the method.
#include "common/Crc32.h"

#include <immintrin.h>

namespace tessaly::crc {

namespace {

inline __m256i fold(__m256i x, __m256i k, __m256i data)
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

inline __m256i load(const std::uint8_t *p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

} // namespace

std::uint32_t updateVpclmulAvx2(std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    if (n < 256)
        return updatePclmul(reg, p, n);

    const __m256i k1024 = _mm256_set_epi64x(0x14a7fe880, 0x1e88ef372, 0x14a7fe880, 0x1e88ef372);
    const __m256i k256 = _mm256_set_epi64x(0x15a546366, 0x0f1da05aa, 0x15a546366, 0x0f1da05aa);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);

    __m256i x0 = _mm256_xor_si256(load(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(int(reg))));
    __m256i x1 = load(p + 32);
    __m256i x2 = load(p + 64);
    __m256i x3 = load(p + 96);
    p += 128;
    n -= 128;
    while (n >= 128) {
        x0 = fold(x0, k1024, load(p));
        x1 = fold(x1, k1024, load(p + 32));
        x2 = fold(x2, k1024, load(p + 64));
        x3 = fold(x3, k1024, load(p + 96));
        p += 128;
        n -= 128;
    }
    __m256i y = fold(x0, k256, x1);
    y = fold(y, k256, x2);
    y = fold(y, k256, x3);
    while (n >= 32) {
        y = fold(y, k256, load(p));
        p += 32;
        n -= 32;
    }
    __m128i x = fold128(_mm256_castsi256_si128(y), k128, _mm256_extracti128_si256(y, 1));
    alignas(16) std::uint8_t state[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(state), x);
    return updateTable(updateTable(0, state, 16), p, n);
}

} // namespace tessaly::crc
