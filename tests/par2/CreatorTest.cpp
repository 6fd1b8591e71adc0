// The creator against the common recovery tool: the same names, the same
// packets and the same recovery data for the same command, and files the
// tool verifies and repairs.
#include "par2/CreateCommand.h"
#include "par2/Creator.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QtEndian>

#include <gtest/gtest.h>

#include <map>

using namespace Qt::StringLiterals;
using namespace tessaly;
using namespace tessaly::par2;

namespace {

// Packets of every .par2 file in a folder, by kind: recovery slices by
// exponent, the rest by their bodies (the creator packet left out: it names
// the maker).
struct SetContents
{
    QStringList names;
    std::map<quint32, QByteArray> recovery;
    std::map<QByteArray, QSet<QByteArray>> described;
};

SetContents contentsOf(const QString &folder)
{
    SetContents c;
    QDirIterator it(folder, {u"*.par2"_s}, QDir::Files);
    while (it.hasNext()) {
        const QString path = it.next();
        c.names << QFileInfo(path).fileName();
        const QByteArray data = test::readAll(path);
        for (qsizetype at = 0; at + 64 <= data.size();) {
            EXPECT_EQ(data.mid(at, 8), QByteArray("PAR2\0PKT", 8)) << path.toStdString() << " at " << at;
            const qsizetype length = qsizetype(qFromLittleEndian<quint64>(data.constData() + at + 8));
            if (length < 64 || at + length > data.size())
                break;
            const QByteArray type = data.mid(at + 48, 16);
            const QByteArray body = data.mid(at + 64, length - 64);
            if (type == QByteArray("PAR 2.0\0RecvSlic", 16))
                c.recovery[qFromLittleEndian<quint32>(body.constData())] = body.mid(4);
            else if (type != QByteArray("PAR 2.0\0Creator\0", 16))
                c.described[type].insert(body);
            at += length;
        }
    }
    c.names.sort();
    return c;
}

int runTool(const QString &folder, const QStringList &args, QByteArray *said = nullptr)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"par2"_s, args);
    if (!p.waitForFinished(60000))
        return -1;
    if (said)
        *said = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool make(const QString &folder, const QStringList &args, CreatorLimits limits = {}, QString *why = nullptr)
{
    QStringList absolute = args;
    for (QString &a : absolute)
        if (!a.startsWith(u'-') && a != u"create"_s)
            a = folder + u'/' + a;
    const auto command = parseCreate(absolute, why);
    if (!command)
        return false;
    Creator creator(*command, limits);
    const bool ok = creator.run();
    if (why)
        *why = creator.error();
    return ok;
}

} // namespace

TEST(Par2Create, TheSameSetAsTheCommonTool)
{
    struct Case
    {
        QStringList options;
        std::vector<qint64> sizes; // of the files a.bin, b.bin, ...
    };
    const Case cases[] = {
        {{u"-s40000"_s, u"-r30"_s}, {1000000, 333333, 50000, 0, 40000}}, // an empty file, one of one block
        {{u"-s4096"_s, u"-r50"_s}, {700000, 300000, 100}},              // 3-digit exponents
        {{u"-s4096"_s, u"-r50"_s, u"-u"_s}, {700000, 300000, 100}},
        {{u"-s65536"_s, u"-r5"_s, u"-u"_s}, {200000}},                  // one recovery block
        {{u"-s1024"_s, u"-r100"_s}, {8000, 9000}},
    };
    int n = 0;
    for (const Case &c : cases) {
        const QString ours = test::homeFile(u"ours%1"_s.arg(n)), theirs = test::homeFile(u"theirs%1"_s.arg(n));
        QStringList files;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            const QString name = QString(QChar(u'a' + int(i))) + u" file.bin"_s;
            const QByteArray data = test::randomData(c.sizes[i], quint32(100 * n + int(i)));
            test::writeAll(ours + u'/' + name, data);
            test::writeAll(theirs + u'/' + name, data);
            files << name;
        }
        const QStringList args = QStringList{u"create"_s} + c.options + QStringList{u"set.par2"_s} + files;
        QString why;
        ASSERT_TRUE(make(ours, args, {}, &why)) << why.toStdString();
        ASSERT_EQ(runTool(theirs, args), 0);
        const SetContents a = contentsOf(ours), b = contentsOf(theirs);
        EXPECT_EQ(a.names, b.names) << n;
        EXPECT_EQ(a.described, b.described) << n;
        EXPECT_EQ(a.recovery.size(), b.recovery.size()) << n;
        EXPECT_TRUE(a.recovery == b.recovery) << n;
        ++n;
    }

    // The tool verifies our files, and repairs as many lost blocks as there
    // are recovery blocks: 11 of 40,000 bytes here, 8 damaged and 3 gone.
    const QString folder = test::homeFile(u"ours0"_s);
    QByteArray said;
    ASSERT_EQ(runTool(folder, {u"verify"_s, u"set.par2"_s}, &said), 0) << said.constData();
    std::map<QString, QByteArray> before;
    for (const QString &name : {u"a file.bin"_s, u"c file.bin"_s, u"e file.bin"_s})
        before[name] = test::readAll(folder + u'/' + name);
    {
        QFile f(folder + u"/a file.bin"_s);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        for (int block = 0; block < 8; ++block) {
            f.seek(block * 3 * 40000 + 7);
            f.write("damage");
        }
    }
    QFile::remove(folder + u"/c file.bin"_s);
    QFile::remove(folder + u"/e file.bin"_s);
    EXPECT_EQ(runTool(folder, {u"repair"_s, u"set.par2"_s}, &said), 0) << said.constData();
    for (const auto &[name, data] : before)
        EXPECT_TRUE(test::readAll(folder + u'/' + name) == data) << name.toStdString();
}

