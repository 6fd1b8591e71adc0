#include "engine/CheckSchedule.h"
#include "engine/Dispatcher.h"
#include "storage/UploadQueue.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Dispatcher, ConnectionsShareAFileWithoutTakingAPartTwice)
{
    UploadQueue q;
    const int a = q.append(UploadQueue::newItem(u"a"_s, u"g"_s, u"/a"_s, 5, u"t"_s, {}));
    const int b = q.append(UploadQueue::newItem(u"b"_s, u"g"_s, u"/b"_s, 2, u"t"_s, {}));
    const ItemId A = q.item(a).id;
    q.setState(a, UploadState::Posting, 1);
    q.markAccepted(a, 1);
    q.markAccepted(a, 3);
    // Connection 0 posts part 2 and has part 4 composed ahead.
    std::vector<WorkClaim> claims(3);
    claims[0] = {A, 2, A, 4};

    EXPECT_TRUE(dispatch::takenByOthers(q, claims, 1, a, 4));
    EXPECT_FALSE(dispatch::takenByOthers(q, claims, 0, a, 4)); // its own
    EXPECT_EQ(dispatch::untakenPart(q, claims, 1, a), 5);       // 1, 3 accepted; 2, 4 taken
    EXPECT_EQ(dispatch::untakenPart(q, claims, 0, a), 2);       // its own part is free to it
    EXPECT_EQ(dispatch::partToPrepare(q, claims, 0), 4);

    // Nothing queued but b: a connection with nothing takes b first...
    EXPECT_TRUE(dispatch::workWaiting(q, claims));
    q.setState(b, UploadState::Paused);
    // ...then helps with a, part 5.
    EXPECT_EQ(dispatch::itemNeedingHelp(q, claims, 1), a);
    claims[1] = {A, 5, 0, 0};
    EXPECT_EQ(dispatch::itemNeedingHelp(q, claims, 2), 0);
    EXPECT_FALSE(dispatch::workWaiting(q, claims));
    EXPECT_TRUE(dispatch::othersOn(claims, 1, A));

    // Connection 0 fails and lets go: its part and its prepared part are free again.
    claims[0] = {};
    EXPECT_EQ(dispatch::untakenPart(q, claims, 2, a), 2);
    EXPECT_TRUE(dispatch::workWaiting(q, claims));
    EXPECT_FALSE(dispatch::othersOn(claims, 1, A));
    // Rows move; what a connection holds does not.
    q.MoveUDTItemDown(a);
    EXPECT_EQ(q.rowOf(A), 2);
    EXPECT_EQ(dispatch::itemNeedingHelp(q, claims, 2), 2);
}

// Checks fall due a set while after their article went in, in that order.
TEST(CheckSchedule, AChecksTurnComesOnlyAfterItsDelay)
{
    CheckSchedule checks;
    checks.start(true, 5000, 2);
    checks.add(1, 1, u"a@x"_s, 0);
    checks.add(1, 2, u"b@x"_s, 3000);
    const auto any = [](const CheckTicket &) { return true; };
    EXPECT_TRUE(checks.takeDue(4999, 1, 8, any).isEmpty());
    const QList<CheckTicket> due = checks.takeDue(5000, 1, 8, any);
    ASSERT_EQ(due.size(), 1);
    EXPECT_EQ(due[0].part, 1);
    EXPECT_EQ(checks.msUntilNext(5000), 3000);
}
