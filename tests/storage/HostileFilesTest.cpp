// Files the program reads that are not what they should be: a FIFO (which
// would block an open for ever), a link to /dev/zero (which never ends) or a
// file far too large. None is waited for; each is named and kept aside.
#include "common/Log.h"
#include "engine/Article.h"
#include "common/GeneralFunc.h"
#include "platform/FileNames.h"
#include "platform/SafeFiles.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "storage/Newsgroups.h"
#include "storage/NzbFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

enum class Kind { Fifo, DevZero };

void make(const QString &path, Kind kind)
{
    QFile::remove(path);
    if (kind == Kind::Fifo)
        ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        ASSERT_TRUE(QFile::link(u"/dev/zero"_s, path));
}

} // namespace

TEST(HostileFiles, ReadSmallFileTakesOnlyRegularFilesUpToTheLimit)
{
    const QString path = test::homeFile(u"f"_s);
    EXPECT_EQ(readSmallFile(path, 10).outcome, SmallFile::Missing);
    test::writeAll(path, "0123456789");
    EXPECT_EQ(readSmallFile(path, 10).data, QByteArray("0123456789"));
    const SmallFile big = readSmallFile(path, 9);
    EXPECT_EQ(big.outcome, SmallFile::Damaged);
    EXPECT_EQ(big.problem, u"larger than 9 bytes"_s);
    // A file that grows as it is read (the kernel's say they are empty).
    EXPECT_EQ(readSmallFile(u"/proc/self/status"_s, 16).problem, u"larger than 16 bytes"_s);
    for (Kind kind : {Kind::Fifo, Kind::DevZero}) {
        make(path, kind);
        const SmallFile f = readSmallFile(path, 1 << 20);
        EXPECT_EQ(f.outcome, SmallFile::Damaged);
        EXPECT_EQ(f.problem, u"not a regular file"_s);
        EXPECT_TRUE(f.data.isEmpty());
    }
}

TEST(HostileFiles, QueueJobListNewsgroupsNzbAndDataFilesAreNeverWaitedFor)
{
    for (Kind kind : {Kind::Fifo, Kind::DevZero}) {
        SCOPED_TRACE(kind == Kind::Fifo ? "FIFO" : "/dev/zero");
        make(queueFilePath(), kind);
        EXPECT_EQ(LoadStartXML(), 0);
        EXPECT_TRUE(queueLoadProblem().contains(u"not a regular file"_s)) << qPrintable(queueLoadProblem());
        EXPECT_TRUE(QFileInfo(queueFilePath() + u".bad"_s).exists() || QFileInfo(queueFilePath() + u".bad"_s).isSymLink());
        EXPECT_FALSE(QFileInfo(queueFilePath()).exists());

        make(jobFilePath(), kind);
        JobTree tree;
        logModel().clear();
        LoadRarPar(tree);
        EXPECT_FALSE(tree.hasJobs());
        EXPECT_GE(logModel().count(), 1);

        const QString groups = test::homeFile(u"Newsgroups.dat"_s);
        make(groups, kind);
        logModel().clear();
        EXPECT_TRUE(loadNewsgroups(groups).isEmpty());
        EXPECT_EQ(logModel().count(), 1);
        EXPECT_TRUE(QFileInfo(groups + u".bak"_s).exists() || QFileInfo(groups + u".bak"_s).isSymLink());

        const QString nzb = test::homeFile(u"x.nzb"_s);
        make(nzb, kind);
        QString error;
        EXPECT_TRUE(readNzb(nzb, &error).isEmpty());
        EXPECT_EQ(error, u"not a regular file"_s);

        // A queued item that is not a regular file cannot be posted, and says so.
        const QString data = test::homeFile(u"data.bin"_s);
        make(data, kind);
        ArticleFields fields;
        fields.newsgroups = u"alt.test"_s;
        const ChunkResult r = composeArticle(data, 1, 0, 1000, fields);
        EXPECT_EQ(r.status, ChunkResult::FileError);
        EXPECT_TRUE(r.error.contains(u"not a regular file"_s)) << qPrintable(r.error);
    }
}

// A name is any string of bytes: every one comes back as it was, from the
// folder listing through Queue.dat to the file opened for posting.
TEST(HostileFiles, NamesThatAreNotUtf8KeepEveryByte)
{
    for (int b = 0; b < 256; ++b) {
        const QByteArray one(1, char(b));
        EXPECT_EQ(encodeFileName(decodeFileName(one)), one) << b;
    }
    const QByteArray mixed = "caf\xc3\xa9-caf\xe9-\xed\xa0\x80-\xf0\x9f\x98\x80-\xc0\xaf-\xe2\x82";
    const QString decoded = decodeFileName(mixed);
    EXPECT_EQ(encodeFileName(decoded), mixed);
    EXPECT_TRUE(hasRawBytes(decoded));
    EXPECT_TRUE(decoded.startsWith(u"caf\u00e9-caf"_s));
    EXPECT_FALSE(hasRawBytes(decodeFileName("plain \xc3\xa9.bin")));
    EXPECT_EQ(displayName(decodeFileName("a\xff")), u"a\uFFFD"_s);

    const QString folder = test::homeFile(u"raw"_s);
    QDir().mkpath(folder);
    const QByteArray name = QFile::encodeName(folder) + "/x\xff\xfe.bin";
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "hello", 5), 5);
    ::close(fd);
    const QList<FolderFile> files = filesInFolder(folder);
    ASSERT_EQ(files.size(), 1);
    const QString path = files.first().path;
    EXPECT_EQ(encodeFileName(path), name);
    EXPECT_EQ(regularFileSize(path), 5);
    EXPECT_TRUE(fileExists(path));

    uploadQueue().append(UploadQueue::newItem(u"s"_s, u"alt.test"_s, path, 1, u"t"_s, {u"a@b"_s}));
    ASSERT_TRUE(SaveQueue());
    uploadQueue().clear();
    ASSERT_EQ(LoadStartXML(), 1);
    EXPECT_EQ(uploadQueue().item(1).path, path);
    ArticleFields fields;
    fields.newsgroups = u"alt.test"_s;
    const ChunkResult r = composeArticle(path, 1, 1, 1000, fields);
    ASSERT_EQ(r.status, ChunkResult::Ok) << qPrintable(r.error);
    EXPECT_TRUE(r.article.contains("name=x\xef\xbf\xbd\xef\xbf\xbd.bin\r\n"));
    EXPECT_TRUE(removeFile(path));
    EXPECT_EQ(regularFileSize(path), -1);
}
