#include "config/SslTunnel.h"

#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "platform/Processes.h"
#include "platform/ProgramFolder.h"
#include "platform/SafeFiles.h"
#include "storage/AppSettings.h"

#include <QDir>
#include <QThread>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QFile>

#include <algorithm>

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
                             "accept = 127.0.0.1:%LOCALPORT%\r\n"
                             "connect = %SSLSERVER%:%PORT%\r\n"
                             "%VERIFY%"
                             "\r\n";

// The system's certificate authorities, as Debian keeps them.
constexpr char kCaFile[] = "/etc/ssl/certs/ca-certificates.crt";

// A free port above 1024 on the loopback address: the server's own port
// (563, say) is one an ordinary user may not listen on.
int freeLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}
} // namespace

QString tunnelFolder()
{
    return inProgramFolder(u"Stunnel"_s);
}

QString tunnelProgram()
{
    // The launcher that came with the program, or one installed into the
    // program folder; either runs on the configuration of tunnelFolder().
    const QString relative = u"Stunnel/"_s + QString::fromUtf16(kTunnelProgramName);
    const QString found = findResource(relative);
    return found.isEmpty() ? inProgramFolder(relative) : found;
}

QString tunnelConfigPath()
{
    return tunnelFolder() + u"/stunnel.conf"_s;
}

QByteArray tunnelConfig(int localPort, int port, const QString &server, bool verify)
{
    const QByteArray host = withoutLineBreaks(server).trimmed().toUtf8();
    QByteArray text(kTemplate);
    text.replace("%LOCALPORT%", QByteArray::number(localPort));
    text.replace("%PORT%", QByteArray::number(port));
    text.replace("%SSLSERVER%", host);
    QByteArray checks;
    if (verify) {
        // The chain up to a trusted authority, and the name (or address) in it.
        const bool address = !QHostAddress(QString::fromUtf8(host)).isNull();
        checks = "verifyChain = yes\r\nCAfile = " + QByteArray(kCaFile) + "\r\n"
            + (address ? "checkIP = " : "checkHost = ") + host + "\r\n";
    }
    text.replace("%VERIFY%", checks);
    return text;
}

QString writeTunnelConfig()
{
    QDir().mkpath(tunnelFolder());
    AppSettings &s = appSettings();
    if (s.tunnelLocalPort <= 0)
        s.tunnelLocalPort = freeLocalPort();
    return writeFileAtomically(tunnelConfigPath(),
                               tunnelConfig(s.tunnelLocalPort, s.Port, s.Server, s.SSLNoVerify == 0));
}

namespace {

QString tunnelPidPath()
{
    return tunnelFolder() + u"/stunnel_tessaly.pid"_s;
}

// The launcher of this program folder, or the tunnel it became (it keeps its
// process and runs under the launcher's name on the configuration it wrote).
// Nothing else, whatever it is called.
bool isOurTunnel(const ProcessView &p)
{
    const QString runConfig = tunnelFolder() + u"/stunnel_tessaly.run.conf"_s;
    const QString launcher = tunnelProgram();
    const bool forThisFolder = p.arguments.contains(tunnelFolder()) || launcher.startsWith(tunnelFolder() + u'/');
    return (p.arguments.contains(launcher) && forThisFolder)
        || (p.name == QStringView(kTunnelProgramName) && p.arguments.contains(runConfig));
}

} // namespace

QList<qint64> tunnelProcesses()
{
    return findOwnProcesses(isOurTunnel);
}

namespace {

qint64 &tunnelLogStart()
{
    static qint64 offset = 0;
    return offset;
}

QString tunnelLogPath()
{
    return tunnelFolder() + u"/stunnel.log"_s;
}

} // namespace

bool listensOnLoopback(int port)
{
#ifdef Q_OS_LINUX
    QFile table(u"/proc/net/tcp"_s);
    if (!table.open(QIODevice::ReadOnly))
        return true; // cannot tell: do not wait
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 3 && f[1] == local && f[3] == "0A")
            return true;
    }
    return false;
#else
    Q_UNUSED(port);
    return true;
#endif
}

QString tunnelRefusal()
{
    QFile log(tunnelLogPath());
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = log.size();
    const qint64 from = std::max(tunnelLogStart(), size - 65536);
    if (from > size || !log.seek(from))
        return {};
    QString found;
    for (const QByteArray &raw : log.readAll().split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.contains(u"Certificate check failed"_s, Qt::CaseInsensitive)
            || line.contains(u"certificate verify failed"_s, Qt::CaseInsensitive)
            || line.contains(u"Rejected by CERT"_s, Qt::CaseInsensitive)
            || line.contains(u"wrong version number"_s, Qt::CaseInsensitive)
            || line.contains(u"unsupported protocol"_s, Qt::CaseInsensitive)
            || line.contains(u"protocol version"_s, Qt::CaseInsensitive)) {
            // Without its time stamp and level: "... LOG3[0]: <what>".
            const qsizetype at = line.indexOf(u"]: "_s);
            found = at >= 0 ? line.mid(at + 3) : line;
        }
    }
    return found;
}

bool startTunnel()
{
    const QString program = tunnelProgram();
    if (!fileExists(program))
        return false;
    // A fresh local port each start: one left from an earlier start may be taken.
    appSettings().tunnelLocalPort = 0;
    if (const QString error = writeTunnelConfig(); !error.isEmpty()) {
        LogError(ErrorCode::FileIo, error);
        return false;
    }
    if (appSettings().SSLNoVerify == 1)
        AddLog(0, u"Warning: the SSL tunnel does not check the server's certificate (SSLNoVerify=1): anyone on the "
                  u"way can read the password and the posts."_s,
               LogColour::Red);
    tunnelLogStart() = QFileInfo(tunnelLogPath()).size(); // what it says from now on
    qint64 pid = 0;
    if (!startDetached(program, {tunnelFolder()}, tunnelFolder(), &pid)) {
        AddLog(0, u"The SSL tunnel (%1) could not be started."_s.arg(program), LogColour::Red);
        return false;
    }
    writeFileAtomically(tunnelPidPath(), QByteArray::number(pid) + '\n');
    QDeadlineTimer ready(5000);
    while (!listensOnLoopback(appSettings().tunnelLocalPort) && !ready.hasExpired())
        QThread::msleep(20);
    if (!listensOnLoopback(appSettings().tunnelLocalPort))
        AddLog(0, u"The SSL tunnel does not listen on port %1 after 5 s (see Stunnel/stunnel.log)."_s
                      .arg(appSettings().tunnelLocalPort),
               LogColour::Red);
    return true;
}

bool stopTunnel()
{
    // The one this program started, then any other this folder's launcher
    // started (left by a run that ended without stopping it).
    QList<qint64> pids;
    const qint64 started = QString::fromLatin1(readSmallFile(tunnelPidPath(), 64).data).trimmed().toLongLong();
    if (const ProcessView p = ownProcess(started); p.pid != 0 && isOurTunnel(p))
        pids << started;
    for (qint64 pid : tunnelProcesses())
        if (!pids.contains(pid))
            pids << pid;
    QFile::remove(tunnelPidPath());
    return terminateProcesses(pids);
}

} // namespace tessaly
