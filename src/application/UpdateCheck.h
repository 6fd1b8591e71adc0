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

// Whether a fetched text (white space trimmed) is a version: 5 to 10
// characters of digits and dots ("1.2.3"); an HTML page or anything with
// markup or control characters is not.
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
    // What was read, NULs removed and white space trimmed; empty when nothing
    // could be read (or a redirect led to another host).
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
