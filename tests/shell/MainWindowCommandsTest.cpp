#include "common/AppState.h"
#include "common/Clock.h"
#include "common/Log.h"
#include "engine/frmPost.h"
#include "shell/FileSetupDialog.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"
#include "storage/AppSettings.h"
#include "storage/Newsgroups.h"
#include "storage/ProfileFile.h"
#include "storage/UploadQueue.h"
#include "support/ScriptedNntpServer.h"
#include "support/FixedClock.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

class Commands : public ::testing::Test
{
protected:
    void SetUp() override
    {
        MainWindow::setStartupWait(0);
        ASSERT_TRUE(writeDefaultSettings());
        window = std::make_unique<MainWindow>();
        window->Form_Load();
        appSettings().Server = u"127.0.0.1"_s;
    }
    void TearDown() override
    {
        if (window->engine())
            window->engine()->Form_Unload();
        setPostingInProgress(false);
    }

    void queue(int n)
    {
        for (int i = 1; i <= n; ++i)
            uploadQueue().append(UploadQueue::newItem(QString::number(i), u"a.b"_s, test::homeFile(u"f%1"_s.arg(i)), 1,
                                                      u"t"_s, {u"id"_s}));
    }
    QString order() const
    {
        QStringList s;
        const QAbstractItemModel *m = window->uploadList()->model();
        for (int r = 0; r < m->rowCount(); ++r) {
            s << m->index(r, 0).data().toString();
            EXPECT_EQ(s.last(), uploadQueue().item(r + 1).subject);
        }
        return s.join(u',');
    }
    void select(const QList<int> &rows)
    {
        window->uploadList()->clearSelection();
        for (int r : rows)
            window->uploadList()->selectionModel()->select(window->uploadList()->model()->index(r - 1, 0),
                                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void spin(int ms)
    {
        QDeadlineTimer d(ms);
        while (!d.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(Commands, StartChecksServerNicknameAndEmailFirst)
{
    const struct
    {
        QString *field;
        QString text;
    } cases[] = {{&appSettings().Server, u"No newsserver specified!"_s},
                 {&appSettings().Nickname, u"No nickname specified!"_s},
                 {&appSettings().Email, u"No email address specified!"_s}};
    for (const auto &c : cases) {
        const QString saved = *c.field;
        *c.field = QString();
        Prompts::reset();
        const int before = window->settingsRequests();
        window->StartOrStop(); // even with nothing queued
        ASSERT_EQ(Prompts::shown().size(), 1);
        EXPECT_EQ(Prompts::shown()[0].text, c.text);
        EXPECT_EQ(Prompts::shown()[0].title, u"Tessaly Poster (Beta 2)"_s);
        EXPECT_EQ(window->settingsRequests(), before + 1);
        *c.field = saved;
    }
}

TEST_F(Commands, NothingToPost)
{
    queue(2);
    uploadQueue().setState(1, UploadState::Paused);
    uploadQueue().setState(2, UploadState::PostedOK);
    window->StartOrStop();
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text, u"No files to post."_s);
    EXPECT_EQ(window->engine(), nullptr);
}

TEST_F(Commands, MovesKeepRowsAndElementsPaired)
{
    queue(5);
    select({2, 4});
    window->ListViewMoveToTop();
    EXPECT_EQ(order(), u"2,4,1,3,5"_s);
    uploadQueue().clear();
    queue(5);
    select({2, 4});
    window->ListViewMoveToBottom();
    EXPECT_EQ(order(), u"1,3,5,2,4"_s);
    uploadQueue().clear();
    queue(5);
    // A block at the top stays; rows below an unselected one move up.
    select({1, 2, 4});
    window->ListViewMoveSelUp();
    EXPECT_EQ(order(), u"1,2,4,3,5"_s);
    select({2, 5});
    window->ListViewMoveSelDown();
    EXPECT_EQ(order(), u"1,4,2,3,5"_s);
}

TEST_F(Commands, PauseRequeueAndClear)
{
    queue(4);
    uploadQueue().setState(3, UploadState::PostedOK);
    select({1});
    window->pauseItems(true);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::Paused);
    EXPECT_EQ(uploadQueue().item(2).state, UploadState::Queued);
    window->requeueItems(false);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::Queued);
    EXPECT_EQ(uploadQueue().item(3).state, UploadState::PostedOK);
    select({2, 4});
    window->clearSelected(true);
    EXPECT_EQ(order(), u"1,3"_s);
    Prompts::setNextAnswer(PromptAnswer::No);
    window->clearAll();
    EXPECT_EQ(uploadQueue().count(), 2);
    EXPECT_EQ(Prompts::shown().last().text, u"Clear all files?"_s);
    EXPECT_EQ(Prompts::shown().last().title, u"Confirmation"_s);
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window->clearAll();
    EXPECT_EQ(uploadQueue().count(), 0);
}

TEST_F(Commands, SpeedBoxAcceptsOnlyWholeNumbers)
{
    for (const QString &bad : {u"1.5"_s, u"-3"_s, u"1e3"_s, u""_s, u"12 kB"_s}) {
        window->speedBox()->setText(bad);
        EXPECT_EQ(window->speedBox()->text(), u"0"_s) << qPrintable(bad);
    }
    window->speedBox()->setText(u"250"_s);
    EXPECT_EQ(window->speedBox()->text(), u"250"_s);
}

TEST_F(Commands, RemoveFromDiskAsksFirst)
{
    Prompts::setNextAnswer(PromptAnswer::No);
    window->removeFromDiskBox()->click();
    EXPECT_FALSE(window->removeFromDiskBox()->isChecked());
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].title, u"Warning!"_s);
    EXPECT_EQ(Prompts::shown()[0].text,
              u"Warning! The files will be removed permanently after upload!\r\n\r\nAre you sure?"_s);
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window->removeFromDiskBox()->click();
    EXPECT_TRUE(window->removeFromDiskBox()->isChecked());
    window->removeFromDiskBox()->click(); // unticking needs no question
    EXPECT_FALSE(window->removeFromDiskBox()->isChecked());
    EXPECT_EQ(Prompts::shown().size(), 2);
}

