#include "par2/Md5.h"

#include "common/CpuFeatures.h"
#include "common/KernelChoice.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace tessaly::par2::md5 {

// The 64 additive constants: the integer part of |sin(i + 1)| * 2^32.
const std::uint32_t *roundConstants()
{
    static const auto table = [] {
        std::array<std::uint32_t, 64> k{};
        for (int i = 0; i < 64; ++i)
            k[std::size_t(i)] = std::uint32_t(std::floor(std::fabs(std::sin(double(i + 1))) * 4294967296.0));
        return k;
    }();
    return table.data();
}

namespace {

inline std::uint32_t rotl(std::uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline std::uint32_t word(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[3]) << 24);
}

void compressScalarLanes(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks)
{
    for (int i = 0; i < lanes; ++i)
        compressScalar(states[i], data[i], nblocks);
}

bool always() { return true; }

using CompressFn = void (*)(State *, const std::uint8_t *const *, int, std::size_t);
using Choice = KernelChoice<Kernel, CompressFn, 3>;

Choice &choice()
{
#if TESSALY_X86
    static Choice c(std::array<KernelEntry<Kernel, CompressFn>, 3>{{
                        {Kernel::Scalar, u"scalar", always, compressScalarLanes},
                        {Kernel::Avx2, u"avx2", cpu::hasAvx2, compressAvx2},
                        {Kernel::Avx512, u"avx512", cpu::hasAvx512Bw, compressAvx512},
                    }},
                    "TESSALY_MD5_KERNEL");
#else
    static Choice c(std::array<KernelEntry<Kernel, CompressFn>, 3>{{
                        {Kernel::Scalar, u"scalar", always, compressScalarLanes},
                        {Kernel::Avx2, u"avx2", [] { return false; }, compressScalarLanes},
                        {Kernel::Avx512, u"avx512", [] { return false; }, compressScalarLanes},
                    }},
                    "TESSALY_MD5_KERNEL");
#endif
    return c;
}

// The padding after `total` bytes whose last `tail` bytes (fewer than 64)
// are at p: one or two blocks into out; returns how many.
std::size_t finalBlocks(const std::uint8_t *p, std::size_t tail, std::uint64_t total, std::uint8_t *out)
{
    std::memset(out, 0, 128);
    std::memcpy(out, p, tail);
    out[tail] = 0x80;
    const std::size_t blocks = tail < 56 ? 1 : 2;
    const std::uint64_t bits = total * 8;
    for (int i = 0; i < 8; ++i)
        out[blocks * 64 - 8 + std::size_t(i)] = std::uint8_t(bits >> (8 * i));
    return blocks;
}

Digest digestOf(const State &s)
{
    Digest d;
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            d[std::size_t(4 * i + b)] = std::uint8_t(s.v[i] >> (8 * b));
    return d;
}

} // namespace

