// The job dialog and the main window's Rar & Par pane, with the real tools.
#include "common/Log.h"
#include "common/MessageTable.h"
#include "config/Language.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"
#include "shell/RarParDialog.h"
#include "shell/SettingsDialog.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/Newsgroups.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTabWidget>
#include <QThread>
#include <QToolBar>

#include <functional>
#include <QLineEdit>
#include <QListWidget>
#include <QTreeView>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;

namespace {

class RarPar : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeDefaultSettings());
        saveNewsgroups({u"alt.binaries.test"_s, u"alt.binaries.misc"_s});
        appSettings().Subject = u"Old subject"_s;
        appSettings().ConfirmSubject = 1;
        appSettings().setMaxLines(400);
        in_ = test::home() + u"/My Pics"_s;
        QDir().mkpath(in_);
        test::writeAll(in_ + u"/a.jpg"_s, test::randomData(150000, 1));
        test::writeAll(in_ + u"/b.jpg"_s, test::randomData(100000, 2));
    }

    // A dialog filled in as a user would for the folder.
    std::unique_ptr<frmRarPar> filledDialog()
    {
        auto d = std::make_unique<frmRarPar>();
        d->addInputFolder(in_);
        d->cboSplitSize->setEditText(u"100000"_s);
        d->chkCalculateEff->setChecked(false);
        d->txtSubject->setText(u"Holiday Pics"_s);
        d->lstNewsgroups->item(0)->setSelected(true);
        return d;
    }

    QStringList shownTexts() const
    {
        QStringList texts;
        for (const ShownPrompt &p : Prompts::shown())
            texts << p.text;
        return texts;
    }


    static bool waitFor(const std::function<bool()> &done) { return test::waitFor(done, 30000); }

    QString in_;
};

} // namespace

TEST_F(RarPar, DialogChecksItsInputAsTyped)
{
    frmRarPar d;
    d.addInputFolder(in_);
    EXPECT_EQ(d.txtColName->text(), u"My Pics"_s);
    EXPECT_EQ(d.txtNZBPath->text(), u"My Pics.nzb"_s);
    EXPECT_EQ(d.txtArchiveName->text(), u"My Pics.rar"_s);
    EXPECT_EQ(d.txtOutputPath->text(), in_ + u'/');
    EXPECT_FALSE(d.chkSeparate->isEnabled());
    test::writeAll(test::homeFile(u"x.nfo"_s), QByteArray(2048, 'x'));
    d.addInputFiles({test::homeFile(u"x.nfo"_s)});
    EXPECT_EQ(d.totalSize(), 252048);
    EXPECT_EQ(d.windowTitle(), u"Rar & Par2 - (246 KB - 0.2 MB - 0.00 GB)"_s);
    EXPECT_EQ(d.txtOutputPath->text(), test::home() + u'/'); // the folder of the first item
    EXPECT_TRUE(d.chkSeparate->isEnabled());
    d.lvwFilesFolders->item(1)->setSelected(true);
    d.cmdRemoveItem_Click();
    EXPECT_EQ(d.totalSize(), 250000);
    d.cmdClearList_Click();
    EXPECT_EQ(d.totalSize(), 0);
    EXPECT_EQ(d.windowTitle(), u"Rar & Par2"_s);

    Prompts::reset();
    d.addInputFolder(u"/"_s);
    d.cboRedundancy->setEditText(u"150"_s);
    EXPECT_EQ(d.cboRedundancy->currentText(), u"100"_s);
    d.cboRedundancy->setEditText(QString());
    EXPECT_EQ(d.cboRedundancy->currentText(), u"1"_s);
    d.txtArchiveName->setText(u"ab"_s);
    emit d.txtArchiveName->textEdited(u"a:b"_s);
    EXPECT_EQ(d.txtArchiveName->text(), u"ab"_s);
    d.chkCreateZip->click();
    EXPECT_FALSE(d.cboSplitSize->isEnabled());
    EXPECT_EQ(shownTexts(), (QStringList{msg(200), msg(198), messageTable().message(201), msg(199)}));
    d.chkCreateZip->click();
    EXPECT_TRUE(d.cboSplitSize->isEnabled());
}

