// AVX2 kernel: 32 input bytes at a time. The escape mask comes from five
// compares (NUL, TAB, LF, CR, "=") plus "." when the block starts a line.
// Escaped bytes are spread out 8 at a time with a shuffle table that places
// "=" before each escaped byte and adds 64 to it. A block that reaches the end
// of the line is written whole, then cut where the line ends; encoding goes on
// with the next input byte at column 0.
#include "engine/yEnc.h"
#include "engine/yEncScalar.h"

#include <immintrin.h>

#include <bit>

namespace tessaly::yenc {

namespace {

struct alignas(16) Expansion
{
    std::uint8_t shuffle[16];
    std::uint8_t add[16];
};

struct ExpansionTable
{
    Expansion e[256];
};

constexpr ExpansionTable makeExpansions()
{
    ExpansionTable t{};
    for (int m = 0; m < 256; ++m) {
        Expansion &x = t.e[m];
        for (int p = 0; p < 16; ++p) {
            x.shuffle[p] = 0x80;
            x.add[p] = 0;
        }
        int p = 0;
        for (int j = 0; j < 8; ++j) {
            if (m & (1 << j)) {
                x.add[p] = '=';
                ++p;
                x.shuffle[p] = std::uint8_t(j);
                x.add[p] = 64;
                ++p;
            } else {
                x.shuffle[p] = std::uint8_t(j);
                ++p;
            }
        }
    }
    return t;
}

constexpr ExpansionTable kExpansions = makeExpansions();

inline std::uint8_t *expandGroup(__m128i x, unsigned m8, std::uint8_t *out)
{
    const Expansion &e = kExpansions.e[m8];
    const __m128i r = _mm_add_epi8(_mm_shuffle_epi8(x, _mm_load_si128(reinterpret_cast<const __m128i *>(e.shuffle))),
                                   _mm_load_si128(reinterpret_cast<const __m128i *>(e.add)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), r);
    return out + 8 + std::popcount(m8);
}

// Writes the encoded block (32 + popcount(m) bytes, up to 64).
inline void writeBlock(__m256i c, std::uint32_t m, std::uint8_t *out)
{
    if (m == 0) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(out), c);
        return;
    }
    const __m128i lo = _mm256_castsi256_si128(c);
    const __m128i hi = _mm256_extracti128_si256(c, 1);
    out = expandGroup(lo, m & 0xFF, out);
    out = expandGroup(_mm_srli_si128(lo, 8), (m >> 8) & 0xFF, out);
    out = expandGroup(hi, (m >> 16) & 0xFF, out);
    expandGroup(_mm_srli_si128(hi, 8), m >> 24, out);
}

inline int outputAfter(std::uint32_t m, int count) // output bytes of the first count input bytes
{
    const std::uint32_t low = count >= 32 ? 0xFFFFFFFFu : ((1u << count) - 1);
    return count + std::popcount(m & low);
}

} // namespace

std::size_t encodeAvx2(const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    const EncodeTableType &table = EncodeTable();
    std::uint8_t *const start = out;
    const __m256i k42 = _mm256_set1_epi8(42);
    const __m256i kTab = _mm256_set1_epi8(9), kLf = _mm256_set1_epi8(10), kCr = _mm256_set1_epi8(13);
    const __m256i kEq = _mm256_set1_epi8(61), kZero = _mm256_setzero_si256();
    int col = 0;
    std::size_t i = 0;
    while (i + 32 <= n) {
        const __m256i c = _mm256_add_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(in + i)), k42);
        const __m256i esc = _mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(c, kZero), _mm256_cmpeq_epi8(c, kTab)),
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(c, kLf), _mm256_cmpeq_epi8(c, kCr)),
                            _mm256_cmpeq_epi8(c, kEq)));
        const std::uint32_t m = std::uint32_t(_mm256_movemask_epi8(esc)) | ((col == 0 && in[i] == 4) ? 1u : 0u);
        const int outLen = 32 + std::popcount(m);
        writeBlock(c, m, out);
        if (col + outLen < LineLength) {
            out += outLen;
            col += outLen;
            i += 32;
            continue;
        }
        // The line ends inside this block, after input byte j.
        const int need = LineLength - col;
        int j = std::max(0, need - 1 - std::popcount(m));
        while (outputAfter(m, j + 1) < need)
            ++j;
        out += outputAfter(m, j + 1);
        *out++ = '\r';
        *out++ = '\n';
        col = 0;
        i += std::size_t(j) + 1;
    }
    for (; i < n; ++i)
        col = detail::encodeByte(table, in[i], col, out);
    return std::size_t(out - start);
}

} // namespace tessaly::yenc
