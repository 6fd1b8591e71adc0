// A news server connection over implicit TLS (NNTPS), for posting at speed.
//
// It is a QTcpSocket to the engine (state, write, readAll, bytesToWrite,
// abort and the usual signals), with OpenSSL between it and the TCP socket
// it owns. What is written is encrypted at once, straight from the caller's
// buffer, and each record goes from OpenSSL's own buffer to the kernel: no
// plain-text write buffer and no memory BIO on the way out, which are the
// copies that dominate the cost of a general-purpose TLS socket when whole
// articles are written.
//
// The certificate is checked by OpenSSL against the system's authorities
// (and the file SSL_CERT_FILE names), with the host name (or address)
// checked and sent as SNI for names. Every problem found is collected as a
// QSslError, and the verdict is judgeCertificate's: refused, the connection
// is dropped and `refused` is called once with the reason.
#pragma once

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>

struct bio_st;
struct ssl_st;

namespace tessaly {

class TlsSocket : public QTcpSocket
{
    Q_OBJECT
public:
    explicit TlsSocket(QObject *parent = nullptr);
    ~TlsSocket() override;

    // Connects and shakes hands (a refused certificate is said to `refused`
    // once per connection); `connected` comes when TCP is up (as with
    // QSslSocket), `encrypted` once the certificate is accepted, and
    // readyRead only for decrypted data.
    void connectToHostEncrypted(const QString &host, quint16 port, const QString &pinned,
                                std::function<void(const QString &)> refused);
    // A plain connection is not what this socket is for: it connects
    // encrypted, with no pin, and a refusal is only an error.
    void connectToHost(const QString &hostName, quint16 port, OpenMode mode = ReadWrite,
                       NetworkLayerProtocol protocol = AnyIPProtocol) override;
    using QAbstractSocket::connectToHost;

    // The TCP socket underneath, for socket options.
    qintptr transportDescriptor() const;

    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool isSequential() const override { return true; }
    // Closing drops the connection at once (as abort does); disconnectFromHost
    // says goodbye to the server first.
    void close() override;
    void disconnectFromHost() override;

signals:
    void encrypted();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    friend struct TlsSocketBio;
    void onPlainConnected();
    void onPlainReadyRead();
    void onPlainBytesWritten();
    void onPlainError(QAbstractSocket::SocketError error);
    void onPlainDisconnected();
    void startHandshake();
    bool continueHandshake(); // false: the connection was dropped
    void finishHandshake();
    bool decrypt(); // false: the connection was dropped or closed meanwhile
    bool encryptAndSend(const char *data, qint64 size);
    void reportWritten();
    void fail(QAbstractSocket::SocketError error, const QString &text);
    void teardown();
    qint64 toKernel(const char *data, qint64 size); // the BIO's write
    void flushOut();

    QTcpSocket *plain_;
    ssl_st *ssl_ = nullptr;
    bio_st *in_ = nullptr; // what arrived, for OpenSSL to read
    QString host_;
    QString pinned_;
    std::function<void(const QString &)> refused_;
    QList<QSslError> errors_; // found while verifying the chain
    QByteArray decrypted_;
    QByteArray early_; // written before the handshake was over
    QByteArray firstBytes_; // the first bytes the server sent, to tell what it speaks
    qint64 outLen_ = 0; // encrypted records in the thread's batch, on their way to the kernel
    qint64 unreported_ = 0; // plain bytes written and not yet announced
    bool reportQueued_ = false;
    bool encrypted_ = false;
    bool writeFailed_ = false;
    quint64 generation_ = 0; // bumped by every teardown
};

} // namespace tessaly