TEST_F(RarPar, AddValidatesAddsSeparateJobsAndRemembersTheOptions)
{
    auto d = filledDialog();
    d->lstNewsgroups->item(0)->setSelected(false);
    Prompts::reset();
    EXPECT_FALSE(d->cmdAdd_Click());
    EXPECT_EQ(shownTexts(), QStringList{msg(25)});
    EXPECT_FALSE(jobTree().hasJobs());

    // The subject left as it was is asked about; No adds nothing.
    appSettings().ConfirmSubject = 0;
    d->lstNewsgroups->item(1)->setSelected(true);
    d->txtSubject->setText(u"Old subject"_s);
    Prompts::setNextAnswer(PromptAnswer::No);
    EXPECT_FALSE(d->cmdAdd_Click());
    EXPECT_FALSE(jobTree().hasJobs());

    d->txtSubject->setText(u"Holiday Pics"_s);
    d->addInputFiles({in_ + u"/a.jpg"_s});
    d->chkSeparate->setChecked(true);
    d->chkNZB->setChecked(true);
    d->cboCompression->setCurrentIndex(2);
    ASSERT_TRUE(d->cmdAdd_Click());
    EXPECT_EQ(jobTree().rootCount(), 2);
    EXPECT_EQ(jobTree().rootAt(0)->caption, u"My Pics"_s);
    EXPECT_EQ(jobTree().rootAt(1)->caption, u"a"_s);
    EXPECT_EQ(jobTree().leafCaptions(1).at(5), u"a.nzb"_s);
    EXPECT_TRUE(jobTree().leafCaptions(1).at(0).contains(u"-m5 -v100000b -- "_s));
    EXPECT_TRUE(logHas(u"Adding 2 Rar & Par jobs."_s));
    EXPECT_EQ(test::readAll(jobFilePath()).count("Image=\"1\""), 2);

    // Without an archive only the recovery options apply; the job names the
    // files themselves and no archiver.
    d->chkSeparate->setChecked(false);
    d->chkNoArchive->click();
    EXPECT_FALSE(d->cboCompression->isEnabled());
    EXPECT_FALSE(d->chkCreateZip->isEnabled());
    EXPECT_FALSE(d->cboSplitSize->isEnabled());
    ASSERT_TRUE(d->cmdAdd_Click());
    EXPECT_TRUE(jobTree().leafCaptions(2).at(0).startsWith(u"none -- \""_s)) << jobTree().leafCaptions(2).at(0).toStdString();
    EXPECT_TRUE(jobTree().leafCaptions(2).at(1).endsWith(u"/<TempFolder>/My Pics.par2\" \""_s + d->txtOutputPath->text() + u"<TempFolder>/*.*\""_s))
        << jobTree().leafCaptions(2).at(1).toStdString();
    EXPECT_EQ(appSettings().NoArchive, 1);
    d->chkNoArchive->click();
    EXPECT_TRUE(d->cboCompression->isEnabled());

    // Remembered, and offered again when the setting asks for it.
    EXPECT_EQ(appSettings().GroupNames, u"1|"_s);
    appSettings().StoreRarPar = 1;
    frmRarPar again;
    EXPECT_EQ(again.cboSplitSize->currentText(), u"100000"_s);
    EXPECT_EQ(again.cboCompression->currentIndex(), 2);
    EXPECT_FALSE(again.chkCalculateEff->isChecked());
}

