#include "common/Clock.h"
#include "common/Log.h"
#include "config/Language.h"
#include "common/MessageTable.h"
#include "config/SslTunnel.h"
#include "engine/RunPlan.h"
#include "platform/Processes.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"
#include "shell/SchedulerDialog.h"
#include "shell/SettingsDialog.h"
#include "shell/SpeedGraph.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/ProfileFile.h"
#include "storage/UploadQueue.h"
#include "support/FixedClock.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"

#include <QSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {
class Settings : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(writeDefaultSettings()); }
    QString key(const QString &k) const { return settingsFile().read(u"Settings"_s, k); }
};
} // namespace

TEST_F(Settings, TheConnectionListOffersTheUsualPorts)
{
    frmSettings d;
    d.show();
    EXPECT_FALSE(d.chkSSL->isVisible()); // one control for one setting
    Prompts::setNextAnswer(PromptAnswer::No);
    d.cboSslMode->setCurrentIndex(int(SslMode::BuiltIn));
    EXPECT_EQ(d.txtPort->text(), u"119"_s);
    ASSERT_EQ(Prompts::shown().size(), 1);
    EXPECT_TRUE(Prompts::shown()[0].text.contains(u"change the port to \"563\""_s));
    EXPECT_FALSE(Prompts::shown()[0].text.contains(u"Stunnel"_s)); // nothing to let through a firewall
    d.cboSslMode->setCurrentIndex(int(SslMode::Plain));
    Prompts::setNextAnswer(PromptAnswer::Yes);
    d.cboSslMode->setCurrentIndex(int(SslMode::Tunnel));
    EXPECT_TRUE(Prompts::shown().last().text.contains(u"Stunnel"_s));
    EXPECT_FALSE(Prompts::shown().last().text.contains(u"firewall \r\n"_s)); // no break mid-sentence
    EXPECT_EQ(d.txtPort->text(), u"563"_s);
    Prompts::setNextAnswer(PromptAnswer::Yes);
    d.cboSslMode->setCurrentIndex(int(SslMode::Plain));
    EXPECT_TRUE(Prompts::shown().last().text.contains(u"change the port to \"119\""_s));
    EXPECT_EQ(d.txtPort->text(), u"119"_s);
    d.txtPort->clear();
    EXPECT_EQ(d.txtPort->text(), u"119"_s); // an empty port box means 119
}

TEST_F(Settings, LinesAreClampedAndFollowTheScrollBar)
{
    frmSettings d;
    d.txtLines->setText(u"999"_s);
    EXPECT_EQ(d.txtLines->text(), u"1000"_s);
    d.txtLines->setText(u"10001"_s);
    EXPECT_EQ(d.txtLines->text(), u"10000"_s);
    d.VSLines->setValue(2500);
    EXPECT_EQ(d.txtLines->text(), u"2500"_s);
    d.cmdOk_Click();
    EXPECT_EQ(appSettings().MaxLines, 2500);
    EXPECT_EQ(appSettings().PartSize, 2500 * 128);
    EXPECT_EQ(key(u"MaxLines"_s), u"2500"_s);
}

TEST_F(Settings, SpeedSchedulerHoursAndItsChecks)
{
    {
        frmSettings d;
        d.chkSpeedScheduler->setChecked(true);
        d.txtSpeed->setText(u"150"_s);
        for (int h : {0, 9, 23})
            d.toggleHour(h);
        d.toggleHour(5);
        d.toggleHour(5); // back to green
        d.cmdOk_Click();
        EXPECT_EQ(appSettings().SpeedItems, u"00|09|23|"_s);
        EXPECT_EQ(appSettings().SpeedScheduler, 1);
        EXPECT_EQ(key(u"SpeedItems"_s), u"00|09|23|"_s);
        EXPECT_TRUE(Prompts::shown().isEmpty());
    }
    {
        frmSettings d; // the hours come back from the settings
        EXPECT_TRUE(d.hourIsRed(9));
        EXPECT_FALSE(d.hourIsRed(10));
        for (int h : {0, 9, 23})
            d.toggleHour(h);
        d.cmdOk_Click();
        ASSERT_EQ(Prompts::shown().size(), 1);
        EXPECT_EQ(Prompts::shown()[0].text, messageTable().message(246));
        EXPECT_EQ(appSettings().SpeedScheduler, 0);
        EXPECT_EQ(key(u"SpeedScheduler"_s), u"0"_s);
    }
    Prompts::reset();
    {
        frmSettings d;
        d.chkSpeedScheduler->setChecked(true);
        d.txtSpeed->setText(u"0"_s);
        d.toggleHour(3);
        d.cmdOk_Click();
        ASSERT_GE(Prompts::shown().size(), 1);
        EXPECT_EQ(Prompts::shown()[0].text, messageTable().message(245));
        EXPECT_FALSE(d.chkSpeedScheduler->isChecked());
    }
}

