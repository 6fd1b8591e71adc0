// GFNI on 512-bit registers, in the 512-bit shuffle kernel's layout: each
// byte of a product is two 8 x 8 bit-matrix transforms, one of the low and
// one of the high bytes, added.
#include "par2/RsKernels.h"

#include <immintrin.h>

#include <cstring>

namespace tessaly::par2::rs::avx512 {

namespace {

inline __m512i load(const std::uint8_t *p) { return _mm512_load_si512(p); }
inline void store(std::uint8_t *p, __m512i v) { _mm512_store_si512(p, v); }
inline __m512i matrix(const std::uint8_t *p)
{
    long long m;
    std::memcpy(&m, p, sizeof m);
    return _mm512_set1_epi64(m);
}
inline __m512i xor3(__m512i a, __m512i b, __m512i c) { return _mm512_ternarylogic_epi32(a, b, c, 0x96); }
inline __m512i affine(__m512i x, __m512i m) { return _mm512_gf2p8affine_epi64_epi8(x, m, 0); }

} // namespace

void mulAddGfni(std::uint8_t *acc, const std::uint8_t *const *src, const std::uint8_t *coeffs, int count,
                std::size_t n)
{
    std::size_t at = 0;
    // Four blocks at a time: eight accumulators in registers.
    for (; at + 512 <= n; at += 512) {
        __m512i lo0 = load(acc + at), hi0 = load(acc + at + 64);
        __m512i lo1 = load(acc + at + 128), hi1 = load(acc + at + 192);
        __m512i lo2 = load(acc + at + 256), hi2 = load(acc + at + 320);
        __m512i lo3 = load(acc + at + 384), hi3 = load(acc + at + 448);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *m = coeffs + 32 * std::size_t(k);
            const __m512i ll = matrix(m), lh = matrix(m + 8), hl = matrix(m + 16), hh = matrix(m + 24);
            const std::uint8_t *s = src[k] + at;
            __m512i l = load(s), h = load(s + 64);
            lo0 = xor3(lo0, affine(l, ll), affine(h, lh));
            hi0 = xor3(hi0, affine(l, hl), affine(h, hh));
            l = load(s + 128), h = load(s + 192);
            lo1 = xor3(lo1, affine(l, ll), affine(h, lh));
            hi1 = xor3(hi1, affine(l, hl), affine(h, hh));
            l = load(s + 256), h = load(s + 320);
            lo2 = xor3(lo2, affine(l, ll), affine(h, lh));
            hi2 = xor3(hi2, affine(l, hl), affine(h, hh));
            l = load(s + 384), h = load(s + 448);
            lo3 = xor3(lo3, affine(l, ll), affine(h, lh));
            hi3 = xor3(hi3, affine(l, hl), affine(h, hh));
        }
        store(acc + at, lo0);
        store(acc + at + 64, hi0);
        store(acc + at + 128, lo1);
        store(acc + at + 192, hi1);
        store(acc + at + 256, lo2);
        store(acc + at + 320, hi2);
        store(acc + at + 384, lo3);
        store(acc + at + 448, hi3);
    }
    for (; at < n; at += 128) {
        __m512i lo = load(acc + at), hi = load(acc + at + 64);
        for (int k = 0; k < count; ++k) {
            const std::uint8_t *m = coeffs + 32 * std::size_t(k);
            const __m512i l = load(src[k] + at), h = load(src[k] + at + 64);
            lo = xor3(lo, affine(l, matrix(m)), affine(h, matrix(m + 8)));
            hi = xor3(hi, affine(l, matrix(m + 16)), affine(h, matrix(m + 24)));
        }
        store(acc + at, lo);
        store(acc + at + 64, hi);
    }
}

} // namespace tessaly::par2::rs::avx512
