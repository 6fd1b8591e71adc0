// GFNI on 256-bit registers, in the 256-bit shuffle kernel's layout: each
// byte of a product is two 8 x 8 bit-matrix transforms, one of the low and
// one of the high bytes, added.
#include "par2/RsKernels.h"

#include <immintrin.h>

#include <cstring>

namespace tessaly::par2::rs::avx2 {

namespace {

inline __m256i load(const std::uint8_t *p) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(p)); }
inline void store(std::uint8_t *p, __m256i v) { _mm256_store_si256(reinterpret_cast<__m256i *>(p), v); }
inline __m256i matrix(const std::uint8_t *p)
{
    long long m;
    std::memcpy(&m, p, sizeof m);
    return _mm256_set1_epi64x(m);
}

} // namespace

void mulAddGfni(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                std::size_t n)
{
    std::size_t at = 0;
    // Two blocks at a time: four accumulators in registers.
    for (; at + 128 <= n; at += 128) {
        __m256i lo0 = load(acc + at), hi0 = load(acc + at + 32);
        __m256i lo1 = load(acc + at + 64), hi1 = load(acc + at + 96);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *m = coeffs + 32 * std::size_t(k);
            const __m256i ll = matrix(m), lh = matrix(m + 8), hl = matrix(m + 16), hh = matrix(m + 24);
            const std::uint8_t *s = src[k] + at;
            const __m256i l0 = load(s), h0 = load(s + 32), l1 = load(s + 64), h1 = load(s + 96);
            lo0 = _mm256_xor_si256(lo0, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l0, ll, 0),
                                                          _mm256_gf2p8affine_epi64_epi8(h0, lh, 0)));
            hi0 = _mm256_xor_si256(hi0, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l0, hl, 0),
                                                          _mm256_gf2p8affine_epi64_epi8(h0, hh, 0)));
            lo1 = _mm256_xor_si256(lo1, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l1, ll, 0),
                                                          _mm256_gf2p8affine_epi64_epi8(h1, lh, 0)));
            hi1 = _mm256_xor_si256(hi1, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l1, hl, 0),
                                                          _mm256_gf2p8affine_epi64_epi8(h1, hh, 0)));
        }
        store(acc + at, lo0);
        store(acc + at + 32, hi0);
        store(acc + at + 64, lo1);
        store(acc + at + 96, hi1);
    }
    for (; at < n; at += 64) {
        __m256i lo = load(acc + at), hi = load(acc + at + 32);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *m = coeffs + 32 * std::size_t(k);
            const __m256i l = load(src[k] + at), h = load(src[k] + at + 32);
            lo = _mm256_xor_si256(lo, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l, matrix(m), 0),
                                                        _mm256_gf2p8affine_epi64_epi8(h, matrix(m + 8), 0)));
            hi = _mm256_xor_si256(hi, _mm256_xor_si256(_mm256_gf2p8affine_epi64_epi8(l, matrix(m + 16), 0),
                                                        _mm256_gf2p8affine_epi64_epi8(h, matrix(m + 24), 0)));
        }
        store(acc + at, lo);
        store(acc + at + 32, hi);
    }
}

} // namespace tessaly::par2::rs::avx2