TEST_F(Settings, OkWritesExactlyItsKeysAndCancelNothing)
{
    auto fill = [](frmSettings &d) {
        d.txtServer->setText(u"  news.example.org "_s);
        d.cboConnections->setCurrentIndex(2);
        d.chkLogin->setChecked(true);
        d.txtUsername->setText(u"me"_s);
        d.txtPassword->setText(u"pass0"_s);
    };
    {
        frmSettings d;
        fill(d);
        d.reject(); // Cancel
    }
    const QByteArray before = test::readAll(settingsFile().path());
    EXPECT_EQ(appSettings().Server, QString());
    EXPECT_EQ(test::readAll(settingsFile().path()), before);

    frmSettings d;
    fill(d);
    d.chkNoConfirm->setChecked(true);
    d.chkPostCheck->setChecked(false);
    EXPECT_FALSE(d.spnCheckDelay->isEnabled());
    d.spnCheckDelay->setValue(30);
    d.cmdOk_Click();
    EXPECT_EQ(key(u"SSLNoVerify"_s), u"0"_s);
    EXPECT_FALSE(d.chkSSLNoVerify->isEnabled()); // only with SSL
    EXPECT_EQ(key(u"PostCheck"_s), u"0"_s);
    EXPECT_EQ(key(u"PostCheckDelay"_s), u"30"_s);
    EXPECT_EQ(key(u"Server"_s), u"news.example.org"_s);
    EXPECT_EQ(key(u"Connections"_s), u"3"_s);
    EXPECT_EQ(key(u"Password"_s), scramblePassword(u"pass0"_s));
    EXPECT_EQ(appSettings().Password, u"pass0"_s);
    // The connection list follows: 1, 2, 3 and the job runner.
    EXPECT_EQ(connectionList().row(4).number, u"RarPar"_s);
    // Only the dialog's keys changed; the window's keys are untouched.
    const QByteArray after = test::readAll(settingsFile().path());
    QList<QByteArray> a = before.split('\n'), b = after.split('\n');
    ASSERT_EQ(a.size(), b.size());
    QStringList changed;
    for (int i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            changed << QString::fromUtf8(b[i].split('=').first());
    EXPECT_EQ(changed, (QStringList{u"Server"_s, u"Username"_s, u"Password"_s, u"Login"_s, u"Connections"_s,
                                    u"ConfirmSubject"_s, u"PostCheck"_s, u"PostCheckDelay"_s}));
}

TEST_F(Settings, SslOnWritesTheTunnelConfigurationAndOffStopsTheTunnel)
{
    QProcess install;
    install.start(u"bash"_s, {QStringLiteral(TESSALY_SOURCE_DIR) + u"/scripts/install-tunnel.sh"_s, test::home()});
    ASSERT_TRUE(install.waitForFinished(60000));
    {
        frmSettings d;
        d.txtServer->setText(u"127.0.0.2"_s);
        Prompts::setNextAnswer(PromptAnswer::Yes);
        d.chkSSL->setChecked(true);
        EXPECT_EQ(d.cboSslMode->currentText(), u"SSL (built-in)"_s);
        EXPECT_FALSE(d.chkSSLNoVerify->isEnabled()) << "only the tunnel has it";
        d.cboSslMode->setCurrentIndex(2);
        EXPECT_TRUE(d.chkSSLNoVerify->isEnabled());
        EXPECT_FALSE(d.txtFingerprint->isEnabled()) << "only built-in TLS pins";
        d.txtPort->setText(QString::number(test::freePort()));
        const QString port = d.txtPort->text();
        d.cmdOk_Click();
        const QByteArray conf = test::readAll(tunnelConfigPath());
        EXPECT_TRUE(conf.contains(QByteArray("accept = 127.0.0.1:" + QByteArray::number(appSettings().tunnelLocalPort)
                                             + "\r\nconnect = 127.0.0.2:" + port.toUtf8() + "\r\n")))
            << conf.constData();
    }
    // Running once it listens (a loaded machine starts it slowly; while the
    // launcher turns into the tunnel, its process can be between names).
    const quint16 port = quint16(appSettings().tunnelLocalPort);
    bool listening = false;
    for (QDeadlineTimer running(20000); !listening && !running.hasExpired(); QThread::msleep(50)) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        listening = probe.waitForConnected(500);
    }
    ASSERT_TRUE(listening) << test::readAll(tunnelFolder() + u"/stunnel.log"_s).constData();
    ASSERT_FALSE(tunnelProcesses().isEmpty());

    frmSettings d;
    Prompts::setNextAnswer(PromptAnswer::No);
    d.chkSSL->setChecked(false);
    d.cmdOk_Click();
    QDeadlineTimer gone(20000);
    while (!tunnelProcesses().isEmpty() && !gone.hasExpired())
        QThread::msleep(50);
    EXPECT_TRUE(tunnelProcesses().isEmpty());
    EXPECT_EQ(key(u"EnableSSL"_s), u"0"_s);
}

