#include "common/AppState.h"
#include "common/MessageTable.h"
#include "storage/MessageIds.h"
#include "storage/UploadQueue.h"

#include <QAbstractItemModelTester>
#include <QRegularExpression>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

class UploadQueueTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tester_ = std::make_unique<QAbstractItemModelTester>(&q, QAbstractItemModelTester::FailureReportingMode::Fatal);
    }

    // Items named "1".."n", each with its own path, IDs and numbers.
    void fill(int n)
    {
        for (int i = 1; i <= n; ++i) {
            UploadItem it = UploadQueue::newItem(QString::number(i), u"alt.test"_s, u"/f/"_s + QString::number(i),
                                                 i, u"tag"_s + QString::number(i), {});
            for (int k = 1; k <= i; ++k)
                it.messageids << u"id%1.%2"_s.arg(i).arg(k);
            it.position = i;
            q.append(it);
        }
    }

    // The subjects in array order, and the same read through the model's rows.
    QString order() const
    {
        QStringList fromArray, fromRows;
        for (int i = 1; i <= q.count(); ++i)
            fromArray << q.item(i).subject;
        for (int r = 0; r < q.rowCount(); ++r)
            fromRows << q.data(q.index(r, 0), Qt::DisplayRole).toString();
        EXPECT_EQ(fromArray, fromRows);
        return fromArray.join(u',');
    }

    // What the list shows in the status and parts columns of element i.
    QString status(int i) const { return q.data(q.index(i - 1, UploadQueue::StatusColumn), Qt::DisplayRole).toString(); }
    QString parts(int i) const { return q.data(q.index(i - 1, UploadQueue::PartsColumn), Qt::DisplayRole).toString(); }

    UploadQueue q;
    std::unique_ptr<QAbstractItemModelTester> tester_;
};

} // namespace

TEST_F(UploadQueueTest, RemoveKeepsRowsAndElementsTogether)
{
    fill(3);
    q.RemoveArrayItem(1);
    EXPECT_EQ(order(), u"2,3"_s);
    // Whole records moved: every field, Message-IDs included.
    EXPECT_EQ(q.item(1).path, u"/f/2"_s);
    EXPECT_EQ(q.item(1).messageids, (QStringList{u"id2.1"_s, u"id2.2"_s}));
    EXPECT_EQ(q.item(2).position, 3);
    q.RemoveArrayItem(2); // the last
    EXPECT_EQ(order(), u"2"_s);
    q.RemoveArrayItem(5); // out of range: nothing
    q.RemoveArrayItem(0);
    q.RemoveArrayItem(-1);
    EXPECT_EQ(order(), u"2"_s);
    q.RemoveArrayItem(1); // the only
    EXPECT_EQ(q.count(), 0);
    EXPECT_EQ(q.rowCount(), 0);
}

TEST_F(UploadQueueTest, MoveSelectionToTopAndBottomKeepsRelativeOrder)
{
    fill(5);
    // The command walks the selection (2, 4) first to last with target 1, 2, ...
    const QList<int> selected{2, 4};
    int target = 1;
    for (int idx : selected)
        q.MoveUDTItemTop(idx, target++);
    EXPECT_EQ(order(), u"2,4,1,3,5"_s);
    EXPECT_EQ(q.item(2).messageids.size(), 4);

    q.clear();
    fill(5);
    int limit = q.count() + 1;
    for (auto it = selected.crbegin(); it != selected.crend(); ++it)
        q.MoveUDTItemBottom(*it, limit--);
    EXPECT_EQ(order(), u"1,3,5,2,4"_s);
}

