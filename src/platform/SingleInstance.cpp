#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {
constexpr char kActivate[] = "activate\n";
}

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent)
{
    QString user;
#ifdef Q_OS_UNIX
    user = QString::number(getuid());
#else
    user = qEnvironmentVariable("USERNAME");
#endif
    const QByteArray hash = QCryptographicHash::hash((key + u'|' + user).toUtf8(), QCryptographicHash::Sha1).toHex();
    name_ = u"tessaly-poster-"_s + user + u'-' + QString::fromLatin1(hash.left(16));
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::guardedFolder()
{
    // The folder the program will keep its files in, found without writing.
    QString folder = qEnvironmentVariable("TESSALY_HOME");
    if (folder.isEmpty())
        folder = QCoreApplication::applicationDirPath();
    return QDir::cleanPath(QDir(folder).absolutePath());
}

QString SingleInstance::defaultKey(const QString &title)
{
    return title + u'|' + guardedFolder();
}

bool SingleInstance::notifyRunning()
{
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write(kActivate);
    socket.waitForBytesWritten(1000);
    // Wait for the first instance to take the message (it closes the socket).
    socket.waitForDisconnected(2000);
    return true;
}

bool SingleInstance::claim()
{
    if (notifyRunning())
        return false;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(name_)) {
        // A socket left behind by a crashed instance: nobody answered above.
        QLocalServer::removeServer(name_);
        if (!server_->listen(name_)) {
            if (notifyRunning())
                return false;
            return true; // cannot guard; run anyway rather than refuse to start
        }
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, s, [this, s] {
                if (s->readAll().contains("activate"))
                    emit activationRequested();
                s->disconnectFromServer();
            });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
        }
    });
    return true;
}

} // namespace tessaly