// What the dialog refuses is said, and nothing is stored: neither the bad
// value nor anything else typed with it.
TEST_F(Settings, ABadPortOrFingerprintIsRefusedWithNothingStored)
{
    const QByteArray before = test::readAll(settingsFile().path());
    const struct
    {
        std::function<void(frmSettings &)> type;
        QString said;
    } cases[] = {
        {[](frmSettings &d) { d.txtPort->setText(u"99999"_s); },
         u"The port must be a whole number from 1 to 65535 (not \"99999\")."_s},
        {[](frmSettings &d) { d.txtPort->setText(u"0"_s); }, u"The port must be a whole number from 1 to 65535 (not \"0\")."_s},
        {[](frmSettings &d) {
             Prompts::setNextAnswer(PromptAnswer::No); // SSL, keeping the port
             d.cboSslMode->setCurrentIndex(int(SslMode::BuiltIn));
             d.txtFingerprint->setText(u"AB:CD"_s);
         },
         u"A certificate fingerprint is 64 hex digits (colons allowed), not \"AB:CD\"."_s},
    };
    for (const auto &c : cases) {
        frmSettings d;
        d.txtServer->setText(u"news.example.org"_s);
        c.type(d);
        Prompts::reset();
        EXPECT_FALSE(d.run()) << qPrintable(c.said);
        ASSERT_EQ(Prompts::shown().size(), 1);
        EXPECT_EQ(Prompts::shown()[0].text, c.said);
        EXPECT_EQ(d.tabs->currentIndex(), 0);
    }
    EXPECT_EQ(appSettings().Server, QString());
    EXPECT_EQ(test::readAll(settingsFile().path()), before);

    // A good fingerprint is stored, with the built-in TLS it belongs to.
    frmSettings d;
    Prompts::setNextAnswer(PromptAnswer::No);
    d.cboSslMode->setCurrentIndex(int(SslMode::BuiltIn));
    EXPECT_TRUE(d.chkSSL->isChecked());
    QString pin;
    for (int k = 0; k < 32; ++k)
        pin += (k ? u":"_s : QString()) + u"a5"_s;
    d.txtFingerprint->setText(pin);
    EXPECT_TRUE(d.cmdOk_Click());
    EXPECT_EQ(key(u"SSLFingerprint"_s), pin);
    EXPECT_EQ(key(u"SSLTunnel"_s), u"0"_s);
    EXPECT_EQ(key(u"EnableSSL"_s), u"1"_s);
    d.cboSslMode->setCurrentIndex(int(SslMode::Plain));
    EXPECT_FALSE(d.chkSSL->isChecked());
}

