#include "engine/Verifier.h"

#include "engine/Tls.h"
#include "engine/TlsSocket.h"

#include "common/MessageTable.h"
#include "engine/frmPost.h"
#include "storage/AppSettings.h"
#include "storage/NzbFile.h"
#include "storage/UploadQueue.h"

#include <QTcpSocket>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace tessaly {

bool usableMessageId(const QString &id)
{
    // Printable ASCII without blanks or brackets, at most 250 characters
    // with the brackets: anything else makes a server refuse the command.
    if (id.isEmpty() || id.size() > 248)
        return false;
    for (QChar c : id)
        if (c.unicode() < 0x21 || c.unicode() > 0x7e || c == u'<' || c == u'>')
            return false;
    return true;
}

int idsToAsk(const QList<VerifyFile> &files)
{
    int n = 0;
    for (const VerifyFile &f : files)
        n += int(f.ids.size());
    return n;
}

QList<VerifyFile> verifyFilesOf(const QList<NzbListing> &nzb)
{
    QList<VerifyFile> out;
    for (const NzbListing &l : nzb) {
        VerifyFile f;
        f.name = l.subject;
        f.group = l.groups.value(0);
        for (const NzbListing::Segment &s : l.segments) {
            if (!usableMessageId(s.messageId)) {
                f.unusable << s.number;
                continue;
            }
            f.numbers << s.number;
            f.ids << s.messageId;
        }
        out << f;
    }
    return out;
}

QList<VerifyFile> verifyFilesOfItems(const QList<int> &items)
{
    QList<VerifyFile> out;
    const UploadQueue &q = uploadQueue();
    for (int index : items) {
        if (!q.isValidIndex(index))
            continue;
        const UploadItem &it = q.item(index);
        VerifyFile f;
        f.name = it.subject;
        f.group = it.newsgroups.section(u',', 0, 0).trimmed();
        f.queueItem = index;
        for (int k = 1; k <= it.messageids.size(); ++k) {
            f.numbers << k;
            f.ids << it.messageids.at(k - 1);
        }
        out << f;
    }
    return out;
}

QString verifyReport(const VerifyFile &file)
{
    if (file.missing.isEmpty() && file.unusable.isEmpty())
        return msg(255).arg(file.name).arg(file.asked);
    QList<int> gone = file.missing + file.unusable;
    std::sort(gone.begin(), gone.end());
    const auto list = [](const QList<int> &numbers) {
        QStringList parts;
        for (int n : numbers)
            parts << QString::number(n);
        return parts.join(u", "_s);
    };
    QString report = msg(254)
                         .arg(file.name)
                         .arg(file.asked - file.missing.size())
                         .arg(file.asked + file.unusable.size())
                         .arg(list(gone));
    if (!file.unusable.isEmpty())
        report += u" (not asked, the Message-ID is unusable: "_s + list(file.unusable) + u')';
    return report;
}

Verifier::Verifier(QList<VerifyFile> files, QObject *parent)
    : QObject(parent)
    , files_(std::move(files))
{
    watchdog_.setSingleShot(true);
    connect(&watchdog_, &QTimer::timeout, this, [this] {
        fail(u"The server did not answer for %1 s"_s.arg(PostTimeouts::current().replyMs / 1000.0));
    });
}

Verifier::~Verifier() = default;

int Verifier::missingTotal() const
{
    int n = 0;
    for (const VerifyFile &f : files_)
        n += int(f.missing.size() + f.unusable.size());
    return n;
}

void Verifier::start()
{
    const AppSettings &s = appSettings();
    if (s.Server.trimmed().isEmpty()) {
        QTimer::singleShot(0, this, [this] { fail(u"No newsserver specified!"_s); });
        return;
    }
    const SslMode mode = sslMode(s);
    socket_ = mode == SslMode::BuiltIn ? new TlsSocket(this) : new QTcpSocket(this);
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
        session_.append(socket_->readAll());
        watchdog_.start(PostTimeouts::current().replyMs);
        while (!done_) {
            const std::optional<NntpSession::Reply> r = session_.next();
            if (!r)
                break;
            onReply(*r);
        }
    });
    connect(socket_, &QTcpSocket::errorOccurred, this, [this] {
        if (!done_)
            fail(u"Connection to the server failed: "_s + socket_->errorString());
    });
    if (mode == SslMode::BuiltIn) {
        qobject_cast<TlsSocket *>(socket_)->connectToHostEncrypted(s.Server.trimmed(), quint16(s.Port), s.SSLFingerprint,
                                                                  [this](const QString &why) { fail(why); });
    } else {
        // Through the tunnel, the local end of it, as the posting connections do.
        const bool tunnel = mode == SslMode::Tunnel;
        const int port = tunnel && s.tunnelLocalPort > 0 ? s.tunnelLocalPort : s.Port;
        socket_->connectToHost(tunnel ? u"127.0.0.1"_s : s.Server, quint16(port));
    }
    watchdog_.start(PostTimeouts::current().connectMs);
}

void Verifier::send(const QByteArray &command)
{
    socket_->write(command);
    watchdog_.start(PostTimeouts::current().replyMs);
}

void Verifier::onReply(const NntpSession::Reply &reply)
{
    const AppSettings &s = appSettings();
    switch (reply.event) {
    case NntpSession::Event::Ready:
        if (s.Login == 1)
            send(session_.authUser(s.Username));
        else
            askNext();
        return;
    case NntpSession::Event::SendPassword:
        send(session_.authPass(s.Password));
        return;
    case NntpSession::Event::LoggedIn:
        askNext();
        return;
    case NntpSession::Event::Present:
    case NntpSession::Event::Missing: {
        VerifyFile &f = files_[file_];
        ++f.asked;
        if (reply.event == NntpSession::Event::Missing)
            f.missing << f.numbers.at(segment_);
        ++segment_;
        groupAsked_ = false;
        askNext();
        return;
    }
    case NntpSession::Event::NeedsGroup:
        if (!groupAsked_ && !files_[file_].group.isEmpty()) {
            groupAsked_ = true;
            send(session_.group(files_[file_].group));
            return;
        }
        fail(u"The server cannot check articles: "_s + reply.text);
        return;
    case NntpSession::Event::GroupChosen:
        send(session_.stat(files_[file_].ids.at(segment_)));
        return;
    case NntpSession::Event::CannotCheck:
        fail(u"The server cannot check articles: "_s + reply.text);
        return;
    case NntpSession::Event::Farewell:
        return;
    default:
        fail(u"Unexpected reply: "_s + reply.text);
        return;
    }
}

void Verifier::askNext()
{
    while (file_ < files_.size() && segment_ >= files_[file_].ids.size()) {
        ++file_;
        segment_ = 0;
    }
    if (file_ >= files_.size()) {
        done_ = true;
        watchdog_.stop();
        socket_->write("QUIT\r\n");
        socket_->flush();
        socket_->disconnectFromHost();
        emit finished(true);
        return;
    }
    send(session_.stat(files_[file_].ids.at(segment_)));
}

void Verifier::fail(const QString &why)
{
    if (done_)
        return;
    done_ = true;
    watchdog_.stop();
    error_ = why;
    if (socket_)
        socket_->abort();
    emit finished(false);
}

} // namespace tessaly
