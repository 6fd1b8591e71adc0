#include "common/AppState.h"
#include "shell/MainWindow.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

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
    tessaly::setRunTag(tessaly::makeRunTag());
    tessaly::MainWindow window;
    window.show();
    return QApplication::exec();
}
