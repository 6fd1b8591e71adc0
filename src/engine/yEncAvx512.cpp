// AVX-512 kernel (F, BW, VBMI, VBMI2, with BMI2): 64 input bytes at a time.
// The escape mask comes from one table look-up (NUL, TAB, LF, CR and "=",
// all below 64) plus "." when the block starts a line; escaped bytes get 64
// added under that mask. Each half of the block (32 input bytes, up to 64
// output bytes) is spread out by one vpexpandb over a vector of "=": the
// expand mask has a 1 for every output byte that carries data and a 0 for
// the "=" in front of an escaped byte, and is made from the escape mask with
// a pdep/pext pair.
//
// The input goes on by whole blocks whatever the lines do: where a line ends
// inside a block, the block's output is stored twice, the second time two
// bytes further on from the line end, and the CR LF goes in between. So the
// next load never waits for this block's escape count, which would chain
// the blocks one after the other. Only a "." that lands at the start of the
// new line (it must be escaped there) sends the block back to be encoded
// again from that byte.
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

// The bits of a 64-bit mask below k, and those from k on (k up to 64).
inline std::uint64_t bitsBelow(int k)
{
    return k >= 64 ? ~0ull : (1ull << k) - 1;
}
inline std::uint64_t bitsFrom(int k)
{
    return ~bitsBelow(k);
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
        const std::uint64_t loSlots = expandMask(lo), hiSlots = expandMask(hi);
        const int loLen = 32 + std::popcount(lo);
        const int outLen = loLen + 32 + std::popcount(hi);
        const __m512i first = _mm512_mask_expand_epi8(kEq, loSlots, e);
        const __m512i upper = _mm512_maskz_shuffle_i64x2(0xFF, e, e, _MM_SHUFFLE(3, 2, 3, 2)); // bytes 32..63 first
        const __m512i second = _mm512_mask_expand_epi8(kEq, hiSlots, upper);
        if (col + outLen < LineLength) {
            _mm512_storeu_si512(out, first);
            _mm512_storeu_si512(out + loLen, second);
            out += outLen;
            col += outLen;
            i += 64;
            continue;
        }
        // The line ends after output byte `need`, or one later when that
        // byte is the "=" of an escaped one (the pair stays on one line).
        const int need = LineLength - col;
        const bool inFirst = need <= loLen;
        const int at = inFirst ? need - 1 : need - 1 - loLen;
        const int cut = need + int(((inFirst ? loSlots : hiSlots) >> at & 1) == 0);
        // Everything from the cut on goes two bytes further.
        _mm512_storeu_si512(out, first);
        if (cut <= loLen) {
            _mm512_mask_storeu_epi8(out + 2, bitsFrom(cut), first);
            _mm512_storeu_si512(out + loLen + 2, second);
        } else {
            _mm512_storeu_si512(out + loLen, second);
            _mm512_mask_storeu_epi8(out + loLen + 2, bitsFrom(cut - loLen), second);
        }
        out[cut] = '\r';
        out[cut + 1] = '\n';
        if (cut < outLen && out[cut + 2] == '.') {
            // A "." starts the new line: encoded again from there, escaped.
            const int taken = cut <= loLen ? std::popcount(loSlots & bitsBelow(cut))
                                           : 32 + std::popcount(hiSlots & bitsBelow(cut - loLen));
            out += cut + 2;
            col = 0;
            i += std::size_t(taken);
            continue;
        }
        out += outLen + 2;
        col = outLen - cut;
        i += 64;
    }
    for (; i < n; ++i)
        col = detail::encodeByte(table, in[i], col, out);
    return std::size_t(out - start);
}

} // namespace tessaly::yenc
