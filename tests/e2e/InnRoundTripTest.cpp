// End to end: the posting engine posts to a real INN2 news server on loopback
// (plainly, through the SSL tunnel, and with AUTHINFO), and nzbget downloads
// the articles back through an NZB; the files must come back byte-identical.
#include "application/HeadlessRun.h"
#include "common/AppState.h"
#include "common/Log.h"
#include "engine/Article.h"
#include "engine/PostingRun.h"
#include "rarpar/JobFile.h"
#include "rarpar/JobTree.h"
#include "shell/FillSegmentDialog.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"
#include "shell/RarParDialog.h"
#include "storage/Newsgroups.h"
#include "storage/MessageIds.h"
#include "storage/NzbFile.h"
#include "storage/ProfileFile.h"
#include "application/Collection.h"
#include "storage/QueueFile.h"
#include "support/YencDecode.h"
#include "storage/AppSettings.h"
#include "storage/UploadQueue.h"
#include "support/FakeRunHost.h"
#include "support/ScriptedNntpServer.h"
#include "support/ProgramRun.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace tessaly;
using test::logHas;
using test::randomData;

namespace {

const QString kScripts = QStringLiteral(TESSALY_SOURCE_DIR) + u"/scripts/e2e/"_s;

QString runScript(const QString &script, const QStringList &args, int *exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(u"bash"_s, QStringList{kScripts + script} + args);
    if (!p.waitForFinished(180000)) {
        p.kill();
        p.waitForFinished();
        *exitCode = -1;
    } else {
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    return QString::fromUtf8(p.readAll());
}

class InnRoundTrip : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        root_ = u"/tmp/tess-e2e-%1"_s.arg(getpid());
        // Three free ports in a row (open reader, AUTHINFO reader, innd), below
        // the range the system hands out to outgoing connections; another try
        // with other ports if something took one in the meantime.
        QRandomGenerator rng(quint32(QDateTime::currentMSecsSinceEpoch()) ^ quint32(getpid()));
        for (int attempt = 0; attempt < 4 && !started_; ++attempt) {
            port_ = 0;
            while (port_ == 0) {
                const quint16 base = quint16(12000 + rng.bounded(18000));
                QTcpServer a, b, c, d;
                if (a.listen(QHostAddress::LocalHost, base) && b.listen(QHostAddress::LocalHost, base + 1)
                    && c.listen(QHostAddress::LocalHost, base + 2) && d.listen(QHostAddress::LocalHost, base + 7))
                    port_ = base;
            }
            int rc = 0;
            startOutput_ += runScript(u"inn.sh"_s, {u"start"_s, root_, QString::number(port_),
                                                    QString::number(port_ + 1), u"tessuser"_s, u"tesspass"_s},
                                      &rc);
            started_ = rc == 0;
            if (!started_)
                runScript(u"inn.sh"_s, {u"stop"_s, root_}, &rc);
        }
    }

    static void TearDownTestSuite()
    {
        int rc = 0;
        runScript(u"inn.sh"_s, {u"stop"_s, root_}, &rc);
        QDir(root_).removeRecursively();
    }

    void SetUp() override
    {
        // A server that cannot start is a failure, never a skip.
        ASSERT_TRUE(started_) << qPrintable(startOutput_);
        setRunTag(QString::number(QDateTime::currentSecsSinceEpoch()));
        AppSettings &s = appSettings();
        s.Server = u"127.0.0.1"_s;
        s.Port = port_;
        s.Connections = 4;
        s.setMaxLines(3000);
        s.Email = u"tessaly@example.org"_s;
        s.Nickname = u"Tessaly test"_s;
        saved_ = PostTimeouts::current();
        PostTimeouts::current().restartMs = 300;
    }
    void TearDown() override
    {
        PostTimeouts::current() = saved_;
        if (HasFailure())
            for (const LogLine &l : logModel().lines())
                std::fprintf(stderr, "log: %s\n", qPrintable(l.formatted()));
    }

    void queue(const QString &name, const QByteArray &data)
    {
        const QString path = test::homeFile(name);
        test::writeAll(path, data);
        files_.insert(name, data);
        const int parts = int(partCount(data.size(), appSettings().PartSize));
        uploadQueue().append(UploadQueue::newItem(u"E2E - \""_s + name + u"\" yEnc"_s, u"alt.binaries.test"_s, path,
                                                  parts, u"e2etag00"_s, makeMessageIds(parts)));
    }

    bool post(int ms = 60000, const std::function<void()> &during = {})
    {
        bool done = false; // outlives the engine, which may still say it unloaded as it goes
        PostingRun engine(host_);
        QObject::connect(&engine, &PostingRun::finished, [&] { done = true; });
        engine.start(RunPlan::fromSettings(appSettings()));
        QDeadlineTimer deadline(ms);
        while (!done && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (during)
                during();
        }
        const bool ended = done;
        if (!ended)
            engine.stop();
        return ended;
    }

    // The queue's NZB, as the program writes it.
    QString writeNzb(const QString &name)
    {
        QList<int> items;
        for (int i = 1; i <= uploadQueue().count(); ++i)
            items << i;
        const QString path = root_ + u'/' + name + u".nzb"_s;
        EXPECT_TRUE(CreateNZB(path, items));
        return path;
    }

