// The window's unattended side: the start-time scheduler on an injected
// clock, the six on-complete choices (power actions reach a fake login
// manager on a private bus, never the machine's), and the notification-area
// icon with its fallbacks.
#include "application/Lifecycle.h"
#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "config/Language.h"
#include "platform/SystemActions.h"
#include "shell/MainWindow.h"
#include "shell/OnCompleteDialog.h"
#include "shell/Prompts.h"
#include "shell/SchedulerDialog.h"
#include "storage/AppSettings.h"
#include "storage/LogFiles.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/FakeDesktop.h"
#include "support/FixedClock.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;

namespace {

class Unattended : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Clock::setInstance(&clock);
        MainWindow::setStartupWait(0);
        ASSERT_TRUE(writeDefaultSettings());
        Prompts::reset();
        openWindow();
    }
    void TearDown() override
    {
        setPostingInProgress(false);
        window.reset();
        Clock::setInstance(nullptr);
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        resetDesktopBuses();
    }
    void openWindow()
    {
        window = std::make_unique<MainWindow>();
        window->Form_Load();
        appSettings().Server = u"127.0.0.1"_s;
    }
    // Both buses of this process on the fake desktop's.
    void use(const test::FakeDesktop &desktop)
    {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", desktop.address().toUtf8());
        qputenv("DBUS_SESSION_BUS_ADDRESS", desktop.address().toUtf8());
        resetDesktopBuses();
    }
    void queue(UploadState state)
    {
        UploadItem item = UploadQueue::newItem(u"s"_s, u"a.b"_s, test::homeFile(u"f"_s), 1, u"t"_s, {u"id"_s});
        item.state = state;
        item.run = UploadItem::Run::Taken; // as the run just ended left it
        uploadQueue().append(item);
    }
    QString tooltip() const { return window->trayIcon()->toolTip(); }

    test::FixedClock clock{QDateTime(QDate(2026, 12, 8), QTime(10, 0, 0))};
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(Unattended, SchedulerWaitsInClockSecondsThenStartsThroughStartsChecks)
{
    // Nothing queued: said, no dialog.
    window->openScheduler();
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(window->scheduler(), nullptr);
    queue(UploadState::Queued);

    window->openScheduler();
    frmScheduler *s = window->scheduler();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->lblRemaining->text(), u"Waiting 00:00:00"_s);
    EXPECT_FALSE(window->startAction()->isEnabled());
    // The current hour and minute mean tomorrow.
    s->cboHour->setCurrentIndex(10);
    s->cmdStart_Click();
    EXPECT_EQ(s->tmrScheduler.remaining(), 86400);
    EXPECT_EQ(s->cmdStart->text(), u"Stop"_s);
    EXPECT_FALSE(s->picContainer->isEnabled());
    clock.moveOn(1);
    s->tmrScheduler.tick();
    EXPECT_EQ(tooltip(), u"Waiting 23:59:59"_s);
    // Stop: the standard tooltip is back and a new time can be chosen.
    s->cmdStart_Click();
    EXPECT_FALSE(s->isWaiting());
    EXPECT_TRUE(s->picContainer->isEnabled());
    EXPECT_EQ(s->lblRemaining->text(), u"Waiting 00:00:00"_s);
    EXPECT_TRUE(tooltip().startsWith(u"Tessaly Poster\u2122 "_s + versionNumber() + u'\n'));

    // Two minutes ahead: fires after 120 seconds of the clock, however the timer ticked.
    s->cboMinutes->setCurrentIndex(2);
    s->cmdStart_Click();
    EXPECT_EQ(s->tmrScheduler.remaining(), 119); // from 10:00:01
    clock.moveOn(118);
    s->tmrScheduler.tick();
    EXPECT_EQ(s->lblRemaining->text(), u"Waiting 00:00:01"_s);
    EXPECT_TRUE(s->isWaiting());
    appSettings().Server.clear(); // the start it makes finds no server
    clock.moveOn(1);
    s->tmrScheduler.tick();
    EXPECT_TRUE(s->fired());
    EXPECT_EQ(window->scheduler(), nullptr);
    EXPECT_TRUE(window->startAction()->isEnabled());
    EXPECT_TRUE(tooltip().startsWith(u"Tessaly Poster\u2122"_s));
    ASSERT_TRUE(window->startTimer()->isActive());
    ASSERT_TRUE(test::waitFor([&] { return Prompts::shown().size() == 2; }));
    EXPECT_EQ(Prompts::shown().last().text, u"No newsserver specified!"_s);
    EXPECT_EQ(window->engine(), nullptr);

    // Closed while waiting: the countdown is dropped, the toolbar comes back.
    appSettings().Server = u"127.0.0.1"_s;
    window->openScheduler();
    s = window->scheduler();
    s->cboHour->setCurrentIndex(11);
    s->cmdStart_Click();
    QPointer<frmScheduler> gone(s);
    s->cmdCancel->click();
    EXPECT_TRUE(test::waitFor([&] { return gone.isNull(); }));
    EXPECT_TRUE(window->startAction()->isEnabled());
    EXPECT_FALSE(window->startTimer()->isActive());

    // The time comes with nothing left to post: said, nothing started.
    window->openScheduler();
    s = window->scheduler();
    s->cboHour->setCurrentIndex(10);
    s->cboMinutes->setCurrentIndex(5);
    s->cmdStart_Click();
    uploadQueue().clear();
    clock.moveOn(300);
    s->tmrScheduler.tick();
    EXPECT_FALSE(window->startTimer()->isActive());
    EXPECT_TRUE(logHas(u"Nothing to post at the scheduled time."_s));
}

