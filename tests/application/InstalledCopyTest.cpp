// The program as a user installs it: the Debian package CPack makes, unpacked
// into a scratch root. The installed copy must start,
// find its Dutch texts in its own share folder (the program folder holds
// only what the user changes), and post a folder headless.
#include "support/ScriptedNntpServer.h"
#include "support/ProgramRun.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

using test::Ran;

Ran run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {})
{
    return test::runToEnd(program, arguments, env);
}

// The installed program (root/usr/bin/tessaly-poster) starts, names its
// version, and posts two files in Dutch to a scripted server.
void expectAWorkingCopy(const QString &root)
{
    const QString program = root + u"/usr/bin/tessaly-poster"_s;
    ASSERT_TRUE(QFileInfo(program).isExecutable()) << qPrintable(program);
    const Ran version = run(program, {u"--version"_s});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("Tessaly Poster 1.")) << version.out.constData();

    const QString home = root + u"/home"_s, folder = root + u"/files"_s;
    QDir().mkpath(home);
    QDir().mkpath(folder);
    test::writeAll(folder + u"/one.bin"_s, test::randomData(200000, 7));
    test::writeAll(folder + u"/two.bin"_s, test::randomData(90000, 8));
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    const QProcessEnvironment env = test::headlessEnvironment(home);
    const QByteArray defaults = test::firstStartSettings(program, env);
    ASSERT_FALSE(defaults.isEmpty());
    test::writeAll(home + u"/Settings.ini"_s,
                   test::withSettings(defaults, {u"Server=127.0.0.1"_s, u"Port="_s + QString::number(server.port()),
                                                 u"Connections=2"_s, u"MaxLines=1000"_s, u"Language=Nederlands"_s}));
    const Ran post = run(program, {u"/F"_s, folder, u"/H"_s, u"installed"_s, u"/N"_s, u"alt.test"_s, u"/P"_s, u"/C"_s},
                         env);
    EXPECT_EQ(post.status, 0) << post.err.constData();
    EXPECT_EQ(post.err, QByteArray());
    // The run's summary, in Dutch: the language file was found in the installation.
    EXPECT_TRUE(post.out.contains("Klaar: 2 items geplaatst, 0 mislukt, 3 delen")) << post.out.constData();
    EXPECT_EQ(server.accepted().size(), 3);
    EXPECT_FALSE(QFileInfo::exists(home + u"/Languages"_s));

    // Without a program folder named, the user's data folder, never beside
    // the installed program (even where it could write there, as root).
    QProcessEnvironment own = env;
    own.remove(u"TESSALY_HOME"_s);
    own.insert(u"XDG_DATA_HOME"_s, root + u"/userdata"_s);
    EXPECT_EQ(run(program, {u"/F"_s, u"/nonexistent"_s, u"/P"_s, u"/C"_s}, own).status, 1);
    EXPECT_TRUE(QFileInfo::exists(root + u"/userdata/TessalyPoster/Settings.ini"_s));
    EXPECT_EQ(QDir(root + u"/usr/bin"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{u"tessaly-par2"_s, u"tessaly-poster"_s}));
}

} // namespace

// The Debian package CPack makes (its files are what `cmake --install` puts
// in place), unpacked: its layout, desktop files and man page, and a post.
TEST(Installed, DebianPackageHoldsTheLayoutDesktopFilesAndAWorkingCopy)
{
    const QString out = test::homeFile(u"package"_s);
    QDir().mkpath(out);
    const Ran pack = run(u"cpack"_s, {u"-G"_s, u"DEB"_s, u"--config"_s,
                                      QStringLiteral(TESSALY_BUILD_DIR) + u"/CPackConfig.cmake"_s, u"-B"_s, out});
    ASSERT_EQ(pack.status, 0) << pack.out.constData() << pack.err.constData();
    const QStringList debs = QDir(out).entryList({u"tessaly-poster_*.deb"_s}, QDir::Files);
    ASSERT_EQ(debs.size(), 1);
    const QString deb = out + u'/' + debs.first();
    // Its dependencies come from the libraries the program links.
    const Ran depends = run(u"dpkg-deb"_s, {u"--field"_s, deb, u"Depends"_s});
    EXPECT_TRUE(depends.out.contains("libqt6widgets6")) << depends.out.constData();
    EXPECT_TRUE(depends.out.contains("libc6")) << depends.out.constData();
    const QString root = test::homeFile(u"root"_s);
    ASSERT_EQ(run(u"dpkg-deb"_s, {u"-x"_s, deb, root}).status, 0);

    const QString share = root + u"/usr/share"_s;
    for (const QString &file : {u"/tessaly-poster/Languages/Nederlands.lng"_s,
                                u"/applications/net.tessaly.Poster.desktop"_s,
                                u"/metainfo/net.tessaly.Poster.metainfo.xml"_s,
                                u"/icons/hicolor/scalable/apps/tessaly-poster.svg"_s,
                                u"/icons/hicolor/48x48/apps/tessaly-poster.png"_s,
                                u"/icons/hicolor/256x256/apps/tessaly-poster.png"_s,
                                u"/man/man1/tessaly-poster.1.gz"_s, u"/man/man1/tessaly-par2.1.gz"_s,
                                u"/doc/tessaly-poster/copyright"_s})
        EXPECT_TRUE(QFileInfo(share + file).size() > 0) << qPrintable(file);
    EXPECT_FALSE(QFileInfo::exists(share + u"/man/man1/tessaly-poster.1"_s)); // only compressed
    // Opening files from a file manager hands them to the program.
    EXPECT_TRUE(test::readAll(share + u"/applications/net.tessaly.Poster.desktop"_s).contains("\nExec=tessaly-poster %F\n"));
    EXPECT_TRUE(QFileInfo(share + u"/tessaly-poster/Stunnel/stunnel_tessaly"_s).isExecutable());

    // The man page lists every switch the program knows.
    QProcess gunzip;
    gunzip.start(u"gzip"_s, {u"-dc"_s, share + u"/man/man1/tessaly-poster.1.gz"_s});
    ASSERT_TRUE(gunzip.waitForFinished(10000));
    const QByteArray man = gunzip.readAllStandardOutput();
    for (const char *option : {"folder", "subject", "newsgroups", "nzb", "post", "close", "poweroff", "logoff",
                               "hibernate", "reboot", "server", "ssl", "user", "password\\-env", "verify", "headless",
                               "help", "version"})
        EXPECT_TRUE(man.contains(QByteArray(QByteArray("\\-\\-") + option))) << option;

    const Ran desktop = run(u"desktop-file-validate"_s, {share + u"/applications/net.tessaly.Poster.desktop"_s});
    EXPECT_EQ(desktop.status, 0) << desktop.out.constData();
    const Ran appstream = run(u"appstreamcli"_s, {u"validate"_s, u"--no-net"_s,
                                                  share + u"/metainfo/net.tessaly.Poster.metainfo.xml"_s});
    EXPECT_EQ(appstream.status, 0) << appstream.out.constData();

    expectAWorkingCopy(root);
}