    // nzbget downloads an NZB (and repairs and unpacks the set, when asked):
    // the folder the files went to, or empty when it failed.
    static QString fetch(const QString &nzb, bool unpack = false)
    {
        int rc = 0;
        const QString work = root_ + u"/nzbget"_s, name = QFileInfo(nzb).completeBaseName();
        const QString out = runScript(u"nzbget-fetch.sh"_s,
                                      QStringList{work, QString::number(port_), nzb} + (unpack ? QStringList{u"unpack"_s} : QStringList()), &rc);
        EXPECT_EQ(rc, 0) << qPrintable(out) << test::readAll(work + u'/' + name + u".out"_s).right(3000).constData();
        return rc == 0 ? work + u"/dst/"_s + name + u'/' : QString();
    }
    // What nzbget says of the set of that NZB (PARSTATUS, UNPACKSTATUS).
    static QByteArray fetchStatus(const QString &name) { return test::readAll(root_ + u"/nzbget/status/"_s + name + u".env"_s); }

    // nzbget downloads the queue's NZB; every file must come back identical.
    void fetchAndCompare(const QString &name)
    {
        const QString dst = fetch(writeNzb(name));
        ASSERT_FALSE(dst.isEmpty());
        for (auto it = files_.cbegin(); it != files_.cend(); ++it) {
            const QByteArray got = test::readAll(dst + it.key());
            EXPECT_EQ(got.size(), it.value().size()) << qPrintable(it.key());
            EXPECT_TRUE(got == it.value()) << qPrintable(it.key()) << " differs";
        }
    }
    // The files of files_ were unpacked somewhere below the folder, as they were.
    void expectUnpacked(const QString &folder)
    {
        for (auto it = files_.cbegin(); it != files_.cend(); ++it) {
            QString found;
            QDirIterator all(folder, QDir::Files, QDirIterator::Subdirectories);
            while (all.hasNext() && found.isEmpty())
                if (const QString f = all.next(); f.endsWith(u'/' + it.key()))
                    found = f;
            ASSERT_FALSE(found.isEmpty()) << qPrintable(it.key()) << " was not unpacked";
            EXPECT_TRUE(test::readAll(found) == it.value()) << qPrintable(it.key()) << " differs";
        }
    }
    // INN forgets an article, as a cancel does.
    static void cancel(const QString &id)
    {
        int rc = 0;
        const QString out = runScript(u"inn.sh"_s, {u"cancel"_s, root_, id}, &rc);
        EXPECT_EQ(rc, 0) << qPrintable(out);
    }
    // The row of the first item whose subject has the text; 0 for none.
    static int itemWith(const QString &text)
    {
        for (int i = 1; i <= uploadQueue().count(); ++i)
            if (uploadQueue().item(i).subject.contains(text))
                return i;
        return 0;
    }
    // The window's Start runs the waiting jobs and posts what they make; true
    // once all of it is posted.
    static bool jobsPostedFromTheWindow(MainWindow &window)
    {
        const auto allPosted = [] {
            if (tessaly::jobTree().hasJobs() || uploadQueue().count() == 0)
                return false;
            for (int i = 1; i <= uploadQueue().count(); ++i)
                if (uploadQueue().item(i).state != UploadState::PostedOK)
                    return false;
            return true;
        };
        window.StartOrStop();
        for (QDeadlineTimer d(120000); !(allPosted() && !window.engine()) && !d.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return allPosted();
    }
    // A window as the program opens it, its settings pointed at INN.
    std::unique_ptr<MainWindow> windowPostingToInn(const QString &nickname, const QString &email)
    {
        MainWindow::setStartupWait(0);
        auto window = std::make_unique<MainWindow>();
        window->Form_Load();
        AppSettings &s = appSettings();
        s.Email = email;
        s.Nickname = nickname;
        s.Server = u"127.0.0.1"_s;
        s.Port = port_;
        s.Connections = 4;
        s.setMaxLines(500);
        return window;
    }
    // A job added in the job dialog as a user fills it in: the folder, a
    // subject, the first newsgroup and an NZB, with what `more` changes.
    static bool addJob(MainWindow &window, const QString &folder, const QString &subject,
                       const std::function<void(frmRarPar &)> &more)
    {
        frmRarPar d(&window);
        d.addInputFolder(folder);
        d.txtSubject->setText(subject);
        d.lstNewsgroups->item(0)->setSelected(true);
        d.chkNZB->setChecked(true);
        more(d);
        return d.cmdAdd_Click();
    }
    // What --verify of an NZB against INN ends with.
    static int verify(const QString &nzb)
    {
        if (!writeDefaultSettings()
            || !settingsFile().write(u"Settings"_s, {{u"Server"_s, u"127.0.0.1"_s}, {u"Port"_s, QString::number(port_)}})
                    .isEmpty())
            return -2;
        HeadlessRun run({u"--verify"_s, nzb});
        int status = -1;
        QObject::connect(&run, &HeadlessRun::finished, [&](int st) { status = st; });
        run.start();
        for (QDeadlineTimer d(20000); status < 0 && !d.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return status;
    }

    // Settings.ini as a first start writes it, pointed at the news server.
    static void writeProgramSettings(const QProcessEnvironment &env)
    {
        const QString path = env.value(u"TESSALY_HOME"_s) + u"/Settings.ini"_s;
        test::writeAll(path, test::withSettings(test::firstStartSettings(QStringLiteral(TESSALY_APP_PATH), env),
                                                {u"Server=127.0.0.1"_s, u"Port="_s + QString::number(port_),
                                                 u"Connections=4"_s}));
    }

    static inline QString root_;
    static inline quint16 port_ = 0;
    static inline bool started_ = false;
    static inline QString startOutput_;
    test::FakeRunHost host_;
    QMap<QString, QByteArray> files_;
    PostTimeouts saved_;
};

} // namespace

TEST_F(InnRoundTrip, PostingOverBuiltInTlsWithAuthinfo)
{
    // A TLS front end (stunnel as a server, with a certificate of the test's
    // own authority) before the AUTHINFO reader; the program speaks TLS itself.
    const QString certs = test::makeTestCertificates();
    ASSERT_FALSE(certs.isEmpty());
    const QByteArray savedCaFile = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", QFile::encodeName(certs + u"/ca.crt"_s));
    const quint16 tlsPort = test::freePort();
    const QString serverConf = test::homeFile(u"tls-front.conf"_s);
    test::writeAll(serverConf, "foreground = yes\npid =\n[nntps]\ncert = " + QFile::encodeName(certs + u"/good.pem"_s)
                                   + "\naccept = 127.0.0.1:" + QByteArray::number(tlsPort) + "\nconnect = 127.0.0.1:"
                                   + QByteArray::number(port_ + 1) + "\n");
    QProcess front;
    front.setProcessChannelMode(QProcess::MergedChannels);
    front.start(u"stunnel4"_s, {serverConf});
    ASSERT_TRUE(front.waitForStarted(5000));
    for (QDeadlineTimer d(5000); !d.hasExpired();) {
        QTcpSocket probe;
        probe.connectToHost(u"127.0.0.1"_s, tlsPort);
        if (probe.waitForConnected(200))
            break;
    }

    AppSettings &s = appSettings();
    s.EnableSSL = 1;
    s.SSLTunnel = 0;
    s.Port = tlsPort;
    s.Connections = 4;
    s.Login = 1;
    s.Username = u"tessuser"_s;
    s.Password = u"tesspass"_s;
    const qint64 P = s.PartSize;
    queue(u"tls-a.bin"_s, randomData(P * 5 + 17, 16));
    queue(u"tls-b.bin"_s, randomData(P - 1, 17));
    const bool done = post(60000);
    front.terminate();
    front.waitForFinished(5000);
    qputenv("SSL_CERT_FILE", savedCaFile);
    ASSERT_TRUE(done);
    for (int i = 1; i <= uploadQueue().count(); ++i)
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
    EXPECT_TRUE(logHas(u"281"_s));
    s.EnableSSL = 0;
    s.Port = port_;
    fetchAndCompare(u"tls"_s);
}

TEST_F(InnRoundTrip, HeadlessCommandLineRun)
{
    // The program itself, without a display: settings from a first start,
    // then an unattended run that posts a folder with its NZB and closes,
    // over four connections: files around the part size, every byte value,
    // and one whose parts the connections share.
    // (Its Rar & Par jobs and its refusals run against the scripted server.)
    const QString home = test::homeFile(u"program"_s);
    const QString folder = test::homeFile(u"My Holiday"_s);
    QDir().mkpath(home);
    const qint64 P = 384000;
    files_.insert(u"beach.jpg"_s, randomData(P * 2 + 11, 40));
    files_.insert(u"notes.txt"_s, randomData(999, 41));
    // Whole parts only (its last segment is a full one), and an NZB of the user's own.
    files_.insert(u"exact.bin"_s, randomData(P * 2, 43));
    files_.insert(u"mine.nzb"_s, "<nzb>the user's own, not the collection's</nzb>\n");
    QByteArray every;
    for (int rep = 0; rep < 300; ++rep)
        for (int b = 0; b < 256; ++b)
            every += char(b);
    files_.insert(u"one-byte.bin"_s, randomData(1, 1));
    files_.insert(u"part-minus-one.bin"_s, randomData(P - 1, 2));
    files_.insert(u"part.bin"_s, randomData(P, 3));
    files_.insert(u"part-plus-one.bin"_s, randomData(P + 1, 4));
    files_.insert(u"seven-point-three.bin"_s, randomData(qint64(7.3 * double(P)), 5));
    files_.insert(u"shared.bin"_s, randomData(qint64(11.4 * double(P)), 6));
    files_.insert(u"x-every-byte.bin"_s, every);
    for (auto it = files_.cbegin(); it != files_.cend(); ++it)
        test::writeAll(folder + u'/' + it.key(), it.value());
    // A name that is not UTF-8 (Latin-1 bytes): posted all the same.
    const QByteArray rawName = QFile::encodeName(folder) + "/caf\xe9 \xff.bin";
    const QByteArray rawData = randomData(P + 5, 42);
    {
        const int fd = ::open(rawName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, rawData.constData(), size_t(rawData.size())), rawData.size());
        ::close(fd);
    }

