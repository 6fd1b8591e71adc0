#include "common/Log.h"
#include "storage/AppSettings.h"
#include "storage/Newsgroups.h"
#include "storage/ProfileFile.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

// A settings file with every default and the given keys changed.
void settingsWith(const QList<QPair<QString, QString>> &changes)
{
    ASSERT_TRUE(writeDefaultSettings());
    ASSERT_EQ(settingsFile().write(u"Settings"_s, changes), QString());
    logModel().clear();
}

int redLines()
{
    int n = 0;
    for (const LogLine &l : logModel().lines())
        n += l.colour == LogColour::Red;
    return n;
}

} // namespace

TEST(AppSettings, MissingFileIsCreatedWithEveryDefault)
{
    EXPECT_TRUE(loadSettingsAtStartup());
    EXPECT_EQ(redLines(), 0);

    const QByteArray file = test::readAll(settingsFile().path());
    const QStringList keys = settingsKeys();
    ASSERT_EQ(keys.size(), 66);
    // Each key once, in the order of the defaults.
    QList<QByteArray> lines = file.split('\n');
    lines.removeAll(QByteArray());
    ASSERT_EQ(lines.size(), 67); // section line + 66 keys
    EXPECT_EQ(lines[0], QByteArray("[Settings]"));
    for (int i = 0; i < keys.size(); ++i)
        EXPECT_TRUE(lines[i + 1].startsWith(QByteArray(keys[i].toUtf8() + '='))) << lines[i + 1].constData();

    const ProfileFile f = settingsFile();
    EXPECT_EQ(f.read(u"Settings"_s, u"Column1"_s), u"563"_s);
    EXPECT_EQ(f.read(u"Settings"_s, u"LastPath"_s), test::home());
    // The placeholder address has a dotted domain, which news servers require.
    EXPECT_TRUE(f.read(u"Settings"_s, u"Email"_s).section(u'@', 1).contains(u'.'));
    EXPECT_EQ(appSettings().PartSize, 384000);
    EXPECT_EQ(appSettings().PostCheckTries, 2);

    // A file written before the post-check keys keeps every value it has.
    QByteArray older = test::readAll(settingsFile().path());
    older.replace("Port=119", "Port=563");
    older = older.left(older.indexOf("PostCheck="));
    test::writeAll(settingsFile().path(), older);
    appSettings().PostCheckTries = 9;
    EXPECT_TRUE(ReadINIFile());
    EXPECT_EQ(appSettings().Port, 563);
    EXPECT_EQ(appSettings().PostCheckTries, 2);
}

// One bad value costs only its own key: it gets its default (in the file
// too), one log line names it, every other key keeps what was entered.
TEST(AppSettings, ABadValueCostsOnlyItsOwnKey)
{
    const QList<QPair<QString, QString>> bad{{u"Port"_s, u"abc"_s},        {u"Port"_s, u"65536"_s},
                                             {u"Port"_s, u"-1"_s},         {u"Login"_s, u"40000"_s},
                                             {u"MaxSpeed"_s, u"99999999999"_s}, {u"MaxLines"_s, u"99999999999"_s},
                                             {u"SplitterPos1"_s, u""_s}};
    for (const auto &[key, value] : bad) {
        SCOPED_TRACE(qPrintable(key + u'=' + value));
        settingsWith({{u"Server"_s, u"news.example.org"_s}, {u"Connections"_s, u"7"_s}, {key, value}});
        EXPECT_TRUE(loadSettingsAtStartup());
        EXPECT_EQ(appSettings().Server, u"news.example.org"_s);
        EXPECT_EQ(appSettings().Connections, 7);
        EXPECT_EQ(settingsFile().read(u"Settings"_s, key), defaultSettings().fileText(key));
        EXPECT_EQ(settingsFile().read(u"Settings"_s, u"Server"_s), u"news.example.org"_s);
        // The error line, and one that says what to write instead.
        ASSERT_EQ(redLines(), 2);
        const QString line = logModel().line(logModel().count() - 2).text;
        EXPECT_TRUE(line.contains(key + u" = \""_s + value + u'"')) << qPrintable(line);
        EXPECT_TRUE(line.contains(u"the default"_s)) << qPrintable(line);
        EXPECT_TRUE(logModel().line(logModel().count() - 1).text.startsWith(
            u"Settings.ini: %1 = \"%2\" is not a number"_s.arg(key, value)));
    }
    // A key missing from the file is written back with its default.
    settingsWith({{u"Server"_s, u"news.example.org"_s}});
    QByteArray data = test::readAll(settingsFile().path());
    data.replace("MaxLines=3000\n", "");
    test::writeAll(settingsFile().path(), data);
    EXPECT_TRUE(ReadINIFile());
    EXPECT_EQ(settingsFile().read(u"Settings"_s, u"MaxLines"_s), u"3000"_s);
    EXPECT_EQ(appSettings().Server, u"news.example.org"_s);
}

