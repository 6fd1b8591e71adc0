// MD5 of 8 messages side by side on 256-bit registers: lane i of every
// register belongs to message i. Each block's 16 words of 8 messages are
// read as two 8 x 8 squares and transposed.
#include "par2/Md5.h"

#include <immintrin.h>

namespace tessaly::par2::md5 {

namespace {

inline void transpose8(__m256i r[8])
{
    __m256i t[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    __m256i u[8];
    for (int i = 0; i < 8; i += 4) {
        u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
        u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
        u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
        u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    for (int j = 0; j < 4; ++j) {
        r[j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x20);
        r[4 + j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x31);
    }
}

inline __m256i rotl(__m256i x, int s) { return _mm256_or_si256(_mm256_slli_epi32(x, s), _mm256_srli_epi32(x, 32 - s)); }

} // namespace

void compressAvx2(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks)
{
    const std::uint32_t *k = roundConstants();
    const __m256i ones = _mm256_set1_epi32(-1);
    for (int base = 0; base < lanes; base += 8) {
        const int n = lanes - base < 8 ? lanes - base : 8;
        const std::uint8_t *p[8];
        alignas(32) std::uint32_t sa[8], sb[8], sc[8], sd[8];
        for (int i = 0; i < 8; ++i) {
            const int from = base + (i < n ? i : 0);
            p[i] = data[from];
            sa[i] = states[from].v[0];
            sb[i] = states[from].v[1];
            sc[i] = states[from].v[2];
            sd[i] = states[from].v[3];
        }
        __m256i a0 = _mm256_load_si256(reinterpret_cast<const __m256i *>(sa));
        __m256i b0 = _mm256_load_si256(reinterpret_cast<const __m256i *>(sb));
        __m256i c0 = _mm256_load_si256(reinterpret_cast<const __m256i *>(sc));
        __m256i d0 = _mm256_load_si256(reinterpret_cast<const __m256i *>(sd));
#define F(x, y, z) _mm256_xor_si256(z, _mm256_and_si256(x, _mm256_xor_si256(y, z)))
#define G(x, y, z) _mm256_xor_si256(y, _mm256_and_si256(z, _mm256_xor_si256(x, y)))
#define H(x, y, z) _mm256_xor_si256(_mm256_xor_si256(x, y), z)
#define I(x, y, z) _mm256_xor_si256(y, _mm256_or_si256(x, _mm256_xor_si256(z, ones)))
#define STEP(f, a, b, c, d, x, s, i)                                                                                   \
    a = _mm256_add_epi32(b, rotl(_mm256_add_epi32(_mm256_add_epi32(a, f(b, c, d)),                                     \
                                                  _mm256_add_epi32(x, _mm256_set1_epi32(int(k[i])))),                   \
                                 s))
        for (std::size_t blk = 0; blk < nblocks; ++blk) {
            __m256i m[16];
            for (int i = 0; i < 8; ++i) {
                m[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p[i] + 64 * blk));
                m[8 + i] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p[i] + 64 * blk + 32));
            }
            transpose8(m);
            transpose8(m + 8);
            __m256i a = a0, b = b0, c = c0, d = d0;
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
            a0 = _mm256_add_epi32(a0, a);
            b0 = _mm256_add_epi32(b0, b);
            c0 = _mm256_add_epi32(c0, c);
            d0 = _mm256_add_epi32(d0, d);
        }
#undef STEP
#undef I
#undef H
#undef G
#undef F
        _mm256_store_si256(reinterpret_cast<__m256i *>(sa), a0);
        _mm256_store_si256(reinterpret_cast<__m256i *>(sb), b0);
        _mm256_store_si256(reinterpret_cast<__m256i *>(sc), c0);
        _mm256_store_si256(reinterpret_cast<__m256i *>(sd), d0);
        for (int i = 0; i < n; ++i) {
            states[base + i].v[0] = sa[i];
            states[base + i].v[1] = sb[i];
            states[base + i].v[2] = sc[i];
            states[base + i].v[3] = sd[i];
        }
    }
}

} // namespace tessaly::par2::md5