    const QProcessEnvironment env = test::headlessEnvironment(home);
    writeProgramSettings(env);
    const test::Ran ran = test::runToEnd(QStringLiteral(TESSALY_APP_PATH),
                                         {u"/F"_s, folder, u"/H"_s, u"Holiday Pics"_s, u"/N"_s,
                                          u"alt.binaries.test alt.binaries.misc"_s, u"/Z"_s, u"holiday"_s, u"/P"_s, u"/C"_s},
                                         env, 60000);
    ASSERT_EQ(ran.status, 0) << ran.err.constData();
    const QByteArray out = ran.out + ran.err;
    EXPECT_TRUE(out.contains("Successfully uploaded: Holiday Pics - [01/12] - \"beach.jpg\" yEnc")) << out.constData();
    EXPECT_TRUE(out.contains("Successfully uploaded: Holiday Pics - [04/12] - \"mine.nzb\" yEnc")) << out.constData();
    EXPECT_TRUE(out.contains("Successfully uploaded: Holiday Pics - [00/12] - \"holiday.nzb\" yEnc"));
    EXPECT_EQ(test::readAll(folder + u"/mine.nzb"_s), files_.value(u"mine.nzb"_s)); // untouched on disk
    EXPECT_FALSE(test::readAll(folder + u"/holiday.nzb"_s).contains("bytes=\"192000\"")); // exact.bin's last part is whole
    EXPECT_TRUE(out.contains("is not valid UTF-8")) << out.constData();

