// Table shuffles on 256-bit registers. A block of 64 bytes (32 words) is
// kept as its 32 low bytes and then its 32 high bytes.
#include "par2/RsKernels.h"

#include <immintrin.h>

namespace tessaly::par2::rs::avx2 {

namespace {

inline __m256i load(const std::uint8_t *p) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(p)); }
inline void store(std::uint8_t *p, __m256i v) { _mm256_store_si256(reinterpret_cast<__m256i *>(p), v); }
inline __m256i table(const std::uint8_t *p)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(p)));
}

// Within each 128-bit lane: the even bytes (the words' low bytes) first.
inline __m256i splitMask()
{
    return _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5,
                            7, 9, 11, 13, 15);
}
inline __m256i joinMask()
{
    return _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5,
                            13, 6, 14, 7, 15);
}

} // namespace

void toLayout(std::uint8_t *p, std::size_t n)
{
    const __m256i split = splitMask();
    for (std::size_t at = 0; at < n; at += 64) {
        const __m256i a = _mm256_shuffle_epi8(load(p + at), split);
        const __m256i b = _mm256_shuffle_epi8(load(p + at + 32), split);
        store(p + at, _mm256_unpacklo_epi64(a, b));
        store(p + at + 32, _mm256_unpackhi_epi64(a, b));
    }
}

void fromLayout(std::uint8_t *p, std::size_t n)
{
    const __m256i join = joinMask();
    for (std::size_t at = 0; at < n; at += 64) {
        const __m256i lo = load(p + at), hi = load(p + at + 32);
        store(p + at, _mm256_shuffle_epi8(_mm256_unpacklo_epi64(lo, hi), join));
        store(p + at + 32, _mm256_shuffle_epi8(_mm256_unpackhi_epi64(lo, hi), join));
    }
}

void mulAdd(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count, std::size_t n)
{
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    for (std::size_t at = 0; at < n; at += 64) {
        __m256i lo = load(acc + at), hi = load(acc + at + 32);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *t = coeffs + 128 * std::size_t(k);
            const __m256i l = load(src[k] + at), h = load(src[k] + at + 32);
            const __m256i n0 = _mm256_and_si256(l, nibble), n1 = _mm256_and_si256(_mm256_srli_epi16(l, 4), nibble);
            const __m256i n2 = _mm256_and_si256(h, nibble), n3 = _mm256_and_si256(_mm256_srli_epi16(h, 4), nibble);
            lo = _mm256_xor_si256(lo, _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(table(t), n0),
                                                                         _mm256_shuffle_epi8(table(t + 16), n1)),
                                                        _mm256_xor_si256(_mm256_shuffle_epi8(table(t + 32), n2),
                                                                         _mm256_shuffle_epi8(table(t + 48), n3))));
            hi = _mm256_xor_si256(hi, _mm256_xor_si256(_mm256_xor_si256(_mm256_shuffle_epi8(table(t + 64), n0),
                                                                         _mm256_shuffle_epi8(table(t + 80), n1)),
                                                        _mm256_xor_si256(_mm256_shuffle_epi8(table(t + 96), n2),
                                                                         _mm256_shuffle_epi8(table(t + 112), n3))));
        }
        store(acc + at, lo);
        store(acc + at + 32, hi);
    }
}

} // namespace tessaly::par2::rs::avx2
