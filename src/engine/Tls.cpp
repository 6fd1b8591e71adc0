#include "engine/Tls.h"

#include "storage/AppSettings.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace tessaly {

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

} // namespace tessaly
