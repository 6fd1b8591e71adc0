#include "common/GeneralFunc.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Log.h"
#include "config/Language.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/LogFiles.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/FixedClock.h"
#include "support/TestEnvironment.h"

#include <QGuiApplication>
#include <QScreen>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>

#include <QTimer>

#include <gtest/gtest.h>

#include <utime.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

class Shell : public ::testing::Test
{
protected:
    void SetUp() override { MainWindow::setStartupWait(0); }

    QStringList logTexts() const
    {
        QStringList t;
        for (const LogLine &l : logModel().lines())
            t << l.text;
        return t;
    }

    QString key(const QString &name) const { return settingsFile().read(u"Settings"_s, name); }
};

const QString kCorruptMessage = u"Something went wrong while reading the 'Settings.ini' file (corrupted?). \r\n"
                                u"A new ini file has been created, but all entered information has been lost. "_s;

} // namespace

TEST_F(Shell, FirstStartWritesDefaultsWithoutAMessage)
{
    MainWindow w;
    w.Form_Load();
    EXPECT_TRUE(QFile::exists(test::homeFile(u"Settings.ini"_s)));
    EXPECT_EQ(key(u"Port"_s), u"119"_s);
    EXPECT_TRUE(Prompts::shown().isEmpty());
    EXPECT_EQ(logTexts().mid(0, 3),
              (QStringList{u".:: Tessaly Poster started ::."_s, u"Settings, queue and logs are kept in "_s + test::home(),
                           u"Loading application settings."_s}));
    EXPECT_FALSE(runTag().isEmpty());
    EXPECT_EQ(w.windowTitle(), u"Tessaly Poster (Beta 2)"_s);
    EXPECT_TRUE(w.isVisible());
    // One connection row by default, then the job runner's row.
    ASSERT_EQ(connectionList().rowCount(), 2);
    EXPECT_EQ(connectionList().row(2).action, u"Idle"_s);
}

TEST_F(Shell, UnreadableSettingsAreReportedOnceAfterStartUp)
{
    // A bad value is repaired quietly (a log line); the rest is kept.
    test::writeAll(test::homeFile(u"Settings.ini"_s), "[Settings]\nServer=news.example.org\nPort=abc\n");
    {
        MainWindow w;
        w.Form_Load();
        EXPECT_TRUE(Prompts::shown().isEmpty());
        EXPECT_FALSE(w.settingsReadFailed());
        EXPECT_EQ(appSettings().Server, u"news.example.org"_s);
    }
    // A file that cannot be read at all is replaced, and the user is told.
    const QByteArray damaged = "[Settings]\nServer=news.example.org\n" + QByteArray(2 << 20, ';');
    test::writeAll(test::homeFile(u"Settings.ini"_s), damaged);
    {
        MainWindow w;
        w.Form_Load();
        ASSERT_EQ(Prompts::shown().size(), 1);
        EXPECT_EQ(Prompts::shown()[0].text, kCorruptMessage);
        EXPECT_TRUE(QFile::exists(test::homeFile(u"Settings.ini.bak"_s)));
    }
    // Started with a command line: no message, even though the read fails.
    Prompts::reset();
    test::writeAll(test::homeFile(u"Settings.ini"_s), damaged);
    MainWindow w(QStringList{u"/F"_s, u"/tmp"_s});
    w.Form_Load();
    EXPECT_TRUE(w.settingsReadFailed());
    EXPECT_TRUE(Prompts::shown().isEmpty());
}

TEST_F(Shell, StartUpAppliesTheSettings)
{
    ASSERT_TRUE(writeDefaultSettings());
    settingsFile().write(u"Settings"_s, {{u"Connections"_s, u"3"_s}, {u"MaxSpeed"_s, u"250"_s}, {u"NoUpload"_s, u"1"_s},
                                         {u"Column1"_s, u"333"_s}, {u"Language"_s, u"Missing"_s},
                                         {u"WindowGeometry"_s, u"40,30,950,500"_s}});
    uploadQueue().append(UploadQueue::newItem(u"queued"_s, u"a.b"_s, u"/x"_s, 1, u"t"_s, {u"id"_s}));
    ASSERT_TRUE(SaveQueue());
    uploadQueue().clear();

    MainWindow w;
    w.Form_Load();
    ASSERT_EQ(connectionList().rowCount(), 4);
    EXPECT_EQ(connectionList().row(3).number, u"3"_s);
    EXPECT_EQ(connectionList().row(4).number, u"RarPar"_s);
    EXPECT_EQ(w.speedBox()->text(), u"250"_s);
    EXPECT_TRUE(w.noUploadBox()->isChecked());
    EXPECT_EQ(w.uploadList()->columnWidth(0), 333);
    // The last run's size, as far as this screen and the toolbar allow.
    const int screenWidth = QGuiApplication::primaryScreen()->availableGeometry().width();
    EXPECT_EQ(w.height(), 500);
    EXPECT_EQ(w.width(), std::max(std::min(950, screenWidth), w.minimumSizeHint().width()));
    EXPECT_EQ(uploadQueue().count(), 1);
    EXPECT_TRUE(logTexts().contains(u"Loading file data."_s));
    // A language without a file falls back to English and is written back.
    EXPECT_EQ(key(u"Language"_s), u"English"_s);
}

TEST_F(Shell, AtMostTwentyFiveConnectionRows)
{
    ASSERT_TRUE(writeDefaultSettings());
    settingsFile().write(u"Settings"_s, u"Connections"_s, u"40"_s);
    MainWindow w;
    w.Form_Load();
    EXPECT_EQ(connectionList().rowCount(), 26);
}