// An ordinary user (nobody) posts through the SSL tunnel to a server on the
// usual NNTPS port, 563: the tunnel listens on a free port above 1024 of its
// own choosing, which such a user may open, and the program uses it.
TEST(Installed, AnOrdinaryUserPostsThroughTheTunnelToPort563)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to run the program as another user and to listen on port 563";
    if (QStandardPaths::findExecutable(u"stunnel4"_s).isEmpty())
        GTEST_SKIP() << "stunnel4 is not installed";
    const QString certs = test::makeTestCertificates();
    ASSERT_FALSE(certs.isEmpty());
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    // The server's TLS end on 127.0.0.2:563, in front of the scripted server.
    const QString conf = test::homeFile(u"front.conf"_s);
    test::writeAll(conf, "foreground = yes\npid =\n[nntps]\ncert = " + QFile::encodeName(certs + u"/good.pem"_s)
                             + "\naccept = 127.0.0.2:563\nconnect = 127.0.0.1:" + QByteArray::number(server.port()) + "\n");
    QProcess front;
    front.setProcessChannelMode(QProcess::MergedChannels);
    front.start(u"stunnel4"_s, {conf});
    ASSERT_TRUE(front.waitForStarted(5000));

    // The user's own folders; the program and its launcher from the build tree.
    const QString home = test::homeFile(u"nobody"_s), folder = home + u"/files"_s;
    QDir().mkpath(folder);
    test::writeAll(folder + u"/one.bin"_s, test::randomData(150000, 4));
    ::chmod(QFile::encodeName(test::home()).constData(), 0711);
    ASSERT_EQ(run(u"chown"_s, {u"-R"_s, u"nobody:nogroup"_s, home}).status, 0);
    QProcessEnvironment env = test::headlessEnvironment(home);
    env.insert(u"HOME"_s, home);
    const QStringList asNobody{u"--reuid=nobody"_s, u"--regid=nogroup"_s, u"--clear-groups"_s,
                               QStringLiteral(TESSALY_APP_PATH)};
    EXPECT_EQ(run(u"setpriv"_s, asNobody + QStringList{u"/F"_s, u"/nonexistent"_s, u"/P"_s, u"/C"_s}, env).status, 1);
    const QByteArray defaults = test::readAll(home + u"/Settings.ini"_s);
    ASSERT_FALSE(defaults.isEmpty());
    test::writeAll(home + u"/Settings.ini"_s,
                   test::withSettings(defaults, {u"Server=127.0.0.2"_s, u"Port=563"_s, u"EnableSSL=1"_s,
                                                 u"SSLTunnel=1"_s, u"SSLNoVerify=1"_s, u"MaxLines=1000"_s}));
    const Ran post = run(u"setpriv"_s, asNobody + QStringList{u"/F"_s, folder, u"/H"_s, u"tunnel"_s, u"/N"_s,
                                                              u"alt.test"_s, u"/P"_s, u"/C"_s},
                         env);
    front.terminate();
    front.waitForFinished(5000);
    EXPECT_EQ(post.status, 0) << post.err.constData() << test::readAll(home + u"/Stunnel/stunnel.log"_s).constData();
    EXPECT_EQ(server.accepted().size(), 2);
    EXPECT_TRUE(post.err.contains("does not check the server's certificate")) << "the warning of SSLNoVerify=1";
    const QByteArray tunnelConf = test::readAll(home + u"/Stunnel/stunnel.conf"_s);
    const qsizetype at = tunnelConf.indexOf("accept = 127.0.0.1:");
    ASSERT_GE(at, 0) << tunnelConf.constData();
    EXPECT_GT(tunnelConf.mid(at + 19, 6).trimmed().toInt(), 1024) << tunnelConf.constData();
}
