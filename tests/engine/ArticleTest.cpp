#include "common/AppState.h"
#include "engine/Article.h"
#include "engine/ArticleSource.h"
#include "platform/ThreadTime.h"
#include "common/Crc32.h"
#include "platform/PartFiles.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/UploadQueue.h"
#include "support/TestEnvironment.h"
#include "support/YencDecode.h"

#include <QDir>
#include <QFile>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::randomData;

namespace {

ArticleFields fields(const QString &id = u"Part1of1.ABC@1.local"_s)
{
    ArticleFields f;
    f.email = u"poster@example.org"_s;
    f.nickname = u"Tess"_s;
    f.newsgroups = u"alt.binaries.test,alt.test"_s;
    f.subject = u"Holiday - [1/1] - \"a.bin\" yEnc"_s;
    f.messageId = id;
    f.version = u"Tessaly Poster v1.0.2"_s;
    return f;
}

// The header lines of an article (up to the blank line).
QList<QByteArray> headerLines(const QByteArray &article)
{
    return article.left(article.indexOf("\r\n\r\n")).split('\n');
}

QByteArray line(const QByteArray &article, const QByteArray &prefix)
{
    const qsizetype at = article.indexOf(QByteArray("\r\n" + prefix));
    return at < 0 ? QByteArray() : article.mid(at + 2, article.indexOf("\r\n", at + 2) - at - 2);
}

class ArticleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setRunTag(u"1765000000"_s);
        appSettings().setMaxLines(1000); // 128000-byte parts
        appSettings().Email = u"poster@example.org"_s;
        appSettings().Nickname = u"Tess"_s;
    }
};

} // namespace

TEST_F(ArticleTest, SmallFileGolden)
{
    const QString path = test::homeFile(u"a.bin"_s);
    // "Hi", a byte that becomes NUL, a byte that becomes "." and a TAB.
    test::writeAll(path, QByteArray("\x1e\x3f\xd6\x04\xdf", 5));
    const ChunkResult r = composeArticle(path, 1, 1, 384000, fields());
    ASSERT_EQ(r.status, ChunkResult::Ok);
    const QByteArray expected =
        "From: poster@example.org (Tess)\r\n"
        "Sender: poster@example.org\r\n"
        "Newsgroups: alt.binaries.test,alt.test\r\n"
        "Subject: Holiday - [1/1] - \"a.bin\" yEnc (1/1)\r\n"
        "X-Newsposter: Tessaly Poster v1.0.2 (https://tessaly-poster.example.org/)\r\n"
        "Message-ID: <Part1of1.ABC@1.local>\r\n"
        "\r\n"
        "=ybegin part=1 line=128 size=5 name=a.bin\r\n"
        "=ypart begin=1 end=5\r\n"
        "Hi=@.=I\r\n"
        "=yend size=5 part=1 pcrc32="
        + crcHex(crc::of(reinterpret_cast<const std::uint8_t *>("\x1e\x3f\xd6\x04\xdf"), 5)) + "\r\n"
        ".\r\n";
    EXPECT_EQ(r.article, expected);
}

// Parts at the edges of a file: an exact fit, one byte over, and the last
// part of a sparse file past 4 GB's 32-bit positions.
TEST_F(ArticleTest, PartBoundariesAndLargeFiles)
{
    const QString big = test::homeFile(u"big.bin"_s);
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(3LL * 1024 * 1024 * 1024 + 12345)); // sparse: nothing is written
    }
    test::writeAll(test::homeFile(u"exact.bin"_s), randomData(128000, 1));
    test::writeAll(test::homeFile(u"plus.bin"_s), randomData(128001, 2));
    const struct
    {
        QString name;
        int part, parts;
        qint64 partSize, partBytes;
        QByteArray ybegin, ypart; // empty: no article
    } cases[] = {
        {u"exact.bin"_s, 1, 1, 128000, 128000, "part=1 line=128 size=128000", "begin=1 end=128000"},
        {u"exact.bin"_s, 2, 1, 128000, 0, {}, {}},
        {u"plus.bin"_s, 1, 2, 128000, 128000, "part=1 line=128 size=128001", "begin=1 end=128000"},
        {u"plus.bin"_s, 2, 2, 128000, 1, "part=2 line=128 size=128001", "begin=128001 end=128001"},
        {u"big.bin"_s, 8389, 8389, 384000, 245817,
         "part=8389 line=128 size=3221237817", "begin=3220992001 end=3221237817"},
    };
    for (const auto &c : cases) {
        const ChunkResult r = composeArticle(test::homeFile(c.name), c.part, c.parts, c.partSize, fields());
        if (c.ybegin.isEmpty()) {
            EXPECT_EQ(r.status, ChunkResult::BeyondEnd) << qPrintable(c.name);
            continue;
        }
        ASSERT_EQ(r.status, ChunkResult::Ok) << qPrintable(c.name);
        EXPECT_EQ(line(r.article, "=ybegin"), "=ybegin " + c.ybegin + " name=" + c.name.toUtf8());
        EXPECT_EQ(line(r.article, "=ypart"), "=ypart " + c.ypart);
        EXPECT_EQ(r.partBytes, c.partBytes);
    }
    EXPECT_EQ(partCount(128001, 128000), 2);
    EXPECT_EQ(partCount(3LL * 1024 * 1024 * 1024 + 12345, 384000), 8389);
}

