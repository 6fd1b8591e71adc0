// The local SSL tunnel: a forwarder in the program folder's Stunnel folder
// that accepts plain connections on 127.0.0.1:Port and carries them over SSL
// to Server:Port. The program writes its configuration, starts and stops it.
#pragma once

#include <QByteArray>
#include <QString>

namespace tessaly {

inline constexpr auto kTunnelProgramName = u"stunnel_tessaly";

QString tunnelFolder();
QString tunnelProgram();
QString tunnelConfigPath();

// The configuration text for a port and a server.
QByteArray tunnelConfig(int port, const QString &server);
// Writes Stunnel/stunnel.conf from the settings; returns an error text.
QString writeTunnelConfig();
// Starts the tunnel program when it exists; returns whether it was started.
bool startTunnel();
// Ends the tunnel processes started from this program folder.
bool stopTunnel();

} // namespace tessaly