TEST(Par2Create, InPassesWhenMemoryIsShortTheSameFiles)
{
    const QString one = test::homeFile(u"one"_s), many = test::homeFile(u"many"_s);
    QStringList files;
    for (int i = 0; i < 20; ++i) { // more files than are read side by side
        const QByteArray data = test::randomData(20000 + 3000 * i, quint32(i));
        const QString name = u"sub/f%1.bin"_s.arg(i);
        test::writeAll(one + u'/' + name, data);
        test::writeAll(many + u'/' + name, data);
        files << name;
    }
    const auto args = [&](const QString &folder) {
        return QStringList{u"create"_s, u"-s2048"_s, u"-r40"_s, u"-B"_s + folder, u"out/set.par2"_s} + files;
    };
    CreatorLimits small;
    small.memoryBytes = 64 * 1024; // a few recovery blocks at a time
    small.threads = 3;
    QDir().mkpath(one + u"/out"_s);
    QDir().mkpath(many + u"/out"_s);
    QString why;
    ASSERT_TRUE(make(one, args(one), {}, &why)) << why.toStdString();
    ASSERT_TRUE(make(many, args(many), small, &why)) << why.toStdString();
    const QStringList names = QDir(one + u"/out"_s).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(names, QDir(many + u"/out"_s).entryList(QDir::Files, QDir::Name));
    for (const QString &name : names)
        EXPECT_TRUE(test::readAll(one + u"/out/"_s + name) == test::readAll(many + u"/out/"_s + name))
            << name.toStdString();
    // Names relative to the recovery files' folder would climb out of it:
    // refused, and nothing is left behind.
    const auto command = parseCreate({u"create"_s, u"-s2048"_s, u"-r40"_s, one + u"/out/set.par2"_s,
                                      one + u"/sub/f1.bin"_s});
    ASSERT_TRUE(command);
    for (const QString &name : names)
        QFile::remove(one + u"/out/"_s + name);
    Creator outside(*command);
    EXPECT_FALSE(outside.run());
    EXPECT_TRUE(outside.error().contains(u"lies outside the folder"_s)) << outside.error().toStdString();
    EXPECT_TRUE(QDir(one + u"/out"_s).isEmpty());
    // With the folder given as the tool takes it, the names keep "sub/".
    const auto based = parseCreate({u"create"_s, u"-s2048"_s, u"-r40"_s, u"-B"_s, one, one + u"/out/set.par2"_s,
                                    one + u"/sub/f1.bin"_s});
    ASSERT_TRUE(based);
    Creator inside(*based);
    ASSERT_TRUE(inside.run()) << inside.error().toStdString();
    QByteArray said;
    EXPECT_EQ(runTool(one, {u"verify"_s, u"-B"_s, one, one + u"/out/set.par2"_s}, &said), 0) << said.constData();
    EXPECT_TRUE(said.contains("Target: \"sub/f1.bin\" - found.")) << said.constData();
}

TEST(Par2Create, CommandLinesAndSetsItDoesNotMake)
{
    // Lines the outside tool gets instead, each with why.
    for (const QStringList &line :
         {QStringList{u"verify"_s, u"x.par2"_s}, {u"create"_s, u"-s1000"_s, u"x.par2"_s, u"a"_s},
          {u"create"_s, u"-s1001"_s, u"-r10"_s, u"x.par2"_s, u"a"_s},
          {u"create"_s, u"-s1000"_s, u"-r0"_s, u"x.par2"_s, u"a"_s},
          {u"create"_s, u"-s1000"_s, u"-r101"_s, u"x.par2"_s, u"a"_s},
          {u"create"_s, u"-s1000"_s, u"-r10"_s, u"-n3"_s, u"x.par2"_s, u"a"_s},
          {u"create"_s, u"-s1000"_s, u"-r10"_s, u"x.par2"_s}}) {
        QString why;
        EXPECT_FALSE(parseCreate(line, &why)) << line.join(u' ').toStdString();
        EXPECT_FALSE(why.isEmpty());
    }
    const auto c = parseCreate({u"create"_s, u"-s716800"_s, u"-r10"_s, u"-u"_s, u"-q"_s, u"/t/My Set"_s, u"/t/a b"_s});
    ASSERT_TRUE(c);
    EXPECT_EQ(c->output, u"/t/My Set.par2"_s);
    EXPECT_EQ(c->base, u"/t"_s);
    EXPECT_TRUE(c->uniform);
    EXPECT_EQ(recoveryCount(1504, 10), 150);
    EXPECT_EQ(recoveryCount(3, 10), 1);
    EXPECT_EQ(recoveryCount(15, 10), 2); // 1.5 rounds up, as the common tool rounds

    // Sets it cannot make: nothing but empty files, more blocks than the
    // format holds, a file that is not there.
    const QString folder = test::home();
    test::writeAll(folder + u"/empty"_s, {});
    test::writeAll(folder + u"/big"_s, QByteArray(32769 * 4, 'x'));
    for (const auto &[file, size, expected] :
         {std::tuple{u"empty"_s, u"-s4"_s, u"nothing to make recovery files for"_s},
          {u"big"_s, u"-s4"_s, u"more than 32768 blocks"_s}, {u"gone"_s, u"-s4"_s, u"is not a file"_s}}) {
        const auto command = parseCreate({u"create"_s, size, u"-r10"_s, folder + u"/set"_s, folder + u'/' + file});
        ASSERT_TRUE(command);
        Creator creator(*command);
        EXPECT_FALSE(creator.run());
        EXPECT_TRUE(creator.error().contains(expected)) << creator.error().toStdString();
        EXPECT_FALSE(QFileInfo::exists(folder + u"/set.par2"_s));
    }
}