// Large parts are encoded straight from the file's pages: every part of a
// file longer than several mapped stretches decodes to its bytes, those
// that straddle two stretches included. A file cut short under a mapped
// part ends its use with "cut short" (a SIGBUS where whole pages are gone,
// zeros where the last page is cut), never with a crash or its old bytes.
TEST_F(ArticleTest, LargePartsComeStraightFromTheFile)
{
    const QString path = test::homeFile(u"large.bin"_s);
    const qint64 P = 1280000; // the longest part, so that the stretches' overlap is needed
    const QByteArray data = randomData(9 * P + 777, 11);
    test::writeAll(path, data);
    for (int part = 1; part <= 10; ++part) {
        const ChunkResult r = composeArticle(path, part, 10, P, fields());
        ASSERT_EQ(r.status, ChunkResult::Ok) << part;
        const test::DecodedPart d = test::decodeArticle(r.article);
        ASSERT_TRUE(d.ok) << qPrintable(d.error);
        EXPECT_TRUE(d.data == data.mid((part - 1) * P, P)) << part;
    }

#ifdef Q_OS_UNIX
    struct Use
    {
        QByteArray name;
        off_t cutTo;
        quint64 sum = 0;
    };
    const auto cutThenRead = [](void *context, const unsigned char *bytes) {
        auto *u = static_cast<Use *>(context);
        if (u->cutTo >= 0)
            (void)::truncate(u->name.constData(), u->cutTo);
        for (qint64 k = 0; k < 3 * P; ++k)
            u->sum += bytes[k];
    };
    const QByteArray name = QFile::encodeName(path);
    for (const off_t cutTo : {off_t(-1), off_t(0), off_t(4 * P - 10)}) {
        test::writeAll(path, data);
        QString error;
        const PartFile file = PartFile::open(path, &error);
        ASSERT_TRUE(file.isValid()) << qPrintable(error);
        Use use{name, cutTo};
        // Twice: the signal is caught again after a jump out of its handler.
        for (int round = 0; round < 2; ++round)
            EXPECT_EQ(file.useMapped(P, 3 * P, cutThenRead, &use),
                      cutTo < 0 ? PartFile::Mapped::Used : PartFile::Mapped::CutShort)
                << cutTo;
    }
    closePartFiles();
#endif
}

TEST_F(ArticleTest, HeaderTextCannotBreakLines)
{
    const QString path = test::homeFile(u"evil\nname.bin"_s);
    test::writeAll(path, "data");
    ArticleFields f = fields();
    f.subject = u"Nice\r\nNewsgroups: alt.spam"_s;
    f.newsgroups = u"alt.test\nPath: evil"_s;
    const ChunkResult refused = composeArticle(path, 1, 1, 1000, f);
    EXPECT_EQ(refused.status, ChunkResult::FileError);
    EXPECT_TRUE(refused.error.contains(u"cannot post to these newsgroups"_s)) << qPrintable(refused.error);
    f.newsgroups = u"alt.test"_s;
    f.nickname = u"a"_s + QChar(0) + u"b"_s;
    f.email = u"x@example.org\r\nPath: evil"_s;
    const ChunkResult r = composeArticle(path, 1, 1, 1000, f);
    ASSERT_EQ(r.status, ChunkResult::Ok);
    const QList<QByteArray> head = headerLines(r.article);
    ASSERT_EQ(head.size(), 6);
    const char *prefixes[] = {"From: ", "Sender: ", "Newsgroups: ", "Subject: ", "X-Newsposter: ", "Message-ID: "};
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(head[i].startsWith(prefixes[i])) << head[i].constData();
    EXPECT_EQ(head[3], "Subject: Nice  Newsgroups: alt.spam (1/1)\r");
    EXPECT_EQ(head[0], "From: x@example.org  Path: evil (a b)\r");
    EXPECT_EQ(line(r.article, "=ybegin"), "=ybegin part=1 line=128 size=4 name=evil name.bin");
    EXPECT_EQ(r.article.count("\r\n.\r\n"), 1);
}

