// A small NNTP server inside the test process: it greets, and answers the
// commands it is given a script for. Bound to loopback only.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

class QTcpSocket;

namespace tessaly::test {

class ScriptedNntpServer : public QObject
{
    Q_OBJECT
public:
    explicit ScriptedNntpServer(QObject *parent = nullptr);

    // Listens on the address (loopback) and a free port; false when it cannot.
    bool start(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const { return server_.serverPort(); }

    QByteArray greeting = "200 Tessaly test server ready\r\n";
    // Lines received from clients, without CR LF.
    QList<QByteArray> received;
    int connections = 0;

private:
    void onLine(QTcpSocket *socket, const QByteArray &line);
    QTcpServer server_;
};

// A free TCP port on the given loopback address.
quint16 freePort(const QHostAddress &address = QHostAddress::LocalHost);

} // namespace tessaly::test
