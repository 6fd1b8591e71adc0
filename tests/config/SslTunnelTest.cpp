#include "config/SslTunnel.h"
#include "platform/Processes.h"
#include "storage/AppSettings.h"
#include "support/ScriptedNntpServer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

// Installs the launcher and a certificate into the test's program folder.
void installLauncher()
{
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(u"bash"_s, {QStringLiteral(TESSALY_SOURCE_DIR) + u"/scripts/install-tunnel.sh"_s, test::home()});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().constData();
}

bool waitFor(const std::function<bool()> &condition, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return condition();
}

// The first line the server sends through a connection to host:port.
QByteArray greetingThrough(const QHostAddress &host, quint16 port)
{
    QTcpSocket s;
    s.connectToHost(host, port);
    if (!s.waitForConnected(2000))
        return {};
    QByteArray got;
    QDeadlineTimer deadline(3000);
    while (!got.contains("\r\n") && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        if (s.waitForReadyRead(100))
            got += s.readAll();
    }
    return got;
}

} // namespace

TEST(SslTunnel, ConfigurationText)
{
    EXPECT_EQ(tunnelConfig(563, u"news.example.org"_s),
              QByteArray("cert = stunnel.pem\r\nsocket = l:TCP_NODELAY=1\r\nsocket = r:TCP_NODELAY=1\r\nclient = yes\r\n"
                         "taskbar = no\r\n\r\n[nntp]\r\naccept = 127.0.0.1:563\r\nconnect = news.example.org:563\r\n\r\n"));
    appSettings().Port = 443;
    appSettings().Server = u"ssl.example.org\r\naccept = 0.0.0.0:1"_s; // cannot add a line
    ASSERT_EQ(writeTunnelConfig(), QString());
    const QByteArray written = test::readAll(tunnelConfigPath());
    EXPECT_TRUE(written.contains("accept = 127.0.0.1:443\r\nconnect = ssl.example.org  accept = 0.0.0.0:1:443\r\n"));
    EXPECT_FALSE(written.contains("\r\naccept = 0.0.0.0"));
    EXPECT_EQ(written.count("\r\n"), 10);
}

TEST(SslTunnel, MissingProgramIsNotStarted)
{
    EXPECT_FALSE(startTunnel());
    EXPECT_FALSE(stopTunnel());
}

TEST(SslTunnel, RoundTripThroughTheTunnel)
{
    // News server (plain) <- TLS server tunnel on 127.0.0.2:P <- our tunnel on 127.0.0.1:P <- client.
    test::ScriptedNntpServer nntp;
    ASSERT_TRUE(nntp.start());
    installLauncher();

    const quint16 port = test::freePort(QHostAddress::LocalHost);
    ASSERT_NE(port, 0);
    const QString serverConf = test::homeFile(u"tls-server.conf"_s);
    test::writeAll(serverConf, "foreground = yes\npid =\n[nntps]\ncert = " + QFile::encodeName(test::homeFile(u"Stunnel/stunnel.pem"_s))
                                   + "\naccept = 127.0.0.2:" + QByteArray::number(port) + "\nconnect = 127.0.0.1:"
                                   + QByteArray::number(nntp.port()) + "\n");
    QProcess tlsServer;
    tlsServer.setProcessChannelMode(QProcess::MergedChannels);
    tlsServer.start(u"stunnel4"_s, {serverConf});
    ASSERT_TRUE(tlsServer.waitForStarted(5000)) << "stunnel4 is required for this test";

    appSettings().EnableSSL = 1;
    appSettings().Port = port;
    appSettings().Server = u"127.0.0.2"_s;
    ASSERT_EQ(writeTunnelConfig(), QString());
    ASSERT_TRUE(startTunnel());

    QByteArray greeting;
    waitFor([&] { greeting = greetingThrough(QHostAddress::LocalHost, port); return !greeting.isEmpty(); }, 10000);
    EXPECT_EQ(greeting, nntp.greeting) << tlsServer.readAll().constData()
                                       << test::readAll(test::homeFile(u"Stunnel/stunnel.log"_s)).constData();
    EXPECT_GE(nntp.connections, 1);

    // Shut-down ends the tunnel.
    EXPECT_TRUE(waitFor([] { return !tunnelProcesses().isEmpty(); }, 3000));
    EXPECT_TRUE(stopTunnel());
    EXPECT_TRUE(waitFor([] { return tunnelProcesses().isEmpty(); }, 5000));

    tlsServer.terminate();
    tlsServer.waitForFinished(5000);
}

TEST(SslTunnel, TunnelLeftByAnEarlierRunIsEnded)
{
    installLauncher();
    appSettings().Port = test::freePort();
    appSettings().Server = u"127.0.0.2"_s;
    ASSERT_EQ(writeTunnelConfig(), QString());
    // An earlier run started it and ended without stopping it.
    ASSERT_TRUE(startDetached(tunnelProgram(), {}, tunnelFolder()));
    ASSERT_TRUE(waitFor([] { return !tunnelProcesses().isEmpty(); }, 5000));
    // Processes named like it, even with this folder in their arguments, are not it.
    const QString decoy = test::homeFile(u"My_Stunnel_Tessaly"_s);
    QFile::copy(QStandardPaths::findExecutable(u"bash"_s), decoy);
    QFile::setPermissions(decoy, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QProcess likeName, sameName;
    likeName.start(decoy, {u"-c"_s, u"sleep 30; true"_s, tunnelFolder() + u"/stunnel_tessaly.run.conf"_s});
    sameName.start(u"bash"_s, {u"-c"_s, u"exec -a stunnel_tessaly bash -c 'sleep 30; true' \"$0\""_s,
                               tunnelFolder() + u"/other.conf"_s});
    ASSERT_TRUE(likeName.waitForStarted(5000));
    ASSERT_TRUE(sameName.waitForStarted(5000));
    EXPECT_TRUE(stopTunnel());
    EXPECT_TRUE(waitFor([] { return tunnelProcesses().isEmpty(); }, 5000));
    EXPECT_FALSE(stopTunnel());
    EXPECT_EQ(likeName.state(), QProcess::Running);
    EXPECT_EQ(sameName.state(), QProcess::Running);
    for (QProcess *p : {&likeName, &sameName}) {
        p->kill();
        p->waitForFinished(5000);
    }
}
