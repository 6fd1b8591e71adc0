// Table shuffles on 128-bit registers. A block of 32 bytes (16 words) is
// kept as its 16 low bytes and then its 16 high bytes.
#include "par2/RsKernels.h"

#include <immintrin.h>

namespace tessaly::par2::rs::ssse3 {

namespace {

// Within each 128-bit lane: the even bytes (the words' low bytes) first.
const __m128i kSplit = _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
const __m128i kJoin = _mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);

inline __m128i load(const std::uint8_t *p) { return _mm_load_si128(reinterpret_cast<const __m128i *>(p)); }
inline void store(std::uint8_t *p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i *>(p), v); }

} // namespace

void toLayout(std::uint8_t *p, std::size_t n)
{
    for (std::size_t at = 0; at < n; at += 32) {
        const __m128i a = _mm_shuffle_epi8(load(p + at), kSplit);
        const __m128i b = _mm_shuffle_epi8(load(p + at + 16), kSplit);
        store(p + at, _mm_unpacklo_epi64(a, b));
        store(p + at + 16, _mm_unpackhi_epi64(a, b));
    }
}

void fromLayout(std::uint8_t *p, std::size_t n)
{
    for (std::size_t at = 0; at < n; at += 32) {
        const __m128i lo = load(p + at), hi = load(p + at + 16);
        store(p + at, _mm_shuffle_epi8(_mm_unpacklo_epi64(lo, hi), kJoin));
        store(p + at + 16, _mm_shuffle_epi8(_mm_unpackhi_epi64(lo, hi), kJoin));
    }
}

void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n)
{
    const __m128i nibble = _mm_set1_epi8(0x0F);
    for (std::size_t at = 0; at < n; at += 32) {
        __m128i lo = load(acc + at), hi = load(acc + at + 16);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *t = coeffs + 128 * std::size_t(k);
            const __m128i l = load(src[k] + at), h = load(src[k] + at + 16);
            const __m128i n0 = _mm_and_si128(l, nibble), n1 = _mm_and_si128(_mm_srli_epi16(l, 4), nibble);
            const __m128i n2 = _mm_and_si128(h, nibble), n3 = _mm_and_si128(_mm_srli_epi16(h, 4), nibble);
            lo = _mm_xor_si128(lo, _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(load(t), n0),
                                                                _mm_shuffle_epi8(load(t + 16), n1)),
                                                  _mm_xor_si128(_mm_shuffle_epi8(load(t + 32), n2),
                                                                _mm_shuffle_epi8(load(t + 48), n3))));
            hi = _mm_xor_si128(hi, _mm_xor_si128(_mm_xor_si128(_mm_shuffle_epi8(load(t + 64), n0),
                                                                _mm_shuffle_epi8(load(t + 80), n1)),
                                                  _mm_xor_si128(_mm_shuffle_epi8(load(t + 96), n2),
                                                                _mm_shuffle_epi8(load(t + 112), n3))));
        }
        store(acc + at, lo);
        store(acc + at + 16, hi);
    }
}

} // namespace tessaly::par2::rs::ssse3
