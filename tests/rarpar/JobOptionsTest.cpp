#include "rarpar/JobOptions.h"

#include "support/TestEnvironment.h"

#include <QDir>

#include <functional>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

JobOptions holiday()
{
    JobOptions o;
    o.compression = 1;
    o.splitText = u"15000000"_s;
    o.calcEfficient = false;
    o.savePath = u"/home/me/Out/"_s;
    o.archiveName = u"Holiday.rar"_s;
    o.partSize = 384000;
    return o;
}

JobRequest request(const QStringList &inputs)
{
    JobRequest r;
    r.inputs = inputs;
    r.collectionName = u"Holiday"_s;
    r.outputPath = u"/home/me/Out"_s;
    r.subject = u" Holiday Pics "_s;
    r.newsgroups = {u"alt.binaries.test"_s, u"alt.binaries.misc"_s};
    r.nzb = true;
    r.nzbName = u"Holiday"_s;
    r.options = holiday();
    return r;
}

} // namespace

TEST(JobOptions, CommandLinesOfTheTwoTools)
{
    JobOptions o = holiday();
    const QString files = quoteFileList({u"/home/me/Pics/Holiday"_s});
    EXPECT_EQ(GetRarString(o, files),
              u"a -r0 -ep1 -m3 -v15000000b -- \"/home/me/Out/<TempFolder>/Holiday.rar\" \"/home/me/Pics/Holiday\""_s);
    EXPECT_EQ(GetPar2String(o),
              u"create -s384000 -r10 \"/home/me/Out/<TempFolder>/Holiday.par2\" \"/home/me/Out/<TempFolder>/*.*\""_s);

    // The efficient size: 15,000,000 / 384,000 = 39.0625 parts, so 39 parts.
    o.calcEfficient = true;
    EXPECT_TRUE(GetRarString(o, files).contains(u"-v14976000b "_s));
    // Halves go to the even neighbour: 2.5 parts -> 2, 3.5 parts -> 4; never 0.
    o.partSize = 100000;
    o.splitText = u"250000"_s;
    EXPECT_EQ(volumeSize(o), 200000);
    o.splitText = u"350000"_s;
    EXPECT_EQ(volumeSize(o), 400000);
    o.partSize = 1000000;
    o.splitText = u"100000"_s;
    EXPECT_EQ(volumeSize(o), 1000000);
    o.megabytes = true;
    o.calcEfficient = false;
    o.splitText = u"250"_s;
    EXPECT_EQ(volumeSize(o), MaxSplitSize);

    // Compression, old naming, ZIP (no split), uniform recovery files, more inputs.
    JobOptions z = holiday();
    z.compression = 2;
    z.oldNaming = true;
    z.splitText.clear();
    z.archiveName = u"My.File.zip"_s;
    z.uniformSize = true;
    z.redundancy = u"5"_s;
    EXPECT_EQ(GetRarString(z, quoteFileList({u"/a b/c"_s, u"/d\"e$f"_s})),
              u"a -r0 -ep1 -m5 -vn -- \"/home/me/Out/<TempFolder>/My.File.zip\" \"/a b/c\" \"/d\"\"e$f\""_s);
    EXPECT_EQ(GetPar2String(z), u"create -s384000 -r5 -u \"/home/me/Out/<TempFolder>/My.File.par2\" "
                                u"\"/home/me/Out/<TempFolder>/*.*\""_s);
    z.compression = 0;
    EXPECT_TRUE(GetRarString(z, {}).startsWith(u"a -r0 -ep1 -m0 -vn -- "_s));
}

TEST(JobOptions, NamesAndArchiveCounts)
{
    EXPECT_EQ(withExtension(u"Holiday"_s, u"rar"_s), u"Holiday.rar"_s);
    EXPECT_EQ(withExtension(u"Holiday"_s, u"zip"_s), u"Holiday.zip"_s);
    EXPECT_EQ(withExtension(u"My.File.rar"_s, u"zip"_s), u"My.File.zip"_s);
    EXPECT_EQ(withExtension(u"rar.rar"_s, u"zip"_s), u"rar.zip"_s);
    EXPECT_EQ(withExtension(u"clip.mpeg"_s, u"rar"_s), u"clip.mpeg.rar"_s);
    EXPECT_EQ(withoutExtension(u"Holiday.jpg"_s), u"Holiday"_s);
    EXPECT_EQ(withoutExtension(u"Holiday"_s), u"Holiday"_s);
    EXPECT_EQ(archiveCount(1000, 0), 1);
    EXPECT_EQ(archiveCount(300000, 100000), 3);
    EXPECT_EQ(archiveCount(300001, 100000), 4);
    EXPECT_EQ(splitSizeBytes(u"15"_s, true), 15 * 1048576);
    EXPECT_EQ(splitSizeBytes(QString(), false), 0);
}

