// MD5 of 16 messages side by side on 512-bit registers: lane i of every
// register belongs to message i. Each block's 16 words of 16 messages are
// read as 16 rows and transposed into 16 registers of one word each.
#include "par2/Md5.h"

#include <immintrin.h>

namespace tessaly::par2::md5 {

namespace {

inline void transpose16(__m512i r[16])
{
    // 32-bit, then 64-bit pairs, then 128-bit and 256-bit quarters.
    __m512i t[16];
    for (int i = 0; i < 16; i += 2) {
        t[i] = _mm512_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm512_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 16; i += 4) {
        r[i] = _mm512_unpacklo_epi64(t[i], t[i + 2]);
        r[i + 1] = _mm512_unpackhi_epi64(t[i], t[i + 2]);
        r[i + 2] = _mm512_unpacklo_epi64(t[i + 1], t[i + 3]);
        r[i + 3] = _mm512_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    // r[4q + j] now holds, in each 128-bit lane L, word 4L' + j of rows
    // 4q..4q+3 (L' the lane): the quarters are gathered next.
    for (int j = 0; j < 4; ++j) {
        const __m512i a = r[j], b = r[4 + j], c = r[8 + j], d = r[12 + j];
        const __m512i ab0 = _mm512_shuffle_i32x4(a, b, 0x44), ab1 = _mm512_shuffle_i32x4(a, b, 0xEE);
        const __m512i cd0 = _mm512_shuffle_i32x4(c, d, 0x44), cd1 = _mm512_shuffle_i32x4(c, d, 0xEE);
        t[j] = _mm512_shuffle_i32x4(ab0, cd0, 0x88);
        t[4 + j] = _mm512_shuffle_i32x4(ab0, cd0, 0xDD);
        t[8 + j] = _mm512_shuffle_i32x4(ab1, cd1, 0x88);
        t[12 + j] = _mm512_shuffle_i32x4(ab1, cd1, 0xDD);
    }
    for (int i = 0; i < 16; ++i)
        r[i] = t[i];
}

} // namespace

void compressAvx512(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks)
{
    const std::uint32_t *k = roundConstants();
    for (int base = 0; base < lanes; base += 16) {
        const int n = lanes - base < 16 ? lanes - base : 16;
        const std::uint8_t *p[16];
        alignas(64) std::uint32_t sa[16], sb[16], sc[16], sd[16];
        for (int i = 0; i < 16; ++i) {
            const int from = base + (i < n ? i : 0);
            p[i] = data[from];
            sa[i] = states[from].v[0];
            sb[i] = states[from].v[1];
            sc[i] = states[from].v[2];
            sd[i] = states[from].v[3];
        }
        __m512i a0 = _mm512_load_si512(sa), b0 = _mm512_load_si512(sb);
        __m512i c0 = _mm512_load_si512(sc), d0 = _mm512_load_si512(sd);
#define F(x, y, z) _mm512_ternarylogic_epi32(x, y, z, 0xCA)
#define G(x, y, z) _mm512_ternarylogic_epi32(z, x, y, 0xCA)
#define H(x, y, z) _mm512_ternarylogic_epi32(x, y, z, 0x96)
#define I(x, y, z) _mm512_ternarylogic_epi32(x, y, z, 0x39)
#define STEP(f, a, b, c, d, x, s, i)                                                                                   \
    a = _mm512_add_epi32(b, _mm512_rol_epi32(_mm512_add_epi32(_mm512_add_epi32(a, f(b, c, d)),                          \
                                                              _mm512_add_epi32(x, _mm512_set1_epi32(int(k[i])))),       \
                                             s))
        for (std::size_t blk = 0; blk < nblocks; ++blk) {
            __m512i m[16];
            for (int i = 0; i < 16; ++i)
                m[i] = _mm512_loadu_si512(p[i] + 64 * blk);
            transpose16(m);
            __m512i a = a0, b = b0, c = c0, d = d0;
            STEP(F, a, b, c, d, m[0], 7, 0);
            STEP(F, d, a, b, c, m[1], 12, 1);
            STEP(F, c, d, a, b, m[2], 17, 2);
            STEP(F, b, c, d, a, m[3], 22, 3);
            STEP(F, a, b, c, d, m[4], 7, 4);
            STEP(F, d, a, b, c, m[5], 12, 5);
            STEP(F, c, d, a, b, m[6], 17, 6);
            STEP(F, b, c, d, a, m[7], 22, 7);
            STEP(F, a, b, c, d, m[8], 7, 8);
            STEP(F, d, a, b, c, m[9], 12, 9);
            STEP(F, c, d, a, b, m[10], 17, 10);
            STEP(F, b, c, d, a, m[11], 22, 11);
            STEP(F, a, b, c, d, m[12], 7, 12);
            STEP(F, d, a, b, c, m[13], 12, 13);
            STEP(F, c, d, a, b, m[14], 17, 14);
            STEP(F, b, c, d, a, m[15], 22, 15);
            STEP(G, a, b, c, d, m[1], 5, 16);
            STEP(G, d, a, b, c, m[6], 9, 17);
            STEP(G, c, d, a, b, m[11], 14, 18);
            STEP(G, b, c, d, a, m[0], 20, 19);
            STEP(G, a, b, c, d, m[5], 5, 20);
            STEP(G, d, a, b, c, m[10], 9, 21);
            STEP(G, c, d, a, b, m[15], 14, 22);
            STEP(G, b, c, d, a, m[4], 20, 23);
            STEP(G, a, b, c, d, m[9], 5, 24);
            STEP(G, d, a, b, c, m[14], 9, 25);
            STEP(G, c, d, a, b, m[3], 14, 26);
            STEP(G, b, c, d, a, m[8], 20, 27);
            STEP(G, a, b, c, d, m[13], 5, 28);
            STEP(G, d, a, b, c, m[2], 9, 29);
            STEP(G, c, d, a, b, m[7], 14, 30);
            STEP(G, b, c, d, a, m[12], 20, 31);
            STEP(H, a, b, c, d, m[5], 4, 32);
            STEP(H, d, a, b, c, m[8], 11, 33);
            STEP(H, c, d, a, b, m[11], 16, 34);
            STEP(H, b, c, d, a, m[14], 23, 35);
            STEP(H, a, b, c, d, m[1], 4, 36);
            STEP(H, d, a, b, c, m[4], 11, 37);
            STEP(H, c, d, a, b, m[7], 16, 38);
            STEP(H, b, c, d, a, m[10], 23, 39);
            STEP(H, a, b, c, d, m[13], 4, 40);
            STEP(H, d, a, b, c, m[0], 11, 41);
            STEP(H, c, d, a, b, m[3], 16, 42);
            STEP(H, b, c, d, a, m[6], 23, 43);
            STEP(H, a, b, c, d, m[9], 4, 44);
            STEP(H, d, a, b, c, m[12], 11, 45);
            STEP(H, c, d, a, b, m[15], 16, 46);
            STEP(H, b, c, d, a, m[2], 23, 47);
            STEP(I, a, b, c, d, m[0], 6, 48);
            STEP(I, d, a, b, c, m[7], 10, 49);
            STEP(I, c, d, a, b, m[14], 15, 50);
            STEP(I, b, c, d, a, m[5], 21, 51);
            STEP(I, a, b, c, d, m[12], 6, 52);
            STEP(I, d, a, b, c, m[3], 10, 53);
            STEP(I, c, d, a, b, m[10], 15, 54);
            STEP(I, b, c, d, a, m[1], 21, 55);
            STEP(I, a, b, c, d, m[8], 6, 56);
            STEP(I, d, a, b, c, m[15], 10, 57);
            STEP(I, c, d, a, b, m[6], 15, 58);
            STEP(I, b, c, d, a, m[13], 21, 59);
            STEP(I, a, b, c, d, m[4], 6, 60);
            STEP(I, d, a, b, c, m[11], 10, 61);
            STEP(I, c, d, a, b, m[2], 15, 62);
            STEP(I, b, c, d, a, m[9], 21, 63);
            a0 = _mm512_add_epi32(a0, a);
            b0 = _mm512_add_epi32(b0, b);
            c0 = _mm512_add_epi32(c0, c);
            d0 = _mm512_add_epi32(d0, d);
        }
#undef STEP
#undef I
#undef H
#undef G
#undef F
        _mm512_store_si512(sa, a0);
        _mm512_store_si512(sb, b0);
        _mm512_store_si512(sc, c0);
        _mm512_store_si512(sd, d0);
        for (int i = 0; i < n; ++i) {
            states[base + i].v[0] = sa[i];
            states[base + i].v[1] = sb[i];
            states[base + i].v[2] = sc[i];
            states[base + i].v[3] = sd[i];
        }
    }
}

} // namespace tessaly::par2::md5