    // nzbget fetches the collection through the NZB the program wrote.
    const QString dst = fetch(folder + u"/holiday.nzb"_s);
    ASSERT_FALSE(dst.isEmpty());
    for (auto it = files_.cbegin(); it != files_.cend(); ++it)
        EXPECT_TRUE(test::readAll(dst + it.key()) == it.value()) << qPrintable(it.key());
    // The file with the name that is not UTF-8 came back whole, under its name as the NZB shows it.
    const QStringList fetchedNames = QDir(dst).entryList({u"caf*"_s}, QDir::Files);
    ASSERT_EQ(fetchedNames.size(), 1) << qPrintable(QDir(dst).entryList().join(u", "_s));
    EXPECT_TRUE(test::readAll(dst + fetchedNames.first()) == rawData);
    ::unlink(rawName.constData());
}

TEST_F(InnRoundTrip, RarParJobsFromTheWindowAreRepairedAndUnpackedByNzbget)
{
    // Three jobs made in the job dialog and run by the window's Start: RAR
    // volumes with PAR2 files, one ZIP, and PAR2 files over files posted as
    // they are; their results are posted by the same run, one after the
    // other, without anyone pressing anything again.
    appSettings().setMaxLines(500); // parts of 64,000 bytes
    appSettings().ConfirmSubject = 1;
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    const QString pics = test::homeFile(u"My Holiday"_s);
    const QString docs = test::homeFile(u"Docs"_s);
    QMap<QString, QByteArray> inputs;
    inputs.insert(u"beach one.jpg"_s, randomData(400000, 50));
    inputs.insert(u"sub dir/sea $1.jpg"_s, randomData(300000, 51));
    inputs.insert(u"notes.txt"_s, randomData(5000, 52));
    for (auto it = inputs.cbegin(); it != inputs.cend(); ++it)
        test::writeAll(pics + u'/' + it.key(), it.value());
    test::writeAll(docs + u"/readme.txt"_s, randomData(20000, 53));
    const QString loose = test::homeFile(u"Loose"_s);
    test::writeAll(loose + u"/one.bin"_s, randomData(300000, 54));
    test::writeAll(loose + u"/two.bin"_s, randomData(200000, 55));

    const auto window = windowPostingToInn(u"Tessaly test"_s, u"tessaly@example.org"_s);
    ASSERT_TRUE(addJob(*window, pics, u"Holiday Pics"_s, [](frmRarPar &d) {
        d.txtOutputPath->setText(test::homeFile(u"Out"_s));
        d.cboSplitSize->setEditText(u"250000"_s); // 3 volumes of 4 parts each
    }));
    ASSERT_TRUE(addJob(*window, docs, u"Docs"_s, [](frmRarPar &d) {
        d.txtOutputPath->setText(test::homeFile(u"Out"_s));
        d.chkCreateZip->click();
    }));
    // No archive: the files themselves with recovery files, from the default
    // save path (the folder itself).
    ASSERT_TRUE(addJob(*window, loose, u"Loose"_s, [](frmRarPar &d) { d.chkNoArchive->click(); }));
    ASSERT_EQ(tessaly::jobTree().rootCount(), 3);
    ASSERT_TRUE(jobsPostedFromTheWindow(*window)) << "jobs left: " << tessaly::jobTree().rootCount();
    const QString out1 = test::homeFile(u"Out/Tessaly_Temp0001/"_s);
    const QString out2 = test::homeFile(u"Out/Tessaly_Temp0002/"_s);
    ASSERT_TRUE(QFileInfo::exists(out1 + u"My Holiday.part3.rar"_s));
    ASSERT_TRUE(QFileInfo::exists(out2 + u"Docs.zip"_s));
    // The recovery files are the program's own creator's.
    EXPECT_TRUE(test::readAll(out1 + u"My Holiday.par2"_s).contains("Created by Tessaly Poster version"));

    // One article of the middle volume is taken off the server: nzbget must
    // repair it from the recovery files, then unpack the set.
    const int volume = itemWith(u"\"My Holiday.part2.rar\""_s);
    ASSERT_GT(volume, 0);
    ASSERT_EQ(uploadQueue().item(volume).messageids.size(), 4);
    cancel(uploadQueue().item(volume).messageids.at(1));
    ASSERT_FALSE(fetch(out1 + u"My Holiday.nzb"_s, true).isEmpty());
    const QByteArray status = fetchStatus(u"My Holiday"_s);
    EXPECT_TRUE(status.contains("NZBPP_PARSTATUS=2")) << status.constData(); // repaired
    EXPECT_TRUE(status.contains("NZBPP_UNPACKSTATUS=2")) << status.constData(); // unpacked
    files_ = inputs;
    expectUnpacked(root_ + u"/nzbget/dst/My Holiday"_s);

    // The ZIP job's archive comes back as it was made, and is a ZIP archive
    // that holds the folder (nzbget unpacks only RAR and 7-Zip sets).
    const QString zip = fetch(out2 + u"Docs.nzb"_s) + u"Docs.zip"_s;
    EXPECT_TRUE(test::readAll(zip) == test::readAll(out2 + u"Docs.zip"_s));
    QProcess unzip;
    unzip.start(u"unzip"_s, {u"-t"_s, zip});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    EXPECT_EQ(unzip.exitCode(), 0) << unzip.readAllStandardOutput().constData();
    unzip.start(u"unzip"_s, {u"-p"_s, zip, u"Docs/readme.txt"_s});
    ASSERT_TRUE(unzip.waitForFinished(20000));
    EXPECT_TRUE(unzip.readAllStandardOutput() == test::readAll(docs + u"/readme.txt"_s));

    // Without an archive: one article of a file itself is taken off the
    // server, and nzbget repairs it from the recovery files.
    const QString out3 = loose + u"/Tessaly_Temp0001/"_s;
    ASSERT_TRUE(QFileInfo::exists(out3 + u"Loose.par2"_s));
    const int one = itemWith(u"\"one.bin\""_s);
    ASSERT_GT(one, 0);
    EXPECT_EQ(uploadQueue().item(one).path, loose + u"/one.bin"_s);
    ASSERT_EQ(uploadQueue().item(one).messageids.size(), 5);
    cancel(uploadQueue().item(one).messageids.at(2));
    const QString dst = fetch(out3 + u"Loose.nzb"_s);
    ASSERT_FALSE(dst.isEmpty());
    EXPECT_TRUE(fetchStatus(u"Loose"_s).contains("NZBPP_PARSTATUS=2")) << fetchStatus(u"Loose"_s).constData(); // repaired
    for (const QString &name : {u"one.bin"_s, u"two.bin"_s})
        EXPECT_TRUE(test::readAll(dst + name) == test::readAll(loose + u'/' + name)) << qPrintable(name);
}