TEST_F(RarPar, TheWindowRunsStopsMovesAndClearsJobs)
{
    MainWindow::setStartupWait(0);
    MainWindow window;
    window.Form_Load();
    appSettings().Server = u"127.0.0.1"_s;
    appSettings().Nickname = u"me"_s;
    appSettings().Email = u"me@example.org"_s;
    auto d = filledDialog();
    ASSERT_TRUE(d->cmdAdd_Click());
    d->txtColName->setText(u"Second"_s);
    ASSERT_TRUE(d->cmdAdd_Click());

    // Moving and clearing need a selected job; each change is saved. A
    // button that cannot be used says why.
    QAction *up = window.findChild<QAction *>(u"tbJobUp"_s);
    ASSERT_TRUE(up);
    EXPECT_FALSE(up->isEnabled());
    EXPECT_EQ(up->toolTip(), u"UP (select a job first)"_s);
    QTreeView *view = window.jobView();
    view->setCurrentIndex(view->model()->index(1, 0));
    EXPECT_TRUE(up->isEnabled());
    EXPECT_EQ(up->toolTip(), u"UP"_s);
    window.moveSelectedJob(MainWindow::JobMove::Top);
    EXPECT_EQ(jobTree().rootAt(0)->caption, u"Second"_s);
    EXPECT_TRUE(test::readAll(jobFilePath()).indexOf("\"Second\"") < test::readAll(jobFilePath()).indexOf("\"My Pics\""));
    window.moveSelectedJob(MainWindow::JobMove::Down);
    EXPECT_EQ(jobTree().rootAt(1)->caption, u"Second"_s);

    // Start runs the first job with the real tools; "No Upload" keeps the results.
    window.noUploadBox()->setChecked(true);
    window.StartOrStop();
    EXPECT_EQ(window.startAction()->text(), msg(40));
    ASSERT_TRUE(waitFor([&] { return !window.jobRunner()->isRunning(); }));
    EXPECT_EQ(window.startAction()->text(), msg(39));
    EXPECT_EQ(jobTree().rootCount(), 1);
    EXPECT_TRUE(QFileInfo::exists(in_ + u"/Tessaly_Temp0001/My Pics.part3.rar"_s));
    EXPECT_EQ(uploadQueue().count(), 0);
    EXPECT_EQ(connectionList().row(connectionList().rarParRow()).action, msg(110));

    // Stop while the archiver runs: confirmed, the folder goes, the job stays.
    test::writeAll(in_ + u"/big.bin"_s, test::randomData(20'000'000, 3));
    window.startTimer()->stop();
    window.StartOrStop();
    ASSERT_TRUE(waitFor([&] {
        return connectionList().row(connectionList().rarParRow()).action.startsWith(u"Creating Rar archives... ("_s);
    }));
    Prompts::reset();
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window.StartOrStop();
    EXPECT_EQ(shownTexts(), QStringList{msg(89)});
    ASSERT_TRUE(waitFor([&] { return !window.jobRunner()->isRunning(); }));
    EXPECT_FALSE(QFileInfo::exists(in_ + u"/Tessaly_Temp0002"_s));
    EXPECT_EQ(jobTree().rootCount(), 1);

    Prompts::reset();
    Prompts::setNextAnswer(PromptAnswer::Yes);
    window.jobToolbar()->actions().last()->trigger();
    EXPECT_EQ(shownTexts(), QStringList{msg(289)}); // it asks about jobs, not files
    EXPECT_FALSE(jobTree().hasJobs());
    EXPECT_TRUE(window.jobToolbar()->actions().last()->toolTip().endsWith(u"(no jobs yet)"_s));
    EXPECT_FALSE(test::readAll(jobFilePath()).contains("Image=\"1\""));
    EXPECT_TRUE(window.Form_QueryUnload());
}

TEST_F(RarPar, MissingToolsAreNamedBeforeAnythingRuns)
{
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", test::home().toUtf8());
    MainWindow::setStartupWait(0);
    MainWindow window;
    window.Form_Load();
    Prompts::reset();
    Prompts::setNextAnswer(PromptAnswer::No);
    window.openRarParDialog();
    const QString fake = test::homeFile(u"rar"_s);
    test::writeAll(fake, "#!/bin/sh\n");
    QFile::setPermissions(fake, QFile::ReadOwner | QFile::ExeOwner);
    window.openRarParDialog();
    qputenv("PATH", path);
    EXPECT_EQ(shownTexts(), (QStringList{messageTable().message(113), messageTable().message(114)}));
}