TEST_F(Settings, TheCheckServerIsEnteredOnTheServerPageAndCheckedBeforeItIsStored)
{
    frmSettings d;
    // Greyed while it has no name; SSL brings the usual TLS port.
    EXPECT_FALSE(d.txtCheckPort->isEnabled());
    EXPECT_FALSE(d.txtCheckUsername->isEnabled());
    d.txtCheckServer->setText(u"check.example.net"_s);
    EXPECT_TRUE(d.txtCheckPort->isEnabled());
    EXPECT_FALSE(d.txtCheckFingerprint->isEnabled()) << "only built-in TLS pins";
    d.cboCheckSsl->setCurrentIndex(1);
    EXPECT_EQ(d.txtCheckPort->text(), u"563"_s);
    EXPECT_TRUE(d.txtCheckFingerprint->isEnabled());
    const QByteArray before = test::readAll(settingsFile().path());
    d.txtCheckFingerprint->setText(u"12:34"_s);
    EXPECT_FALSE(d.cmdOk_Click());
    d.txtCheckFingerprint->setText(QString(64, u'b'));
    d.txtCheckPort->setText(u"70000"_s);
    EXPECT_FALSE(d.cmdOk_Click());
    EXPECT_EQ(test::readAll(settingsFile().path()), before);
    d.txtCheckPort->setText(u"5563"_s);
    d.cboCheckConnections->setCurrentIndex(2);
    d.txtCheckUsername->setText(u"reader"_s);
    d.txtCheckPassword->setText(u"s3cret"_s);
    EXPECT_FALSE(d.chkOutsidePar2->isChecked()); // the program's own creator by default
    d.chkOutsidePar2->click();
    ASSERT_TRUE(d.cmdOk_Click());
    EXPECT_EQ(key(u"Par2Tool"_s), u"outside"_s);
    EXPECT_EQ(key(u"CheckFingerprint"_s), QString(64, u'b'));
    EXPECT_EQ(key(u"CheckPassword"_s), scramblePassword(u"s3cret"_s)); // never in clear text
    // What the next run uses, read back from the file.
    ASSERT_TRUE(ReadINIFile());
    const RunPlan plan = RunPlan::fromSettings(appSettings());
    ASSERT_TRUE(plan.check.server.has_value());
    EXPECT_EQ(plan.check.server->port, 5563);
    EXPECT_EQ(plan.check.server->mode, SslMode::BuiltIn);
    EXPECT_EQ(plan.check.connections, 3);
    EXPECT_TRUE(plan.check.link.login);
    EXPECT_EQ(plan.check.link.password, u"s3cret"_s);
    EXPECT_FALSE(plan.server.host == u"check.example.net"_s);
}

TEST_F(Settings, LanguageFiles)
{
    // Key 28 of frmMain is slot 66, the "Queued" state text.
    test::writeAll(languageFilePath(u"Test"_s), "[frmMain]\n28=Wartend\n[frmSettings]\n4=Port-Nummer:\n");
    uploadQueue().append(UploadQueue::newItem(u"s"_s, u"a.b"_s, u"/x"_s, 1, u"t"_s, {u"i"_s}));
    MainWindow::setStartupWait(0);
    MainWindow w;
    ASSERT_TRUE(SetLanguage(languageFilePath(u"Test"_s)));
    w.LoadMainWindow();
    EXPECT_EQ(uploadQueue().data(uploadQueue().index(0, UploadQueue::StatusColumn), Qt::DisplayRole).toString(),
              u"Wartend"_s);
    EXPECT_EQ(msg(213), u"Port-Nummer:"_s);
    EXPECT_EQ(msg(214), u"Port:"_s); // frmSettings key 5 is missing: English, said once
    // Said once, counting only the texts the file's writer could have known.
    int said = 0;
    for (const LogLine &l : logModel().lines())
        said += l.text.contains(u"lacks %1 of its texts; they are shown in English."_s.arg(
            MessageTable::FirstAddedSlot - MessageTable::FirstSlot - 2));
    EXPECT_EQ(said, 1);
    test::writeAll(languageFilePath(u"English"_s), "");
    EXPECT_EQ(availableLanguages().count(u"English"_s), 1);
    QFile::remove(languageFilePath(u"English"_s));
    // An empty file, or one without the sections, leaves every text English.
    test::writeAll(languageFilePath(u"Empty"_s), "");
    ASSERT_TRUE(SetLanguage(languageFilePath(u"Empty"_s)));
    EXPECT_EQ(msg(66), u"Queued"_s);
    EXPECT_EQ(msg(MessageTable::LastSlot), MessageTable::englishText(MessageTable::LastSlot));
    // A file that never ends is not read.
    QFile::link(u"/dev/zero"_s, languageFilePath(u"Zero"_s));
    EXPECT_FALSE(SetLanguage(languageFilePath(u"Zero"_s)));
    EXPECT_EQ(msg(66), u"Queued"_s);
    QFile::remove(languageFilePath(u"Zero"_s));
    QFile::remove(languageFilePath(u"Empty"_s));
    messageTable().SetEnglishLang();

    // A language whose file vanished after the list was filled.
    frmSettings d;
    const int index = d.cboLanguage->findText(u"Test"_s);
    ASSERT_GT(index, 0);
    QFile::remove(languageFilePath(u"Test"_s));
    d.cboLanguage->setCurrentIndex(index);
    d.chooseLanguage(index);
    ASSERT_FALSE(Prompts::shown().isEmpty());
    EXPECT_EQ(Prompts::shown().last().text, msg(235));
    EXPECT_EQ(Prompts::shown().last().icon, PromptIcon::Critical);
    EXPECT_EQ(d.cboLanguage->currentText(), u"English"_s);
    EXPECT_EQ(key(u"Language"_s), u"English"_s);
    EXPECT_EQ(msg(66), u"Queued"_s);
    EXPECT_TRUE(logModel().line(logModel().count() - 1).text.contains(u"in procedure SetLanguage of Module modLanguage"_s));
}

