#include "common/Log.h"
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
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::waitFor;

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
    // The server is checked: its chain against the system's authorities, its name or address.
    EXPECT_EQ(tunnelConfig(40123, 563, u"news.example.org"_s, true),
              QByteArray("cert = stunnel.pem\r\nsocket = l:TCP_NODELAY=1\r\nsocket = r:TCP_NODELAY=1\r\nclient = yes\r\n"
                         "taskbar = no\r\n\r\n[nntp]\r\naccept = 127.0.0.1:40123\r\nconnect = news.example.org:563\r\n"
                         "verifyChain = yes\r\nCAfile = /etc/ssl/certs/ca-certificates.crt\r\n"
                         "checkHost = news.example.org\r\n\r\n"));
    EXPECT_TRUE(tunnelConfig(40123, 563, u"192.0.2.7"_s, true).contains("\r\ncheckIP = 192.0.2.7\r\n"));
    EXPECT_FALSE(tunnelConfig(40123, 563, u"192.0.2.7"_s, false).contains("verify"));
    // The local end is a free port above 1024, whatever the server's port.
    appSettings().Port = 443;
    appSettings().Server = u"ssl.example.org\r\naccept = 0.0.0.0:1"_s; // cannot add a line
    appSettings().tunnelLocalPort = 0;
    ASSERT_EQ(writeTunnelConfig(), QString());
    EXPECT_GT(appSettings().tunnelLocalPort, 1024);
    const QByteArray written = test::readAll(tunnelConfigPath());
    EXPECT_TRUE(written.contains(QByteArray("accept = 127.0.0.1:" + QByteArray::number(appSettings().tunnelLocalPort)
                                            + "\r\nconnect = ssl.example.org  accept = 0.0.0.0:1:443\r\n")))
        << written.constData();
    EXPECT_FALSE(written.contains("\r\naccept = 0.0.0.0"));
    EXPECT_EQ(written.count("\r\n"), 13);
}

// The tunnel is waited for until its port listens; a connection that merely
// uses the port (its listener gone) is not one.
TEST(SslTunnel, OnlyAListeningPortCountsAsTheTunnelUp)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
    const int port = listener.serverPort();
    EXPECT_TRUE(listensOnLoopback(port));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(client.waitForConnected(3000));
    ASSERT_TRUE(listener.waitForNewConnection(3000));
    QTcpSocket *accepted = listener.nextPendingConnection();
    listener.close();
    EXPECT_FALSE(listensOnLoopback(port));
    delete accepted;
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
    // Checked, the server's self-made certificate is refused: nothing comes through.
    ASSERT_TRUE(startTunnel());
    const auto local = [] { return quint16(appSettings().tunnelLocalPort); };
    EXPECT_GT(local(), 1024);
    EXPECT_NE(local(), port);
    QByteArray greeting;
    waitFor([&] { greeting = greetingThrough(QHostAddress::LocalHost, local()); return !greeting.isEmpty(); }, 2000);
    EXPECT_TRUE(greeting.isEmpty()) << greeting.constData();
    // Its reason, read from its log, for the run to stop with; listening at once.
    EXPECT_TRUE(waitFor([] { return tunnelRefusal().contains(u"ertificate"_s); }, 3000))
        << qPrintable(tunnelRefusal()) << test::readAll(test::homeFile(u"Stunnel/stunnel.log"_s)).constData();
    EXPECT_TRUE(stopTunnel());
    EXPECT_TRUE(waitFor([] { return tunnelProcesses().isEmpty(); }, 5000));

    // Not checked, on the user's word: it comes through, with a warning at each start.
    appSettings().SSLNoVerify = 1;
    logModel().clear();
    ASSERT_TRUE(startTunnel());
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_TRUE(logModel().line(0).text.contains(u"does not check the server's certificate"_s));
    EXPECT_EQ(tunnelRefusal(), QString()); // what an earlier start said is not this one's
    EXPECT_FALSE(greetingThrough(QHostAddress::LocalHost, local()).isEmpty()) << "it listens once started";
    waitFor([&] { greeting = greetingThrough(QHostAddress::LocalHost, local()); return !greeting.isEmpty(); }, 10000);
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
    ASSERT_TRUE(waitFor([] { return listensOnLoopback(appSettings().tunnelLocalPort); }, 5000)); // settled
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