TEST_F(Unattended, EachOnCompleteChoiceAfterARun)
{
    test::FakeDesktop desktop;
    ASSERT_TRUE(desktop.start(test::homeFile(u"calls"_s)));
    use(desktop);
    queue(UploadState::PostedOK);
    // The login manager is asked first; the countdown shows once it said yes.
    const auto countdownFor = [&](int action) {
        const QPointer<frmOnComplete> before = window->onCompleteWindow();
        window->runOnComplete(action);
        test::waitFor([&] { return window->onCompleteWindow() != nullptr && window->onCompleteWindow() != before; });
        return window->onCompleteWindow();
    };

    // Cancel at any second; the next run gets a fresh thirty seconds.
    frmOnComplete *c = countdownFor(1);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->lblText->text(), u"Powering off computer in 30 seconds"_s);
    clock.moveOn(17);
    c->Timer1.tick();
    EXPECT_EQ(c->lblText->text(), u"Powering off computer in 13 seconds"_s);
    c->cmdCancel->click();
    EXPECT_TRUE(test::waitFor([&] { return window->onCompleteWindow() == nullptr; }));
    c = countdownFor(1);
    EXPECT_EQ(c->lblText->text(), u"Powering off computer in 30 seconds"_s);
    c->cmdCancel->click();

    // Hibernate: asked, done, and the program goes on.
    desktop.clearCalls();
    c = countdownFor(3);
    EXPECT_EQ(c->lblText->text(), u"Hibernating computer in 30 seconds"_s);
    clock.moveOn(30);
    c->Timer1.tick();
    ASSERT_TRUE(test::waitFor([&] { return logHas(u"Hibernate: accepted by the system."_s); }));
    EXPECT_EQ(desktop.calls(), QStringList({u"CanHibernate"_s, u"Hibernate false"_s}));
    EXPECT_TRUE(window->isVisible());

    // Refused: said at once, before any countdown, and the program goes on.
    desktop.clearCalls();
    desktop.setCanAnswer(u"no"_s);
    window->runOnComplete(4);
    ASSERT_TRUE(test::waitFor([&] { return logHas(u"Reboot was refused by the system"_s); }));
    EXPECT_EQ(window->onCompleteWindow(), nullptr);
    EXPECT_EQ(desktop.calls(), QStringList{u"CanReboot"_s});
    EXPECT_TRUE(window->isVisible());

    // After a run that did not post everything nothing counts down.
    desktop.setCanAnswer(u"yes"_s);
    desktop.clearCalls();
    queue(UploadState::FileError);
    c = countdownFor(1);
    EXPECT_EQ(c->lblText->text(), u"Not every item was posted."_s);
    EXPECT_FALSE(c->Timer1.isRunning());
    c->cmdCancel->click();
    uploadQueue().RemoveArrayItem(2);

    // Balloon: no notification area here, so the desktop's notification.
    window->runOnComplete(5);
    ASSERT_TRUE(test::waitFor([&] { return !desktop.calls().isEmpty(); }));
    EXPECT_EQ(desktop.calls(), QStringList{u"Notify Tessaly Poster|Upload has finished! "_s});
    EXPECT_TRUE(window->isVisible());

    // Power off, reboot and log off: asked as logind wants, then the program closes with everything saved.
    const struct
    {
        int action;
        QStringList calls;
    } closing[] = {{1, {u"CanPowerOff"_s, u"PowerOff false"_s}},
                   {4, {u"CanReboot"_s, u"Reboot false"_s}},
                   {2, {u"GetSessionByPID"_s, u"Terminate /org/freedesktop/login1/session/_31"_s}}};
    for (const auto &k : closing) {
        desktop.clearCalls();
        QFile::remove(queueFilePath());
        window->show();
        c = countdownFor(k.action);
        clock.moveOn(30);
        c->Timer1.tick();
        ASSERT_TRUE(test::waitFor([&] { return !window->isVisible(); })) << k.action;
        EXPECT_EQ(desktop.calls(), k.calls);
        EXPECT_TRUE(QFileInfo::exists(queueFilePath()));
        EXPECT_TRUE(logHas(u".:: Tessaly Poster closed ::."_s));
        openWindow();
        queue(UploadState::PostedOK);
    }

    // Close Tessaly: the normal shut-down.
    QFile::remove(queueFilePath());
    QFile::remove(settingsFile().path());
    QDir(logsFolder()).removeRecursively();
    window->show();
    window->runOnComplete(0);
    ASSERT_TRUE(test::waitFor([&] { return !window->isVisible(); }));
    EXPECT_TRUE(QFileInfo::exists(queueFilePath()));
    EXPECT_TRUE(QFileInfo::exists(settingsFile().path()));
    EXPECT_FALSE(QDir(logsFolder()).isEmpty());
    EXPECT_EQ(window->trayIcon(), nullptr) << "the icon goes at shut-down";
}

