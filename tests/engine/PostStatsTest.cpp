#include "engine/PostStats.h"
#include "engine/SendPacer.h"

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

    // The average is over the seconds stored, ten at the most: a first
    // second of 1000 bytes shows 1000, not a tenth of it.
    SpeedRing ring;
    EXPECT_EQ(ring.push(1000), 1000);
    EXPECT_EQ(ring.push(0), 500);
    for (int i = 0; i < 20; ++i)
        ring.push(500);
    EXPECT_EQ(ring.push(1500), 600);
    ring.clear();
    EXPECT_EQ(ring.push(300), 300);
}

TEST(PostStats, RunFiguresAndTheirTexts)
{
    PostStatistics stats;
    stats.start(10'000'000);
    stats.sent(600'000);
    stats.sent(400'000);
    // A first second of 1 MB: 1000 kB/s; what is left of the bytes to post,
    // less those sent towards the part on its way, takes 9 s.
    PostStatistics::Texts t = stats.tick();
    EXPECT_EQ(t.speed, u"Upload Speed: "_s + oneDecimal(1000.0) + u" kB/s"_s);
    EXPECT_EQ(t.remaining, u"Remaining Time: 00:00:09"_s);
    EXPECT_EQ(stats.totalBytesSent(), 1'000'000);

    stats.partAccepted(500'000);
    stats.addToPost(100'000);
    EXPECT_EQ(stats.byteTotal(), 9'600'000);
    t = stats.tick(); // nothing sent this second: 1 MB in two seconds
    EXPECT_EQ(t.speed, u"Upload Speed: "_s + oneDecimal(500.0) + u" kB/s"_s);
    EXPECT_EQ(t.remaining, u"Remaining Time: 00:00:19"_s);

    EXPECT_FALSE(stats.connectionSpeedsDue());
    EXPECT_TRUE(stats.connectionSpeedsDue());
    EXPECT_FALSE(stats.connectionSpeedsDue());
}

TEST(PostStats, SendPacerHoldsTheRateOfAllConnectionsTogether)
{
    SendPacer p;
    p.sent(0, 1'000'000);
    EXPECT_EQ(p.waitMs(0), 0); // no limit
    EXPECT_EQ(p.packetBytes(), kUnlimitedPacket);
    p.setLimit(125, 4); // 128 bytes a millisecond, four connections
    EXPECT_EQ(p.packetBytes(), 500); // 125 x 16 / 4
    // A pause is made up for by two ticks at the most, not by a burst.
    p.sent(1000, 2000);
    EXPECT_DOUBLE_EQ(p.freeAtMs(), 1000 - SendPacer::kCatchUpMs + 15.625);
    EXPECT_EQ(p.waitMs(1000), 0);
    p.sent(1000, 2000);
    EXPECT_EQ(p.waitMs(1000), 0);
    // Packets of any connection use the same time: the third waits.
    p.sent(1000, 2000);
    EXPECT_EQ(p.waitMs(1000), 16);
    EXPECT_EQ(p.waitMs(1015.625), 0);
    // A late packet goes on from where the time stands, losing nothing.
    p.sent(1020, 12800);
    EXPECT_DOUBLE_EQ(p.freeAtMs(), 1015.625 + 100);
    // With no connection at work the packet keeps its size.
    p.setLimit(125, 0);
    EXPECT_EQ(p.packetBytes(), 500);
    p.setLimit(0, 4);
    EXPECT_EQ(p.waitMs(1020), 0);
}
