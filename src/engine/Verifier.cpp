#include "engine/Verifier.h"

#include "engine/RunPlan.h"
#include "engine/SocketTransport.h"

#include "common/MessageTable.h"
#include "storage/AppSettings.h"
#include "storage/NzbFile.h"
#include "storage/UploadQueue.h"


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
    if (s.Server.trimmed().isEmpty() && !hasCheckServer(s)) {
        QTimer::singleShot(0, this, [this] { fail(u"No newsserver specified!"_s); });
        return;
    }
    // The check server when one is set; else the posting server, reached
    // as the posting connections reach it (built-in TLS, plain, the tunnel).
    ServerEndpoint server = hasCheckServer(s) ? ServerEndpoint::checkServer(s) : ServerEndpoint::fromSettings(s);
    server.acknowledgeAtOnce = PostTimeouts::current().acknowledgeAtOnce;
    transport_ = SocketTransport::make(server, this);
    pipeline_.reset();
    transport_->open();
    watchdog_.start(PostTimeouts::current().connectMs);
}

void Verifier::received(const QByteArray &bytes)
{
    pipeline_.append(bytes);
    watchdog_.start(PostTimeouts::current().replyMs);
    while (!done_) {
        const std::optional<NntpPipeline::Reply> r = pipeline_.next();
        if (!r)
            break;
        onReply(*r);
    }
    if (!done_ && transport_)
        transport_->awaitingReply();
}

void Verifier::closedByPeer()
{
    fail(u"Connection to the server failed: The remote host closed the connection"_s);
}

void Verifier::transportFailed(const QString &why, bool fatal)
{
    fail(fatal ? why : u"Connection to the server failed: "_s + why);
}

void Verifier::send(const QByteArray &command)
{
    transport_->send(command);
    watchdog_.start(PostTimeouts::current().replyMs);
}

void Verifier::onReply(const NntpPipeline::Reply &reply)
{
    const AppSettings &s = appSettings();
    switch (reply.event) {
    case NntpPipeline::Event::Ready:
        if (hasCheckServer(s) ? !s.CheckUsername.trimmed().isEmpty() : s.Login == 1)
            send(pipeline_.authUser(hasCheckServer(s) ? s.CheckUsername.trimmed() : s.Username));
        else
            askNext();
        return;
    case NntpPipeline::Event::SendPassword:
        send(pipeline_.authPass(hasCheckServer(s) ? s.CheckPassword : s.Password));
        return;
    case NntpPipeline::Event::LoggedIn:
        askNext();
        return;
    case NntpPipeline::Event::Present:
    case NntpPipeline::Event::Missing: {
        VerifyFile &f = files_[file_];
        ++f.asked;
        if (reply.event == NntpPipeline::Event::Missing)
            f.missing << f.numbers.at(segment_);
        ++segment_;
        groupAsked_ = false;
        askNext();
        return;
    }
    case NntpPipeline::Event::NeedsGroup:
        if (!groupAsked_ && !files_[file_].group.isEmpty()) {
            groupAsked_ = true;
            send(pipeline_.group(files_[file_].group, 0));
            return;
        }
        fail(u"The server cannot check articles: "_s + reply.text);
        return;
    case NntpPipeline::Event::GroupChosen:
        send(pipeline_.stat(files_[file_].ids.at(segment_), 0));
        return;
    case NntpPipeline::Event::CannotCheck:
        fail(u"The server cannot check articles: "_s + reply.text);
        return;
    case NntpPipeline::Event::Farewell:
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
        transport_->send("QUIT\r\n");
        transport_->close();
        emit finished(true);
        return;
    }
    send(pipeline_.stat(files_[file_].ids.at(segment_), 0));
}

void Verifier::fail(const QString &why)
{
    if (done_)
        return;
    done_ = true;
    watchdog_.stop();
    error_ = why;
    if (transport_)
        transport_->close();
    emit finished(false);
}

} // namespace tessaly
