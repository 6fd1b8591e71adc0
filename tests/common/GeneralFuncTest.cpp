#include "common/GeneralFunc.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTimer>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <utime.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(GeneralFunc, WholeNumberAcceptsOnlyPlainDigits)
{
    for (const QString &yes : {u"0"_s, u"3000"_s, u" 42 "_s, u"+7"_s})
        EXPECT_TRUE(isWholeNumber(yes)) << qPrintable(yes);
    for (const QString &no : {u""_s, u"-5"_s, u"1.5"_s, u"1,000"_s, u"1E3"_s, u"2d1"_s, u"&H10"_s,
                              u"&o7"_s, u"abc"_s, u"+"_s, u"12a"_s})
        EXPECT_FALSE(isWholeNumber(no)) << qPrintable(no);
    EXPECT_TRUE(isAllDigits(u"0123456789"_s));
    for (const QString &no : {u""_s, u" 1"_s, u"-1"_s, u"\u0661"_s}) // an Arabic-Indic digit is not 0-9
        EXPECT_FALSE(isAllDigits(no)) << qPrintable(no);
}

TEST(GeneralFunc, SecondsAsHoursMinutesSeconds)
{
    EXPECT_EQ(secondsToHms(0), u"00:00:00"_s);
    EXPECT_EQ(secondsToHms(100000), u"27:46:40"_s);
    EXPECT_EQ(secondsToHms(400000), u"111:06:40"_s);
    EXPECT_EQ(secondsToHms(-30), u"00:00:00"_s);
    EXPECT_EQ(roundUp(2.01), 3);
    EXPECT_EQ(roundUp(2.0), 2);
    EXPECT_EQ(megabytesToBytes(3), 3 * 1048576);
}

TEST(GeneralFunc, NumbersTheUserSeesHaveOneDecimalAndNoThousandsSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(kbPerSecond(2086.5), u"2086.5 kB/s"_s);
    EXPECT_EQ(kbPerSecond(0), u"0.0 kB/s"_s);
    QLocale::setDefault(QLocale(QLocale::Dutch, QLocale::Netherlands));
    EXPECT_EQ(kbPerSecond(2086.5), u"2086,5 kB/s"_s);
    QLocale::setDefault(saved);
}

TEST(GeneralFunc, PathPieces)
{
    EXPECT_EQ(fileNameOf(u"/home/me/a b.bin"_s), u"a b.bin"_s);
    EXPECT_EQ(folderOf(u"/home/me/a b.bin"_s), u"/home/me/"_s);
    EXPECT_EQ(fileNameOf(u"C:\\x\\y.rar"_s), u"y.rar"_s);
    EXPECT_EQ(folderOf(u"plain"_s), QString());
    EXPECT_EQ(fileNameOf(u"plain"_s), u"plain"_s);
    EXPECT_EQ(withoutLineBreaks(u"a\r\nb\nc\rd"_s + QChar(0) + u"e"_s), u"a  b c d e"_s);
}

TEST(GeneralFunc, FileExistsIsFalseForFoldersAndMissingFiles)
{
    const QString file = test::homeFile(u"f.bin"_s);
    test::writeAll(file, "x");
    EXPECT_TRUE(fileExists(file));
    EXPECT_FALSE(fileExists(test::home()));
    EXPECT_FALSE(fileExists(test::homeFile(u"missing"_s)));
    EXPECT_FALSE(fileExists(QString()));
}

TEST(GeneralFunc, AtomicWriteReplacesWholeAndLeavesNoTemporaryFile)
{
    const QString path = test::homeFile(u"state.dat"_s);
    test::writeAll(path, "old content that is longer");
    ASSERT_EQ(writeFileAtomically(path, "new", true), QString());
    EXPECT_EQ(test::readAll(path), QByteArray("new"));
    EXPECT_EQ(QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther
                                               | QFileDevice::WriteGroup | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_EQ(QDir(test::home()).entryList(QDir::Files), QStringList{u"state.dat"_s});

    // A folder that cannot be written reports an error and keeps the old file.
    EXPECT_NE(writeFileAtomically(test::homeFile(u"no/such/dir/x"_s), "data"), QString());
}

TEST(GeneralFunc, WaitingHandlesEventsAndSleepsMeanwhile)
{
    const auto cpuMs = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    const double cpu0 = cpuMs();
    QElapsedTimer wall;
    wall.start();
    WaitWithEvents(300);
    EXPECT_GE(wall.elapsed(), 300);
    EXPECT_TRUE(fired);
    // A wait that spun on the processor would use about as much CPU time as it waited.
    EXPECT_LT(cpuMs() - cpu0, 100.0);
}
