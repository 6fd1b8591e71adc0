#include "application/Collection.h"
#include "application/UpdateCheck.h"
#include "common/AppState.h"
#include "common/MessageTable.h"
#include "config/Language.h"
#include "common/Clock.h"
#include "common/Log.h"
#include "engine/PostingRun.h"
#include "application/CommandLine.h"
#include "shell/FileSetupDialog.h"
#include "shell/FillSegmentDialog.h"
#include "shell/MainWindow.h"
#include "shell/NewsgroupsDialog.h"
#include "shell/Prompts.h"
#include "shell/SettingsDialog.h"
#include "shell/SpeedGraph.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/Newsgroups.h"
#include "storage/NzbFile.h"
#include "storage/ProfileFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/ScriptedNntpServer.h"
#include "support/FixedClock.h"
#include "support/TestEnvironment.h"
#include "support/VersionServer.h"
#include "support/YencDecode.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTreeView>
#include <QTreeWidget>
#include <QProgressBar>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <QPushButton>
#include <QTest>

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
            window->engine()->stop();
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

TEST_F(Commands, DeleteAsksOnlyForRowsNotPostedYet)
{
    queue(3);
    uploadQueue().item(3).state = UploadState::PostedOK;
    const auto pressDelete = [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QCoreApplication::sendEvent(window->uploadList(), &key);
    };
    select({1, 3});
    Prompts::reset();
    Prompts::setNextAnswer(PromptAnswer::No);
    pressDelete();
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text,
              u"Remove the 2 selected rows from the queue? Not all of them are posted yet."_s);
    EXPECT_EQ(order(), u"1,2,3"_s);
    select({3});
    pressDelete(); // posted: no question
    EXPECT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(order(), u"1,2"_s);
}

TEST_F(Commands, MovesKeepRowsAndElementsPaired)
{
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
    EXPECT_FALSE(window->runs().scheduleRunning());
}

TEST(FileSetup, NewsgroupRulesAndSubjectQuestion)
{
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    test::writeAll(test::homeFile(u"a.bin"_s), "abc");
    appSettings().Subject = u"Last time"_s;
    FileSetupDialog d({test::homeFile(u"a.bin"_s)});
    EXPECT_EQ(d.txtSubject->selectedText(), u"Last time"_s) << "typing replaces it";
    EXPECT_EQ(d.windowTitle(), u"Adding 1 file"_s);
    EXPECT_EQ(d.txtNZBPath->text(), test::homeFile(u"Last time.nzb"_s)); // named after the subject
    d.txtSubject->setText(u"Trip: day 1"_s);
    EXPECT_EQ(d.txtNZBPath->text(), test::homeFile(u"Trip_ day 1.nzb"_s));
    d.txtNZBPath->setText(u"/elsewhere/mine.nzb"_s);
    d.txtNZBPath->setModified(true); // as typing leaves it
    d.txtSubject->setText(u"Last time"_s);
    EXPECT_EQ(d.txtNZBPath->text(), u"/elsewhere/mine.nzb"_s);
    Prompts::reset();
    Prompts::setNextInput(u"alt.binaries.test"_s);
    d.cmdAddgroup_Click(); // refused, and offered again as typed (then cancelled)
    ASSERT_EQ(Prompts::shown().size(), 3);
    EXPECT_EQ(Prompts::shown().at(1).text, u"Newsgroup already exists in the list!"_s);
    EXPECT_EQ(Prompts::shown().at(2).value, u"alt.binaries.test"_s);
    Prompts::setNextInput(u"ALT.binaries.TEST"_s); // differs in case only: accepted, and selected
    d.cmdAddgroup_Click();
    EXPECT_TRUE(d.lstNewsgroups->item(1)->isSelected());
    EXPECT_EQ(loadNewsgroups(), (QStringList{u"alt.binaries.test"_s, u"ALT.binaries.TEST"_s}));

    // Enter is OK even where the focus is on the list's own buttons.
    d.show();
    QPushButton *addGroup = nullptr;
    for (QPushButton *b : d.findChildren<QPushButton *>())
        if (b->text() == msg(14))
            addGroup = b;
    ASSERT_TRUE(addGroup);
    d.lstNewsgroups->clearSelection();
    Prompts::reset();
    QTest::keyClick(addGroup, Qt::Key_Return);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown().first().text, u"No newsgroup selected."_s); // OK's own check
    d.hide();

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