// A file that cannot be read at all (a FIFO, a link to a device, far too large)
// is never waited for: it is kept aside and the defaults are written.
TEST(AppSettings, AFileThatCannotBeReadIsKeptAsideAndNeverWaitedFor)
{
    const QString path = settingsFile().path();
    const QString bak = path + u".bak"_s;
    const auto fifo = [&path] { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); };
    const auto zero = [&path] { ASSERT_TRUE(QFile::link(u"/dev/zero"_s, path)); };
    const auto big = [&path] { test::writeAll(path, "[Settings]\nServer=x\n" + QByteArray(2 << 20, ';')); };
    for (const std::function<void()> &make : {std::function<void()>(fifo), std::function<void()>(zero),
                                               std::function<void()>(big)}) {
        QFile::remove(path);
        QFile::remove(bak);
        make();
        logModel().clear();
        EXPECT_FALSE(loadSettingsAtStartup());
        EXPECT_TRUE(QFileInfo(path).isFile());
        EXPECT_EQ(settingsFile().read(u"Settings"_s, u"Port"_s), u"119"_s);
        EXPECT_TRUE(QFileInfo(bak).exists() || QFileInfo(bak).isSymLink());
        ASSERT_EQ(redLines(), 1);
        EXPECT_TRUE(logModel().line(0).text.contains(u"Settings.ini could not be read"_s))
            << qPrintable(logModel().line(0).text);
    }
    QFile::remove(bak);
}

// Edited on Windows: CRLF line endings read like LF ones.
TEST(AppSettings, CrLfFilesReadLikeLfOnes)
{
    settingsWith({{u"Server"_s, u"news.example.org"_s}, {u"Port"_s, u"563"_s}});
    QByteArray data = test::readAll(settingsFile().path());
    data.replace("\n", "\r\n");
    test::writeAll(settingsFile().path(), data);
    EXPECT_TRUE(ReadINIFile());
    EXPECT_EQ(appSettings().Server, u"news.example.org"_s);
    EXPECT_EQ(appSettings().Port, 563);
    EXPECT_EQ(redLines(), 0);
}

