#include "common/Crc32.h"
#include "support/TestEnvironment.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <zlib.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Crc32, CheckValueAndTextForm)
{
    clsCRC c;
    const std::int32_t v = c.CalculateBytes("123456789");
    EXPECT_EQ(static_cast<std::uint32_t>(v), 0xCBF43926u);
    EXPECT_EQ(v, -873187034);
    EXPECT_EQ(crcText(v), u"CBF43926"_s);
    EXPECT_EQ(crcText(0x0000ABCD), u"ABCD"_s);
    EXPECT_EQ(crcText(0x005D1B2C), u"5D1B2C"_s);
    EXPECT_EQ(crcText(0), u"0"_s);
    EXPECT_EQ(crc::table()[1], 0x77073096u);
}

TEST(Crc32, AddBytesContinuesTheChecksum)
{
    clsCRC c;
    c.Clear();
    c.AddBytes("1234");
    const std::int32_t joined = c.AddBytes("56789");
    EXPECT_EQ(joined, clsCRC().CalculateBytes("123456789"));
    EXPECT_EQ(c.CalculateString(u"123456789"_s), joined);

    const QString file = test::homeFile(u"digits"_s);
    test::writeAll(file, "123456789");
    EXPECT_EQ(c.CalculateFile(file), std::optional<std::int32_t>(joined));
    test::writeAll(file, "");
    EXPECT_EQ(c.CalculateFile(file), std::nullopt);
    EXPECT_EQ(c.CalculateFile(test::homeFile(u"missing"_s)), std::nullopt);
}

TEST(Crc32, KernelsMatchTableOnEveryLengthAndAlignment)
{
    QRandomGenerator rng(99);
    std::vector<std::uint8_t> buf(8192 + 64);
    for (auto &x : buf)
        x = std::uint8_t(rng.bounded(256));
    for (crc::Kernel k : crc::availableKernels()) {
        SCOPED_TRACE(qPrintable(crc::kernelName(k)));
        for (std::size_t n = 0; n <= 2100; ++n) {
            const std::size_t off = n % 17;
            const std::uint32_t reg = rng.generate();
            ASSERT_EQ(crc::updateWith(k, reg, buf.data() + off, n), crc::updateTable(reg, buf.data() + off, n))
                << "length " << n;
        }
        ASSERT_EQ(crc::updateWith(k, 0xFFFFFFFFu, buf.data(), 8192), crc::updateTable(0xFFFFFFFFu, buf.data(), 8192));
    }
}

TEST(Crc32, KernelsAgreeWithZlibOnLargeBuffers)
{
    QRandomGenerator rng(5);
    for (std::size_t n : {384000u, 1280000u, 1000003u}) {
        std::vector<std::uint8_t> buf(n);
        for (auto &x : buf)
            x = std::uint8_t(rng.bounded(256));
        const auto expected = std::uint32_t(crc32(0, buf.data(), uInt(n)));
        for (crc::Kernel k : crc::availableKernels())
            ASSERT_EQ(~crc::updateWith(k, 0xFFFFFFFFu, buf.data(), n), expected) << qPrintable(crc::kernelName(k));
    }
}
