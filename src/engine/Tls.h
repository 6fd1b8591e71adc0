// TLS for the news server connections (implicit TLS, NNTPS): the verdict
// on the server's certificate. A certificate the system does not trust is
// accepted only when its SHA-256 fingerprint is the one pinned in the
// settings; with a pin set, a certificate with another fingerprint is
// refused even when trusted.
#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

#include <functional>

namespace tessaly {

class TlsSocket;

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
void connectEncrypted(TlsSocket *socket, const QString &host, quint16 port, const QString &pinned,
                      std::function<void(const QString &)> refused);

} // namespace tessaly
