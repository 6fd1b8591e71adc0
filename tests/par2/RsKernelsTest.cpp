#include "par2/Gf16.h"
#include "par2/RsKernels.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace tessaly::par2;

namespace {

struct Aligned
{
    explicit Aligned(std::size_t n)
        : size(n)
        , data(static_cast<std::uint8_t *>(std::aligned_alloc(rs::kAlign, (n + rs::kAlign - 1) / rs::kAlign * rs::kAlign)))
    {
    }
    ~Aligned() { std::free(data); }
    Aligned(const Aligned &) = delete;
    Aligned &operator=(const Aligned &) = delete;
    std::size_t size;
    std::uint8_t *data;
};

void fill(std::uint8_t *p, std::size_t n, QRandomGenerator &rng)
{
    for (std::size_t i = 0; i < n; ++i)
        p[i] = std::uint8_t(rng.generate());
}

} // namespace

TEST(Gf16, TheFieldAndTheInputConstants)
{
    // 2 generates the whole group: its powers take every non-zero value once.
    std::vector<bool> seen(65536, false);
    for (unsigned i = 0; i < gf::kOrder; ++i) {
        const std::uint16_t v = gf::exp(i);
        ASSERT_FALSE(seen[v]) << i;
        seen[v] = true;
        EXPECT_EQ(gf::log(v), i);
    }
    EXPECT_EQ(gf::exp(16), std::uint16_t(0x100B)); // x^16 reduced by the polynomial
    EXPECT_EQ(gf::mul(0x8000, 2), std::uint16_t(0x100B));
    QRandomGenerator rng(7);
    for (int i = 0; i < 1000; ++i) {
        const auto a = std::uint16_t(rng.generate()), b = std::uint16_t(rng.generate()), c = std::uint16_t(rng.generate());
        EXPECT_EQ(gf::mul(a, b), gf::mul(b, a));
        EXPECT_EQ(gf::mul(a, std::uint16_t(b ^ c)), gf::mul(a, b) ^ gf::mul(a, c)); // distributes over addition
        EXPECT_EQ(gf::pow(a, 3), gf::mul(a, gf::mul(a, a)));
    }
    // The constants' logarithms: 1, 2, 4, 7, 8, 11, ... (none divisible by 3, 5, 17 or 257).
    const unsigned first[] = {1, 2, 4, 7, 8, 11, 13, 14, 16, 19, 22, 23, 26, 28, 29, 31, 32};
    for (unsigned i = 0; i < std::size(first); ++i)
        EXPECT_EQ(gf::inputLog(i), first[i]);
    EXPECT_EQ(gf::coefficient(5, 0), 1);
    EXPECT_EQ(gf::coefficient(0, 1), 2);
    EXPECT_EQ(gf::coefficient(3, 2), gf::exp(14));
}

// Every kernel the processor has agrees with the word-by-word definition,
// for coefficients 0, 1 and random ones, one to a few dozen sources, and
// regions from one block up, after its layout and back.
TEST(RsKernels, EveryKernelAgreesWithTheDefinition)
{
    QRandomGenerator rng(42);
    const QList<rs::Kernel> kernels = rs::availableKernels();
    ASSERT_TRUE(kernels.contains(rs::Kernel::Scalar));
    for (const rs::Kernel kernel : kernels) {
        SCOPED_TRACE(qPrintable(rs::kernelName(kernel)));
        const rs::Ops &ops = rs::ops(kernel);
        for (const int count : {1, 2, 3, 17, 40}) {
            for (const std::size_t n : {std::size_t(128), std::size_t(384), std::size_t(640), std::size_t(4096)}) {
                std::vector<std::unique_ptr<Aligned>> sources;
                std::vector<const std::uint8_t *> pointers;
                std::vector<std::uint16_t> coeffs;
                Aligned prepared(ops.coeffBytes * std::size_t(count));
                for (int k = 0; k < count; ++k) {
                    sources.push_back(std::make_unique<Aligned>(n));
                    fill(sources.back()->data, n, rng);
                    const std::uint16_t c = k == 0 ? 1 : k == 1 ? 0 : std::uint16_t(rng.generate());
                    coeffs.push_back(c);
                    ops.prepare(c, prepared.data + ops.coeffBytes * std::size_t(k));
                }
                Aligned acc(n), expected(n);
                fill(acc.data, n, rng);
                std::memcpy(expected.data, acc.data, n);
                for (int k = 0; k < count; ++k)
                    rs::mulAddReference(expected.data, sources[std::size_t(k)]->data, coeffs[std::size_t(k)], n);
                // Into the layout and back leaves a region as it was.
                Aligned roundTrip(n);
                std::memcpy(roundTrip.data, acc.data, n);
                ops.toLayout(roundTrip.data, n);
                ops.fromLayout(roundTrip.data, n);
                ASSERT_EQ(std::memcmp(roundTrip.data, acc.data, n), 0);
                for (auto &s : sources) {
                    ops.toLayout(s->data, n);
                    pointers.push_back(s->data);
                }
                ops.toLayout(acc.data, n);
                ops.mulAdd(acc.data, pointers.data(), prepared.data, count, n);
                ops.fromLayout(acc.data, n);
                ASSERT_EQ(std::memcmp(acc.data, expected.data, n), 0) << count << " sources, " << n << " bytes";
            }
        }
    }
}
