#include "common/AppState.h"
#include "platform/SingleInstance.h"
#include "shell/MainWindow.h"

#include <QApplication>

#include <cstdio>

using namespace Qt::StringLiterals;

static bool haveDisplay()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

int main(int argc, char *argv[])
{
    if (!haveDisplay()) {
        std::fprintf(stderr,
                     "Tessaly Poster needs a graphical display, and none was found (DISPLAY and "
                     "WAYLAND_DISPLAY are not set).\n"
                     "Start it from a desktop session, or under a virtual display:\n"
                     "    xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "tessaly-poster");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Tessaly Poster"_s);
    QApplication::setApplicationVersion(tessaly::versionNumber());

    // A second start brings the running window forward and ends at once.
    tessaly::SingleInstance instance(tessaly::SingleInstance::defaultKey());
    if (!instance.claim())
        return 0;

    QStringList commandLine = QApplication::arguments();
    commandLine.removeFirst();
    tessaly::MainWindow window(commandLine);
    QObject::connect(&instance, &tessaly::SingleInstance::activationRequested, &window,
                     &tessaly::MainWindow::bringToFront);
    window.Form_Load();
    return QApplication::exec();
}