TEST(FileSetup, FilesOpenedFromAFileManagerGoToTheAddingDialog)
{
    // The desktop file's "%F": files and folders, no switches.
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    appSettings().GroupNames = u"0|"_s;
    appSettings().Subject = u"Opened"_s;
    appSettings().ConfirmSubject = 1;
    appSettings().KeepGroups = 1;
    writeSettingKeys({u"GroupNames"_s, u"Subject"_s, u"ConfirmSubject"_s, u"KeepGroups"_s}); // the window reads them at its start
    const QString folder = test::homeFile(u"opened"_s);
    test::writeAll(folder + u"/b.bin"_s, "bb");
    test::writeAll(folder + u"/a.bin"_s, "aa");
    test::writeAll(test::homeFile(u"single.bin"_s), "s");
    EXPECT_TRUE(filesToOpen({folder, u"/no/such/file"_s}).isEmpty());
    EXPECT_TRUE(filesToOpen({u"/F"_s, folder}).isEmpty());
    MainWindow::setStartupWait(0);
    MainWindow window({test::homeFile(u"single.bin"_s), folder});
    window.Form_Load();
    for (QDeadlineTimer d(5000); uploadQueue().count() < 3 && !d.hasExpired();)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_EQ(uploadQueue().count(), 3);
    QStringList paths;
    for (int i = 1; i <= 3; ++i)
        paths << uploadQueue().item(i).path;
    EXPECT_EQ(paths, (QStringList{folder + u"/a.bin"_s, folder + u"/b.bin"_s, test::homeFile(u"single.bin"_s)}));
    EXPECT_EQ(uploadQueue().item(1).newsgroups, u"alt.binaries.test"_s);
    EXPECT_EQ(window.engine(), nullptr); // queued, not posted
}

TEST(FileSetup, ObfuscatedCollectionsAndAnNzbKeptOffTheServerAreRemembered)
{
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    appSettings().ConfirmSubject = 1;
    appSettings().EnableNZB = 1;
    const QString folder = test::homeFile(u"secret"_s);
    test::writeAll(folder + u"/a.bin"_s, "aa");
    test::writeAll(folder + u"/b.bin"_s, "bb");
    {
        FileSetupDialog d({folder + u"/a.bin"_s, folder + u"/b.bin"_s});
        EXPECT_FALSE(d.chkObfuscate->isChecked()); // off by default
        EXPECT_TRUE(d.chkPostNZB->isChecked());
        d.chkNZB->setChecked(false);
        EXPECT_FALSE(d.chkPostNZB->isEnabled()); // only with an NZB
        d.chkNZB->setChecked(true);
        d.txtSubject->setText(u"Secret"_s);
        d.lstNewsgroups->item(0)->setSelected(true);
        d.chkObfuscate->setChecked(true);
        d.chkPostNZB->setChecked(false);
        ASSERT_TRUE(d.run());
    }
    // Two items, obfuscated alike (one poster, a name each); the NZB written, no item.
    ASSERT_EQ(uploadQueue().count(), 2);
    const UploadItem &a = uploadQueue().item(1), &b = uploadQueue().item(2);
    EXPECT_TRUE(a.disguise.on() && b.disguise.on());
    EXPECT_EQ(a.disguise.from, b.disguise.from);
    EXPECT_NE(a.disguise.name, b.disguise.name);
    EXPECT_FALSE(a.messageids.first().contains(u"Part"_s));
    EXPECT_TRUE(QFile::exists(a.privateNzb));
    EXPECT_TRUE(test::readAll(a.privateNzb).contains("&quot;a.bin&quot;")); // the real names
    // The queue keeps it across a restart.
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 2);
    EXPECT_EQ(uploadQueue().item(1).disguise.name, a.disguise.name);
    EXPECT_FALSE(uploadQueue().item(1).privateNzb.isEmpty());
    // The dialog offers the same the next time.
    ASSERT_TRUE(ReadINIFile());
    FileSetupDialog again({folder + u"/a.bin"_s});
    EXPECT_TRUE(again.chkObfuscate->isChecked());
    EXPECT_FALSE(again.chkPostNZB->isChecked());
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