void compressScalar(State &state, const std::uint8_t *data, std::size_t nblocks)
{
    const std::uint32_t *k = roundConstants();
    std::uint32_t a0 = state.v[0], b0 = state.v[1], c0 = state.v[2], d0 = state.v[3];
#define F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define H(x, y, z) ((x) ^ (y) ^ (z))
#define I(x, y, z) ((y) ^ ((x) | ~(z)))
#define STEP(f, a, b, c, d, x, s, t) a = b + rotl(a + f(b, c, d) + (x) + (t), s)
    for (std::size_t blk = 0; blk < nblocks; ++blk, data += 64) {
        std::uint32_t m[16];
        for (int i = 0; i < 16; ++i)
            m[i] = word(data + 4 * i);
        std::uint32_t a = a0, b = b0, c = c0, d = d0;
        STEP(F, a, b, c, d, m[0], 7, k[0]);
        STEP(F, d, a, b, c, m[1], 12, k[1]);
        STEP(F, c, d, a, b, m[2], 17, k[2]);
        STEP(F, b, c, d, a, m[3], 22, k[3]);
        STEP(F, a, b, c, d, m[4], 7, k[4]);
        STEP(F, d, a, b, c, m[5], 12, k[5]);
        STEP(F, c, d, a, b, m[6], 17, k[6]);
        STEP(F, b, c, d, a, m[7], 22, k[7]);
        STEP(F, a, b, c, d, m[8], 7, k[8]);
        STEP(F, d, a, b, c, m[9], 12, k[9]);
        STEP(F, c, d, a, b, m[10], 17, k[10]);
        STEP(F, b, c, d, a, m[11], 22, k[11]);
        STEP(F, a, b, c, d, m[12], 7, k[12]);
        STEP(F, d, a, b, c, m[13], 12, k[13]);
        STEP(F, c, d, a, b, m[14], 17, k[14]);
        STEP(F, b, c, d, a, m[15], 22, k[15]);
        STEP(G, a, b, c, d, m[1], 5, k[16]);
        STEP(G, d, a, b, c, m[6], 9, k[17]);
        STEP(G, c, d, a, b, m[11], 14, k[18]);
        STEP(G, b, c, d, a, m[0], 20, k[19]);
        STEP(G, a, b, c, d, m[5], 5, k[20]);
        STEP(G, d, a, b, c, m[10], 9, k[21]);
        STEP(G, c, d, a, b, m[15], 14, k[22]);
        STEP(G, b, c, d, a, m[4], 20, k[23]);
        STEP(G, a, b, c, d, m[9], 5, k[24]);
        STEP(G, d, a, b, c, m[14], 9, k[25]);
        STEP(G, c, d, a, b, m[3], 14, k[26]);
        STEP(G, b, c, d, a, m[8], 20, k[27]);
        STEP(G, a, b, c, d, m[13], 5, k[28]);
        STEP(G, d, a, b, c, m[2], 9, k[29]);
        STEP(G, c, d, a, b, m[7], 14, k[30]);
        STEP(G, b, c, d, a, m[12], 20, k[31]);
        STEP(H, a, b, c, d, m[5], 4, k[32]);
        STEP(H, d, a, b, c, m[8], 11, k[33]);
        STEP(H, c, d, a, b, m[11], 16, k[34]);
        STEP(H, b, c, d, a, m[14], 23, k[35]);
        STEP(H, a, b, c, d, m[1], 4, k[36]);
        STEP(H, d, a, b, c, m[4], 11, k[37]);
        STEP(H, c, d, a, b, m[7], 16, k[38]);
        STEP(H, b, c, d, a, m[10], 23, k[39]);
        STEP(H, a, b, c, d, m[13], 4, k[40]);
        STEP(H, d, a, b, c, m[0], 11, k[41]);
        STEP(H, c, d, a, b, m[3], 16, k[42]);
        STEP(H, b, c, d, a, m[6], 23, k[43]);
        STEP(H, a, b, c, d, m[9], 4, k[44]);
        STEP(H, d, a, b, c, m[12], 11, k[45]);
        STEP(H, c, d, a, b, m[15], 16, k[46]);
        STEP(H, b, c, d, a, m[2], 23, k[47]);
        STEP(I, a, b, c, d, m[0], 6, k[48]);
        STEP(I, d, a, b, c, m[7], 10, k[49]);
        STEP(I, c, d, a, b, m[14], 15, k[50]);
        STEP(I, b, c, d, a, m[5], 21, k[51]);
        STEP(I, a, b, c, d, m[12], 6, k[52]);
        STEP(I, d, a, b, c, m[3], 10, k[53]);
        STEP(I, c, d, a, b, m[10], 15, k[54]);
        STEP(I, b, c, d, a, m[1], 21, k[55]);
        STEP(I, a, b, c, d, m[8], 6, k[56]);
        STEP(I, d, a, b, c, m[15], 10, k[57]);
        STEP(I, c, d, a, b, m[6], 15, k[58]);
        STEP(I, b, c, d, a, m[13], 21, k[59]);
        STEP(I, a, b, c, d, m[4], 6, k[60]);
        STEP(I, d, a, b, c, m[11], 10, k[61]);
        STEP(I, c, d, a, b, m[2], 15, k[62]);
        STEP(I, b, c, d, a, m[9], 21, k[63]);
        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
#undef STEP
#undef I
#undef H
#undef G
#undef F
    state.v[0] = a0;
    state.v[1] = b0;
    state.v[2] = c0;
    state.v[3] = d0;
}

void compress(State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks)
{
    if (lanes == 1)
        compressScalar(states[0], data[0], nblocks);
    else if (lanes > 1 && nblocks > 0)
        choice().fn()(states, data, lanes, nblocks);
}

void compressWith(Kernel kernel, State *states, const std::uint8_t *const *data, int lanes, std::size_t nblocks)
{
    choice().fnFor(kernel)(states, data, lanes, nblocks);
}

Kernel activeKernel() { return choice().active(); }
bool setKernel(Kernel kernel) { return choice().set(kernel); }
QString kernelName(Kernel kernel) { return choice().name(kernel); }
QList<Kernel> availableKernels() { return choice().available(); }

void Hasher::update(const std::uint8_t *p, std::size_t n)
{
    Hasher *self = this;
    updateMany(&self, &p, &n, 1);
}

void Hasher::updateMany(Hasher *const *hashers, const std::uint8_t *const *data, const std::size_t *sizes, int count)
{
    // Each completes the block it carries; then the whole blocks all of
    // them have go side by side, the rest one by one, and what is left over
    // is carried to the next piece.
    std::vector<const std::uint8_t *> at(static_cast<std::size_t>(count));
    std::vector<std::size_t> left(static_cast<std::size_t>(count));
    std::size_t common = ~std::size_t(0);
    for (int i = 0; i < count; ++i) {
        Hasher &h = *hashers[i];
        const std::uint8_t *p = data[i];
        std::size_t n = sizes[i];
        h.length_ += n;
        if (h.carried_ > 0) {
            const std::size_t take = std::min(n, 64 - h.carried_);
            std::memcpy(h.carry_ + h.carried_, p, take);
            h.carried_ += take;
            p += take;
            n -= take;
            if (h.carried_ == 64) {
                compressScalar(h.state_, h.carry_, 1);
                h.carried_ = 0;
            }
        }
        at[std::size_t(i)] = p;
        left[std::size_t(i)] = n;
        common = std::min(common, n / 64);
    }
    if (count > 1 && common > 0) {
        std::vector<State> states(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            states[std::size_t(i)] = hashers[i]->state_;
        compress(states.data(), at.data(), count, common);
        for (int i = 0; i < count; ++i) {
            hashers[i]->state_ = states[std::size_t(i)];
            at[std::size_t(i)] += common * 64;
            left[std::size_t(i)] -= common * 64;
        }
    }
    for (int i = 0; i < count; ++i) {
        Hasher &h = *hashers[i];
        const std::size_t whole = left[std::size_t(i)] / 64;
        compressScalar(h.state_, at[std::size_t(i)], whole);
        const std::size_t rest = left[std::size_t(i)] - whole * 64;
        if (rest > 0) {
            std::memcpy(h.carry_ + h.carried_, at[std::size_t(i)] + whole * 64, rest);
            h.carried_ += rest;
        }
    }
}

Digest Hasher::finish() const
{
    State s = state_;
    std::uint8_t last[128];
    compressScalar(s, last, finalBlocks(carry_, carried_, length_, last));
    return digestOf(s);
}

Digest of(const std::uint8_t *p, std::size_t n)
{
    Hasher h;
    h.update(p, n);
    return h.finish();
}

void hashMany(const Message *messages, int count, std::size_t headBytes, std::size_t bodyBytes, Digest *out)
{
    if (count <= 0)
        return;
    const std::uint64_t total = headBytes + bodyBytes;
    std::vector<State> states(static_cast<std::size_t>(count));
    std::vector<std::uint8_t> staging(static_cast<std::size_t>(count) * 128);
    std::vector<const std::uint8_t *> at(static_cast<std::size_t>(count));
    std::size_t bodyAt = 0;
    if (headBytes > 0 && total >= 64) {
        // The first block: the head and the start of the body.
        bodyAt = 64 - headBytes;
        for (int i = 0; i < count; ++i) {
            std::uint8_t *s = staging.data() + 128 * std::size_t(i);
            std::memcpy(s, messages[i].head, headBytes);
            std::memcpy(s + headBytes, messages[i].body, bodyAt);
            at[std::size_t(i)] = s;
        }
        compress(states.data(), at.data(), count, 1);
    }
    const std::size_t whole = total >= 64 ? (bodyBytes - bodyAt) / 64 : 0;
    for (int i = 0; i < count; ++i)
        at[std::size_t(i)] = messages[i].body + bodyAt;
    compress(states.data(), at.data(), count, whole);
    // The tail, padded: the same shape in every message.
    std::size_t blocks = 0;
    for (int i = 0; i < count; ++i) {
        std::uint8_t *s = staging.data() + 128 * std::size_t(i);
        if (total < 64) {
            std::uint8_t tail[64];
            if (headBytes > 0)
                std::memcpy(tail, messages[i].head, headBytes);
            if (bodyBytes > 0)
                std::memcpy(tail + headBytes, messages[i].body, bodyBytes);
            blocks = finalBlocks(tail, std::size_t(total), total, s);
        } else {
            const std::size_t done = bodyAt + whole * 64;
            blocks = finalBlocks(messages[i].body + done, bodyBytes - done, total, s);
        }
        at[std::size_t(i)] = s;
    }
    compress(states.data(), at.data(), count, blocks);
    for (int i = 0; i < count; ++i)
        out[i] = digestOf(states[std::size_t(i)]);
}

} // namespace tessaly::par2::md5
