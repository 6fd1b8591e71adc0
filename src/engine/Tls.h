// TLS for the news server connections (implicit TLS, NNTPS): the settings
// every connection gets, and the verdict on the server's certificate. A
// certificate the system does not trust is accepted only when its SHA-256
// fingerprint is the one pinned in the settings; with a pin set, a
// certificate with another fingerprint is refused even when trusted.
#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QString>

class QSslSocket;

namespace tessaly {

// TLS 1.2 or newer, the peer verified against the system's authorities
// (and those of the file SSL_CERT_FILE names, as OpenSSL programs do).
QSslConfiguration tlsConfiguration();

// "AB:CD:..." (32 pairs), the SHA-256 of the certificate.
QString fingerprintText(const QSslCertificate &certificate);

struct TlsVerdict
{
    bool accepted = false;
    QString reason; // why it was refused, for the log and the message
};

// During the handshake: the errors found (empty: the chain and name check out).
TlsVerdict judgeCertificate(const QList<QSslError> &errors, const QSslCertificate &peer, const QString &pinned);

// Connects the socket with TLS, with the verdict applied; `refused` is
// called (once) with the reason when the certificate is not accepted.
void connectEncrypted(QSslSocket *socket, const QString &host, quint16 port, const QString &pinned,
                      std::function<void(const QString &)> refused);

} // namespace tessaly