// A run seen whole: the overall bar climbs to the end, the graph gets a
// sample a tick with the limit as its line, what posting greys out says why,
// and the run ends with its summary in the status bar and the log.
TEST_F(Commands, RunShowsOverallProgressSpeedGraphAndSummary)
{
    PostTimeouts &timeouts = PostTimeouts::current();
    const PostTimeouts saved = timeouts;
    timeouts.statisticsMs = 50;
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    AppSettings &s = appSettings();
    s.Port = server.port();
    s.setMaxLines(1000);
    for (int i = 1; i <= 3; ++i) {
        const QString path = test::homeFile(u"f%1"_s.arg(i));
        test::writeAll(path, test::randomData(128000 * 2, quint32(i)));
        uploadQueue().append(UploadQueue::newItem(u"S%1"_s.arg(i), u"alt.test"_s, path, 2, u"t"_s,
                                                  {u"a%1@x"_s.arg(i), u"b%1@x"_s.arg(i)}));
    }
    QFile::remove(test::homeFile(u"f3"_s)); // gone before its turn: one failed item
    window->speedBox()->setText(u"400"_s);
    auto *bar = window->findChild<QProgressBar *>(u"prgOverall"_s);
    auto *graph = window->findChild<SpeedGraph *>(u"speedGraph"_s);
    ASSERT_TRUE(bar && graph);
    QAction *settings = window->findChild<QAction *>(u"tbSettings"_s);
    ASSERT_TRUE(settings);
    const QString idleTip = settings->toolTip();
    // The run's texts never widen the window (a laptop's 1366 pixels).
    window->resize(900, 600);
    spin(50);
    const int width = window->width();
    window->StartOrStop();
    ASSERT_NE(window->engine(), nullptr);
    EXPECT_FALSE(settings->isEnabled());
    EXPECT_EQ(settings->toolTip(), idleTip + u" (not while posting)"_s);
    QList<int> values;
    for (QDeadlineTimer d(20000); window->engine() && !d.hasExpired();) {
        spin(20);
        if (values.isEmpty() || values.last() != bar->value())
            values << bar->value();
    }
    timeouts = saved;
    ASSERT_FALSE(window->engine());
    window->setCheckText(QString(300, u'x')); // a long line in the status bar
    spin(50);
    EXPECT_EQ(window->width(), width);
    EXPECT_LE(window->minimumSizeHint().width(), 1366);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_GT(values.size(), 2) << "the bar moved on in steps";
    // Four parts of six: the missing file's two were not posted.
    EXPECT_EQ(bar->value(), 667);
    EXPECT_EQ(window->findChild<QLabel *>(u"lblOverall"_s)->text(), u"512.0 kB of 768.0 kB posted (67%)"_s);
    EXPECT_GT(*std::max_element(graph->samples().begin(), graph->samples().end()), 0);
    EXPECT_EQ(graph->limit(), 400000);
    EXPECT_TRUE(settings->isEnabled());
    EXPECT_EQ(settings->toolTip(), idleTip);
    const QString summary = window->statusBar()->currentMessage();
    EXPECT_TRUE(summary.startsWith(u"Run finished: 2 items posted, 1 failed, 4 parts, 512.0 kB in "_s)) << qPrintable(summary);
    EXPECT_TRUE(test::logHas(summary));

    // A new run starts with an empty graph and the summary gone.
    test::writeAll(test::homeFile(u"f4"_s), "y");
    queue(4);
    window->StartOrStop();
    EXPECT_TRUE(window->statusBar()->currentMessage().isEmpty());
    EXPECT_TRUE(graph->samples().isEmpty());
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

TEST_F(Commands, FillDialogRowsTypedPartsAndRefusals)
{
    QString problem;
    EXPECT_EQ(parsePartList(u"2, 5, 9-12"_s, 12, &problem), (QList<int>{2, 5, 9, 10, 11, 12}));
    EXPECT_EQ(parsePartList(u" 3 - 4 ,,2,3"_s, 12, &problem), (QList<int>{2, 3, 4}));
    for (const QString &bad : {u"0"_s, u"13"_s, u"a-b"_s, u"5-3"_s, u"1;2"_s, u"-2"_s, u"99999999999"_s})
        EXPECT_FALSE(parsePartList(bad, 12, &problem)) << qPrintable(bad);

    frmFillSegment d(7, window.get());
    ASSERT_EQ(d.lvwSegments->topLevelItemCount(), 7);
    EXPECT_EQ(d.lvwSegments->topLevelItem(6)->text(0), u"File Part 7"_s);
    const auto ok = [&d](bool expected, const QString &said) {
        Prompts::reset();
        EXPECT_EQ(d.cmdOk_Click(), expected);
        EXPECT_EQ(Prompts::shown().size(), said.isEmpty() ? 0 : 1);
        if (!said.isEmpty() && !Prompts::shown().isEmpty()) {
            EXPECT_EQ(Prompts::shown()[0].text, said);
        }
    };
    ok(false, u"No parts selected!"_s);
    d.txtParts->setText(u"8"_s);
    ok(false, u"No such part: 8 (this file has parts 1 to 7)"_s);
    // Ticked rows and typed parts together, ascending, each once.
    d.tick(5);
    d.tick(3);
    d.txtParts->setText(u"5, 1"_s);
    ok(true, QString());
    EXPECT_EQ(d.parts(), (QList<int>{1, 3, 5}));
    int opened = 0;
    d.openSettings = [&opened] { ++opened; };
    appSettings().Server.clear();
    ok(false, u"No newsserver specified!"_s);
    EXPECT_EQ(opened, 1);
}

TEST_F(Commands, FillPostsExactlyTheChosenPartsOfOneFinishedFile)
{
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    AppSettings &s = appSettings();
    s.Port = server.port();
    s.setMaxLines(1000);
    test::writeAll(test::homeFile(u"fill.bin"_s), test::randomData(128000 * 6 + 50, 6));
    QStringList ids;
    for (int k = 1; k <= 7; ++k)
        ids << u"p%1@x"_s.arg(k);
    uploadQueue().append(UploadQueue::newItem(u"F"_s, u"alt.test"_s, test::homeFile(u"fill.bin"_s), 7, u"t"_s, ids));
    queue(1);
    uploadQueue().setState(1, UploadState::PostedOK);
    QAction *fill = window->findChild<QAction *>(u"mnuFillSegment"_s);
    ASSERT_TRUE(fill);
    // Only for one finished row whose file is still there.
    select({1});
    window->updateUploadMenu(true);
    EXPECT_TRUE(fill->isVisible());

    frmFillSegment d(uploadQueue().item(1).maxparts, window.get());
    d.tick(5);
    d.tick(2);
    ASSERT_TRUE(d.cmdOk_Click());
    logModel().clear();
    ASSERT_TRUE(SaveQueue());
    window->startFill(1, d.parts());
    for (QDeadlineTimer t(10000); window->engine() && !t.hasExpired();)
        spin(20);
    ASSERT_FALSE(window->engine());
    QList<int> arrived;
    for (const test::ReceivedArticle &a : server.accepted())
        arrived << test::decodeArticle(a.raw).part;
    EXPECT_EQ(arrived, (QList<int>{2, 5}));
    EXPECT_EQ(logModel().line(0).text, u"Upload individual parts."_s);
    // New IDs replace the old ones of those parts, so an NZB lists what the server holds.
    const QStringList now = uploadQueue().item(1).messageids;
    for (int k = 1; k <= 7; ++k)
        EXPECT_EQ(now.at(k - 1) == ids.at(k - 1), k != 2 && k != 5) << k;
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    uploadQueue().clear(); // and Queue.dat holds them too
    ASSERT_EQ(LoadStartXML(), 2);
    EXPECT_EQ(uploadQueue().item(1).messageids, now);

    QFile::remove(test::homeFile(u"fill.bin"_s));
    select({1});
    window->updateUploadMenu(true);
    EXPECT_FALSE(fill->isVisible());
}

TEST_F(Commands, AnNzbThatCouldNotBeWrittenFailsAndIsWrittenLaterFromTheListMenu)
{
    const QString folder = test::homeFile(u"later"_s);
    QDir().mkpath(folder);
    CollectionRequest r{{folder + u"/a.bin"_s, folder + u"/b.bin"_s}, u"Summer"_s, u"alt.test"_s,
                        folder + u"/gone/summer.nzb"_s, {}};
    for (const QString &f : r.files)
        test::writeAll(f, "data");
    EXPECT_EQ(queueCollection(r), 2);
    ASSERT_EQ(uploadQueue().count(), 3);
    const UploadItem &failed = uploadQueue().item(3);
    EXPECT_EQ(failed.state, UploadState::FileError);
    EXPECT_TRUE(failed.note.startsWith(u"The NZB file could not be written: "_s)) << qPrintable(failed.note);
    EXPECT_EQ(window->uploadList()->model()->index(2, 1).data().toString(), failed.note);

    // Posted meanwhile; the user mends the cause and asks for the NZB from the list.
    uploadQueue().setState(1, UploadState::PostedOK);
    uploadQueue().setState(2, UploadState::PostedOK);
    QDir().mkpath(folder + u"/gone"_s);
    Prompts::setNextFileNames({folder + u"/gone/summer"_s}); // typed without ".nzb"
    QMenu *menu = window->uploadMenu();
    QTimer::singleShot(0, menu, [&] {
        QAction *write = menu->findChild<QAction *>(u"mnuNZBThisCollection"_s);
        EXPECT_TRUE(write && write->isEnabled());
        if (write)
            write->trigger();
        menu->close();
    });
    emit window->uploadList()->customContextMenuRequested(window->uploadList()->visualRect(
        window->uploadList()->model()->index(0, 0)).center());
    QString error;
    const QList<NzbListing> listed = readNzb(folder + u"/gone/summer.nzb"_s, &error);
    ASSERT_EQ(listed.size(), 2) << qPrintable(error); // the files, not the NZB itself
    EXPECT_EQ(listed[1].segments.size(), uploadQueue().item(2).messageids.size());
    EXPECT_EQ(listed[1].segments.value(0).messageId, uploadQueue().item(2).messageids.value(0));
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_EQ(uploadQueue().item(2).state, UploadState::PostedOK);
    EXPECT_EQ(window->engine(), nullptr);
}

TEST_F(Commands, NewsgroupChangesAndFillingAreOfferedWhereTheyApply)
{
    test::writeAll(test::homeFile(u"done.bin"_s), "x");
    uploadQueue().append(UploadQueue::newItem(u"done"_s, u"a.b"_s, test::homeFile(u"done.bin"_s), 1, u"t"_s, {u"d@x"_s}));
    uploadQueue().setState(1, UploadState::PostedOK);
    queue(1); // row 2, queued
    const auto action = [this](const QString &name) { return window->findChild<QAction *>(name); };
    QAction *selected = action(u"mnuNewsgroupSelected"_s), *all = action(u"mnuNewsgroupAll"_s), *fill = action(u"mnuFillSegment"_s);
    ASSERT_TRUE(selected && all && fill);
    const struct
    {
        QList<int> rows;
        bool selected, fill;
    } states[] = {{{2}, true, false}, {{1}, false, true}, {{1, 2}, true, false}, {{}, false, false}};
    for (const auto &s : states) {
        select(s.rows);
        window->updateUploadMenu(true); // as the list's menu opens
        EXPECT_EQ(selected->isEnabled(), s.selected) << s.rows.size();
        EXPECT_EQ(fill->isEnabled() && fill->isVisible(), s.fill) << s.rows.size();
        EXPECT_TRUE(all->isEnabled());
    }
    select({2});
    window->updateUploadMenu(true);
    selected->trigger(); // opens the dialog (answered at once here) and changes nothing
    EXPECT_EQ(uploadQueue().item(2).newsgroups, u"a.b"_s);
    setPostingInProgress(true);
    window->updateUploadMenu(true);
    EXPECT_FALSE(selected->isEnabled());
    EXPECT_FALSE(all->isEnabled());
    setPostingInProgress(false);
    // Re-Queue only where it changes something: a paused row, never a posted one.
    QAction *requeueAll = action(u"mnuQueueAll"_s), *requeueSelected = action(u"mnuQueueSelected"_s);
    ASSERT_TRUE(requeueAll && requeueSelected);
    window->updateUploadMenu(true);
    EXPECT_FALSE(requeueAll->isEnabled()); // row 2 is queued already
    uploadQueue().setState(2, UploadState::Paused);
    select({1});
    window->updateUploadMenu(true);
    EXPECT_TRUE(requeueAll->isEnabled());
    EXPECT_FALSE(requeueSelected->isEnabled());
    requeueAll->trigger();
    EXPECT_EQ(uploadQueue().item(2).state, UploadState::Queued);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    uploadQueue().setState(2, UploadState::PostedOK);
    window->updateUploadMenu(true);
    EXPECT_FALSE(all->isEnabled()); // everything posted
    EXPECT_FALSE(requeueAll->isEnabled());
}

TEST_F(Commands, ChangeNewsgroupsLeavesPostedRowsAndTakesANameTwice)
{
    saveNewsgroups({u"alt.binaries.one"_s, u"alt.binaries.two"_s});
    queue(5);
    uploadQueue().setState(2, UploadState::Paused);
    uploadQueue().setState(3, UploadState::Posting, 1);
    uploadQueue().setState(4, UploadState::PostedOK);
    uploadQueue().setState(5, UploadState::FileError);
    frmNewsgroups d(true, {}, window.get());
    EXPECT_EQ(d.windowTitle(), u"Change Newsgroups"_s);
    ASSERT_EQ(d.lstNewsgroups->count(), 2);
    EXPECT_TRUE(d.lstNewsgroups->selectedItems().isEmpty());
    Prompts::reset();
    EXPECT_FALSE(d.cmdOk_Click());
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text, u"No newsgroup selected. "_s);

    Prompts::reset();
    Prompts::setNextInput(u"a.b."_s);
    Prompts::setNextInput(u"alt.binaries.two"_s);
    d.cmdAddgroup_Click(); // a refused name is offered again until one is taken
    ASSERT_EQ(Prompts::shown().size(), 3);
    EXPECT_EQ(Prompts::shown()[1].text, u"Newsgroup names can't end with a dot (.)"_s);
    EXPECT_EQ(Prompts::shown()[2].value, u"a.b."_s);
    ASSERT_EQ(d.lstNewsgroups->count(), 3); // the same name twice
    EXPECT_EQ(d.lstNewsgroups->item(2)->text(), u"alt.binaries.two"_s);
    EXPECT_EQ(loadNewsgroups().size(), 2); // saved by OK, not by Add

    d.lstNewsgroups->item(0)->setSelected(true);
    d.lstNewsgroups->item(2)->setSelected(true);
    ASSERT_TRUE(d.cmdOk_Click());
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(uploadQueue().item(i).newsgroups, i == 4 ? u"a.b"_s : u"alt.binaries.one,alt.binaries.two"_s) << i;
    EXPECT_EQ(loadNewsgroups().size(), 3);

    // The selected rows only; Remove saves the list at once.
    select({1});
    frmNewsgroups one(false, {1}, window.get());
    one.lstNewsgroups->item(1)->setSelected(true);
    ASSERT_TRUE(one.cmdOk_Click());
    EXPECT_EQ(uploadQueue().item(1).newsgroups, u"alt.binaries.two"_s);
    EXPECT_EQ(uploadQueue().item(2).newsgroups, u"alt.binaries.one,alt.binaries.two"_s);
    one.cmdRemove_Click();
    EXPECT_EQ(loadNewsgroups(), (QStringList{u"alt.binaries.one"_s, u"alt.binaries.two"_s}));
}

