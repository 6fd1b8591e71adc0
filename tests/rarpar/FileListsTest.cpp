#include "rarpar/FileLists.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(FileLists, GnomeSortIgnoresCaseAndKeepsThePlaceholderFirst)
{
    QStringList l{QString(), u"/f/c.rar"_s, u"/f/A.rar"_s, u"/f/b.rar"_s};
    GnomeSort(l);
    EXPECT_EQ(l, (QStringList{QString(), u"/f/A.rar"_s, u"/f/b.rar"_s, u"/f/c.rar"_s}));

    // Equal keys keep their order (stable).
    QStringList eq{QString(), u"x"_s, u"X"_s, u"a"_s};
    GnomeSort(eq);
    EXPECT_EQ(eq, (QStringList{QString(), u"a"_s, u"x"_s, u"X"_s}));

    QStringList sorted{QString(), u"a"_s, u"b"_s};
    GnomeSort(sorted);
    EXPECT_EQ(sorted, (QStringList{QString(), u"a"_s, u"b"_s}));
    QStringList empty;
    GnomeSort(empty);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(FileLists, PickedFilesAndTheirFolder)
{
    EXPECT_EQ(setPickedFiles({u"/home/me/Holiday/c.rar"_s, u"/home/me/Holiday/A.rar"_s, u"/home/me/Holiday/b.rar"_s}),
              u"/home/me/Holiday/"_s);
    EXPECT_EQ(PickedFiles(), (QStringList{QString(), u"/home/me/Holiday/A.rar"_s, u"/home/me/Holiday/b.rar"_s,
                                          u"/home/me/Holiday/c.rar"_s}));
    EXPECT_EQ(setPickedFiles({u"/srv/one.bin"_s}), u"/srv/"_s);
    EXPECT_EQ(PickedFiles(), (QStringList{QString(), u"/srv/one.bin"_s}));
}
