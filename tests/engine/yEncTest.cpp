#include "engine/yEnc.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <vector>

using namespace tessaly;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes encodeWith(yenc::Kernel k, const Bytes &in)
{
    Bytes out(yenc::maxEncodedSize(in.size()));
    out.resize(yenc::encodeWith(k, in.data(), in.size(), out.data()));
    return out;
}

Bytes reference(const Bytes &in)
{
    return encodeWith(yenc::Kernel::Scalar, in);
}

std::string text(const Bytes &b)
{
    return std::string(b.begin(), b.end());
}

Bytes randomBytes(QRandomGenerator &rng, std::size_t n)
{
    Bytes b(n);
    for (auto &x : b)
        x = std::uint8_t(rng.bounded(256));
    return b;
}

// Input byte that encodes to the plain character ch.
std::uint8_t plain(char ch)
{
    return std::uint8_t((std::uint8_t(ch) + 256 - 42) % 256);
}

constexpr std::uint8_t kNul = 214, kEquals = 19, kTab = 223, kSpace = 246, kDot = 4;

} // namespace

TEST(yEnc, WorkedValues)
{
    EXPECT_EQ(text(reference({kNul})), "=@");
    EXPECT_EQ(text(reference({kEquals})), "=}");
    EXPECT_EQ(text(reference({plain('a'), kTab, plain('b')})), "a=Ib");
    EXPECT_EQ(text(reference({kSpace, plain('x'), kSpace})), " x ");
    EXPECT_EQ(text(reference({kDot, kDot})), "=n.");

    // 128 plain bytes: one full line and its line break.
    const Bytes line(128, plain('k'));
    EXPECT_EQ(text(reference(line)), std::string(128, 'k') + "\r\n");
    // 127 plain bytes and an escape: a line of 129 characters.
    Bytes longer(127, plain('k'));
    longer.push_back(kNul);
    longer.push_back(plain('z'));
    EXPECT_EQ(text(reference(longer)), std::string(127, 'k') + "=@\r\nz");
    // "." that starts the second line is escaped, one in the middle is not.
    Bytes dots(128, plain('k'));
    dots.push_back(kDot);
    dots.push_back(kDot);
    EXPECT_EQ(text(reference(dots)), std::string(128, 'k') + "\r\n=n.");
    EXPECT_EQ(text(reference({})), "");
    EXPECT_EQ(yEncode(QByteArray(1, char(kNul))), QByteArray("=@"));
}

// Every vector kernel built in, each compared with the scalar reference; one
// this processor lacks shows as skipped.
class yEncKernel : public ::testing::TestWithParam<yenc::Kernel>
{
protected:
    void SetUp() override
    {
        if (!yenc::availableKernels().contains(GetParam()))
            GTEST_SKIP() << "this processor cannot run the " << qPrintable(yenc::kernelName(GetParam())) << " kernel";
    }
    Bytes encode(const Bytes &in) const { return encodeWith(GetParam(), in); }
};

QList<yenc::Kernel> vectorKernels()
{
    QList<yenc::Kernel> list = yenc::allKernels();
    list.removeAll(yenc::Kernel::Scalar);
    return list;
}

std::string kernelTestName(const ::testing::TestParamInfo<yenc::Kernel> &kernel)
{
    return yenc::kernelName(kernel.param).toStdString();
}

INSTANTIATE_TEST_SUITE_P(Kernels, yEncKernel, ::testing::ValuesIn(vectorKernels()), kernelTestName);

TEST_P(yEncKernel, MatchesReferenceOnEveryShortLengthLineEndAndRandomMix)
{
    QRandomGenerator rng(777);
    for (std::size_t n = 0; n <= 4096; ++n) {
        const Bytes in = randomBytes(rng, n);
        ASSERT_EQ(encode(in), reference(in)) << "length " << n;
    }
    std::vector<Bytes> inputs;
    for (std::size_t n : {384000u, 383999u, 1280000u, 128000u + 17u})
        inputs.push_back(randomBytes(rng, n));
    // Mostly bytes that need escaping, and all escapes.
    Bytes heavy(100000);
    const std::uint8_t escapes[] = {kNul, kEquals, kTab, 224, 227, kDot};
    for (auto &x : heavy)
        x = rng.bounded(4) ? escapes[rng.bounded(6)] : std::uint8_t(rng.bounded(256));
    inputs.push_back(heavy);
    for (std::uint8_t only : {kNul, kDot, kSpace})
        inputs.push_back(Bytes(70000, only));
    // An escape pair that starts at column 126, 127 or 128 of a line, a "."
    // at the start of the body and after every line break.
    for (int lead = 0; lead < 160; ++lead) {
        for (std::uint8_t special : {kNul, kEquals, kTab, kDot}) {
            Bytes in(std::size_t(lead), plain('k'));
            in.push_back(special);
            in.insert(in.end(), 300, plain('m'));
            in.push_back(special);
            inputs.push_back(in);
        }
    }
    for (const Bytes &in : inputs)
        ASSERT_EQ(encode(in), reference(in)) << "n=" << in.size();
    // Random lengths, random mixes of plain and special bytes.
    const std::uint8_t specials[] = {kNul, kEquals, kTab, 224, 227, kDot, kSpace};
    for (int round = 0; round < 3000; ++round) {
        const std::size_t n = rng.bounded(3000);
        const int density = int(rng.bounded(100));
        Bytes in(n);
        for (auto &x : in)
            x = int(rng.bounded(100)) < density ? specials[rng.bounded(7)] : std::uint8_t(rng.bounded(256));
        ASSERT_EQ(encode(in), reference(in)) << "round " << round;
    }
}

// The best kernel this processor runs is chosen (unless forced); one it lacks cannot be.
TEST(yEnc, KernelChoice)
{
    const yenc::Kernel before = yenc::activeKernel();
    if (qEnvironmentVariableIsEmpty("TESSALY_YENC_KERNEL")) {
        EXPECT_EQ(before, yenc::availableKernels().last());
    }
    for (yenc::Kernel k : yenc::allKernels()) {
        EXPECT_EQ(yenc::setKernel(k), yenc::availableKernels().contains(k));
    }
    EXPECT_TRUE(yenc::setKernel(before));
}
