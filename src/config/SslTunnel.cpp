#include "config/SslTunnel.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/Processes.h"
#include "platform/ProgramFolder.h"
#include "storage/AppSettings.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {
// The configuration template, lines ended by CR LF, with one more line break.
constexpr char kTemplate[] = "cert = stunnel.pem\r\n"
                             "socket = l:TCP_NODELAY=1\r\n"
                             "socket = r:TCP_NODELAY=1\r\n"
                             "client = yes\r\n"
                             "taskbar = no\r\n"
                             "\r\n"
                             "[nntp]\r\n"
                             "accept = 127.0.0.1:%PORT%\r\n"
                             "connect = %SSLSERVER%:%PORT%\r\n"
                             "\r\n";
} // namespace

QString tunnelFolder()
{
    return inProgramFolder(u"Stunnel"_s);
}

QString tunnelProgram()
{
    return tunnelFolder() + u'/' + QString::fromUtf16(kTunnelProgramName);
}

QString tunnelConfigPath()
{
    return tunnelFolder() + u"/stunnel.conf"_s;
}

QByteArray tunnelConfig(int port, const QString &server)
{
    QByteArray text(kTemplate);
    text.replace("%PORT%", QByteArray::number(port));
    text.replace("%SSLSERVER%", withoutLineBreaks(server).trimmed().toUtf8());
    return text;
}

QString writeTunnelConfig()
{
    QDir().mkpath(tunnelFolder());
    const AppSettings &s = appSettings();
    return writeFileAtomically(tunnelConfigPath(), tunnelConfig(s.Port, s.Server));
}

bool startTunnel()
{
    const QString program = tunnelProgram();
    if (!fileExists(program))
        return false;
    if (!startDetached(program, {}, tunnelFolder())) {
        AddLog(0, u"The SSL tunnel (%1) could not be started."_s.arg(program), LogColour::Red);
        return false;
    }
    return true;
}

bool stopTunnel()
{
    return CloseAppByName(QString::fromUtf16(kTunnelProgramName), tunnelFolder() + u'/');
}

} // namespace tessaly
