#include "application/CommandLine.h"
#include "common/Log.h"
#include "storage/AppSettings.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(CommandLine, TheExampleLine)
{
    const QString folder = test::homeFile(u"My Holiday"_s);
    test::makeFiles(folder, 3);
    const CommandLine line = parseCommandLine({u"/F"_s, folder, u"/H"_s, u"Holiday Pics"_s, u"/N"_s,
                                               u"alt.binaries.test alt.binaries.misc"_s, u"/Z"_s, u"holiday"_s,
                                               u"/P"_s, u"/C"_s});
    BatchRequest r;
    ASSERT_TRUE(CheckCMDData(line, &r));
    EXPECT_EQ(r.folder, folder); // a path with blanks, given as one argument
    EXPECT_EQ(r.subject, u"Holiday Pics"_s);
    EXPECT_EQ(r.newsgroups, u"alt.binaries.test alt.binaries.misc"_s);
    EXPECT_EQ(r.nzbName, u"holiday.nzb"_s);
    EXPECT_TRUE(r.post);
    EXPECT_EQ(r.action, 0);
    // Every piece is logged, none asks a person.
    EXPECT_EQ(logModel().line(0).text, u"Commandline parameter: /F "_s + folder);

    EXPECT_EQ(CMDLoadData(r), 4);
    EXPECT_EQ(uploadQueue().item(1).newsgroups, u"alt.binaries.test,alt.binaries.misc"_s);
    EXPECT_EQ(uploadQueue().item(4).subject, u"Holiday Pics - [0/3] - \"holiday.nzb\" yEnc"_s);
    EXPECT_TRUE(QFile::exists(folder + u"/holiday.nzb"_s));
    EXPECT_TRUE(logModel().line(logModel().count() - 1).text == u"Added 4 files to queue."_s);
}

TEST(CommandLine, SwitchFormsAndRules)
{
    const QString folder = test::homeFile(u"f"_s);
    test::makeFiles(folder, 1);
    BatchRequest r;
    // Long and dash forms, words joined by blanks, quotes deleted.
    ASSERT_TRUE(CheckCMDData(parseCommandLine({u"--folder"_s, folder, u"-h"_s, u"Two"_s, u"\"Words\""_s, u"-n"_s,
                                               u"a.b"_s, u"-z"_s, u"X.NZB"_s, u"/c"_s, u"/S"_s}),
                             &r));
    EXPECT_EQ(r.subject, u"Two Words"_s);
    EXPECT_EQ(r.nzbName, u"X.NZB.nzb"_s);
    EXPECT_FALSE(r.post);
    EXPECT_EQ(r.action, 0); // the first action wins
    const CommandLine withHelp = parseCommandLine({u"stray"_s, u"--help"_s});
    EXPECT_TRUE(withHelp.help);
    EXPECT_EQ(withHelp.ignored, QStringList{u"stray"_s});
    EXPECT_TRUE(parseCommandLine({u"-h"_s}).help);
    EXPECT_TRUE(parseCommandLine({u"--version"_s}).version);
    const CommandLine headless = parseCommandLine({u"--headless"_s, u"/P"_s});
    EXPECT_TRUE(headless.headless);
    EXPECT_EQ(headless.pieces.size(), 1); // not part of any value
    EXPECT_TRUE(commandLineHelp(u"tessaly-poster"_s).contains(u"--newsgroups"_s));
}