TEST(AppSettings, RepairsOnReading)
{
    struct Case
    {
        QString key, value;
        std::function<void(const AppSettings &)> check;
    };
    const QList<Case> cases = {
        {u"Connections"_s, u"0"_s, [](const AppSettings &s) { EXPECT_EQ(s.Connections, 1); }},
        {u"Connections"_s, u"150"_s, [](const AppSettings &s) { EXPECT_EQ(s.Connections, 25); }},
        {u"MaxLines"_s, u"999"_s, [](const AppSettings &s) { EXPECT_EQ(s.MaxLines, 1000); EXPECT_EQ(s.PartSize, 128000); }},
        {u"MaxLines"_s, u"-5"_s, [](const AppSettings &s) { EXPECT_EQ(s.MaxLines, 3000); EXPECT_EQ(s.PartSize, 384000); }},
        {u"WindowState"_s, u"1"_s, [](const AppSettings &s) { EXPECT_EQ(s.WindowState, u"0"_s); }},
        {u"MaxSpeed"_s, u"-20"_s, [](const AppSettings &s) { EXPECT_EQ(s.MaxSpeed, 0); }},
        {u"RarSplitSize"_s, u"15.5"_s, [](const AppSettings &s) { EXPECT_EQ(s.RarSplitSize, QString()); }},
        {u"LastPath"_s, u""_s, [](const AppSettings &s) { EXPECT_EQ(s.LastPath, test::home()); }},
        {u"Language"_s, u"Klingon"_s, [](const AppSettings &s) { EXPECT_EQ(s.Language, u"English"_s); }},
        {u"Subject"_s, QString(400, u's'), [](const AppSettings &s) { EXPECT_EQ(s.Subject, QString(354, u's')); }},
        {u"Column3"_s, u"120px"_s, [](const AppSettings &s) { EXPECT_EQ(s.Column3, 120); }},
        {u"SplitterPos2"_s, u"33.25"_s, [](const AppSettings &s) { EXPECT_DOUBLE_EQ(s.SplitterPos2, 33.25); }},
        {u"SpeedItems"_s, u"00|09|23|"_s,
         [](const AppSettings &s) { EXPECT_EQ(s.speedHours, (QStringList{u"00"_s, u"09"_s, u"23"_s})); }},
        // Ports above 32767 are ordinary TCP ports.
        {u"Port"_s, u"50000"_s, [](const AppSettings &s) { EXPECT_EQ(s.Port, 50000); }},
        {u"CheckConnections"_s, u"40"_s, [](const AppSettings &s) { EXPECT_EQ(s.CheckConnections, 25); }},
        {u"CheckFingerprint"_s, u"not a pin"_s, [](const AppSettings &s) { EXPECT_EQ(s.CheckFingerprint, QString()); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(qPrintable(c.key + u'=' + c.value.left(20)));
        settingsWith({{c.key, c.value}});
        ASSERT_TRUE(ReadINIFile());
        c.check(appSettings());
    }
    // A number out of its range is never kept silently.
    settingsWith({{u"Connections"_s, u"abc"_s}, {u"MaxLines"_s, u"99999999"_s}, {u"PostCheckDelay"_s, u"-5"_s}});
    ASSERT_TRUE(ReadINIFile());
    QStringList said;
    for (const LogLine &line : logModel().lines())
        if (line.text.startsWith(u"Settings.ini: "_s))
            said << line.text;
    EXPECT_TRUE(said.contains(u"Settings.ini: Connections = \"abc\" is not a number from 1 to 25; using 1"_s)) << qPrintable(said.join(u'\n'));
    EXPECT_TRUE(said.contains(u"Settings.ini: MaxLines = 99999999 is not a number from 1000 to 10000; using 10000"_s));
    EXPECT_TRUE(said.contains(u"Settings.ini: PostCheckDelay = -5 is not a number from 0 to 3600; using 0"_s));
    EXPECT_EQ(settingsFile().read(u"Settings"_s, u"PostCheckDelay"_s), u"0"_s); // and the file says so now
}

TEST(AppSettings, PasswordScrambling)
{
    EXPECT_EQ(scramblePassword(u"0"_s), u"W"_s);
    EXPECT_EQ(scramblePassword(u"W"_s), u"0"_s);
    EXPECT_EQ(scramblePassword(u" !/~"_s), u" !/~"_s); // outside 48..125 stays
    const QString all = u"Secret pass 123 }{|^&€"_s;
    EXPECT_EQ(scramblePassword(scramblePassword(all)), all);

    // The check server's password is kept the same way.
    settingsWith({});
    appSettings().Password = u"hunter2"_s;
    appSettings().CheckPassword = u"swordfish"_s;
    ASSERT_EQ(writeSettingKeys({u"Password"_s, u"CheckPassword"_s}), QString());
    EXPECT_EQ(settingsFile().read(u"Settings"_s, u"Password"_s), scramblePassword(u"hunter2"_s));
    EXPECT_EQ(settingsFile().read(u"Settings"_s, u"CheckPassword"_s), scramblePassword(u"swordfish"_s));
    ASSERT_TRUE(ReadINIFile());
    EXPECT_EQ(appSettings().Password, u"hunter2"_s);
    EXPECT_EQ(appSettings().CheckPassword, u"swordfish"_s);
}

TEST(AppSettings, SslModesAndTheTunnelStartsOnlyInItsOwn)
{
    int started = 0;
    setTunnelStarter([&] { ++started; });
    settingsWith({});
    ASSERT_TRUE(ReadINIFile());
    EXPECT_EQ(sslMode(appSettings()), SslMode::Plain);
    // A file from before the choice existed: SSL is the built-in kind.
    settingsWith({{u"EnableSSL"_s, u"1"_s}});
    ASSERT_TRUE(ReadINIFile());
    EXPECT_EQ(sslMode(appSettings()), SslMode::BuiltIn);
    EXPECT_EQ(started, 0);
    settingsWith({{u"EnableSSL"_s, u"1"_s}, {u"SSLTunnel"_s, u"1"_s}});
    ASSERT_TRUE(ReadINIFile());
    EXPECT_EQ(sslMode(appSettings()), SslMode::Tunnel);
    EXPECT_EQ(started, 1);
    // A pin that is no fingerprint pins nothing, and the file is mended.
    settingsWith({{u"EnableSSL"_s, u"1"_s}, {u"SSLFingerprint"_s, u"12:34"_s}});
    ASSERT_TRUE(ReadINIFile());
    EXPECT_EQ(appSettings().SSLFingerprint, QString());
    EXPECT_TRUE(test::readAll(settingsFile().path()).contains("\nSSLFingerprint=\n"));
    // A fingerprint is read in every usual spelling.
    const QString hex = u"0123456789ABCDEF"_s.repeated(4);
    EXPECT_EQ(normalizedFingerprint(hex.toLower()), hex);
    QString colons = hex;
    for (int k = 62; k > 0; k -= 2)
        colons.insert(k, u':');
    EXPECT_EQ(normalizedFingerprint(u"  "_s + colons + u" "_s), hex);
    for (const QString &bad : QStringList{hex.left(62), hex + u"00"_s, hex.left(63) + u"G"_s, QString()})
        EXPECT_TRUE(normalizedFingerprint(bad).isEmpty()) << qPrintable(bad);
}