TEST_F(Unattended, TrayIconTooltipMenuAndRestore)
{
    ASSERT_NE(window->trayIcon(), nullptr);
    EXPECT_EQ(tooltip(), u"Tessaly Poster\u2122 "_s + versionNumber() + u"\nReady to post"_s);
    window->setTrayTooltip(QString(127, u'a'));
    EXPECT_EQ(tooltip().size(), 127);
    window->setTrayTooltip(QString(200, u'b'));
    EXPECT_EQ(tooltip(), QString(127, u'b'));

    // No notification area under the test display: Tray minimises, a click brings it back maximised.
    window->showMaximized();
    window->sendToTray();
    EXPECT_TRUE(window->isMinimized());
    window->trayActivated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isMaximized());
    EXPECT_FALSE(window->isMinimized());
    window->trayActivated(QSystemTrayIcon::Context);
    QMenu *menu = window->trayMenu();
    EXPECT_TRUE(menu->isVisible());
    ASSERT_EQ(menu->actions().size(), 2);
    menu->close();

    // Neither a notification area nor a notification service: the balloon is a log line.
    test::FakeDesktop bare;
    ASSERT_TRUE(bare.start(test::homeFile(u"bare"_s), false));
    use(bare);
    window->runOnComplete(5);
    EXPECT_TRUE(test::waitFor([&] { return logHas(u"Upload has finished!"_s); }));
}