TEST_F(Commands, UpdateCheckAnswersOnRequestAndSpeaksAtStartUpOnlyWithNews)
{
    const auto check = [this](const std::optional<QByteArray> &published, bool onRequest) {
        test::VersionServer server(published);
        setVersionFileUrl(published ? server.url() : QUrl(u"http://127.0.0.1:1/version.txt"_s));
        Prompts::reset();
        logModel().clear();
        Prompts::setNextAnswer(PromptAnswer::No);
        if (onRequest) {
            // As the user asks: Tools, "Check Latest Version".
            QAction *menu = window->findChild<QAction *>(u"mnuUpdates"_s);
            ASSERT_TRUE(menu && menu->isEnabled());
            menu->trigger();
        } else {
            window->checkForUpdates(false);
        }
        for (QDeadlineTimer t(10000); window->updateCheck()->isRunning() && !t.hasExpired();)
            spin(20);
        setVersionFileUrl({});
    };
    const QByteArray running = versionNumber().toLatin1();
    check(running, true);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text, u"Your version of Tessaly Poster is up-to-date."_s);
    check(QByteArray("0.0.1"), true);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text,
              u"A new version of Tessaly Poster is available: 0.0.1\r\n\r\nWould you like to visit the website?"_s);
    check(std::nullopt, true);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_EQ(Prompts::shown()[0].text, u"Online version info not found."_s);

    check(running, false);
    EXPECT_TRUE(Prompts::shown().isEmpty());
    EXPECT_EQ(logModel().count(), 0);
    check(QByteArray("99.0.0"), false);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_TRUE(Prompts::shown()[0].text.contains(u"available: v99.0.0\r\n"_s));
    check(QByteArray("<!DOCTYPE html>"), false);
    EXPECT_TRUE(Prompts::shown().isEmpty());
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_EQ(logModel().line(0).text, u"Update info not found!"_s);
    EXPECT_EQ(logModel().line(0).colour, LogColour::Red);

    // At start-up the window is up before the answer comes; up to date, it says nothing.
    test::VersionServer server(running);
    setVersionFileUrl(server.url());
    appSettings().CheckUpdates = 1;
    ASSERT_EQ(writeSettingKeys({u"CheckUpdates"_s}), QString());
    Prompts::reset();
    logModel().clear();
    MainWindow second;
    second.Form_Load();
    ASSERT_TRUE(second.updateCheck());
    EXPECT_TRUE(second.updateCheck()->isRunning());
    for (QDeadlineTimer t(10000); second.updateCheck()->isRunning() && !t.hasExpired();)
        spin(20);
    setVersionFileUrl({});
    EXPECT_FALSE(second.updateCheck()->isRunning());
    EXPECT_TRUE(Prompts::shown().isEmpty());
    for (const LogLine &l : logModel().lines())
        EXPECT_FALSE(l.text.contains(u"Update"_s)) << qPrintable(l.text);
}
