#include "shell/ModelViews.h"
#include "storage/ConnectionList.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace tessaly;

TEST(CoalescingProxy, ManyChangesReachTheViewInFewBatchesAndTheLastOneAlways)
{
    ConnectionList list;
    list.rebuild(4);
    ConnectionListProxy proxy;
    proxy.setSourceModel(&list);
    QSignalSpy changed(&proxy, &QAbstractItemModel::dataChanged);

    // The first change of a quiet spell passes at once.
    list.setProgress(2, 1);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.last().at(0).toModelIndex().row(), 1);

    // A burst on two rows: nothing until the interval ends, then one change over both.
    for (int p = 2; p <= 100; ++p) {
        list.setProgress(2, p);
        list.setProgress(4, p);
    }
    EXPECT_EQ(changed.count(), 1);
    QDeadlineTimer deadline(2 * CoalescingProxy::IntervalMs);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed.last().at(0).toModelIndex().row(), 1);
    EXPECT_EQ(changed.last().at(1).toModelIndex().row(), 3);
    EXPECT_EQ(proxy.data(proxy.index(3, ConnectionList::ProgressColumn), ConnectionList::ProgressRole).toInt(), 100);

    // Rows gone meanwhile are not named.
    list.setProgress(4, 5);
    list.setProgress(4, 6);
    const int before = int(changed.count());
    list.rebuild(1);
    proxy.flush();
    for (int i = before; i < changed.count(); ++i)
        EXPECT_LT(changed.at(i).at(1).toModelIndex().row(), proxy.rowCount());
}
