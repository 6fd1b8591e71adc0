#include "storage/ProfileFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(ProfileFile, MissingFileSectionOrKeyReadsEmpty)
{
    ProfileFile f(test::homeFile(u"p.ini"_s));
    EXPECT_EQ(f.read(u"Settings"_s, u"Server"_s), QString());
    test::writeAll(f.path(), "[Other]\nServer=x\n");
    EXPECT_EQ(f.read(u"Settings"_s, u"Server"_s), QString());
    EXPECT_EQ(f.read(u"Other"_s, u"Port"_s), QString());
    EXPECT_FALSE(f.hasKey(u"Other"_s, u"Port"_s));
    EXPECT_TRUE(f.hasKey(u"other"_s, u"server"_s));
}

TEST(ProfileFile, WritesCreateAndReplaceKeysInPlace)
{
    ProfileFile f(test::homeFile(u"p.ini"_s));
    ASSERT_EQ(f.write(u"Settings"_s, u"Server"_s, u"news.example.org"_s), QString());
    ASSERT_EQ(f.write(u"Settings"_s, u"Port"_s, u"119"_s), QString());
    ASSERT_EQ(f.write(u"Settings"_s, u"server"_s, u"other.example.org"_s), QString());
    EXPECT_EQ(test::readAll(f.path()), QByteArray("[Settings]\nserver=other.example.org\nPort=119\n"));
    EXPECT_EQ(f.read(u"SETTINGS"_s, u"SERVER"_s), u"other.example.org"_s);

    // A key of a second section goes there; the first section keeps its keys.
    ASSERT_EQ(f.write(u"Extra"_s, u"A"_s, u"1"_s), QString());
    ASSERT_EQ(f.write(u"Settings"_s, u"Login"_s, u"0"_s), QString());
    EXPECT_EQ(test::readAll(f.path()),
              QByteArray("[Settings]\nserver=other.example.org\nPort=119\nLogin=0\n\n[Extra]\nA=1\n"));
}

TEST(ProfileFile, ReadTrimsQuotesAndCutsLongValues)
{
    ProfileFile f(test::homeFile(u"p.ini"_s));
    const QByteArray longValue(400, 'x');
    test::writeAll(f.path(), "; comment\r\n[Settings]\r\n  Nick = \"Tess\"  \r\nLong=" + longValue + "\r\nEq=a=b\r\nOne='x'\r\nMixed=\"y'\r\n");
    EXPECT_EQ(f.read(u"Settings"_s, u"Nick"_s), u"Tess"_s);
    EXPECT_EQ(f.read(u"Settings"_s, u"Long"_s).size(), 354);
    EXPECT_EQ(f.read(u"Settings"_s, u"Eq"_s), u"a=b"_s);
    EXPECT_EQ(f.read(u"Settings"_s, u"One"_s), u"x"_s);
    EXPECT_EQ(f.read(u"Settings"_s, u"Mixed"_s), u"\"y'"_s);
}

TEST(ProfileFile, LineBreaksInValuesCannotAddKeys)
{
    ProfileFile f(test::homeFile(u"p.ini"_s));
    ASSERT_EQ(f.write(u"Settings"_s, u"Subject"_s, u"a\nPort=1"_s), QString());
    EXPECT_EQ(f.read(u"Settings"_s, u"Port"_s), QString());
    EXPECT_EQ(f.read(u"Settings"_s, u"Subject"_s), u"a Port=1"_s);
}

TEST(ProfileFile, FileIsPrivateAndReplacedAtomically)
{
    ProfileFile f(test::homeFile(u"p.ini"_s));
    ASSERT_EQ(f.write(u"Settings"_s, u"Password"_s, u"secret"_s), QString());
    EXPECT_EQ(QFileInfo(f.path()).permissions() & 0x0FFF & ~(QFileDevice::ReadUser | QFileDevice::WriteUser
                                                              | QFileDevice::ReadOwner | QFileDevice::WriteOwner),
              QFileDevice::Permissions());
    EXPECT_EQ(QDir(test::home()).entryList(QDir::Files), QStringList{u"p.ini"_s});
}