namespace {

// What the server keeps of an article that a reader sees before its data:
// the headers and the yEnc part lines.
QByteArray storedHead(quint16 port, const QString &messageId)
{
    QTcpSocket sock;
    sock.connectToHost(u"127.0.0.1"_s, port);
    QByteArray all;
    if (!sock.waitForConnected(5000))
        return {};
    const auto readUntil = [&](const QByteArray &end) {
        for (QDeadlineTimer d(20000); !all.endsWith(end) && !d.hasExpired();)
            if (sock.bytesAvailable() > 0 || sock.waitForReadyRead(100))
                all += sock.readAll();
    };
    readUntil("\r\n");
    all.clear();
    sock.write("ARTICLE <" + messageId.toUtf8() + ">\r\n");
    readUntil("\r\n.\r\n");
    if (!all.startsWith("220"))
        return "missing: " + all.left(80);
    // Up to and with the =ypart line.
    const qsizetype part = all.indexOf("\r\n=ypart ");
    return all.left(part < 0 ? all.size() : all.indexOf("\r\n", part + 2));
}

} // namespace

TEST_F(InnRoundTrip, ObfuscatedPostsNameNothingAndComeBackUnderTheirNames)
{
    // What must not reach the server's headers or yEnc lines.
    appSettings().Nickname = u"Sunny Poster"_s;
    appSettings().Email = u"sunny@example.org"_s;
    const QList<QByteArray> secrets = {"Summer", "Secrets", "sunset", "beach", "Sunny", "sunny@example.org",
                                       "Tessaly Poster"};
    const auto expectNothingNamed = [&](int item) {
        const UploadItem &it = uploadQueue().item(item);
        for (const QString &id : it.messageids) {
            const QByteArray head = storedHead(port_, id);
            ASSERT_TRUE(head.startsWith("220")) << head.constData();
            for (const QByteArray &secret : secrets)
                EXPECT_FALSE(head.contains(secret)) << secret.constData() << " in:\n" << head.constData();
            EXPECT_TRUE(head.contains(QByteArray("name=" + it.disguise.name.toUtf8())));
        }
    };
    // A collection from the add-files dialog's route: two files and its NZB.
    const QString folder = test::homeFile(u"Summer"_s);
    files_.insert(u"sunset.jpg"_s, randomData(3 * appSettings().PartSize + 11, 60));
    files_.insert(u"beach.bin"_s, randomData(5000, 61));
    for (auto it = files_.cbegin(); it != files_.cend(); ++it)
        test::writeAll(folder + u'/' + it.key(), it.value());
    CollectionRequest r;
    r.files = {folder + u"/beach.bin"_s, folder + u"/sunset.jpg"_s};
    r.subject = u"Summer Secrets"_s;
    r.newsgroups = u"alt.binaries.test"_s;
    r.nzbPath = folder + u"/secrets.nzb"_s;
    r.obfuscate = true;
    ASSERT_EQ(queueCollection(r), 3);
    ASSERT_TRUE(post());
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
        expectNothingNamed(i);
    }
    // Every file of the collection its own random name; one poster for all.
    EXPECT_NE(uploadQueue().item(1).disguise.name, uploadQueue().item(2).disguise.name);
    EXPECT_EQ(uploadQueue().item(1).disguise.from, uploadQueue().item(2).disguise.from);
    // The NZB names them: nzbget fetches every file under its real name.
    const QString dst = fetch(r.nzbPath);
    ASSERT_FALSE(dst.isEmpty());
    for (auto it = files_.cbegin(); it != files_.cend(); ++it)
        EXPECT_TRUE(test::readAll(dst + it.key()) == it.value()) << qPrintable(it.key());

    // A Rar & Par job, obfuscated in the job dialog, with its NZB kept off
    // the server: one article is taken away, and nzbget repairs and unpacks
    // the set from the NZB, the recovery files naming the volumes.
    uploadQueue().clear();
    QFile::remove(queueFilePath());
    appSettings().ConfirmSubject = 1;
    ASSERT_TRUE(writeDefaultSettings());
    saveNewsgroups({u"alt.binaries.test"_s});
    const auto window = windowPostingToInn(u"Sunny Poster"_s, u"sunny@example.org"_s);
    ASSERT_TRUE(addJob(*window, folder, u"Summer Secrets"_s, [](frmRarPar &d) {
        d.txtOutputPath->setText(test::homeFile(u"SecretOut"_s));
        d.cboSplitSize->setEditText(u"100000"_s);
        d.chkPostNZB->setChecked(false);
        d.chkObfuscate->setChecked(true);
    }));
    ASSERT_TRUE(jobsPostedFromTheWindow(*window));
    const QString out = test::homeFile(u"SecretOut/Tessaly_Temp0001/"_s);
    const QString nzb = out + u"Summer.nzb"_s;
    ASSERT_TRUE(QFileInfo::exists(nzb));
    for (int i = 1; i <= uploadQueue().count(); ++i) {
        SCOPED_TRACE(qPrintable(uploadQueue().item(i).subject));
        EXPECT_FALSE(uploadQueue().item(i).path.endsWith(u".nzb"_s)); // written, not posted
        EXPECT_EQ(uploadQueue().item(i).privateNzb, nzb);
        expectNothingNamed(i);
    }
    const int volume = itemWith(u".part02.rar\""_s);
    ASSERT_GT(volume, 0);
    cancel(uploadQueue().item(volume).messageids.at(0));
    ASSERT_FALSE(fetch(nzb, true).isEmpty());
    const QByteArray status = fetchStatus(u"Summer"_s);
    EXPECT_TRUE(status.contains("NZBPP_PARSTATUS=2")) << status.constData();   // repaired
    EXPECT_TRUE(status.contains("NZBPP_UNPACKSTATUS=2")) << status.constData(); // unpacked
    expectUnpacked(root_ + u"/nzbget/dst/Summer"_s);
}

