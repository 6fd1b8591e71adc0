#include "rarpar/Tools.h"

#include "support/TestEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace tessaly;

TEST(Tools, ArgumentsAreSplitAsQuotedAndWildcardsExpanded)
{
    EXPECT_EQ(splitArguments(u"a -r -ep1  -m3 -- \"/o/T 1/x.rar\" \"/in/a \"\"b\"\" $HOME\" \"\""_s),
              (QStringList{u"a"_s, u"-r"_s, u"-ep1"_s, u"-m3"_s, u"--"_s, u"/o/T 1/x.rar"_s,
                           u"/in/a \"b\" $HOME"_s, QString()}));
    EXPECT_TRUE(splitArguments(u"   "_s).isEmpty());

    const QString dir = test::home() + u"/T 1"_s;
    QDir().mkpath(dir + u"/sub"_s);
    for (const char *name : {"b.part2.rar", "B.part1.rar", "c.zip"})
        test::writeAll(dir + u'/' + QLatin1StringView(name), "x");
    EXPECT_EQ(expandWildcards({u"create"_s, dir + u"/x.par2"_s, dir + u"/*.*"_s}),
              (QStringList{u"create"_s, dir + u"/x.par2"_s, dir + u"/B.part1.rar"_s, dir + u"/b.part2.rar"_s,
                           dir + u"/c.zip"_s}));
}

TEST(Tools, ToolsAreFoundInTheProgramFolderFirst)
{
    EXPECT_TRUE(findTool(u"no-such-tool-here"_s).isEmpty());
    const QString onPath = findTool(u"sh"_s);
    EXPECT_FALSE(onPath.isEmpty());
    const QString local = test::homeFile(u"sh"_s);
    test::writeAll(local, "#!/bin/sh\n");
    QFile::setPermissions(local, QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_EQ(findTool(u"sh"_s), local);
}

namespace {

// Feeds text in chunks of n characters; returns the values seen after each change.
template <typename P, typename V>
QList<int> feedInChunks(P &progress, const QString &text, int n, V value)
{
    QList<int> seen;
    for (qsizetype i = 0; i < text.size(); i += n)
        if (progress.feed(text.mid(i, n)))
            seen << value(progress);
    return seen;
}

} // namespace

TEST(Tools, ProgressIsReadWhereverTheChunksAreCut)
{
    // rar 7: a volume is finished when the next one is started, the last one at "Done".
    const QString rar7 = u"\nRAR 7.01   Copyright (c) 1993-2024 Alexander Roshal\nTrial version\n\n"
                         u"Creating archive /o/x.rar\n\nAdding    /in/a file.bin     \b\b\b\b 70%\b\b\b\b    \n\n"
                         u"Creating archive /o/x.part2.rar\n\n...       /in/a file.bin   \b\b\b\b\b  OK \n"
                         u"Creating archive /o/x.part3.rar\n\nAdding    /in     \b\b\b\b\b  OK \nDone\n"_s;
    // Older versions: "Calculating the control sum" as each volume ends.
    const QString rar3 = u"Creating archive x.part1.rar\nAdding a  42%\nCalculating the control sum\n"
                         u"Creating archive x.part2.rar\nCalculating the control sum\n"
                         u"Creating archive x.part3.rar\nCalculating the control sum\nDone\n"_s;
    const QString par2 = u"Opening: x.part1.rar\nConstructing: 0.0%\rConstructing: done.\n"
                         u"Processing: 9.5%\rProcessing: 9.9%\rProcessing: 10.0%\rProcessing: 42.7%\rProcessing: 1000.0%\r"
                         u"Processing: 100.0%\rWriting recovery packets\rWrote 384000 bytes to disk\nDone\n"_s;
    for (int n : {1, 3, 7, 16}) {
        RarProgress a, b;
        EXPECT_EQ(feedInChunks(a, rar7, n, [](const RarProgress &p) { return p.volumesDone(); }),
                  (QList<int>{1, 2, 3}))
            << n;
        EXPECT_EQ(feedInChunks(b, rar3, n, [](const RarProgress &p) { return p.volumesDone(); }),
                  (QList<int>{1, 2, 3}))
            << n;
        Par2Progress p;
        EXPECT_EQ(feedInChunks(p, par2, n, [](const Par2Progress &q) { return q.percent(); }),
                  (QList<int>{9, 10, 42, 100}))
            << n;
    }
}
