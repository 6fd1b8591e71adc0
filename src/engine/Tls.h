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

namespace tessaly {

// "AB:CD:..." (32 pairs), the SHA-256 of the certificate.
QString fingerprintText(const QSslCertificate &certificate);

struct TlsVerdict
{
    bool accepted = false;
    QString reason; // why it was refused, for the log and the message
};

// During the handshake: the errors found (empty: the chain and name check out).
TlsVerdict judgeCertificate(const QList<QSslError> &errors, const QSslCertificate &peer, const QString &pinned);

} // namespace tessaly
