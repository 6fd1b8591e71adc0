#include "engine/PostStats.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(PostStats, PacketSizesAndEstimates)
{
    EXPECT_EQ(packetSize(0, 4, 1), 9000000);
    EXPECT_EQ(packetSize(100, 4, 1), 400);
    EXPECT_EQ(packetSize(100, 3, 1), 533);
    EXPECT_EQ(packetSize(10, 3, 1), 53);
    EXPECT_EQ(packetSize(10, 0, 77), 77);
    EXPECT_EQ(encodedPartSize(384000), 395520);
    EXPECT_EQ(leadingSpeed(u"250"_s), 250);
    EXPECT_EQ(leadingSpeed(u"12.6kB"_s), 13);
    EXPECT_EQ(leadingSpeed(u"abc"_s), 0);
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);

    // The average always divides by ten: a first second of 1000 bytes shows 100.
    SpeedRing ring;
    EXPECT_EQ(ring.push(1000), 100);
    EXPECT_EQ(ring.push(1000), 200);
    for (int i = 0; i < 20; ++i)
        ring.push(500);
    EXPECT_EQ(ring.push(500), 500);
}