TEST_F(Commands, CommandLineWithoutPostQueuesOnly)
{
    const QString folder = test::homeFile(u"f"_s);
    test::writeAll(folder + u"/a.bin"_s, "data");
    EXPECT_TRUE(window->runCommandLine({u"/F"_s, folder, u"/H"_s, u"s"_s, u"/N"_s, u"a.b"_s, u"/C"_s}));
    EXPECT_EQ(uploadQueue().count(), 1);
    EXPECT_FALSE(window->startTimer()->isActive());
    EXPECT_FALSE(window->onCompleteBox()->isChecked());
    uploadQueue().clear();
    EXPECT_TRUE(window->runCommandLine({u"/F"_s, folder, u"/H"_s, u"s"_s, u"/N"_s, u"a.b"_s, u"/P"_s, u"/C"_s, u"/S"_s}));
    EXPECT_TRUE(window->startTimer()->isActive());
    EXPECT_TRUE(window->onCompleteBox()->isChecked());
    EXPECT_EQ(window->onCompleteList()->currentIndex(), 0); // Close Tessaly
    window->startTimer()->stop();
}

TEST_F(Commands, SpeedSchedulerSetsTheHoursLimitAndRestoresIt)
{
    test::FixedClock clock(QDateTime(QDate(2026, 12, 6), QTime(9, 30)));
    Clock::setInstance(&clock);
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    server.greetings = {QByteArray()}; // keep the run going: the server stays silent
    AppSettings &s = appSettings();
    s.Port = server.port();
    s.SpeedScheduler = 1;
    s.LimitSpeed = 42;
    s.setSpeedItems(u"08|09|10|"_s);
    test::writeAll(test::homeFile(u"f1"_s), "x");
    queue(1);
    window->speedBox()->setText(u"500"_s);
    window->StartOrStop();
    ASSERT_NE(window->engine(), nullptr);
    spin(300);
    EXPECT_EQ(window->speedBox()->text(), u"42"_s);
    EXPECT_EQ(window->startAction()->text(), u"Stop"_s);
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window->StartOrStop(); // Stop
    EXPECT_EQ(Prompts::shown().last().text, u"Stop posting?"_s);
    EXPECT_EQ(window->speedBox()->text(), u"500"_s);
    EXPECT_EQ(window->startAction()->text(), u"Start"_s);
    EXPECT_FALSE(window->speedSchedulerTimer()->isActive());
}