TEST(JobOptions, AddIsCheckedInOrder)
{
    const QStringList in{u"/home/me/Pics/Holiday"_s};
    struct Case
    {
        std::function<void(JobRequest &)> change;
        int slot;
    };
    const Case cases[] = {
        {[](JobRequest &r) { r.inputs.clear(); r.collectionName.clear(); }, 189},
        {[](JobRequest &r) { r.inputs = {u"/p/a?c"_s}; r.collectionName.clear(); }, 285}, // a pattern to rar
        {[](JobRequest &r) { r.inputs << u"/p/*.bin"_s; }, 285},
        {[](JobRequest &r) { r.collectionName = u"  "_s; r.outputPath.clear(); }, 190},
        {[](JobRequest &r) { r.outputPath = u" "_s; r.options.archiveName.clear(); }, 191},
        {[](JobRequest &r) { r.outputPath = u"~/uploads"_s; r.options.archiveName.clear(); }, 286},
        {[](JobRequest &r) { r.outputPath = u"-x"_s; }, 286},
        {[](JobRequest &r) { r.options.archiveName = u" "_s; }, 192},
        {[](JobRequest &r) { r.options.splitText = u"99999"_s; r.subject.clear(); }, 193},
        {[](JobRequest &r) { r.options.splitText = u"262144001"_s; }, 194},
        {[](JobRequest &r) { r.subject = u" "_s; r.newsgroups.clear(); }, 24},
        {[](JobRequest &r) { r.newsgroups.clear(); }, 25},
        {[](JobRequest &r) { r.options.splitText.clear(); }, 195}, // 300 MB in one archive
        {[](JobRequest &r) { r.options.splitText = u"100000"_s; }, 0},
        {[](JobRequest &r) { r.options.splitText = u"262144000"_s; }, 0},
        {[](JobRequest &r) { r.options.megabytes = true; r.options.splitText = u"250"_s; }, 0},
    };
    for (const Case &c : cases) {
        JobRequest r = request(in);
        c.change(r);
        EXPECT_EQ(validateJob(r, 300000000), c.slot);
    }
    JobRequest ok = request(in);
    ok.options.archiveName = u"Holiday"_s;
    ok.options.createZip = true;
    ok.options.splitText.clear();
    EXPECT_EQ(validateJob(ok, 1000), 0);
    EXPECT_EQ(ok.options.archiveName, u"Holiday.zip"_s);
}

TEST(JobOptions, OneJobOrOnePerItem)
{
    const QString dir = test::home() + u"/in"_s;
    QDir().mkpath(dir + u"/Holiday/sub"_s);
    test::writeAll(dir + u"/Holiday/sub/a.jpg"_s, QByteArray(300, 'a'));
    test::writeAll(dir + u"/Holiday/b.jpg"_s, QByteArray(200, 'b'));
    test::writeAll(dir + u"/clip.avi"_s, QByteArray(100, 'c'));
    JobRequest r = request({dir + u"/Holiday"_s, dir + u"/clip.avi"_s});
    r.options.splitText = u"100000"_s;
    r.extraFiles = {u"/x/info.nfo"_s};
    const qint64 total = itemSize(dir + u"/Holiday"_s) + itemSize(dir + u"/clip.avi"_s);
    EXPECT_EQ(total, 600);

    const QVector<RarParJob> one = makeJobs(r, total);
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0].name, u"Holiday"_s);
    EXPECT_EQ(one[0].savePath, u"/home/me/Out/"_s);
    EXPECT_EQ(one[0].subject, u"Holiday Pics"_s);
    EXPECT_EQ(one[0].newsgroups, u"alt.binaries.test,alt.binaries.misc"_s);
    EXPECT_EQ(one[0].nzb, u"Holiday.nzb"_s);
    EXPECT_EQ(one[0].totalSize, 600);
    EXPECT_TRUE(one[0].rar.endsWith(u"\"" + dir + u"/Holiday\" \"" + dir + u"/clip.avi\""));

    r.separate = true;
    r.options.createZip = true; // separate jobs are always RAR
    r.nzb = false;
    const QVector<RarParJob> two = makeJobs(r, total);
    ASSERT_EQ(two.size(), 2);
    EXPECT_EQ(two[0].name, u"Holiday"_s);
    EXPECT_EQ(two[1].name, u"clip"_s);
    EXPECT_EQ(two[0].totalSize, 500);
    EXPECT_EQ(two[1].totalSize, 100);
    EXPECT_TRUE(two[1].rar.contains(u"/<TempFolder>/clip.rar\" \""_s + dir + u"/clip.avi\""));
    EXPECT_TRUE(two[1].par2.contains(u"/<TempFolder>/clip.par2\""_s));
    EXPECT_TRUE(two[0].nzb.isEmpty());
    EXPECT_EQ(two[1].extraFiles, r.extraFiles);
}
