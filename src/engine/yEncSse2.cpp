// SSE2 kernel: 16 input bytes at a time. A block without escapes that cannot
// reach the end of the line is stored in one go; any other block takes the
// per-byte step.
#include "engine/yEnc.h"
#include "engine/yEncScalar.h"

#include <emmintrin.h>

namespace tessaly::yenc {

std::size_t encodeSse2(const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    const EncodeTableType &table = EncodeTable();
    std::uint8_t *const start = out;
    const __m128i k42 = _mm_set1_epi8(42);
    const __m128i kTab = _mm_set1_epi8(9), kLf = _mm_set1_epi8(10), kCr = _mm_set1_epi8(13);
    const __m128i kEq = _mm_set1_epi8(61), kZero = _mm_setzero_si128();
    int col = 0;
    std::size_t i = 0;
    while (i + 16 <= n) {
        const __m128i c = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i)), k42);
        const __m128i esc = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(c, kZero), _mm_cmpeq_epi8(c, kTab)),
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(c, kLf), _mm_cmpeq_epi8(c, kCr)), _mm_cmpeq_epi8(c, kEq)));
        const int m = _mm_movemask_epi8(esc) | ((col == 0 && in[i] == 4) ? 1 : 0);
        if (m == 0 && col + 16 < LineLength) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out), c);
            out += 16;
            col += 16;
        } else {
            for (int k = 0; k < 16; ++k)
                col = detail::encodeByte(table, in[i + std::size_t(k)], col, out);
        }
        i += 16;
    }
    for (; i < n; ++i)
        col = detail::encodeByte(table, in[i], col, out);
    return std::size_t(out - start);
}

} // namespace tessaly::yenc
