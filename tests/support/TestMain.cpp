#include "support/TestEnvironment.h"

#include "application/ProcessState.h"
#include "common/AppState.h"
#include "common/Log.h"
#include "engine/RunPlan.h"
#include "platform/ProgramFolder.h"
#include "rarpar/Tools.h"

#ifdef TESSALY_GUI_TESTS
#include "shell/Prompts.h"
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace tessaly::test {

namespace {
std::unique_ptr<QTemporaryDir> g_home;

class ResetListener : public ::testing::EmptyTestEventListener
{
    void OnTestStart(const ::testing::TestInfo &) override
    {
        g_home = std::make_unique<QTemporaryDir>();
        qputenv("TESSALY_HOME", g_home->path().toUtf8());
        resetProcessState();
        // Posted articles are checked at once, not seconds later.
        PostTimeouts::current().checkDelayMs = 0;
#ifdef TESSALY_GUI_TESTS
        Prompts::reset();
        Prompts::setMode(PromptMode::Scripted);
#endif
    }
    void OnTestEnd(const ::testing::TestInfo &) override
    {
        resetProcessState();
        g_home.reset();
    }
};
} // namespace

QString home()
{
    return g_home ? g_home->path() : QString();
}

QString homeFile(const QString &name)
{
    return home() + QLatin1Char('/') + name;
}

bool logHas(const QString &text)
{
    for (const LogLine &l : logModel().lines())
        if (l.text.contains(text))
            return true;
    return false;
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    for (QDeadlineTimer d(ms); !done(); QThread::msleep(1)) {
        if (d.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString makeTestCertificates()
{
    using namespace Qt::StringLiterals;
    const QString folder = homeFile(u"certificates"_s);
    QProcess make;
    make.start(u"bash"_s, {QStringLiteral(TESSALY_SOURCE_DIR) + u"/tests/support/make-test-certificates.sh"_s, folder});
    if (!make.waitForFinished(60000) || make.exitStatus() != QProcess::NormalExit || make.exitCode() != 0)
        return {};
    return folder;
}

QByteArray withSettings(QByteArray ini, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QByteArray key = line.section(u'=', 0, 0).toUtf8() + '=';
        const qsizetype at = ini.indexOf(QByteArray("\n" + key));
        if (at < 0) {
            ini += line.toUtf8() + '\n';
            continue;
        }
        const qsizetype end = ini.indexOf('\n', at + 1);
        ini.replace(at + 1, end - at - 1, line.toUtf8());
    }
    return ini;
}

void writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

QStringList makeFiles(const QString &folder, int n, const QList<int> &empty)
{
    QDir().mkpath(folder);
    QStringList files;
    for (int i = 1; i <= n; ++i) {
        const QString p = folder + QStringLiteral("/img%1.jpg").arg(i, 3, 10, QChar(u'0'));
        writeAll(p, empty.contains(i) ? QByteArray() : QByteArray(1000 + i, 'x'));
        files << p;
    }
    return files;
}

} // namespace tessaly::test

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QByteArray dir = QDir::tempPath().toUtf8() + "/tessaly-test-runtime-" + QByteArray::number(getuid());
        QDir().mkpath(QString::fromUtf8(dir));
        QFile::setPermissions(QString::fromUtf8(dir), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                          | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", dir);
    }
    ::testing::InitGoogleTest(&argc, argv);
    TestApplication app(argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new tessaly::test::ResetListener);
    // Rar & Par jobs make their recovery files with the creator built beside the tests.
    tessaly::setBuiltinPar2(QStringLiteral(TESSALY_PAR2_TOOL));
    return RUN_ALL_TESTS();
}