TEST_F(ArticleTest, ArticlesPreparedAheadAreUsedOnlyWhenTheyStillFit)
{
    const QString path = test::homeFile(u"three.bin"_s);
    test::writeAll(path, randomData(128000 * 2 + 500, 5));
    const qint64 P = 128000;
    const QByteArray direct = composeArticle(path, 2, 3, P, fields()).article;
    ASSERT_FALSE(direct.isEmpty());

    // The same part: the prepared article is the very same bytes.
    PreparedArticle ahead = prepareArticle(path, 2, 3, P, fields());
    ASSERT_TRUE(ahead.pending());
    ChunkResult r = takeArticle(ahead, path, 2, 3, P, fields());
    EXPECT_FALSE(ahead.pending());
    ASSERT_EQ(r.status, ChunkResult::Ok);
    EXPECT_EQ(r.article, direct);

    // Asked for in another order than prepared: whether a worker or the
    // thread that asks composes each, every one is whole and right.
    std::vector<PreparedArticle> several;
    for (int part = 1; part <= 3; ++part)
        several.push_back(prepareArticle(path, part, 3, P, fields()));
    for (int part = 3; part >= 1; --part) {
        const QByteArray made = composeArticle(path, part, 3, P, fields()).article;
        ASSERT_FALSE(made.isEmpty());
        EXPECT_EQ(takeArticle(several[std::size_t(part - 1)], path, part, 3, P, fields()).article, made);
    }

    // Another part asked for, or another Message-ID (a refusal called for a fresh one): made anew.
    ahead = prepareArticle(path, 2, 3, P, fields());
    r = takeArticle(ahead, path, 3, 3, P, fields());
    EXPECT_TRUE(r.article.contains("Subject: Holiday - [1/1] - \"a.bin\" yEnc (3/3)\r\n"));
    ahead = prepareArticle(path, 2, 3, P, fields());
    r = takeArticle(ahead, path, 2, 3, P, fields(u"Fresh.1@x"_s));
    EXPECT_TRUE(r.article.contains("Message-ID: <Fresh.1@x>"));
    EXPECT_NE(r.article, direct);
    ArticleFields moved = fields(); // the item's newsgroups changed meanwhile
    moved.newsgroups = u"alt.binaries.misc"_s;
    ahead = prepareArticle(path, 2, 3, P, fields());
    EXPECT_TRUE(takeArticle(ahead, path, 2, 3, P, moved).article.contains("Newsgroups: alt.binaries.misc\r\n"));

    // The file shrank after the article was prepared: no stale article, a file error.
    ahead = prepareArticle(path, 2, 3, P, fields());
    ahead.result->wait();
    test::writeAll(path, randomData(1000, 5));
    EXPECT_EQ(takeArticle(ahead, path, 2, 3, P, fields()).status, ChunkResult::FileError);

#ifdef Q_OS_LINUX
    // One dropped before its turn leaves its file alone.
    const auto isOpen = [](const QString &file) {
        const QDir fds(u"/proc/self/fd"_s);
        for (const QString &fd : fds.entryList(QDir::Files | QDir::System))
            if (QFile::symLinkTarget(fds.filePath(fd)) == file)
                return true;
        return false;
    };
    const QString dropped = test::homeFile(u"dropped.bin"_s);
    const QString wanted = test::homeFile(u"wanted.bin"_s);
    test::writeAll(dropped, randomData(1000, 1));
    test::writeAll(wanted, randomData(1000, 2));
    closePartFiles();
    // Jobs left over from above (taken meanwhile, so nothing to do) would
    // make the next one the fourth in the queue, which wakes a worker at
    // once, before it could be dropped: the loop waits once, and the
    // workers empty the queue.
    {
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // Handed out from the event loop's thread, they wait for it to be idle
    // or for somebody to wait for one of them.
    prepareArticle(dropped, 1, 1, 128000, fields()); // dropped at once
    ahead = prepareArticle(wanted, 1, 1, 128000, fields());
    ahead.result->wait();
    EXPECT_TRUE(isOpen(wanted));
    EXPECT_FALSE(isOpen(dropped));
    closePartFiles();
#endif
}

// Ahead while the thread that posts is busy, with a margin each way so that
// the choice does not flip with every window.
TEST(PostingLoad, AheadWhileThePostingThreadIsBusy)
{
    double wall = 0, cpu = 0;
    PostingLoad load([&] { return wall; }, [&] { return cpu; });
    const auto window = [&](double share) {
        wall += PostingLoad::kWindowSeconds;
        cpu += PostingLoad::kWindowSeconds * share;
        return load.busy();
    };
    EXPECT_FALSE(load.busy()); // nothing measured yet: on the event loop
    EXPECT_FALSE(window(0.45));
    EXPECT_TRUE(window(0.55));
    EXPECT_TRUE(window(0.35));
    wall += PostingLoad::kWindowSeconds / 5; // within a window: as it was
    EXPECT_TRUE(load.busy());
    EXPECT_FALSE(window(0.2));
    EXPECT_GT(threadCpuSeconds(), 0);
}
