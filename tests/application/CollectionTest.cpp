#include "application/CommandLine.h"
#include "common/Log.h"
#include "storage/AppSettings.h"
#include "application/Collection.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {
QStringList makeFiles(const QString &folder, int n, const QList<int> &empty = {})
{
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 1; i <= n; ++i) {
        const QString p = folder + u"/img%1.jpg"_s.arg(i, 3, 10, QChar(u'0'));
        test::writeAll(p, empty.contains(i) ? QByteArray() : QByteArray(1000 + i, 'x'));
        files << p;
    }
    return files;
}

QStringList subjects()
{
    QStringList s;
    for (int i = 1; i <= uploadQueue().count(); ++i)
        s << uploadQueue().item(i).subject;
    return s;
}
} // namespace

TEST(Collection, SubjectCounters)
{
    EXPECT_EQ(collectionSubject(u" Holiday "_s, 3, 12, u"img003.jpg"_s), u"Holiday - [03/12] - \"img003.jpg\" yEnc"_s);
    EXPECT_EQ(collectionSubject(u"H"_s, 9, 9, u"f"_s), u"H - [9/9] - \"f\" yEnc"_s);
    EXPECT_EQ(collectionSubject(u"H"_s, 0, 10, u"x.nzb"_s), u"H - [00/10] - \"x.nzb\" yEnc"_s);
    EXPECT_EQ(collectionSubject(u"H"_s, 7, 1000, u"f"_s), u"H - [0007/1000] - \"f\" yEnc"_s);
    EXPECT_EQ(collectionSubject(u"H"_s, 7, 10000, u"f"_s), u"H - [7/10000] - \"f\" yEnc"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/img.jpg"_s), u"/a/b/img.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/img.jpeg"_s), u"/a/b/img.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/README"_s), u"/a/b/README.nzb"_s);
}

TEST(Collection, NineAndTenFilesWithNzb)
{
    CollectionRequest r;
    r.files = makeFiles(test::homeFile(u"nine"_s), 9);
    r.subject = u"Pics"_s;
    r.newsgroups = u"alt.binaries.test"_s;
    EXPECT_EQ(queueCollection(r), 9);
    EXPECT_EQ(uploadQueue().item(1).subject, u"Pics - [1/9] - \"img001.jpg\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(9).subject, u"Pics - [9/9] - \"img009.jpg\" yEnc"_s);
    uploadQueue().clear();

    int partsReported = 0;
    r.files = makeFiles(test::homeFile(u"ten"_s), 10);
    r.nzbPath = test::homeFile(u"ten/pics.nzb"_s);
    r.onItemAdded = [&](int parts) { partsReported += parts; };
    EXPECT_EQ(queueCollection(r), 11);
    EXPECT_EQ(uploadQueue().item(1).subject, u"Pics - [01/10] - \"img001.jpg\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(11).subject, u"Pics - [00/10] - \"pics.nzb\" yEnc"_s);
    EXPECT_EQ(partsReported, 11);
    // One tag for the whole collection, the NZB included; IDs for every part.
    for (int i = 1; i <= 11; ++i) {
        EXPECT_EQ(uploadQueue().item(i).tag, uploadQueue().item(1).tag);
        EXPECT_EQ(uploadQueue().item(i).messageids.size(), uploadQueue().item(i).maxparts);
    }
    const QByteArray nzb = test::readAll(r.nzbPath);
    EXPECT_EQ(nzb.count("<file poster"), 10);
}

TEST(Collection, ZeroByteFileLeavesAGap)
{
    CollectionRequest r;
    r.files = makeFiles(test::homeFile(u"five"_s), 5, {3});
    r.subject = u"S"_s;
    r.newsgroups = u"a.b"_s;
    EXPECT_EQ(queueCollection(r), 4);
    EXPECT_EQ(subjects(), (QStringList{u"S - [1/5] - \"img001.jpg\" yEnc"_s, u"S - [2/5] - \"img002.jpg\" yEnc"_s,
                                       u"S - [4/5] - \"img004.jpg\" yEnc"_s, u"S - [5/5] - \"img005.jpg\" yEnc"_s}));
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_EQ(logModel().line(0).text, u"File \"img003.jpg\" could not be added, because the file size is 0 bytes."_s);
    EXPECT_EQ(logModel().line(0).colour, LogColour::Red);
}

TEST(CommandLine, TheExampleLine)
{
    const QString folder = test::homeFile(u"My Holiday"_s);
    makeFiles(folder, 3);
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
    makeFiles(folder, 1);
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
    EXPECT_TRUE(commandLineHelp(u"tessaly-poster"_s).contains(u"--newsgroups"_s));
}

TEST(CommandLine, ProblemsAreLoggedAndNothingIsQueued)
{
    BatchRequest r;
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/F"_s, u"/no/such/folder"_s, u"/H"_s, u"x"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: Folder doesn't exist."_s);
    const QString folder = test::homeFile(u"zeros"_s);
    makeFiles(folder, 3, {1, 2, 3});
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/F"_s, folder, u"/N"_s, u"a.b"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: No subject specified."_s);
    EXPECT_FALSE(CheckCMDData(parseCommandLine({u"/H"_s, u"s"_s}), &r));
    EXPECT_EQ(logModel().line(logModel().count() - 1).text, u"Invalid commandline parameter: No folder specified."_s);

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
