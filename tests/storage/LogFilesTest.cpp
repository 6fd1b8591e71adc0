#include "common/Clock.h"
#include "common/Log.h"
#include "storage/LogFiles.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <utime.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(LogFiles, EmptyLogWritesNoFile)
{
    EXPECT_EQ(saveLogFile(QDateTime::currentDateTime()), QString());
    EXPECT_TRUE(QDir(logsFolder()).entryList(QDir::Files).isEmpty());
}

TEST(LogFiles, RtfKeepsEveryLineAndColour)
{
    AddLog(0, u".:: Tessaly Poster started ::."_s);
    AddLog(2, u"240 Article posted {braces} \\ backslash"_s, LogColour::Blue);
    AddLog(0, u"Error 53 (File not found) on line 1"_s, LogColour::Red);
    AddLog(1, u"Posted OK: Caf\u00e9.bin"_s, LogColour::Green, true);
    AddLog(0, u"Removed file: /tmp/x"_s, LogColour::Orange);
    const QString path = saveLogFile(QDateTime(QDate(2026, 12, 6), QTime(9, 0, 1)));
    ASSERT_EQ(QFileInfo(path).fileName(), u"06-12-2026_09.00.01.rtf"_s);

    const QByteArray rtf = test::readAll(path);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1"));
    // Colour table: black, blue, red, green, orange in order of first use.
    EXPECT_TRUE(rtf.contains("{\\colortbl ;\\red0\\green0\\blue0;\\red0\\green0\\blue255;\\red255\\green0\\blue0;"
                             "\\red0\\green128\\blue0;\\red255\\green128\\blue64;}"))
        << rtf.constData();
    EXPECT_TRUE(rtf.contains("\\cf4\\b ")); // the green line is bold
    EXPECT_TRUE(rtf.contains("posted \\{braces\\} \\\\ backslash")); // a brace would open a group

    // An independent reader gets every line back.
    QProcess unrtf;
    unrtf.start(u"unrtf"_s, {u"--text"_s, path});
    ASSERT_TRUE(unrtf.waitForFinished(20000)) << "unrtf did not run";
    ASSERT_EQ(unrtf.exitCode(), 0);
    // unrtf writes the text in the document's 8-bit code page.
    const QString text = QString::fromLatin1(unrtf.readAllStandardOutput());
    for (const LogLine &l : logModel().lines())
        EXPECT_TRUE(text.contains(l.formatted())) << qPrintable(l.formatted()) << "\n" << qPrintable(text);
}