TEST(CommandLine, AnUnknownSwitchIsSetAsideWithItsWords)
{
    // Between, after and before known switches; a value may hold "/".
    const struct
    {
        QStringList arguments;
        QString nzb, subject;
        QStringList unknown;
    } table[] = {
        {{u"/Z"_s, u"summer"_s, u"/J"_s, u"/P"_s}, u"summer.nzb"_s, {}, {u"/J"_s}},
        {{u"/Z"_s, u"summer"_s, u"--obscure"_s}, u"summer.nzb"_s, {}, {u"--obscure"_s}},
        {{u"-x"_s, u"its value"_s, u"/Z"_s, u"summer"_s}, u"summer.nzb"_s, {}, {u"-x its value"_s}},
        {{u"/H"_s, u"AC/DC"_s, u"live"_s, u"/Q"_s, u"9"_s, u"/Z"_s, u"a/b"_s}, u"a/b.nzb"_s, u"AC/DC live"_s, {u"/Q 9"_s}},
        {{u"/H"_s, u"-5 degrees"_s, u"--7"_s, u"-"_s, u"/home/x"_s}, {}, u"-5 degrees --7 - /home/x"_s, {}},
    };
    for (const auto &row : table) {
        const CommandLine line = parseCommandLine(row.arguments);
        EXPECT_EQ(line.unknown, row.unknown) << qPrintable(row.arguments.join(u' '));
        for (const CommandLine::Piece &p : line.pieces) {
            if (p.letter == u'Z') {
                EXPECT_EQ(p.value + u".nzb"_s, row.nzb);
            }
            if (p.letter == u'H') {
                EXPECT_EQ(p.value, row.subject);
            }
        }
    }
    BatchRequest r;
    (void)CheckCMDData(parseCommandLine({u"/H"_s, u"x"_s, u"/J"_s, u"y"_s}), &r);
    bool warned = false;
    for (int i = 0; i < logModel().count(); ++i)
        warned = warned || (logModel().line(i).text == u"Unknown switch ignored (see --help): /J y"_s
                            && logModel().line(i).colour == LogColour::Red);
    EXPECT_TRUE(warned);
    // Obfuscated, and an NZB kept off the server, in either spelling.
    for (const QStringList &args : {QStringList{u"/O"_s, u"--private-nzb"_s}, QStringList{u"--obfuscate"_s, u"--PRIVATE-NZB"_s}}) {
        BatchRequest o;
        (void)CheckCMDData(parseCommandLine(QStringList{u"/P"_s} + args), &o);
        EXPECT_TRUE(o.obfuscate) << qPrintable(args.join(u' '));
        EXPECT_FALSE(o.postNzb) << qPrintable(args.join(u' '));
    }
}

TEST(CommandLine, ServerSwitches)
{
    struct Case
    {
        QString server;
        bool ssl;
        bool ok;
        QString host;
        int port;
    };
    for (const Case &c : {Case{u"news.example.org"_s, false, true, u"news.example.org"_s, 119},
                          Case{u"news.example.org"_s, true, true, u"news.example.org"_s, 563},
                          Case{u"[::1]:8119"_s, false, true, u"::1"_s, 8119},
                          Case{u"news:65535"_s, false, true, u"news"_s, 65535},
                          Case{u"news:65536"_s, false, false, {}, 0}, Case{u"news:0"_s, false, false, {}, 0},
                          Case{u":119"_s, false, false, {}, 0}}) {
        appSettings().Server.clear();
        EXPECT_EQ(applyServerSwitches(c.server, c.ssl, {}, {}), c.ok) << qPrintable(c.server);
        if (c.ok) {
            EXPECT_EQ(appSettings().Server, c.host);
            EXPECT_EQ(appSettings().Port, c.port);
        }
    }
}

TEST(CommandLine, ProblemsAreLoggedAndNothingIsQueued)
{
    BatchRequest r;
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/F"_s, u"/no/such/folder"_s, u"/H"_s, u"x"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: Folder doesn't exist."_s);
    const QString folder = test::homeFile(u"zeros"_s);
    test::makeFiles(folder, 3, {1, 2, 3});
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/F"_s, folder, u"/N"_s, u"a.b"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: No subject specified."_s);
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/H"_s, u"s"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: No folder specified."_s);
    // Newsgroups by the name rule, separated by blanks or commas, one header line at most.
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/F"_s, folder, u"/H"_s, u"s"_s, u"/N"_s, u"alt.test a..b"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text,
              u"Invalid commandline parameter: \"a..b\" is not a newsgroup name."_s);
    ASSERT_TRUE(CheckCMDData(parseCommandLine({u"/F"_s, folder, u"/H"_s, u"s"_s, u"/N"_s, u"alt.a, alt.b alt.c"_s}), &r));
    EXPECT_EQ(newsgroupList(r.newsgroups), (QStringList{u"alt.a"_s, u"alt.b"_s, u"alt.c"_s}));

    // A folder of empty files queues nothing and logs each file.
    logModel().clear();
    ASSERT_TRUE(CheckCMDData(parseCommandLine({u"/F"_s, folder, u"/H"_s, u"s"_s, u"/N"_s, u"a.b"_s, u"/P"_s}), &r));
    EXPECT_EQ(CMDLoadData(r), 0);
    int red = 0;
    for (const LogLine &l : logModel().lines())
        red += l.colour == LogColour::Red;
    EXPECT_EQ(red, 3);
    EXPECT_EQ(uploadQueue().count(), 0);
    QDir().mkpath(test::homeFile(u"empty"_s));
    ASSERT_TRUE(CheckCMDData(parseCommandLine({u"/F"_s, test::homeFile(u"empty"_s), u"/H"_s, u"s"_s, u"/N"_s, u"a"_s}), &r));
    EXPECT_EQ(CMDLoadData(r), 0);
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: No files found in this folder."_s);
}
