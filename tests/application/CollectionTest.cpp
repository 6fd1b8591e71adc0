#include "application/Collection.h"
#include "common/Log.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {
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
    EXPECT_EQ(collectionSubject(u"H"_s, 1, 1, u"we\"ird.bin"_s), u"H - [1/1] - \"we'ird.bin\" yEnc"_s); // one pair of quotes
    EXPECT_EQ(nzbPathFor(u"/a/b/img.jpg"_s), u"/a/b/img.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/img.jpeg"_s), u"/a/b/img.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/README"_s), u"/a/b/README.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/alpha.bin"_s, u" Holiday: 2026/07 "_s), u"/a/b/Holiday_ 2026_07.nzb"_s);
    EXPECT_EQ(nzbPathFor(u"/a/b/alpha.bin"_s, u"..."_s), u"/a/b/alpha.nzb"_s);
}

TEST(Collection, NineAndTenFilesWithNzb)
{
    CollectionRequest r;
    r.files = test::makeFiles(test::homeFile(u"nine"_s), 9);
    r.subject = u"Pics"_s;
    r.newsgroups = u"alt.binaries.test"_s;
    EXPECT_EQ(queueCollection(r), 9);
    EXPECT_EQ(uploadQueue().item(1).subject, u"Pics - [1/9] - \"img001.jpg\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(9).subject, u"Pics - [9/9] - \"img009.jpg\" yEnc"_s);
    uploadQueue().clear();

    int partsReported = 0;
    r.files = test::makeFiles(test::homeFile(u"ten"_s), 10);
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

    // The folder again, now with the NZB the first run wrote: that is not one of the files.
    uploadQueue().clear();
    r.files = filesToQueueIn(test::homeFile(u"ten"_s));
    ASSERT_EQ(r.files.size(), 11);
    r.nzbPath = test::homeFile(u"ten//pics.nzb"_s);
    EXPECT_EQ(queueCollection(r), 11);
    EXPECT_EQ(uploadQueue().item(10).subject, u"Pics - [10/10] - \"img010.jpg\" yEnc"_s);
    EXPECT_EQ(uploadQueue().item(11).subject, u"Pics - [00/10] - \"pics.nzb\" yEnc"_s);
}

TEST(Collection, AZeroByteFileIsNotCounted)
{
    CollectionRequest r;
    r.files = test::makeFiles(test::homeFile(u"five"_s), 5, {3});
    r.subject = u"S"_s;
    r.newsgroups = u"a.b"_s;
    EXPECT_EQ(queueCollection(r), 4);
    EXPECT_EQ(subjects(), (QStringList{u"S - [1/4] - \"img001.jpg\" yEnc"_s, u"S - [2/4] - \"img002.jpg\" yEnc"_s,
                                       u"S - [3/4] - \"img004.jpg\" yEnc"_s, u"S - [4/4] - \"img005.jpg\" yEnc"_s}));
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_EQ(logModel().line(0).text, u"File \"img003.jpg\" could not be added, because the file size is 0 bytes."_s);
    EXPECT_EQ(logModel().line(0).colour, LogColour::Red);
}

TEST(Collection, ASubjectLineLongerThanAServerTakesIsRefusedWhenQueued)
{
    CollectionRequest r;
    r.files = test::makeFiles(test::homeFile(u"long"_s), 1);
    r.newsgroups = u"a.b"_s;
    // "Subject: " + the numbered subject + " (1/1)": 998 bytes fit, 999 do not.
    const int fixed = int(QByteArray("Subject:  - [1/1] - \"img001.jpg\" yEnc (1/1)").size());
    r.subject = QString(998 - fixed, u'x');
    EXPECT_EQ(queueCollection(r), 1);
    r.subject += u'x';
    logModel().clear();
    EXPECT_EQ(queueCollection(r), 0);
    ASSERT_EQ(logModel().count(), 1);
    EXPECT_TRUE(logModel().line(0).text.contains(u"subject line would be 999 bytes long"_s)) << qPrintable(logModel().line(0).text);
}
