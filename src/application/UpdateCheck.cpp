#include "application/UpdateCheck.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>

#include <utility>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

QUrl &versionUrlOverride()
{
    static QUrl url;
    return url;
}

} // namespace

QUrl versionFileUrl()
{
    if (!versionUrlOverride().isEmpty())
        return versionUrlOverride();
    return QUrl(QStringLiteral(TESSALY_VERSION_URL));
}

QUrl homePageUrl()
{
    return QUrl(QStringLiteral(TESSALY_HOME_URL));
}

void setVersionFileUrl(const QUrl &url)
{
    versionUrlOverride() = url;
}

bool isValidVersionText(const QString &text)
{
    // Digits and dots only ("1.2.3"): nothing else is shown to the user.
    static const QRegularExpression plainVersion(u"^[0-9]+(\\.[0-9]+)+$"_s);
    return text.size() >= 5 && text.size() <= 10 && plainVersion.match(text).hasMatch();
}

UpdateCheck::UpdateCheck(QObject *parent)
    : QObject(parent)
    , manager_(new QNetworkAccessManager(this))
    , timeout_(new QTimer(this))
{
    manager_->setProxy(QNetworkProxy::NoProxy);
    timeout_->setSingleShot(true);
    timeout_->setTimerType(Qt::PreciseTimer);
    timeout_->setInterval(TimeoutMs);
    connect(timeout_, &QTimer::timeout, this, [this] { end(false); });
}

UpdateCheck::~UpdateCheck()
{
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void UpdateCheck::start()
{
    if (reply_)
        return;
    data_.clear();
    QNetworkRequest request(versionFileUrl());
    request.setHeader(QNetworkRequest::UserAgentHeader, u"vb wininet"_s);
    // Never an old copy: neither read from a cache nor written to one.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(TimeoutMs);
    // A redirect is followed only to the same scheme, host and port.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    reply_ = manager_->get(request);
    reply_->setReadBufferSize(MaxBytes);
    connect(reply_, &QNetworkReply::readyRead, this, &UpdateCheck::readSome);
    connect(reply_, &QNetworkReply::finished, this, [this] {
        readSome();
        if (reply_)
            end(reply_->error() == QNetworkReply::NoError);
    });
    timeout_->start();
}

void UpdateCheck::readSome()
{
    if (!reply_)
        return;
    data_ += reply_->read(MaxBytes - data_.size());
    // What a version file can hold has been read: the rest is not wanted.
    if (data_.size() >= MaxBytes)
        end(true);
}

void UpdateCheck::end(bool keep)
{
    timeout_->stop();
    if (QNetworkReply *reply = std::exchange(reply_, nullptr)) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    QString text;
    if (keep) {
        data_.replace('\0', QByteArray());
        text = QString::fromLatin1(data_).trimmed(); // "1.0.2\r\n" is version 1.0.2
    }
    data_.clear();
    emit finished(text);
}

} // namespace tessaly
