// AVX-512 kernel (F, BW, VBMI, VBMI2, with BMI2): 64 input bytes at a time.
// The escape mask comes from one table look-up (NUL, TAB, LF, CR and "=",
// all below 64) plus "." when the block starts a line; escaped bytes get 64
// added under that mask. Each half of the block (32 input bytes, up to 64
// output bytes) is spread out by one vpexpandb over a vector of "=": the
// expand mask has a 1 for every output byte that carries data and a 0 for
// the "=" in front of an escaped byte, and is made from the escape mask with
// a pdep/pext pair. Line ends are handled as in the AVX2 kernel: a block that
// reaches the end of the line is written whole, then cut where the line ends.
#include "engine/yEnc.h"
#include "engine/yEncScalar.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>

namespace tessaly::yenc {

namespace {

constexpr std::uint64_t kEvenBits = 0x5555555555555555ull;
constexpr std::uint64_t kOddBits = 0xAAAAAAAAAAAAAAAAull;

// By the low six bits of a byte after adding 42: 1 for NUL, TAB, LF, CR and "=".
alignas(64) constexpr std::array<std::uint8_t, 64> kCriticalBytes = [] {
    std::array<std::uint8_t, 64> t{};
    for (int b : {0, 9, 10, 13, 61})
        t[std::size_t(b)] = 1;
    return t;
}();

// Output slots 2k ("=", present when input k is escaped) and 2k+1 (the data
// byte, always present); keeping only the present slots leaves the data bits
// where the expanded bytes go.
inline std::uint64_t expandMask(std::uint32_t escapes)
{
    const std::uint64_t present = _pdep_u64(escapes, kEvenBits) | kOddBits;
    return _pext_u64(kOddBits, present);
}

// Output bytes of the first count input bytes of a 64-byte block.
inline int outputAfter(std::uint64_t m, int count)
{
    const std::uint64_t low = count >= 64 ? ~0ull : ((1ull << count) - 1);
    return count + std::popcount(m & low);
}

} // namespace

std::size_t encodeAvx512(const std::uint8_t *in, std::size_t n, std::uint8_t *out)
{
    const EncodeTableType &table = EncodeTable();
    std::uint8_t *const start = out;
    const __m512i k42 = _mm512_set1_epi8(42), k64 = _mm512_set1_epi8(64);
    const __m512i kCritical = _mm512_load_si512(kCriticalBytes.data()), kEq = _mm512_set1_epi8(61);
    int col = 0;
    std::size_t i = 0;
    while (i + 64 <= n) {
        const __m512i c = _mm512_add_epi8(_mm512_loadu_si512(in + i), k42);
        // The look-up goes by the low six bits: only bytes below 64 count.
        // (The merge form with every lane taken: GCC 12 warns about the
        // plain form's undefined source.)
        const __m512i marked = _mm512_mask_permutexvar_epi8(kCritical, ~__mmask64(0), c, kCritical);
        std::uint64_t m = _mm512_mask_test_epi8_mask(_mm512_cmplt_epu8_mask(c, k64), marked, marked);
        if (col == 0 && in[i] == 4)
            m |= 1;
        const __m512i e = _mm512_mask_add_epi8(c, m, c, k64);
        const auto lo = std::uint32_t(m), hi = std::uint32_t(m >> 32);
        const int loLen = 32 + std::popcount(lo);
        const int outLen = loLen + 32 + std::popcount(hi);
        _mm512_storeu_si512(out, _mm512_mask_expand_epi8(kEq, expandMask(lo), e));
        const __m512i upper = _mm512_maskz_shuffle_i64x2(0xFF, e, e, _MM_SHUFFLE(3, 2, 3, 2)); // bytes 32..63 first
        _mm512_storeu_si512(out + loLen, _mm512_mask_expand_epi8(kEq, expandMask(hi), upper));
        if (col + outLen < LineLength) {
            out += outLen;
            col += outLen;
            i += 64;
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
