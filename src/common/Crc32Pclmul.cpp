// CRC-32 by folding with carry-less multiplication (PCLMULQDQ): four 128-bit
// accumulators take 64 bytes per round; they are folded into one, and the
// last 16 bytes of state plus the tail finish in the table loop. The fold
// constants are x^(d+32) and x^(d-32) mod P, bit-reflected and shifted left
// by one, for the fold distance d in bits.
#include "common/Crc32.h"

#include <immintrin.h>

namespace tessaly::crc {

namespace {

inline __m128i fold(__m128i x, __m128i k, __m128i data)
{
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), data);
}

inline __m128i load(const std::uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

} // namespace

std::uint32_t updatePclmul(std::uint32_t reg, const std::uint8_t *p, std::size_t n)
{
    if (n < 64)
        return updateTable(reg, p, n);

    const __m128i k512 = _mm_set_epi64x(0x1c6e41596, 0x154442bd4);
    const __m128i k128 = _mm_set_epi64x(0x0ccaa009e, 0x1751997d0);

    __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(reg)));
    __m128i x1 = load(p + 16);
    __m128i x2 = load(p + 32);
    __m128i x3 = load(p + 48);
    p += 64;
    n -= 64;
    while (n >= 64) {
        x0 = fold(x0, k512, load(p));
        x1 = fold(x1, k512, load(p + 16));
        x2 = fold(x2, k512, load(p + 32));
        x3 = fold(x3, k512, load(p + 48));
        p += 64;
        n -= 64;
    }
    __m128i x = fold(x0, k128, x1);
    x = fold(x, k128, x2);
    x = fold(x, k128, x3);
    while (n >= 16) {
        x = fold(x, k128, load(p));
        p += 16;
        n -= 16;
    }
    alignas(16) std::uint8_t state[16];
    _mm_store_si128(reinterpret_cast<__m128i *>(state), x);
    return updateTable(updateTable(0, state, 16), p, n);
}

} // namespace tessaly::crc
