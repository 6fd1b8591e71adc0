// Compares the running version with the one published on the program's web
// site: a small text file holding "major.minor.revision". The fetch never
// blocks: it reads at most 256 bytes and gives up after five seconds.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace tessaly {

// The version file and the home page (build configuration); a test may
// point the version file elsewhere.
QUrl versionFileUrl();
QUrl homePageUrl();
void setVersionFileUrl(const QUrl &url);

// A fetched text that cannot be a version: shorter than 5 or longer than 10
// characters, or an HTML page ("!DOC").
bool isValidVersionText(const QString &text);

class UpdateCheck : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxBytes = 256;
    static constexpr int TimeoutMs = 5000;

    explicit UpdateCheck(QObject *parent = nullptr);
    ~UpdateCheck() override;

    // Fetches the version file; finished() follows once, later.
    void start();
    bool isRunning() const { return reply_ != nullptr; }

signals:
    // What was read, NULs removed; empty when nothing could be read.
    void finished(const QString &text);

private:
    void readSome();
    void end(bool keep);

    QNetworkAccessManager *manager_ = nullptr;
    QNetworkReply *reply_ = nullptr;
    QTimer *timeout_ = nullptr;
    QByteArray data_;
};

} // namespace tessaly