TEST_F(Shell, ClosingWhilePostingChangesNothing)
{
    MainWindow w;
    w.Form_Load();
    const QByteArray settingsBefore = test::readAll(test::homeFile(u"Settings.ini"_s));
    const int logLines = logModel().count();
    setPostingInProgress(true);
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text, u"Please stop posting first."_s);
    EXPECT_EQ(logModel().count(), logLines);
    EXPECT_EQ(test::readAll(test::homeFile(u"Settings.ini"_s)), settingsBefore);
    EXPECT_FALSE(QFile::exists(queueFilePath()));
    EXPECT_FALSE(QDir(logsFolder()).exists());
    setPostingInProgress(false);
}

TEST_F(Shell, ClosingWhileStartingUpEndsThereAndSavesNothingHalfLoaded)
{
    // A queue and settings of an earlier run; closed at each moment of start-up.
    {
        MainWindow w;
        w.Form_Load();
        uploadQueue().append(UploadQueue::newItem(u"kept"_s, u"a.b"_s, u"/x"_s, 1, u"t"_s, {u"id"_s}));
        w.speedBox()->setText(u"1500"_s);
        ASSERT_TRUE(w.close());
    }
    const QByteArray settings = test::readAll(test::homeFile(u"Settings.ini"_s));
    const QByteArray queue = test::readAll(queueFilePath());
    ASSERT_TRUE(queue.contains("<subject>kept</subject>"));
    MainWindow::setStartupWait(40);
    for (int afterMs : {5, 60, 120}) {
        uploadQueue().clear();
        MainWindow w;
        QTimer::singleShot(afterMs, &w, [&w] { w.close(); });
        w.Form_Load();
        EXPECT_TRUE(w.closedWhileStartingUp()) << afterMs;
        EXPECT_FALSE(w.isVisible()) << afterMs;
        EXPECT_EQ(test::readAll(test::homeFile(u"Settings.ini"_s)), settings) << afterMs;
        EXPECT_EQ(test::readAll(queueFilePath()), queue) << afterMs;
    }
}

TEST_F(Shell, ClosingSavesQueueSettingsAndLog)
{
    test::FixedClock clock(QDateTime(QDate(2026, 12, 6), QTime(10, 11, 12)));
    Clock::setInstance(&clock);
    MainWindow w;
    w.Form_Load();
    uploadQueue().append(UploadQueue::newItem(u"kept"_s, u"a.b"_s, u"/x"_s, 1, u"t"_s, {u"id"_s}));
    w.speedBox()->setText(u"1500"_s);
    w.removeFromDiskBox()->setChecked(true);

    // Twenty-five older log files: the oldest one goes.
    QDir().mkpath(logsFolder());
    for (int i = 0; i < 25; ++i) {
        const QString p = logsFolder() + u"/older%1.rtf"_s.arg(i, 2, 10, QChar(u'0'));
        test::writeAll(p, "{\\rtf1 x}");
        const long t = 1700000000L + i;
        utimbuf times{t, t};
        utime(QFile::encodeName(p).constData(), &times);
    }

    EXPECT_TRUE(w.close());
    const QStringList texts = logTexts();
    EXPECT_TRUE(texts.contains(u"Saving file data."_s));
    EXPECT_TRUE(texts.contains(u"Saving application settings."_s));
    EXPECT_EQ(texts.last(), u".:: Tessaly Poster closed ::."_s);

    EXPECT_EQ(key(u"MaxSpeed"_s), u"1500"_s);
    EXPECT_EQ(key(u"RemoveFromDisk"_s), u"1"_s);
    EXPECT_EQ(key(u"WindowGeometry"_s).split(u',').size(), 4);
    EXPECT_TRUE(test::readAll(queueFilePath()).contains("<subject>kept</subject>"));

    const QStringList logs = QDir(logsFolder()).entryList(QDir::Files);
    EXPECT_EQ(logs.size(), 25);
    EXPECT_TRUE(logs.contains(u"06-12-2026_10.11.12.rtf"_s));
    EXPECT_FALSE(logs.contains(u"older00.rtf"_s));
    EXPECT_TRUE(logs.contains(u"older01.rtf"_s));
}

TEST_F(Shell, LogPaneKeepsUpWithManyLines)
{
    MainWindow w;
    w.Form_Load();
    for (int i = 0; i < 100000; ++i)
        AddLog(i % 25 + 1, u"240 article posted ok"_s, LogColour::Blue);
    logModel().publish();
    QCoreApplication::processEvents();
    EXPECT_GE(w.logPane()->model()->rowCount(), 100000);
    EXPECT_TRUE(w.logPane()->model()->index(logModel().count() - 1, 0).data().toString().endsWith(u"posted ok"_s));
}

TEST_F(Shell, TheWindowFitsALaptopScreenInEveryLanguage)
{
    for (const QString &language : {u"English"_s, u"Nederlands"_s}) {
        MainWindow w;
        w.Form_Load();
        if (language != u"English"_s) {
            ASSERT_TRUE(SetLanguage(QStringLiteral(TESSALY_SOURCE_DIR) + u"/resources/Languages/Nederlands.lng"_s));
            w.LoadMainWindow();
        }
        EXPECT_LE(w.minimumSizeHint().width(), 1366) << qPrintable(language);
        EXPECT_LE(w.minimumSizeHint().height(), 768) << qPrintable(language);
        SetEnglishLanguage();
    }
}
