#include "common/Clock.h"
#include "common/Log.h"
#include "support/FixedClock.h"

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

    const LogModel &log = logModel();
    ASSERT_EQ(log.count(), 3);
    EXPECT_EQ(log.line(0).formatted(), u"14:03:22: Loading application settings."_s);
    EXPECT_EQ(log.line(1).formatted(), u"14:03:22: Thread 3 -> 240 article posted ok"_s);
    EXPECT_TRUE(log.line(1).bold);
    EXPECT_EQ(log.line(1).colour, 16711680u);
    // One call gives exactly one line, whatever breaks the text held.
    EXPECT_EQ(log.line(2).text, u"twolines here"_s);
    EXPECT_EQ(log.data(log.index(2), LogModel::ColourRole).toUInt(), 255u);
}

TEST(Log, ErrorLineWording)
{
    LogError(13, u"Type mismatch"_s, 4, u"ReadINIFile"_s, ErrorOwner::Module, u"modGeneralFunc"_s);
    LogError(53, u"File not found"_s, 7, u"Form_Load"_s, ErrorOwner::Form, u"frmMain"_s, u" (more)"_s);
    ASSERT_EQ(logModel().count(), 2);
    EXPECT_EQ(logModel().line(0).text,
              u"Error 13 (Type mismatch) on line 4 in procedure ReadINIFile of Module modGeneralFunc"_s);
    EXPECT_EQ(logModel().line(1).text,
              u"Error 53 (File not found) on line 7 in procedure Form_Load of Form frmMain (more)"_s);
    EXPECT_EQ(logModel().line(0).colour, LogColour::Red);
    EXPECT_FALSE(logModel().line(0).bold);
    EXPECT_EQ(logModel().line(0).thread, 0);
}

TEST(Log, ListenerSeesEveryLine)
{
    QStringList seen;
    logModel().setListener([&](const LogLine &l) { seen << l.text; });
    AddLog(0, u"a"_s);
    AddLog(1, u"b"_s);
    EXPECT_EQ(seen, (QStringList{u"a"_s, u"b"_s}));
}
