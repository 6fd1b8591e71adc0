#include "common/Crc32.h"
#include "support/TestEnvironment.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <zlib.h>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Crc32, CheckValueTextFormAndRunningSums)
{
    clsCRC c;
    const std::int32_t v = c.CalculateBytes("123456789");
    EXPECT_EQ(static_cast<std::uint32_t>(v), 0xCBF43926u);
    EXPECT_EQ(crcText(v), u"CBF43926"_s);
    EXPECT_EQ(crcText(0x005D1B2C), u"5D1B2C"_s);
    EXPECT_EQ(crcText(0), u"0"_s);

    c.Clear();
    c.AddBytes("1234");
    EXPECT_EQ(c.AddBytes("56789"), v);
    EXPECT_EQ(c.CalculateString(u"123456789"_s), v);
    const QString file = test::homeFile(u"digits"_s);
    test::writeAll(file, "123456789");
    EXPECT_EQ(c.CalculateFile(file), std::optional<std::int32_t>(v));
    test::writeAll(file, "");
    EXPECT_EQ(c.CalculateFile(file), std::nullopt);
    EXPECT_EQ(c.CalculateFile(test::homeFile(u"missing"_s)), std::nullopt);
}

// Each kernel against the table on every short length and alignment, and
// against zlib on large buffers.
TEST(Crc32, KernelsMatchTableAndZlib)
{
    QRandomGenerator rng(99);
    std::vector<std::uint8_t> buf(1000003);
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
        for (std::size_t n : {384000u, 1000003u})
            ASSERT_EQ(~crc::updateWith(k, 0xFFFFFFFFu, buf.data(), n), std::uint32_t(crc32(0, buf.data(), uInt(n))));
    }
}
