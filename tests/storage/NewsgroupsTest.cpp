#include "common/Log.h"
#include "storage/Newsgroups.h"
#include "support/TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Newsgroups, LoadSkipsBlanksAndEmptyLines)
{
    const QString path = newsgroupsFilePath();
    EXPECT_TRUE(loadNewsgroups(path).isEmpty());
    test::writeAll(path, "  alt.binaries.test \r\n\r\nalt.binaries.misc\r\n   \r\n");
    EXPECT_EQ(loadNewsgroups(path), (QStringList{u"alt.binaries.test"_s, u"alt.binaries.misc"_s}));

    ASSERT_EQ(saveNewsgroups({u"a.b"_s, u"c.d"_s}, path), QString());
    EXPECT_EQ(test::readAll(path), QByteArray("a.b\r\nc.d\r\n"));
    test::writeAll(path, "");
    EXPECT_TRUE(loadNewsgroups(path).isEmpty());
}

TEST(Newsgroups, DamagedFileKeepsTheGoodNamesAndSaysWhatItSkipped)
{
    const QString path = newsgroupsFilePath();
    QByteArray damaged = "alt.binaries.test\r\n";
    damaged += QByteArray("\x00\x01\x02garbage\xff\xfe\r\n", 15);
    damaged += "two words\r\nalt.a,alt.b\r\n";
    damaged += QByteArray(10000, 'x') + "\r\n";
    damaged += "de.alt.b\xc3\xbc" "cher\r\n"; // no ASCII name
    damaged += "alt.binaries.tru";             // cut off mid-line
    test::writeAll(path, damaged);
    EXPECT_EQ(loadNewsgroups(path),
              (QStringList{u"alt.binaries.test"_s, u"alt.binaries.tru"_s}));
    ASSERT_FALSE(logModel().lines().isEmpty());
    EXPECT_TRUE(logModel().lines().constLast().text.contains(u"5 line(s) skipped"_s));
    EXPECT_TRUE(logModel().lines().constLast().text.contains(u"line 2)"_s));
    EXPECT_EQ(test::readAll(path), damaged); // reading changes nothing

    // Pure noise: whatever comes back can go into a header.
    test::writeAll(path, test::randomData(1 << 20, 77));
    for (const QString &name : loadNewsgroups(path))
        EXPECT_TRUE(isNewsgroupName(name)) << qPrintable(name);
}

TEST(Newsgroups, NamesAndHeaderLinesFollowTheNewsgroupNameRule)
{
    for (const QString &good : {u"alt.binaries.test"_s, u"a"_s, u"comp.lang.c++"_s, u"de.alt.a_b-c"_s, u"A.B2"_s})
        EXPECT_TRUE(isNewsgroupName(good)) << qPrintable(good);
    for (const QString &bad : {u"a:b"_s, u".a.b"_s, u"a..b"_s, u"a.*"_s, u"a."_s, u""_s, u"a b"_s, u"a,b"_s,
                               u"de.b\u00fccher"_s, QString(600, u'a')})
        EXPECT_FALSE(isNewsgroupName(bad)) << qPrintable(bad);
    EXPECT_EQ(newsgroupsProblem({u"alt.test"_s, u"a..b"_s}), u"\"a..b\" is not a newsgroup name"_s);
    QStringList many;
    for (int k = 0; k < 80; ++k) // a line of 1,051 characters
        many << u"alt.group%1"_s.arg(k, 3, 10, QChar(u'0'));
    EXPECT_TRUE(newsgroupsProblem(many).contains(u"more than 998"_s)) << qPrintable(newsgroupsProblem(many));
    EXPECT_EQ(newsgroupsProblem(many.mid(0, 70)), QString());
}