TEST_F(Settings, TheDutchFileHasEveryKey)
{
    const QString shipped = QStringLiteral(TESSALY_SOURCE_DIR) + u"/resources/Languages/Nederlands.lng"_s;
    ASSERT_TRUE(SetLanguage(shipped));
    for (int slot = MessageTable::FirstSlot; slot <= MessageTable::LastSlot; ++slot)
        EXPECT_FALSE(msg(slot).isEmpty()) << slot;
    EXPECT_EQ(msg(66), u"In wachtrij"_s);
}

TEST(Language, QtsOwnTextsFollowTheLanguage)
{
    // Yes, No and Cancel of every message box, and the file dialog.
    ASSERT_TRUE(SetLanguage(QStringLiteral(TESSALY_SOURCE_DIR) + u"/resources/Languages/Nederlands.lng"_s));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), u"&Ja"_s);
    EXPECT_EQ(messageTable().addingFilesText(1), u"1 bestand toevoegen"_s);
    EXPECT_EQ(messageTable().addingFilesText(3), u"3 bestanden toevoegen"_s);
    SetEnglishLanguage();
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes"), u"&Yes"_s);
}

TEST_F(Settings, SmallThingsANewUserSees)
{
    // The scheduler's hours are grey while it is off.
    ASSERT_TRUE(writeDefaultSettings());
    frmSettings d;
    QPushButton *hour = d.findChild<QPushButton *>(u"picColor9"_s);
    ASSERT_TRUE(hour);
    EXPECT_EQ(hour->isEnabled(), d.chkSpeedScheduler->isChecked());
    d.chkSpeedScheduler->setChecked(true);
    EXPECT_TRUE(hour->isEnabled());
    d.chkSpeedScheduler->setChecked(false);
    EXPECT_FALSE(hour->isEnabled());

    // The start-at dialog opens at the time it is now.
    test::FixedClock clock(QDateTime(QDate(2026, 12, 9), QTime(21, 37)));
    Clock::setInstance(&clock);
    {
        frmScheduler s;
        EXPECT_EQ(s.cboHour->currentIndex(), 21);
        EXPECT_EQ(s.cboMinutes->currentIndex(), 37);
    }
    Clock::setInstance(nullptr);

    // A short run fills the graph's width; ten minutes and more take their seconds.
    SpeedGraph graph;
    for (int i = 0; i < 19; ++i)
        graph.addSample(1000);
    EXPECT_DOUBLE_EQ(graph.sampleSpacing(540), 30.0);
    for (int i = 0; i < SpeedGraph::kSamples; ++i)
        graph.addSample(1000);
    EXPECT_DOUBLE_EQ(graph.sampleSpacing(599), 599.0 / (SpeedGraph::kSamples - 1));

    // A row whose parts are all in, waiting for its check, says so.
    UploadItem item = UploadQueue::newItem(u"s"_s, u"a.b"_s, u"/f"_s, 2, u"t"_s, {u"a@x"_s, u"b@x"_s});
    item.state = UploadState::Posting;
    EXPECT_EQ(UploadQueue::statusText(item), u"Upload in Thread"_s);
    item.accepted = QBitArray(2, true);
    UploadQueue::setUnchecked(item, u"1-2"_s);
    EXPECT_EQ(UploadQueue::statusText(item), u"Waiting for the post check"_s);
}