namespace {

// Posts a small text article under the given Message-ID, as another poster would.
bool postPlainArticle(quint16 port, const QString &messageId)
{
    QTcpSocket sock;
    sock.connectToHost(u"127.0.0.1"_s, port);
    const auto reply = [&sock](const QByteArray &code) {
        QByteArray line;
        for (QDeadlineTimer d(10000); !line.endsWith('\n') && !d.hasExpired();)
            if (sock.canReadLine() || sock.waitForReadyRead(100))
                line += sock.readLine();
        return line.startsWith(code);
    };
    if (!sock.waitForConnected(5000) || !reply("20"))
        return false;
    sock.write("POST\r\n");
    if (!reply("340"))
        return false;
    sock.write("From: other@example.org\r\nNewsgroups: alt.binaries.test\r\nSubject: taken\r\nMessage-ID: <"
               + messageId.toUtf8() + ">\r\n\r\nfirst\r\n.\r\n");
    return reply("240");
}

} // namespace

TEST_F(InnRoundTrip, PostCheckAndFillPutCancelledArticlesBackAndTheNzbListsWhatTheServerHolds)
{
    // Part 2's ID is taken before we post (INN refuses it), and part 3 is
    // cancelled after it went in, before its check: the check finds it
    // missing, INN refuses its old ID, a new one is stored, and nzbget
    // fetches the collection through the NZB written again.
    PostTimeouts::current().checkDelayMs = 1500;
    appSettings().Connections = 2;
    const qint64 P = appSettings().PartSize;
    queue(u"checked.bin"_s, randomData(P * 5 - 100, 60));
    const QStringList queued = uploadQueue().item(1).messageids;
    const QString folder = test::homeFile(u"set"_s);
    QDir().mkpath(folder);
    const QString nzb = folder + u"/checked.nzb"_s;
    ASSERT_TRUE(CreateNZB(nzb, {1}));
    uploadQueue().append(UploadQueue::newItem(u"E2E - [0/1] - \"checked.nzb\" yEnc"_s, u"alt.binaries.test"_s, nzb, 1,
                                              u"e2etag00"_s, makeMessageIds(1)));
    ASSERT_TRUE(postPlainArticle(port_, queued[1]));

    bool cancelled = false;
    ASSERT_TRUE(post(60000, [&] {
        const UploadItem &it = uploadQueue().item(1);
        if (!cancelled && UploadQueue::isAccepted(it, 3)) {
            cancelled = true;
            cancel(it.messageids.at(2));
        }
    }));
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(uploadQueue().item(1).state, UploadState::PostedOK);
    EXPECT_EQ(uploadQueue().item(2).state, UploadState::PostedOK);
    const QStringList now = uploadQueue().item(1).messageids;
    EXPECT_NE(now[1], queued[1]);
    EXPECT_NE(now[2], queued[2]);
    EXPECT_TRUE(logHas(u"Part 3 of E2E - \"checked.bin\" yEnc is missing on the server"_s));
    const QByteArray written = test::readAll(nzb);
    for (const QString &id : now)
        EXPECT_TRUE(written.contains(id.toUtf8())) << qPrintable(id);

    EXPECT_TRUE(test::readAll(fetch(nzb) + u"checked.bin"_s) == files_[u"checked.bin"_s]);

    // --verify names two cancelled articles and fails; after a fill of them, it passes.
    for (int k : {0, 3})
        cancel(now.at(k));
    appSettings().Connections = 1;
    logModel().clear();
    EXPECT_EQ(verify(nzb), 1);
    EXPECT_TRUE(logHas(u"yEnc (1/5): 3 of 5 parts on the server, missing: 1, 4"_s));
    {
        // The window loads the queue; the fill dialog posts parts 1 and 4 again.
        MainWindow::setStartupWait(0);
        MainWindow window;
        window.Form_Load();
        ASSERT_EQ(uploadQueue().count(), 2);
        appSettings().Email = u"tessaly@example.org"_s;
        appSettings().Nickname = u"Tessaly test"_s;
        frmFillSegment d(uploadQueue().item(1).maxparts, &window);
        d.tick(4);
        d.txtParts->setText(u"1"_s);
        ASSERT_TRUE(d.cmdOk_Click());
        window.startFill(1, d.parts());
        for (QDeadlineTimer t(30000); window.engine() && !t.hasExpired();)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        ASSERT_FALSE(window.engine());
    }
    ASSERT_TRUE(CreateNZB(nzb, {1})); // from the stored IDs, as the list's menu writes it
    logModel().clear();
    EXPECT_EQ(verify(nzb), 0);
    EXPECT_TRUE(logHas(u"yEnc (1/5): all 5 parts on the server"_s));
    const QString filled = folder + u"/filled.nzb"_s;
    ASSERT_TRUE(QFile::copy(nzb, filled));
    EXPECT_TRUE(test::readAll(fetch(filled) + u"checked.bin"_s) == files_[u"checked.bin"_s]);
}

