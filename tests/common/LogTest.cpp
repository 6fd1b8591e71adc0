#include "common/Clock.h"
#include "common/Log.h"
#include "support/FixedClock.h"

#include <QAbstractItemModelTester>
#include <QDeadlineTimer>
#include <QTest>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;


TEST(Log, LineFormatsAndColours)
{
    test::FixedClock clock(QDateTime(QDate(2009, 12, 5), QTime(14, 3, 22)));
    Clock::setInstance(&clock);
    AddLog(0, u"Loading application settings."_s);
    AddLog(3, u"240 article posted ok"_s, LogColour::Blue, true);
    AddLog(0, u"two\r\nlines\nhere"_s, LogColour::Red);

    LogModel &log = logModel();
    log.publish();
    ASSERT_EQ(log.count(), 3);
    EXPECT_EQ(log.line(0).formatted(), u"14:03:22: Loading application settings."_s);
    EXPECT_EQ(log.line(1).formatted(), u"14:03:22: Thread 3 -> 240 article posted ok"_s);
    EXPECT_TRUE(log.line(1).bold);
    EXPECT_EQ(log.line(1).colour, 16711680u);
    // One call gives exactly one line, whatever breaks the text held.
    EXPECT_EQ(log.line(2).text, u"twolines here"_s);
    EXPECT_EQ(log.data(log.index(2), LogModel::ColourRole).toUInt(), 255u);
}

TEST(Log, ErrorLinesNameWhereTheyHappen)
{
    const int line = __LINE__ + 1;
    LogError(53, u"File not found"_s, u" (more)"_s);
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_EQ(logModel().line(0).text, u"Error 53 (File not found) on line %1 in procedure TestBody of Module modLogTest (more)"_s.arg(line));
    EXPECT_EQ(logModel().line(0).colour, LogColour::Red);
    EXPECT_FALSE(logModel().line(0).bold);
    EXPECT_EQ(logModel().line(0).thread, 0);

    // What compilers give as function names, and the places they lead to.
    const struct
    {
        const char *function, *file, *expected;
    } cases[] = {
        {"bool tessaly::ReadINIFile()", "/src/storage/AppSettings.cpp", "procedure ReadINIFile of Module modAppSettings"},
        {"void tessaly::frmScheduler::start()::<lambda()>", "/src/shell/Scheduler.cpp", "procedure start of Form frmScheduler"},
        {"void tessaly::PostingRun::start(const tessaly::RunPlan&)", "/src/engine/PostingRun.cpp", "procedure start of Module modPostingRun"},
        {"bool tessaly::MainWindow::Form_QueryUnload()", "/src/shell/MainWindow.cpp", "procedure Form_QueryUnload of Form frmMain"},
        {"void tessaly::FileSetupDialog::accept()", "/src/shell/FileSetupDialog.cpp", "procedure accept of Form frmFileSetup"},
        {"QString tessaly::{anonymous}::readKey(tessaly::AppSettings&, const KeyDef&, const QString&)",
         "C:\\src\\storage\\AppSettings.cpp", "procedure readKey of Module modAppSettings"},
        {"QList<std::pair<int, int> > tessaly::LogModel::pairs(int)", "src/common/Log.cpp", "procedure pairs of Module modLog"},
    };
    for (const auto &c : cases)
        EXPECT_TRUE(errorLineText(5, u"x"_s, ErrorPlace::of(9, c.function, c.file))
                        .endsWith(u"on line 9 in "_s + QString::fromUtf8(c.expected)))
            << c.function << " -> " << qPrintable(errorLineText(5, u"x"_s, ErrorPlace::of(9, c.function, c.file)));
}

TEST(Log, ViewsLearnOfABurstInOneBatch)
{
    LogModel &m = logModel();
    m.clear();
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QList<std::pair<int, int>> inserted;
    QObject::connect(&m, &QAbstractItemModel::rowsInserted, &tester,
                     [&](const QModelIndex &, int first, int last) { inserted.append({first, last}); });
    QTest::qWait(LogModel::BatchIntervalMs + 20); // a quiet spell before the burst
    for (int i = 0; i < 1000; ++i)
        AddLog(1, u"240 article posted ok"_s);
    EXPECT_EQ(m.count(), 1000);
    EXPECT_EQ(m.rowCount(), 1) << "the first line of a burst shows at once";
    EXPECT_FALSE(m.index(1, 0).data().isValid());
    const QDeadlineTimer deadline(2000);
    while (m.rowCount() < 1000 && !deadline.hasExpired())
        QTest::qWait(10);
    EXPECT_EQ(m.rowCount(), 1000);
    EXPECT_EQ(inserted, (QList<std::pair<int, int>>{{0, 0}, {1, 999}}));
    EXPECT_TRUE(m.index(999, 0).data().toString().endsWith(u"posted ok"_s));
}
