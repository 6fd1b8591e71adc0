#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(SingleInstance, SecondClaimAsksTheFirstToComeForward)
{
    const QString key = u"test-"_s + QUuid::createUuid().toString();
    SingleInstance first(key);
    ASSERT_TRUE(first.claim());
    QSignalSpy raised(&first, &SingleInstance::activationRequested);

    // The second claimant runs its blocking handshake while the first one's
    // event loop keeps answering, as two processes would.
    bool secondClaimed = true;
    QThread *other = QThread::create([&] {
        SingleInstance second(key);
        secondClaimed = second.claim();
    });
    other->start();
    QDeadlineTimer deadline(5000);
    while (!other->isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    other->wait();
    delete other;
    EXPECT_FALSE(secondClaimed);
    EXPECT_TRUE(raised.count() >= 1 || raised.wait(2000));

    // Other keys (another program folder) are other instances.
    SingleInstance unrelated(key + u"-other"_s);
    EXPECT_TRUE(unrelated.claim());
}