TEST(FileSetup, NewsgroupRulesAndSubjectQuestion)
{
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    test::writeAll(test::homeFile(u"a.bin"_s), "abc");
    FileSetupDialog d({test::homeFile(u"a.bin"_s)});
    EXPECT_EQ(d.windowTitle(), u"Adding 1 files"_s);
    EXPECT_EQ(d.txtNZBPath->text(), test::homeFile(u"a.nzb"_s));
    const QList<QPair<QString, QString>> refused = {
        {u"alt.binaries."_s, u"\"alt.binaries.\" is an invalid newsgroup name."_s},
        {u".starts"_s, u"Newsgroup names cannot start with a dot (.)"_s},
        {u"ends."_s, u"Newsgroup names cannot end with a dot (.)"_s},
        {u"alt.binaries.test"_s, u"Newsgroup already exists in the list!"_s}};
    for (const auto &[name, text] : refused) {
        Prompts::setNextInput(name);
        d.cmdAddgroup_Click();
        EXPECT_EQ(Prompts::shown().last().text, text);
    }
    Prompts::setNextInput(u"ALT.binaries.TEST"_s); // differs in case only: accepted
    d.cmdAddgroup_Click();
    EXPECT_EQ(d.lstNewsgroups->count(), 2);
    EXPECT_EQ(loadNewsgroups(), (QStringList{u"alt.binaries.test"_s, u"ALT.binaries.TEST"_s}));

    // OK: the subject was left as it was, so it asks; No keeps the dialog open.
    d.txtSubject->setText(u"Pics"_s);
    appSettings().Subject = u"Pics"_s;
    FileSetupDialog same({test::homeFile(u"a.bin"_s)});
    same.lstNewsgroups->item(0)->setSelected(true);
    Prompts::reset();
    Prompts::setNextAnswer(PromptAnswer::No);
    EXPECT_FALSE(same.cmdOk_Click());
    EXPECT_EQ(Prompts::shown().last().text, u"You haven't changed the subject line.\r\nIs that OK?"_s);
    EXPECT_EQ(uploadQueue().count(), 0);
    appSettings().ConfirmSubject = 1;
    Prompts::reset();
    EXPECT_TRUE(same.cmdOk_Click());
    EXPECT_TRUE(Prompts::shown().isEmpty());
    EXPECT_EQ(uploadQueue().count(), 1);
    EXPECT_EQ(uploadQueue().item(1).subject, u"Pics - [1/1] - \"a.bin\" yEnc"_s);
    EXPECT_EQ(settingsFile().read(u"Settings"_s, u"GroupNames"_s), u"0|"_s);
}

TEST(FileSetup, ValidationMessages)
{
    ASSERT_TRUE(writeDefaultSettings());
    test::writeAll(test::homeFile(u"a.bin"_s), "abc");
    FileSetupDialog d({test::homeFile(u"a.bin"_s)});
    d.txtSubject->setText(u"  "_s);
    EXPECT_FALSE(d.cmdOk_Click());
    EXPECT_EQ(Prompts::shown().last().text, u"No subject specified."_s);
    d.txtSubject->setText(u"New"_s);
    EXPECT_FALSE(d.cmdOk_Click());
    EXPECT_EQ(Prompts::shown().last().text, u"No newsgroup selected."_s);
    d.lstNewsgroups->addItem(u"a.b"_s);
    d.lstNewsgroups->item(0)->setSelected(true);
    d.chkNZB->setChecked(true);
    d.txtNZBPath->clear();
    EXPECT_FALSE(d.cmdOk_Click());
    EXPECT_EQ(Prompts::shown().last().text, u"No NZB path selected."_s);
}

TEST_F(Commands, VerifyFinishedItemsAndPostWhatIsMissingAgain)
{
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    AppSettings &s = appSettings();
    s.Port = server.port();
    s.setMaxLines(1000);
    const QByteArray data = test::randomData(128000 * 3, 5);
    test::writeAll(test::homeFile(u"v.bin"_s), data);
    uploadQueue().append(UploadQueue::newItem(u"V"_s, u"alt.test"_s, test::homeFile(u"v.bin"_s), 3, u"t"_s,
                                              {u"p1@x"_s, u"p2@x"_s, u"p3@x"_s}));
    window->StartOrStop();
    for (QDeadlineTimer d(10000); window->engine() && !d.hasExpired();)
        spin(20);
    ASSERT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_TRUE(window->findChild<QLabel *>(u"lblChecked"_s)->text().contains(u"checked 3 / missing 0"_s));

    server.held.remove("p2@x");
    server.refuseKnownIds = true; // the old ID is refused: part 2 goes out under a new one
    select({1});
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window->verifySelected();
    for (QDeadlineTimer d(10000); (window->verifier() || window->engine() || server.articles.size() < 5) && !d.hasExpired();)
        spin(20);
    ASSERT_FALSE(Prompts::shown().isEmpty());
    EXPECT_TRUE(Prompts::shown().last().text.contains(u"V: 2 of 3 parts on the server, missing: 2"_s))
        << qPrintable(Prompts::shown().last().text);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_EQ(server.accepted().size(), 4); // only part 2, once more
    EXPECT_NE(uploadQueue().item(1).messageids.at(1), u"p2@x"_s);
    EXPECT_TRUE(server.held.contains(uploadQueue().item(1).messageids.at(1).toUtf8()));
}
