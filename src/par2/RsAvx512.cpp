// Table shuffles on 512-bit registers. A block of 128 bytes (64 words) is
// kept as its 64 low bytes and then its 64 high bytes.
#include "par2/RsKernels.h"

#include <immintrin.h>

namespace tessaly::par2::rs::avx512 {

namespace {

inline __m512i load(const std::uint8_t *p) { return _mm512_load_si512(p); }
inline void store(std::uint8_t *p, __m512i v) { _mm512_store_si512(p, v); }
inline __m512i table(const std::uint8_t *p)
{
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(p)));
}
// a ^ b ^ c in one instruction.
inline __m512i xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }

// Within each 128-bit lane: the even bytes (the words' low bytes) first.
inline __m512i splitMask()
{
    return _mm512_broadcast_i32x4(_mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15));
}
inline __m512i joinMask()
{
    return _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15));
}

} // namespace

void toLayout(std::uint8_t *p, std::size_t n)
{
    const __m512i split = splitMask();
    for (std::size_t at = 0; at < n; at += 128) {
        const __m512i a = _mm512_shuffle_epi8(load(p + at), split);
        const __m512i b = _mm512_shuffle_epi8(load(p + at + 64), split);
        store(p + at, _mm512_unpacklo_epi64(a, b));
        store(p + at + 64, _mm512_unpackhi_epi64(a, b));
    }
}

void fromLayout(std::uint8_t *p, std::size_t n)
{
    const __m512i join = joinMask();
    for (std::size_t at = 0; at < n; at += 128) {
        const __m512i lo = load(p + at), hi = load(p + at + 64);
        store(p + at, _mm512_shuffle_epi8(_mm512_unpacklo_epi64(lo, hi), join));
        store(p + at + 64, _mm512_shuffle_epi8(_mm512_unpackhi_epi64(lo, hi), join));
    }
}

void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n)
{
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    for (std::size_t at = 0; at < n; at += 128) {
        __m512i lo = load(acc + at), hi = load(acc + at + 64);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *t = coeffs + 128 * std::size_t(k);
            const __m512i l = load(src[k] + at), h = load(src[k] + at + 64);
            const __m512i n0 = _mm512_and_si512(l, nibble), n1 = _mm512_and_si512(_mm512_srli_epi16(l, 4), nibble);
            const __m512i n2 = _mm512_and_si512(h, nibble), n3 = _mm512_and_si512(_mm512_srli_epi16(h, 4), nibble);
            lo = xor3(lo, xor3(_mm512_shuffle_epi8(table(t), n0), _mm512_shuffle_epi8(table(t + 16), n1),
                               _mm512_shuffle_epi8(table(t + 32), n2)),
                      _mm512_shuffle_epi8(table(t + 48), n3));
            hi = xor3(hi, xor3(_mm512_shuffle_epi8(table(t + 64), n0), _mm512_shuffle_epi8(table(t + 80), n1),
                               _mm512_shuffle_epi8(table(t + 96), n2)),
                      _mm512_shuffle_epi8(table(t + 112), n3));
        }
        store(acc + at, lo);
        store(acc + at + 64, hi);
    }
}

} // namespace tessaly::par2::rs::avx512
