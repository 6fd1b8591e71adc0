#include "common/AppState.h"
#include "application/CommandLine.h"
#include "common/Log.h"
#include "platform/SingleInstance.h"
#include "shell/MainWindow.h"
#include "shell/Prompts.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

using namespace Qt::StringLiterals;

static bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
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

    // Without a display a command line still runs, headless; without one
    // there is nothing to do.
    const bool headless = !haveDisplay() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (headless && arguments.isEmpty()) {
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
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tessaly Poster"_s);
    QApplication::setApplicationVersion(tessaly::versionNumber());

    // A second start brings the running window forward and ends at once.
    tessaly::SingleInstance instance(tessaly::SingleInstance::defaultKey(QString::fromUtf16(tessaly::kAppTitle)));
    if (!instance.claim())
        return 0;

    tessaly::MainWindow window(arguments);
    if (headless) {
        tessaly::MainWindow::setStartupWait(0);
        tessaly::Prompts::setMode(tessaly::PromptMode::Headless);
        tessaly::Prompts::setHeadlessHandler([&window] { window.abortHeadless(); });
        tessaly::logModel().setListener([](const tessaly::LogLine &line) {
            std::fprintf(stdout, "%s\n", qUtf8Printable(line.formatted()));
            std::fflush(stdout);
        });
        window.setHeadless(true);
    }
    QObject::connect(&instance, &tessaly::SingleInstance::activationRequested, &window,
                     &tessaly::MainWindow::bringToFront);
    window.Form_Load();
    const int rc = QApplication::exec();
    return rc != 0 ? rc : window.exitStatus();
}