TEST_F(UploadQueueTest, UpAndDownStopAtTheEdges)
{
    fill(3);
    q.MoveUDTItemUp(1);
    q.MoveUDTItemDown(3);
    EXPECT_EQ(order(), u"1,2,3"_s);
    q.MoveUDTItemUp(3);
    EXPECT_EQ(order(), u"1,3,2"_s);
    q.MoveUDTItemDown(1);
    EXPECT_EQ(order(), u"3,1,2"_s);
    q.MoveUDTItemUp(0);
    q.MoveUDTItemDown(4);
    q.MoveUDTItemTop(1, 1);
    q.MoveUDTItemBottom(3, 4);
    EXPECT_EQ(order(), u"3,1,2"_s);
}

TEST_F(UploadQueueTest, PauseAndRequeueRules)
{
    fill(5);
    q.setState(2, UploadState::Paused);
    q.setState(3, UploadState::Posting, 4);
    q.setState(4, UploadState::PostedOK);
    q.setState(5, UploadState::FileError);
    EXPECT_EQ(status(3), u"Upload in Thread 4"_s);
    EXPECT_EQ(status(5), u"File not found!"_s);

    for (int i = 1; i <= 5; ++i)
        q.pause(i);
    EXPECT_EQ(q.item(1).state, UploadState::Paused);  // Queued -> Paused
    EXPECT_EQ(q.item(3).state, UploadState::Posting); // never touches Posting

    q.item(3).position = 3;
    q.item(3).partsLeft = 1;
    for (int i = 1; i <= 5; ++i)
        q.requeue(i);
    EXPECT_EQ(q.item(1).state, UploadState::Queued);
    EXPECT_EQ(q.item(2).state, UploadState::Queued);
    EXPECT_EQ(q.item(3).state, UploadState::Queued);
    EXPECT_EQ(q.item(4).state, UploadState::PostedOK);
    EXPECT_EQ(q.item(5).state, UploadState::Queued);
    EXPECT_EQ(status(5), u"Queued"_s);
    EXPECT_EQ(status(3), u"Queued"_s); // no longer names its connection
    // Re-queueing keeps where the item was.
    EXPECT_EQ(q.item(3).position, 3);
    EXPECT_EQ(parts(3), u"1/3"_s);
    EXPECT_EQ(q.item(3).messageids.size(), 3);
    // A part counted twice never takes the count below 0.
    for (int k = 0; k < 2; ++k)
        q.countPostedPart(1);
    EXPECT_EQ(parts(1), u"0/1"_s);
}

TEST_F(UploadQueueTest, TextsFollowTheMessageTable)
{
    fill(5);
    q.setState(2, UploadState::PostedOK);
    q.setState(3, UploadState::FileError);
    q.setState(4, UploadState::Posting, 2);
    q.setConnection(5, 3); // a fill run shows its connection, the state stays
    messageTable().setText(66, u"In wachtrij"_s);
    messageTable().setText(140, u"Gepost"_s);
    messageTable().setText(131, u"Upload in draad"_s);
    QSignalSpy changed(&q, &QAbstractItemModel::dataChanged);
    q.relabel();
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(status(2), u"Gepost!"_s);
    EXPECT_EQ(status(4), u"Upload in draad 2"_s);
    EXPECT_EQ(status(5), u"Upload in draad 3"_s);
    EXPECT_EQ(q.item(5).state, UploadState::Queued);
    q.setConnection(5, 0);
    EXPECT_EQ(status(5), u"In wachtrij"_s);
}

TEST(UploadQueue, MessageIdShape)
{
    // A random (version 4) UUID in hex: the version digit is 4, the variant 8 to B.
    setRunTag(u"1765000000"_s);
    const QRegularExpression shape(u"^Part(\\d+)of7\\.[0-9A-F]{12}4[0-9A-F]{3}[89AB][0-9A-F]{15}@1765000000\\.local$"_s);
    const QStringList ids = makeMessageIds(7) << makeMessageId(7, 7);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(shape.match(ids.value(k)).captured(1).toInt(), std::min(k + 1, 7)) << qPrintable(ids.value(k));
    EXPECT_NE(ids[0].section(u'.', 1), ids[1].section(u'.', 1));
}

