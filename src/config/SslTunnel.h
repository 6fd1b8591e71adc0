// The local SSL tunnel: a forwarder in the program folder's Stunnel folder
// that accepts plain connections on 127.0.0.1 at a free port above 1024
// (chosen at each start, kept in appSettings().tunnelLocalPort) and carries
// them over SSL to Server:Port, checking the server's certificate unless
// SSLNoVerify is set. The program writes its configuration, starts and stops it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tessaly {

inline constexpr auto kTunnelProgramName = u"stunnel_tessaly";

// The program folder's Stunnel: the configuration, its log and pid file.
QString tunnelFolder();
// The launcher (Stunnel/stunnel_tessaly of the first resource folder that
// has one); it is started with tunnelFolder() as its argument.
QString tunnelProgram();
QString tunnelConfigPath();

// The configuration text: the local port, the server's port and name.
QByteArray tunnelConfig(int localPort, int port, const QString &server, bool verify);
// Writes Stunnel/stunnel.conf from the settings (choosing the local port when
// none is chosen yet); returns an error text.
QString writeTunnelConfig();
// Starts the tunnel program when it exists, on a freshly chosen local port,
// and waits (up to five seconds) until it listens there, so that the first
// connections find it; returns whether it was started.
bool startTunnel();
// The tunnel's reason for refusing the server since it was started (its
// certificate check, a TLS failure), from its log; empty when there is none.
QString tunnelRefusal();
// Ends the tunnel this program started and any other that this program
// folder's launcher runs; a process that merely has a like name is left alone.
bool stopTunnel();
// The tunnel processes stopTunnel() would end.
QList<qint64> tunnelProcesses();
// Whether something listens on 127.0.0.1:port, from the kernel's table
// (asking with a connection would make the tunnel connect to the server).
bool listensOnLoopback(int port);

} // namespace tessaly
