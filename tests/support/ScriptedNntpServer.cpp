#include "support/ScriptedNntpServer.h"

#include <QTcpSocket>

namespace tessaly::test {

ScriptedNntpServer::ScriptedNntpServer(QObject *parent)
    : QObject(parent)
{
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = server_.nextPendingConnection()) {
            ++connections;
            s->write(greeting);
            auto *pending = new QByteArray;
            connect(s, &QTcpSocket::readyRead, this, [this, s, pending] {
                pending->append(s->readAll());
                qsizetype eol;
                while ((eol = pending->indexOf("\r\n")) >= 0) {
                    const QByteArray line = pending->left(eol);
                    pending->remove(0, eol + 2);
                    onLine(s, line);
                }
            });
            connect(s, &QTcpSocket::disconnected, s, [s, pending] {
                delete pending;
                s->deleteLater();
            });
        }
    });
}

bool ScriptedNntpServer::start(const QHostAddress &address, quint16 port)
{
    return server_.listen(address, port);
}

void ScriptedNntpServer::onLine(QTcpSocket *socket, const QByteArray &line)
{
    received << line;
    const QByteArray command = line.split(' ').value(0).toUpper();
    if (command == "QUIT") {
        socket->write("205 closing connection\r\n");
        socket->disconnectFromHost();
    } else if (command == "MODE") {
        socket->write("200 posting allowed\r\n");
    } else {
        socket->write("500 what?\r\n");
    }
}

quint16 freePort(const QHostAddress &address)
{
    QTcpServer probe;
    if (!probe.listen(address, 0))
        return 0;
    return probe.serverPort();
}

} // namespace tessaly::test