// Not against INN: the scripted server keeps count of every accepted part
// while the program is stopped (SIGTERM) and killed (SIGKILL) again and
// again. Like INN it refuses an ID it holds, so a part posted twice can only
// be one posted under a second ID: there must be none.
TEST(KillAndResume, EveryPartEndsUpOnTheServerExactlyOnceAndTheQueueAlwaysLoads)
{
    test::ScriptedNntpServer server;
    ASSERT_TRUE(server.start());
    server.refuseKnownIds = true;
    const QString home = test::homeFile(u"program"_s);
    const QString folder = test::homeFile(u"data"_s);
    QDir().mkpath(home);
    QMap<QString, QByteArray> files;
    int totalParts = 0;
    for (int i = 0; i < 12; ++i) {
        const QString name = u"k%1.bin"_s.arg(i);
        files.insert(name, test::randomData(i % 4 == 0 ? 1 + 977 * i : 128000 * (2 * i + 1) + 17 * i, 100 + quint32(i)));
        test::writeAll(folder + u'/' + name, files[name]);
        totalParts += int(partCount(files[name].size(), 128000));
    }
    const QProcessEnvironment env = test::headlessEnvironment(home);

    // Runs the program while this process serves it; stops it after ms
    // unless < 0, with SIGTERM or SIGKILL.
    // The first run is stopped only once its queue is saved with the files (a
    // slow start, as under the sanitizers, would otherwise be killed first).
    auto run = [&](const QStringList &args, int killAfterMs, bool term = false) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        const int connectionsBefore = server.connections;
        p.start(QStringLiteral(TESSALY_APP_PATH), args);
        p.waitForStarted(10000);
        if (args.contains(u"/F"_s) && killAfterMs >= 0)
            for (QDeadlineTimer queued(30000);
                 p.state() != QProcess::NotRunning && !queued.hasExpired()
                 && test::readAll(home + u"/Queue.dat"_s).count("<file>") < int(files.size());)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // A SIGTERM is meant for a running program: one that arrives before it
        // could take signals (a sanitizer build starts slowly) would only kill it.
        if (term)
            for (QDeadlineTimer up(30000);
                 p.state() != QProcess::NotRunning && !up.hasExpired() && server.connections <= connectionsBefore;)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QDeadlineTimer deadline(killAfterMs < 0 ? 60000 : killAfterMs);
        while (p.state() != QProcess::NotRunning && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (p.state() != QProcess::NotRunning && term) {
            p.terminate(); // SIGTERM: stops as Stop does, saves, ends
            p.waitForFinished(10000);
            return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        }
        if (p.state() != QProcess::NotRunning) {
            p.kill(); // SIGKILL: wherever it was, a save included
            p.waitForFinished(5000);
            return -9;
        }
        return p.exitCode();
    };

    test::writeAll(home + u"/Settings.ini"_s,
                   test::withSettings(test::firstStartSettings(QStringLiteral(TESSALY_APP_PATH), env),
                                      {u"Server=127.0.0.1"_s, u"Port="_s + QString::number(server.port()),
                                       u"Connections=8"_s, u"MaxLines=1000"_s,
                                       u"MaxSpeed=1500"_s,       // slow enough to be killed mid-run, 20 times and more
                                       u"PostCheckDelay=1"_s})); // checks pending at most kills
    QRandomGenerator rng(777);
    int kills = 0, terms = 0;
    int rc = run({u"/F"_s, folder, u"/H"_s, u"kill"_s, u"/N"_s, u"alt.test"_s, u"/P"_s, u"/C"_s},
                 int(rng.bounded(300, 900)));
    for (int round = 0; round < 40 && rc != 0; ++round) {
        if (rc == -9)
            ++kills;
        if (rc == 128 + 15)
            ++terms;
        ASSERT_TRUE(rc == -9 || rc == 128 + 15) << "round " << round << ": status " << rc;
        // Whatever moment the kill came at, the queue file loads.
        if (QFile::exists(home + u"/Queue.dat"_s)) {
            QFile::remove(test::homeFile(u"Queue.dat"_s));
            QFile::copy(home + u"/Queue.dat"_s, test::homeFile(u"Queue.dat"_s));
            uploadQueue().clear();
            ASSERT_EQ(LoadStartXML(), int(files.size()) + 0) << "round " << round;
        }
        ASSERT_FALSE(QFile::exists(home + u"/Queue.dat.bad"_s));
        rc = run({u"/P"_s, u"/C"_s}, round < 24 ? int(rng.bounded(150, 700)) : -1, round % 2 == 0);
    }
    EXPECT_EQ(rc, 0);
    EXPECT_GE(kills + terms, 20);
    EXPECT_GE(terms, 8);

    QMap<QString, QSet<int>> accepted;
    int duplicates = 0;
    for (const test::ReceivedArticle &a : server.accepted()) {
        const test::DecodedPart d = test::decodeArticle(a.raw);
        ASSERT_TRUE(d.ok);
        ASSERT_EQ(d.data, files[QString::fromUtf8(d.name)].mid(d.begin - 1, d.end - d.begin + 1));
        QSet<int> &parts = accepted[QString::fromUtf8(d.name)];
        duplicates += parts.contains(d.part);
        parts.insert(d.part);
    }
    int got = 0;
    for (auto it = accepted.cbegin(); it != accepted.cend(); ++it)
        got += int(it.value().size());
    // Articles sent again and refused as held already: their answer was lost
    // with the process before it could be recorded.
    const int refusedAsHeld = int(server.articles.size() - server.accepted().size());
    std::printf("kill and resume: %d SIGKILLs, %d SIGTERMs, %d parts, %d on the server, %d duplicates, "
                "%d sent again and refused as held, %d IDs asked for (looks and checks)\n",
                kills, terms, totalParts, got, duplicates, refusedAsHeld, int(server.statsAsked.size()));
    EXPECT_EQ(got, totalParts);
    EXPECT_EQ(duplicates, 0);
    // Nothing missing: every ID the queue ends with was asked for and is held.
    uploadQueue().clear();
    QFile::remove(test::homeFile(u"Queue.dat"_s));
    QFile::copy(home + u"/Queue.dat"_s, test::homeFile(u"Queue.dat"_s));
    ASSERT_EQ(LoadStartXML(), int(files.size()));
    for (int i = 1; i <= uploadQueue().count(); ++i) {
        EXPECT_EQ(uploadQueue().item(i).state, UploadState::PostedOK);
        for (const QString &id : uploadQueue().item(i).messageids) {
            EXPECT_TRUE(server.held.contains(id.toUtf8())) << qPrintable(id);
            EXPECT_TRUE(server.statsAsked.contains(id.toUtf8())) << qPrintable(id);
        }
    }
}
