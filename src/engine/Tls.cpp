#include "engine/Tls.h"

#include "storage/AppSettings.h"

#include <QFile>
#include <QSslSocket>
#include <QStringList>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace tessaly {

QSslConfiguration tlsConfiguration()
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_2OrLater);
    c.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QString extra = qEnvironmentVariable("SSL_CERT_FILE");
    if (!extra.isEmpty()) {
        QList<QSslCertificate> cas = c.caCertificates();
        cas += QSslCertificate::fromPath(extra, QSsl::Pem);
        c.setCaCertificates(cas);
    }
    return c;
}

QString fingerprintText(const QSslCertificate &certificate)
{
    return QString::fromLatin1(certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

namespace {

QString names(const QStringList &parts)
{
    const QString joined = parts.join(u", "_s);
    return joined.isEmpty() ? u"(none)"_s : joined;
}

QString describe(const QSslCertificate &peer)
{
    return u"Subject: %1; issuer: %2; valid %3 to %4; SHA-256 fingerprint: %5"_s
        .arg(names(peer.subjectInfo(QSslCertificate::CommonName)), names(peer.issuerInfo(QSslCertificate::CommonName)),
             peer.effectiveDate().toString(Qt::ISODate), peer.expiryDate().toString(Qt::ISODate), fingerprintText(peer));
}

} // namespace

TlsVerdict judgeCertificate(const QList<QSslError> &errors, const QSslCertificate &peer, const QString &pinned)
{
    const QString pin = normalizedFingerprint(pinned);
    const QString have = QString(fingerprintText(peer)).remove(u':');
    if (!pin.isEmpty()) {
        if (!peer.isNull() && have == pin)
            return {true, {}};
        return {false, u"The server's certificate is not the pinned one (the pin is %1). %2"_s.arg(pinned.trimmed(),
                                                                                                   describe(peer))};
    }
    if (errors.isEmpty())
        return {true, {}};
    QStringList why;
    for (const QSslError &e : errors)
        if (!why.contains(e.errorString()))
            why << e.errorString();
    return {false, u"The server's certificate was refused: %1. %2. To trust this certificate anyway, enter its "
                   u"fingerprint in the settings (Certificate fingerprint, on the server page)."_s
                       .arg(why.join(u"; "_s), describe(peer))};
}

void connectEncrypted(QSslSocket *socket, const QString &host, quint16 port, const QString &pinned,
                      std::function<void(const QString &)> refused)
{
    socket->setSslConfiguration(tlsConfiguration());
    socket->setPeerVerifyName(host);
    // One verdict per connection; the handlers of the last one go first.
    QObject::disconnect(socket, &QSslSocket::sslErrors, nullptr, nullptr);
    QObject::disconnect(socket, &QSslSocket::encrypted, nullptr, nullptr);
    auto said = std::make_shared<bool>(false);
    auto refuse = [refused, said](const QString &why) {
        if (*said)
            return;
        *said = true;
        refused(why);
    };
    QObject::connect(socket, &QSslSocket::sslErrors, socket, [socket, pinned, refuse](const QList<QSslError> &errors) {
        const TlsVerdict v = judgeCertificate(errors, socket->peerCertificate(), pinned);
        if (v.accepted)
            socket->ignoreSslErrors(errors);
        else
            refuse(v.reason);
    });
    // A trusted certificate must still be the pinned one when a pin is set.
    QObject::connect(socket, &QSslSocket::encrypted, socket, [socket, pinned, refuse] {
        if (normalizedFingerprint(pinned).isEmpty())
            return;
        const TlsVerdict v = judgeCertificate({}, socket->peerCertificate(), pinned);
        if (!v.accepted) {
            socket->abort();
            refuse(v.reason);
        }
    });
    // Unbuffered: the TCP socket underneath then hands each encrypted block
    // straight to the kernel instead of copying it into a buffer of its own
    // first: one copy fewer of every byte posted.
    // What is read still collects in the TLS socket's own buffer.
    socket->connectToHostEncrypted(host, port, host, QIODevice::ReadWrite | QIODevice::Unbuffered);
}

} // namespace tessaly
