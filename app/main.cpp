#include "application/CommandLine.h"
#include "application/HeadlessRun.h"
#include "common/AppState.h"
#include "common/Log.h"
#include "platform/SingleInstance.h"
#include "platform/StopSignals.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <memory>


using namespace Qt::StringLiterals;

static QStringList withoutHeadlessSwitch(QStringList arguments)
{
    arguments.removeAll(u"--headless"_s);
    return arguments;
}

static bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// A second start with work to do does not do it beside the first (both would
// post the same queue): it says so and ends with "needs a person".
static int refuseSecondStart()
{
    std::fprintf(stderr,
                 "Tessaly Poster is already running with the program folder %s; this command line was not "
                 "carried out.\nWait for that run to end (or close its window), then start again.\n",
                 qUtf8Printable(tessaly::SingleInstance::guardedFolder()));
    return 2;
}

static int runHeadless(int argc, char *argv[], const QStringList &arguments)
{
    // Without a window nothing needs GLib's main loop, and Qt's own costs
    // less: GLib wakes itself with a system call each time a socket starts
    // or stops waiting to write, which a run does for every article.
    const bool userChose = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!userChose)
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    if (!userChose)
        qunsetenv("QT_NO_GLIB"); // not handed on to the programs a run starts
    QCoreApplication::setApplicationName(u"Tessaly Poster"_s);
    QCoreApplication::setApplicationVersion(tessaly::versionNumber());

    tessaly::SingleInstance instance(tessaly::SingleInstance::defaultKey(QString::fromUtf16(tessaly::kAppTitle)));
    if (!instance.claim())
        return refuseSecondStart();

    // The log on standard output; what went wrong (its red lines: a damaged
    // file kept aside, a refused login, a file that cannot be posted) on
    // standard error, where a script looks for it.
    tessaly::logModel().setListener([](const tessaly::LogLine &line) {
        FILE *to = line.colour == tessaly::LogColour::Red ? stderr : stdout;
        std::fprintf(to, "%s\n", qUtf8Printable(line.formatted()));
        std::fflush(to);
    });
    tessaly::HeadlessRun run(tessaly::parseCommandLine(arguments).headless ? withoutHeadlessSwitch(arguments)
                                                                           : arguments);
    tessaly::StopSignals stopSignals;
    QObject::connect(&stopSignals, &tessaly::StopSignals::received, &run, &tessaly::HeadlessRun::stopBySignal);
    QObject::connect(&run, &tessaly::HeadlessRun::finished, &app, [](int status) { QCoreApplication::exit(status); });
    run.start();
    return QCoreApplication::exec();
}

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QString program = QFileInfo(QString::fromLocal8Bit(argc > 0 ? argv[0] : "tessaly-poster")).fileName();
    if (tessaly::parseCommandLine(arguments).help) {
        std::fputs(qUtf8Printable(tessaly::commandLineHelp(program)), stdout);
        return 0;
    }
    if (tessaly::parseCommandLine(arguments).version) {
        std::printf("Tessaly Poster %s\n", qUtf8Printable(tessaly::versionNumber()));
        return 0;
    }
    // Qt's own remarks (a platform plugin that cannot raise a window, a
    // runtime folder not set) are not the user's business; its errors are.
    // TESSALY_QT_MESSAGES=1 shows everything.
    if (qEnvironmentVariableIsEmpty("TESSALY_QT_MESSAGES"))
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        });

    // Without a display (or with --headless) a command line runs without a
    // window; without one there is nothing to do.
    // A check of an NZB file never needs a window.
    const bool asked = tessaly::parseCommandLine(arguments).headless || tessaly::parseCommandLine(arguments).verify;
    const bool headless = asked || (!haveDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
    if (headless && withoutHeadlessSwitch(arguments).isEmpty()) {
        std::fprintf(stderr,
                     "Tessaly Poster needs a graphical display, and none was found (DISPLAY and "
                     "WAYLAND_DISPLAY are not set).\n"
                     "Start it from a desktop session, or under a virtual display:\n"
                     "    xvfb-run -a %s\n"
                     "or give it a command line to post a folder unattended (%s --help).\n",
                     argv[0], argv[0]);
        return 2;
    }
    if (headless)
        return runHeadless(argc, argv, arguments);

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tessaly Poster"_s);
    QApplication::setApplicationVersion(tessaly::versionNumber());
    // The desktop file the window belongs to (its icon and name in the dock).
    QGuiApplication::setDesktopFileName(u"net.tessaly.Poster"_s);

    // A second start brings the running window forward and ends at once; one
    // with a command line says that it was not carried out.
    tessaly::SingleInstance instance(tessaly::SingleInstance::defaultKey(QString::fromUtf16(tessaly::kAppTitle)));
    if (!instance.claim())
        return arguments.isEmpty() ? 0 : refuseSecondStart();

    tessaly::MainWindow window(arguments);
    tessaly::StopSignals stopSignals;
    QObject::connect(&stopSignals, &tessaly::StopSignals::received, &window, &tessaly::MainWindow::stopAndClose);
    QObject::connect(&instance, &tessaly::SingleInstance::activationRequested, &window,
                     &tessaly::MainWindow::bringToFront);
    window.Form_Load();
    if (window.closedWhileStartingUp())
        return window.exitStatus(); // the event loop would wait for a window that is gone
    const int rc = QApplication::exec();
    return rc != 0 ? rc : window.exitStatus();
}
