// A loopback web server for the version check.
#pragma once

#include <QByteArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include <optional>

namespace tessaly::test {

// A loopback web server with one answer for every request: a body, or
// nothing at all (it reads the request and stays silent).
class VersionServer
{
public:
    // head: the status line and the headers before Content-Length.
    explicit VersionServer(std::optional<QByteArray> body,
                           QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n")
        : body_(std::move(body))
        , head_(std::move(head))
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = server_.nextPendingConnection()) {
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    request_ += s->readAll();
                    if (!request_.contains("\r\n\r\n") || !body_)
                        return;
                    s->write(head_ + "Content-Length: " + QByteArray::number(body_->size()) + "\r\nConnection: close\r\n\r\n" + *body_);
                    s->disconnectFromHost();
                });
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(server_.serverPort())); }
    const QByteArray &request() const { return request_; }

private:
    QTcpServer server_;
    std::optional<QByteArray> body_;
    QByteArray head_;
    QByteArray request_;
};

} // namespace tessaly::test
