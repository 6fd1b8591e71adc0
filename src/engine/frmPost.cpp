#include "engine/frmPost.h"

#include "engine/Tls.h"
#include "engine/TlsSocket.h"

#include "common/AppState.h"
#include "common/Clock.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/PostHost.h"
#include "platform/FileNames.h"
#include "platform/PartFiles.h"
#include "platform/SocketOptions.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"
#include "storage/NzbFile.h"
#include "storage/QueueFile.h"
#include "storage/UploadQueue.h"

#include <QFile>
#include <QTcpSocket>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr int kMaxRefusalsInARow = 5;
// Checks go with a POST once this many are due; an idle connection sends
// every due one (up to the most at once).
constexpr int kChecksWithAPost = 8;
constexpr QByteArrayView kPostCommand = "POST\r\n";
constexpr int kMostChecksAtOnce = 64;
constexpr int kSaveQueueEveryMs = 2000;
constexpr qint64 kSayAgainAfterMs = 60000;

QString connectingText()
{
    const AppSettings &s = appSettings();
    return msg(129) + u' ' + s.Server + u' ' + msg(130) + u' ' + QString::number(s.Port);
}


// The connection waits for the server: its acknowledgements go at once, so
// that a server that leaves Nagle on does not hold its next reply back.
void waitingForServer(QTcpSocket *socket)
{
    if (!PostTimeouts::current().acknowledgeAtOnce)
        return;
    if (auto *tls = qobject_cast<TlsSocket *>(socket))
        acknowledgeAtOnce(tls->transportDescriptor());
    else
        acknowledgeAtOnce(socket->socketDescriptor());
}

} // namespace

PostTimeouts &PostTimeouts::current()
{
    static PostTimeouts t;
    return t;
}

frmPost::SocketFactory &frmPost::socketFactory()
{
    static SocketFactory factory;
    return factory;
}

void frmPost::setSocketFactory(SocketFactory factory)
{
    socketFactory() = std::move(factory);
}

frmPost::frmPost(PostHost *host, QObject *parent)
    : QObject(parent)
    , host_(host)
{
    clock_.start();
    tmrSpeed_.setInterval(PostTimeouts::current().statisticsMs);
    connect(&tmrSpeed_, &QTimer::timeout, this, &frmPost::statisticsTick);
    tmrPacketSize_.setSingleShot(true);
    connect(&tmrPacketSize_, &QTimer::timeout, this, [this] {
        tmrPacketSize_.stop();
        computePacketSize();
    });
}

frmPost::~frmPost()
{
    if (loaded_ && !unloaded_)
        Form_Unload();
}

void frmPost::setFillMode(int itemIndex, const QList<int> &parts)
{
    fillMode_ = true;
    fillItem_ = itemIndex;
    fillParts_ = parts;
    fillIndex_ = 0;
}

// ---------------------------------------------------------------- run control

void frmPost::Form_Load()
{
    loaded_ = true;
    const int n = std::clamp(appSettings().Connections, 1, int(ConnectionList::MaxConnections));
    if (connectionList().connectionCount() != n)
        connectionList().rebuild(n);
    for (int i = 1; i <= n; ++i) {
        auto c = std::make_unique<PostConnection>();
        PostConnection *pc = c.get();
        pc->number = i;
        if (socketFactory())
            pc->socket = socketFactory()(this);
        else if (sslMode(appSettings()) == SslMode::BuiltIn)
            pc->socket = new TlsSocket(this);
        else
            pc->socket = new QTcpSocket(this);
        pc->sendTimer = new QTimer(this);
        pc->sendTimer->setSingleShot(true);
        pc->sendTimer->setTimerType(Qt::PreciseTimer);
        pc->restartTimer = new QTimer(this);
        pc->restartTimer->setSingleShot(true);
        pc->watchdog = new QTimer(this);
        pc->watchdog->setSingleShot(true);
        pc->checkTimer = new QTimer(this);
        pc->checkTimer->setSingleShot(true);
        connect(pc->checkTimer, &QTimer::timeout, this, [this, pc] {
            if (unloaded_ || pc->hasArticle || pc->currentItem != 0 || !pc->checking.isEmpty())
                return;
            if (pc->socket->state() == QAbstractSocket::ConnectedState)
                UploadNextFile(*pc);
            else
                connectStep(*pc, true, true);
        });
        connect(pc->socket, &QTcpSocket::connected, this, [this, pc] {
            pc->connecting = false;
            setPostingInProgress(true);
            pc->waitingFor = u"the server's greeting"_s;
            arm(*pc, PostTimeouts::current().replyMs);
        });
        connect(pc->socket, &QTcpSocket::readyRead, this, [this, pc] { receive(*pc, pc->socket->readAll()); });
        connect(pc->socket, &QTcpSocket::bytesWritten, this, [this, pc](qint64 bytes) { onBytesWritten(*pc, bytes); });
        connect(pc->socket, &QTcpSocket::errorOccurred, this, [this, pc](QAbstractSocket::SocketError e) {
            if (pc->closingByUs || unloaded_ || gaveUp_ || certificateRefused_)
                return;
            if (e == QAbstractSocket::RemoteHostClosedError) {
                serverClosed(*pc);
                return;
            }
            errorPath(*pc, QString::number(int(e)) + u" - "_s + pc->socket->errorString());
        });
        connect(pc->sendTimer, &QTimer::timeout, this, [this, pc] { sendTick(*pc); });
        connect(pc->restartTimer, &QTimer::timeout, this, [this, pc] {
            pc->restartTimer->stop();
            connectionList().setAction(pc->number, connectingText());
            connectionList().setDescription(pc->number, QString());
            connectStep(*pc, false, false);
        });
        connect(pc->watchdog, &QTimer::timeout, this, [this, pc] {
            if (pc->connecting)
                errorPath(*pc, u"No connection to the server after %1 s"_s.arg(PostTimeouts::current().connectMs / 1000.0));
            else
                errorPath(*pc, u"The server did not answer for %1 s (waiting for %2)"_s.arg(PostTimeouts::current().replyMs / 1000.0)
                                   .arg(pc->waitingFor));
        });
        connections_.push_back(std::move(c));
    }
    // What is queued now is this run's to post.
    for (int i = 1; i <= uploadQueue().count(); ++i)
        if (uploadQueue().item(i).state == UploadState::Queued)
            uploadQueue().markTaken(i);

    savedSpeedText_ = host_->speedText();
    if (appSettings().SpeedScheduler == 1)
        host_->startSpeedScheduler();
    computePacketSize();
    tmrSpeed_.start();
    StartUpload();
}

void frmPost::StartUpload()
{
    setPostingInProgress(true);
    host_->setPostingControls(true);
    encodedPartSize_ = encodedPartSize(appSettings().PartSize);
    // What the run is to post, in the parts' own sizes (a last part is
    // usually short), which is what its progress and summary count.
    qint64 toPost = 0;
    const UploadQueue &queue = uploadQueue();
    if (fillMode_) {
        if (queue.isValidIndex(fillItem_))
            for (int part : fillParts_)
                toPost += partFileBytes(queue.item(fillItem_), part);
    } else {
        for (int i = 1; i <= queue.count(); ++i) {
            const UploadItem &it = queue.item(i);
            if (it.state != UploadState::Queued || it.partsLeft <= 0)
                continue;
            const bool lastLeft = !UploadQueue::isAccepted(it, it.maxparts);
            toPost += qint64(it.partsLeft - (lastLeft ? 1 : 0)) * appSettings().PartSize
                + (lastLeft ? partFileBytes(it, it.maxparts) : 0);
        }
    }
    stats_.start(toPost, Clock::instance().msecsSinceStart());
    host_->setRunProgress(0, toPost);

    const AppSettings &s = appSettings();
    checkOn_ = !fillMode_ && s.PostCheck == 1;
    const int delayMs = PostTimeouts::current().checkDelayMs;
    checkDelayMs_ = delayMs >= 0 ? delayMs : 1000.0 * s.PostCheckDelay;
    checkTries_ = s.PostCheckTries;
    checks_.clear();
    timesMissing_.clear();
    checked_ = missing_ = 0;
    looksOn_ = true;
    gaveUp_ = false;
    certificateRefused_ = false;
    lastError_.clear();
    saidAt_.clear();
    lastProgressMs_ = Clock::instance().msecsSinceStart();
    if (!fillMode_) {
        // Parts accepted before the last run stopped are checked first.
        UploadQueue &q = uploadQueue();
        for (int i = 1; i <= q.count(); ++i) {
            UploadItem &it = q.item(i);
            if (!UploadQueue::hasUnchecked(it))
                continue;
            if (!checkOn_ || it.state == UploadState::PostedOK) {
                it.unchecked.clear();
                q.itemChanged(i);
                continue;
            }
            for (int p = 1; p <= it.unchecked.size(); ++p)
                if (it.unchecked.testBit(p - 1))
                    checks_.add({i, p, it.messageids.value(p - 1), 0});
        }
    }
    publishCheckCounts();
    Connect();
}

void frmPost::Connect()
{
    finished_ = 0;
    if (fillMode_) {
        PostConnection &c = *connections_.front();
        c.currentItem = fillItem_;
        connectionList().setAction(1, connectingText());
        connectStep(c, false, false);
        return;
    }
    for (auto &c : connections_) {
        connectionList().setAction(c->number, connectingText());
        connectStep(*c, false, false);
    }
}

void frmPost::connectStep(PostConnection &c, bool rewriteAction, bool clearDescription)
{
    if (rewriteAction)
        connectionList().setAction(c.number, connectingText());
    if (clearDescription)
        connectionList().setDescription(c.number, QString());
    closeSocket(c);
    c.closingByUs = false;
    c.session.reset();
    c.connecting = true;
    c.acceptedSinceConnect = false;
    c.postRefused = false;
    c.waitingFor = u"the connection"_s;
    const AppSettings &s = appSettings();
    auto *tls = qobject_cast<TlsSocket *>(c.socket);
    if (sslMode(s) == SslMode::BuiltIn && tls) {
        connectionList().setIcon(c.number, StatusIcon::Tunnel);
        QPointer<frmPost> self(this);
        tls->connectToHostEncrypted(s.Server.trimmed(), quint16(s.Port), s.SSLFingerprint, [self](const QString &why) {
            // Not a passing fault: the run stops (after the socket's own signal
            // is over), and the failed handshake is not retried meanwhile.
            if (!self)
                return;
            self->certificateRefused_ = true;
            QTimer::singleShot(0, self, [self, why] {
                if (self)
                    self->refuseCertificate(why);
            });
        });
    } else if (sslMode(s) == SslMode::Tunnel) {
        connectionList().setIcon(c.number, StatusIcon::Tunnel);
        // The tunnel's local end: the port it chose when it started.
        c.socket->connectToHost(u"127.0.0.1"_s, quint16(s.tunnelLocalPort > 0 ? s.tunnelLocalPort : s.Port));
    } else {
        connectionList().setIcon(c.number, StatusIcon::Connected);
        c.socket->connectToHost(s.Server, quint16(s.Port));
    }
    arm(c, PostTimeouts::current().connectMs);
}

void frmPost::reconnectNow(PostConnection &c)
{
    // Deferred: the socket may be inside one of its own signals.
    QPointer<frmPost> self(this);
    PostConnection *pc = &c;
    QTimer::singleShot(0, this, [self, pc] {
        if (self && !self->unloaded_)
            self->connectStep(*pc, false, false);
    });
}

void frmPost::closeSocket(PostConnection &c)
{
    // Checks that got no answer are made again, first.
    while (!c.checking.isEmpty())
        checks_.putBack(c.checking.takeLast());
    c.groupAsked = false;
    c.checkWithPost = false;
    c.groupChosen = false;
    c.looking.clear();
    c.lookAfterRefusal = false;
    c.pipelinedPart = 0;
    c.lookGroupAsked = false;
    c.checkTimer->stop();
    c.closingByUs = true;
    c.watchdog->stop();
    c.sendTimer->stop();
    c.socket->abort();
    c.connecting = false;
}

void frmPost::arm(PostConnection &c, int ms)
{
    c.watchdog->start(ms);
}

void frmPost::sendCommand(PostConnection &c, const QByteArray &command, const QString &waitingFor)
{
    c.waitingFor = waitingFor;
    c.socket->write(command);
    arm(c, PostTimeouts::current().replyMs);
}

// ---------------------------------------------------------------- replies

void frmPost::receive(int number, const QByteArray &data)
{
    if (number >= 1 && number <= connectionCount())
        receive(*connections_.at(std::size_t(number - 1)), data);
}

void frmPost::receive(PostConnection &c, const QByteArray &data)
{
    c.session.append(data);
    arm(c, PostTimeouts::current().replyMs);
    // Replies are handled line by line, however the data arrived; each one
    // is judged after the answer to the one before it was sent.
    while (!c.closingByUs && !unloaded_) {
        const std::optional<NntpSession::Reply> reply = c.session.next();
        if (!reply)
            break;
        onReply(c, *reply);
    }
    if (!c.closingByUs && !unloaded_)
        waitingForServer(c.socket);
}

void frmPost::onReply(PostConnection &c, const NntpSession::Reply &reply)
{
    const QString &text = reply.text;
    const AppSettings &s = appSettings();
    switch (reply.event) {
    case NntpSession::Event::Farewell:
        return; // the server's farewell
    case NntpSession::Event::OutOfTurn:
        errorPath(c, u"Unexpected reply ("_s + c.waitingFor + u"): "_s + text);
        return;
    case NntpSession::Event::Failed:
        onFailed(c, reply);
        return;
    case NntpSession::Event::SendArticle:
        onArticleReady(c);
        return;
    case NntpSession::Event::Accepted:
        c.refusalsInARow = 0;
        c.looking.clear();
        articleAccepted(c, text);
        return;
    case NntpSession::Event::Ready:
        AddLog(c.number, text, LogColour::Blue);
        if (s.Login == 1) {
            connectionList().setAction(c.number, msg(141));
            sendCommand(c, c.session.authUser(s.Username), u"the reply to AUTHINFO user"_s);
        } else {
            connectionList().setAction(c.number, msg(142));
            startArticle(c);
        }
        if (fillMode_ && uploadQueue().isValidIndex(c.currentItem))
            uploadQueue().setConnection(c.currentItem, c.number);
        return;
    case NntpSession::Event::LoggedIn:
        AddLog(c.number, text, LogColour::Blue);
        connectionList().setAction(c.number, msg(142));
        startArticle(c);
        return;
    case NntpSession::Event::SendPassword:
        AddLog(c.number, text, LogColour::Blue);
        sendCommand(c, c.session.authPass(s.Password), u"the reply to AUTHINFO pass"_s);
        return;
    case NntpSession::Event::Present:
    case NntpSession::Event::Missing:
    case NntpSession::Event::NeedsGroup:
    case NntpSession::Event::CannotCheck:
        if (!c.looking.isEmpty())
            lookAnswered(c, reply.event, text);
        else
            checkAnswered(c, reply.event, text);
        return;
    case NntpSession::Event::GroupChosen:
        c.groupChosen = true;
        if (!c.looking.isEmpty()) {
            sendCommand(c, c.session.stat(c.looking), u"the reply to STAT"_s);
            return;
        }
        if (!c.checking.isEmpty()) {
            sendCommand(c, c.session.stat(c.checking.first().id), u"the reply to STAT"_s);
            return;
        }
        errorPath(c, u"Unexpected reply ("_s + c.waitingFor + u"): "_s + text);
        return;
    case NntpSession::Event::Refused:
        onRefused(c, reply);
        return;
    }
}

void frmPost::onRefused(PostConnection &c, const NntpSession::Reply &reply)
{
    const QString &text = reply.text;
    AddLog(c.number, text, LogColour::Red);
    const bool articleRefused = reply.awaited == Expect::PostResult;
    // A POST behind the refused article brings the go-ahead for it again.
    const bool postOnItsWay = std::exchange(c.pipelinedPart, 0) > 0;
    UploadQueue &q = uploadQueue();
    if (articleRefused && !fillMode_ && q.isValidIndex(c.currentItem))
        UploadQueue::markUnsure(q.item(c.currentItem), postingPart(c), false);
    if (++c.refusalsInARow >= kMaxRefusalsInARow) {
        // A refusal that a new Message-ID does not cure (a bad group, an
        // article too large): retry later instead of hammering the server.
        c.refusalsInARow = 0;
        const QString why = u"The server refused the same article %1 times in a row: "_s.arg(kMaxRefusalsInARow) + text;
        if (host_->unattended() && !fillMode_ && q.isValidIndex(c.currentItem)) {
            // Nobody can mend it: the file fails, the run goes on without it.
            const int item = c.currentItem;
            AddLog(c.number, why, LogColour::Red);
            c.hasArticle = false;
            c.sendTimer->stop();
            releaseItem(c);
            setItemState(item, UploadState::FileError);
            q.item(item).note = why;
            q.itemChanged(item);
            saveQueueSoon();
            closeSocket(c);
            reconnectNow(c);
            return;
        }
        errorPath(c, why);
        return;
    }
    c.hasArticle = false;
    c.sendTimer->stop();
    // "Duplicate" to an ID an earlier post may have used: the server may
    // hold the part already, which a new ID would post twice.
    if (articleRefused && c.sentBefore && lookFirst(c, c.slot.currentMessageId, true))
        return;
    c.slot.newIdFlag = true;
    if (postOnItsWay) {
        c.waitingFor = c.checking.isEmpty() ? u"the reply to POST"_s : u"the reply to STAT"_s;
        return;
    }
    sendCommand(c, c.session.post(), u"the reply to POST"_s);
}

void frmPost::onFailed(PostConnection &c, const NntpSession::Reply &reply)
{
    const QByteArray code = reply.code();
    const AppSettings &s = appSettings();
    QString lasting;
    if (reply.awaited == Expect::AuthUser || reply.awaited == Expect::AuthPass) {
        if (code == "481" || code == "482" || code == "502")
            lasting = u"The server refused the login: "_s + reply.text;
    } else if (reply.awaited == Expect::PostGo) {
        if (code == "480" && s.Login != 1) {
            lasting = u"The server wants a login, and none is set: "_s + reply.text;
        } else if (code == "440" || code.startsWith('5')) {
            // Posting refused here; once every connection hears it, trying
            // again will not help.
            c.postRefused = true;
            bool all = true;
            for (const auto &other : connections_)
                all = all && (other->postRefused || (fillMode_ && other->number != 1));
            if (all)
                lasting = u"The server does not take articles: "_s + reply.text;
        }
    }
    if (!lasting.isEmpty() && host_->unattended()) {
        giveUp(2, lasting);
        return;
    }
    errorPath(c, reply.text);
}

void frmPost::startArticle(PostConnection &c)
{
    if (!c.hasArticle && !fillMode_ && c.currentItem == 0) {
        UploadNextFile(c);
        return;
    }
    postNext(c);
}

// ---------------------------------------------------------------- post check

qint64 frmPost::partFileBytes(const UploadItem &item, int part)
{
    // The last part holds what is left of the file; a file gone meanwhile
    // counts in full parts.
    const qint64 partSize = appSettings().PartSize;
    return part < item.maxparts || !fileExists(item.path) ? partSize : GetLastPartSize(item.path, partSize);
}

int frmPost::postingPart(const PostConnection &c) const
{
    if (fillMode_)
        return fillParts_.value(fillIndex_);
    const UploadQueue &q = uploadQueue();
    return c.part > 0 ? c.part : (q.isValidIndex(c.currentItem) ? q.item(c.currentItem).position : 0);
}

bool frmPost::lookFirst(PostConnection &c, const QString &id, bool afterRefusal)
{
    if (!looksOn_ || fillMode_ || id.isEmpty() || !c.checking.isEmpty()
        || c.socket->state() != QAbstractSocket::ConnectedState)
        return false;
    c.looking = id;
    c.lookAfterRefusal = afterRefusal;
    c.lookGroupAsked = false;
    connectionList().setAction(c.number, msg(248));
    sendCommand(c, c.session.stat(id), u"the reply to STAT"_s);
    return true;
}

void frmPost::lookAnswered(PostConnection &c, NntpSession::Event event, const QString &text)
{
    UploadQueue &q = uploadQueue();
    const QString id = c.looking;
    const bool afterRefusal = c.lookAfterRefusal;
    if (event == NntpSession::Event::NeedsGroup && !c.lookGroupAsked && q.isValidIndex(c.currentItem)) {
        c.lookGroupAsked = true;
        c.wantsGroup = true;
        const QString group = q.item(c.currentItem).newsgroups.section(u',', 0, 0).trimmed();
        sendCommand(c, c.session.group(group), u"the reply to GROUP"_s);
        return;
    }
    c.looking.clear();
    c.lookAfterRefusal = false;
    c.lookGroupAsked = false;
    madeProgress();
    connectionList().setAction(c.number, msg(142));
    if (!q.isValidIndex(c.currentItem)) {
        UploadNextFile(c);
        return;
    }
    const int part = postingPart(c);
    UploadQueue::markUnsure(q.item(c.currentItem), part, false);
    if (event == NntpSession::Event::Present) {
        AddLog(c.number, u"Part %1 of %2 is on the server already"_s.arg(part).arg(q.item(c.currentItem).subject),
               LogColour::Blue);
        c.refusalsInARow = 0;
        c.slot.currentMessageId = id;
        articleAccepted(c, QString(), true);
        return;
    }
    if (event != NntpSession::Event::Missing) {
        AddLog(c.number, u"The server cannot say whether it holds an article (\""_s + text
                             + u"\"): parts are posted again without asking for the rest of this run"_s,
               LogColour::Orange);
        looksOn_ = false;
    }
    // Not there: posted (under a new ID when the old one was refused).
    c.slot.newIdFlag = afterRefusal;
    c.lookedMissing = !afterRefusal && event == NntpSession::Event::Missing;
    sendCommand(c, c.session.post(), u"the reply to POST"_s);
}

void frmPost::postNext(PostConnection &c)
{
    // A part that went out before without an answer may be on the server.
    if (!fillMode_ && uploadQueue().isValidIndex(c.currentItem)) {
        const UploadItem &it = uploadQueue().item(c.currentItem);
        const int part = postingPart(c);
        if (UploadQueue::isUnsure(it, part) && lookFirst(c, it.messageids.value(part - 1), false))
            return;
    }
    // Checks that are due go in the same write as the POST, a few at a
    // time: their answers cost the connection no extra wait and come
    // together. Until a server that wants a group has one, checks go alone.
    if (!c.hasArticle && !(c.wantsGroup && !c.groupChosen) && takeDueChecks(c, kChecksWithAPost))
        return;
    if (!c.hasArticle && c.wantsGroup && !c.groupChosen && sendDueCheck(c))
        return;
    sendCommand(c, c.session.post(), u"the reply to POST"_s);
}

std::optional<PendingCheck> frmPost::takeValidDueCheck()
{
    const UploadQueue &q = uploadQueue();
    while (std::optional<PendingCheck> due = checks_.takeDue(nowMs())) {
        // A check for an item that failed meanwhile, or whose ID changed, is void.
        if (q.isValidIndex(due->item) && q.item(due->item).state != UploadState::FileError
            && q.item(due->item).messageids.value(due->part - 1) == due->id)
            return due;
    }
    return std::nullopt;
}

bool frmPost::takeDueChecksInto(PostConnection &c, int atLeast, QStringList &ids)
{
    if (!checkOn_ || !c.checking.isEmpty() || c.socket->state() != QAbstractSocket::ConnectedState
        || checks_.dueCount(nowMs(), atLeast) < atLeast)
        return false;
    while (ids.size() < kMostChecksAtOnce) {
        const std::optional<PendingCheck> due = takeValidDueCheck();
        if (!due)
            break;
        c.checking.append(*due);
        ids << due->id;
    }
    c.groupAsked = false;
    return !ids.isEmpty();
}

bool frmPost::takeDueChecks(PostConnection &c, int atLeast)
{
    QStringList ids;
    if (!takeDueChecksInto(c, atLeast, ids))
        return false;
    c.checkWithPost = atLeast > 0;
    sendCommand(c, c.session.statsThenPost(ids, c.checkWithPost), u"the reply to STAT"_s);
    return true;
}

bool frmPost::sendDueCheck(PostConnection &c)
{
    // Alone: a 412 is answered with GROUP and the STAT again.
    if (c.wantsGroup && !c.groupChosen) {
        if (!checkOn_ || !c.checking.isEmpty() || c.socket->state() != QAbstractSocket::ConnectedState)
            return false;
        const std::optional<PendingCheck> due = takeValidDueCheck();
        if (!due)
            return false;
        c.checking.append(*due);
        c.checkWithPost = false;
        c.groupAsked = false;
        sendCommand(c, c.session.stat(due->id), u"the reply to STAT"_s);
        return true;
    }
    if (!takeDueChecks(c, 0))
        return false;
    connectionList().setAction(c.number, msg(248));
    return true;
}

void frmPost::checkAnswered(PostConnection &c, NntpSession::Event event, const QString &text)
{
    if (c.checking.isEmpty()) {
        errorPath(c, u"Unexpected reply ("_s + c.waitingFor + u"): "_s + text);
        return;
    }
    const PendingCheck done = c.checking.takeFirst();
    madeProgress();
    UploadQueue &q = uploadQueue();
    bool workBack = false;
    switch (event) {
    case NntpSession::Event::NeedsGroup:
        c.wantsGroup = true;
        if (!c.groupAsked && c.checking.isEmpty() && !c.checkWithPost && q.isValidIndex(done.item)) {
            // The server wants a group selected first: the item's first one.
            c.groupAsked = true;
            c.checking.append(done);
            const QString group = q.item(done.item).newsgroups.section(u',', 0, 0).trimmed();
            sendCommand(c, c.session.group(group), u"the reply to GROUP"_s);
            return;
        }
        if (c.groupAsked) {
            serverCannotCheck(c, text); // a group did not help
        } else if (checkOn_) {
            checks_.putBack(done); // asked again once a group is chosen
        }
        break;
    case NntpSession::Event::CannotCheck:
        serverCannotCheck(c, text);
        workBack = true;
        break;
    case NntpSession::Event::Present:
    case NntpSession::Event::Missing:
    default:
        // (An answer that comes after the check was turned off is let go.)
        if (!checkOn_ || !q.isValidIndex(done.item))
            break;
        if (event == NntpSession::Event::Present) {
            UploadItem &it = q.item(done.item);
            ++checked_;
            if (done.part <= it.unchecked.size())
                it.unchecked.clearBit(done.part - 1);
            if (!UploadQueue::hasUnchecked(it))
                it.unchecked.clear();
            q.itemChanged(done.item);
            finishItemIfDone(done.item);
        } else {
            partMissing(c, done, text);
            workBack = true;
        }
        break;
    }
    wakeWaitingConnections(workBack);
    if (!c.checking.isEmpty())
        return; // more answers to come
    const bool postFollows = c.checkWithPost;
    c.checkWithPost = false;
    c.groupAsked = false;
    if (postFollows) {
        c.waitingFor = u"the reply to POST"_s; // sent with the checks
        return;
    }
    connectionList().setAction(c.number, msg(142));
    // On with what this connection was doing.
    if (q.isValidIndex(c.currentItem) && c.part > 0)
        postNext(c);
    else
        UploadNextFile(c);
}

void frmPost::partMissing(PostConnection &c, const PendingCheck &done, const QString &text)
{
    UploadQueue &q = uploadQueue();
    UploadItem &it = q.item(done.item);
    ++missing_;
    const QString key = it.path + u'|' + QString::number(done.part);
    const int times = ++timesMissing_[key];
    AddLog(c.number, u"Part %1 of %2 is missing on the server (%3)"_s.arg(done.part).arg(it.subject, text),
           LogColour::Red);
    if (times > checkTries_) {
        // Posted again as often as allowed: the item fails, the run goes on.
        QStringList parts = it.note.isEmpty() ? QStringList() : it.note.section(u": "_s, 1).split(u", "_s);
        parts << QString::number(done.part);
        setItemState(done.item, UploadState::FileError);
        q.item(done.item).note = u"Missing on the server: "_s + parts.join(u", "_s);
        q.itemChanged(done.item);
        AddLog(c.number, u"Still missing after %1 posts, given up: "_s.arg(times) + it.subject, LogColour::Red);
        SaveQueue();
        return;
    }
    q.markMissing(done.item, done.part);
    stats_.addToPost(partFileBytes(it, done.part));
    if (it.state == UploadState::Posting && !dispatch::othersOn(claims(), -1, done.item))
        q.setState(done.item, UploadState::Queued);
}

void frmPost::serverCannotCheck(PostConnection &c, const QString &text)
{
    if (!checkOn_)
        return;
    AddLog(c.number, u"The server cannot check articles (\""_s + text
                         + u"\"): the post check is off for the rest of this run"_s,
           LogColour::Orange);
    checkOn_ = false;
    checks_.clear();
    UploadQueue &q = uploadQueue();
    for (int i = q.count(); i >= 1; --i) {
        if (!UploadQueue::hasUnchecked(q.item(i)))
            continue;
        q.item(i).unchecked.clear();
        q.itemChanged(i);
        finishItemIfDone(i);
    }
    publishCheckCounts();
}

void frmPost::wakeWaitingConnections(bool workBack)
{
    // Work came back (a part to post again), or nothing is left to wait for.
    if (!workBack && checksPending())
        return;
    for (auto &other : connections_)
        if (other->checkTimer->isActive())
            other->checkTimer->start(0);
}

bool frmPost::checksPending() const
{
    if (!checkOn_)
        return false;
    if (!checks_.empty())
        return true;
    for (const auto &c : connections_)
        if (!c->checking.isEmpty())
            return true;
    return false;
}

void frmPost::waitForChecks(PostConnection &c)
{
    // Nothing to post, but checks to come: the connection stays and wakes
    // when the next one falls due (another connection may take it first).
    c.watchdog->stop();
    connectionList().setAction(c.number, msg(248));
    connectionList().setDescription(c.number, QString());
    connectionList().setProgress(c.number, 0);
    const double wait = checks_.empty() ? checkDelayMs_ : checks_.nextDueMs() - nowMs();
    c.checkTimer->start(int(std::clamp(wait, 0.0, 3600e3)) + 1);
}

bool frmPost::finishItemIfDone(int index)
{
    UploadQueue &q = uploadQueue();
    if (!q.isValidIndex(index))
        return false;
    const UploadItem &item = q.item(index);
    if (item.state != UploadState::Posting || item.partsLeft > 0 || UploadQueue::hasUnchecked(item)
        || !UploadQueue::isAccepted(item, item.maxparts))
        return false;
    for (const auto &other : connections_)
        if (other->currentItem == index)
            return false;
    AddLog(0, msg(293).arg(item.subject), LogColour::Green);
    setItemState(index, UploadState::PostedOK);
    closePartFiles(item.path);
    if (host_->removeFromDisk() && fileExists(q.item(index).path)) {
        const QString path = q.item(index).path;
        if (removeFile(path)) {
            AddLog(0, u"Removed file: "_s + displayName(path), LogColour::Orange);
            removeFinishedItem(index);
        } else {
            AddLog(0, u"Could not remove file: "_s + displayName(path), LogColour::Red);
        }
    }
    saveQueueSoon();
    return true;
}

void frmPost::publishCheckCounts()
{
    host_->setCheckText(checkOn_ || checked_ + missing_ > 0 ? msg(249).arg(checked_).arg(missing_) : QString());
}

void frmPost::onArticleReady(PostConnection &c)
{
    UploadQueue &q = uploadQueue();
    if (!q.isValidIndex(c.currentItem)) {
        errorPath(c, u"The server asked for an article, but this connection has none to post"_s);
        return;
    }
    const UploadItem &item = q.item(c.currentItem);
    int part = c.part > 0 ? c.part : item.position;
    if (fillMode_) {
        if (fillIndex_ >= fillParts_.size()) {
            errorPath(c, u"The server asked for an article, but every chosen part was posted"_s);
            return;
        }
        part = fillParts_.at(fillIndex_);
    }
    // The article just sent is written over by the next one composed here,
    // or kept for the one composed ahead.
    QByteArray previous = std::move(c.article);
    const bool hadAhead = c.ahead.pending();
    c.freshId = fillMode_ || c.slot.newIdFlag || item.messageids.value(part - 1).isEmpty();
    c.sentBefore = !c.freshId && (c.lookedMissing || UploadQueue::isUnsure(item, part));
    c.lookedMissing = false;
    ChunkResult r = ReadNextChunk(item.path, part, c.currentItem, c.slot, fillMode_,
                                  hadAhead ? QByteArray() : std::move(previous), &c.ahead);
    if (hadAhead && !previous.isEmpty())
        c.spare = std::move(previous);
    if (r.status != ChunkResult::Ok) {
        // Nothing can be posted from this file: mark it and go on with the
        // next item on a fresh connection (the server waits for an article).
        const QString why = r.status == ChunkResult::BeyondEnd
            ? u"part %1 lies beyond the end of the file"_s.arg(part)
            : r.error;
        AddLog(c.number, u"Cannot post "_s + item.path + u": "_s + why, LogColour::Red);
        setItemState(c.currentItem, UploadState::FileError);
        c.currentItem = 0;
        c.part = 0;
        c.hasArticle = false;
        c.article.clear();
        connectionList().setDescription(c.number, QString());
        connectionList().setProgress(c.number, 0);
        if (fillMode_) {
            Form_Unload();
            return;
        }
        closeSocket(c);
        reconnectNow(c);
        return;
    }
    c.article = std::move(r.article);
    if (c.freshId && !fillMode_ && part >= 1 && part <= item.messageids.size()) {
        // Kept at once: should this article reach the server unanswered,
        // the next try asks for it under this ID.
        q.item(c.currentItem).messageids[part - 1] = c.slot.currentMessageId;
        queueChanged_ = true;
    }
    connectionList().setDescription(c.number, item.subject + u" ("_s + QString::number(part) + u'/'
                                                  + QString::number(item.maxparts) + u')');
    connectionList().setProgress(c.number, 0);
    c.hasArticle = true;
    c.session.articleStarted();
    startSendLoop(c);
}

void frmPost::errorPath(PostConnection &c, const QString &text)
{
    lastError_ = text;
    // The same reason from every retry of every connection: once a minute.
    if (sayNow(text)) {
        AddLog(c.number, text, LogColour::Red);
        AddLog(c.number, msg(294), LogColour::Blue);
    }
    c.hasArticle = false;
    closeSocket(c);
    connectionList().setProgress(c.number, 0);
    connectionList().setAction(c.number, msg(143));
    connectionList().setDescription(c.number, text);
    connectionList().setIcon(c.number, StatusIcon::ConnectionError);
    if (!fillMode_ && uploadQueue().isValidIndex(c.currentItem))
        releaseItem(c);
    retryLater(c);
}

void frmPost::retryLater(PostConnection &c)
{
    const PostTimeouts &t = PostTimeouts::current();
    if (c.acceptedSinceConnect)
        c.quickFailures = 0;
    c.acceptedSinceConnect = false;
    const int doublings = std::min(c.quickFailures++, 20);
    c.restartTimer->start(int(std::min<qint64>(qint64(t.restartMs) << doublings, std::max(t.backoffMaxMs, t.restartMs))));
}

void frmPost::reconnectSoon(PostConnection &c)
{
    if (c.acceptedSinceConnect) {
        c.quickFailures = 0;
        reconnectNow(c);
    } else {
        closeSocket(c);
        retryLater(c);
    }
}

bool frmPost::sayNow(const QString &text)
{
    const qint64 now = Clock::instance().msecsSinceStart();
    const auto it = saidAt_.constFind(text);
    if (it != saidAt_.cend() && now - it.value() < kSayAgainAfterMs)
        return false;
    saidAt_.insert(text, now);
    return true;
}

void frmPost::madeProgress()
{
    lastProgressMs_ = Clock::instance().msecsSinceStart();
}

void frmPost::giveUp(int exitStatus, const QString &why)
{
    if (gaveUp_ || unloaded_)
        return;
    gaveUp_ = true;
    AddLog(0, why, LogColour::Red);
    Stop();
    host_->runGaveUp(exitStatus, why);
}

void frmPost::cannotRecord(const QString &why)
{
    const QString text = u"Posting stopped: what is posted cannot be recorded in the program folder (%1). Make room "
                         u"there (or make it writable) and start again; nothing posted so far is posted twice."_s.arg(why);
    if (host_->unattended()) {
        giveUp(2, text);
        return;
    }
    if (gaveUp_ || unloaded_)
        return;
    gaveUp_ = true;
    AddLog(0, text, LogColour::Red);
    Stop();
}

void frmPost::refuseCertificate(const QString &why)
{
    if (gaveUp_ || unloaded_)
        return;
    if (host_->unattended()) {
        giveUp(2, why);
        return;
    }
    gaveUp_ = true;
    AddLog(0, why, LogColour::Red);
    Stop();
    host_->tellUser(why);
}

void frmPost::releaseItem(PostConnection &c)
{
    UploadQueue &q = uploadQueue();
    if (q.isValidIndex(c.currentItem) && q.item(c.currentItem).state == UploadState::Posting
        && !dispatch::othersOn(claims(), indexOf(c), c.currentItem))
        q.setState(c.currentItem, UploadState::Queued);
    c.currentItem = 0;
    c.part = 0;
    c.ahead = PreparedArticle();
}

void frmPost::serverClosed(PostConnection &c)
{
    // Through the tunnel, a connection closed before the greeting may be the
    // tunnel refusing the server: its log says why, and trying again will not help.
    if (sslMode(appSettings()) == SslMode::Tunnel && c.waitingFor == u"the server's greeting"_s) {
        if (const QString why = tunnelDiagnosis(); !why.isEmpty()) {
            certificateRefused_ = true;
            refuseCertificate(u"The SSL tunnel refused the server: "_s + why + u" (from Stunnel/stunnel.log)"_s);
            return;
        }
    }
    ++finished_;
    computePacketSize();
    if (c.hasArticle || (fillMode_ && c.currentItem != 0)) {
        int part = 0;
        if (uploadQueue().isValidIndex(c.currentItem))
            part = postingPart(c);
        AddLog(c.number, u"Disconnected while uploading part: "_s + QString::number(part), LogColour::Red);
        lastError_ = u"The server closed the connection"_s;
        --finished_;
        closeSocket(c);
        reconnectSoon(c);
        return;
    }
    if (uploadQueue().isValidIndex(c.currentItem)) {
        // Closed between articles: the item goes back to the queue and the
        // connection carries on, so nothing is left half posted.
        if (sayNow(msg(294)))
            AddLog(c.number, msg(294), LogColour::Blue);
        lastError_ = u"The server closed the connection"_s;
        releaseItem(c);
        --finished_;
        closeSocket(c);
        reconnectSoon(c);
        return;
    }
    AddLog(c.number, msg(294), LogColour::Blue);
    closeSocket(c);
    if (!fillMode_ && (dispatch::workWaiting(uploadQueue(), claims()) || checksPending())) {
        // Work is waiting: a connection the server dropped tries again later
        // instead of ending the run with items unposted.
        --finished_;
        computePacketSize();
        connectionList().setIcon(c.number, StatusIcon::ConnectionError);
        lastError_ = u"The server closed the connection"_s;
        retryLater(c);
        return;
    }
    connectionList().setAction(c.number, msg(133));
    connectionList().setIcon(c.number, StatusIcon::Offline);
    checkRunEnd();
}

// ---------------------------------------------------------------- dispatcher

void frmPost::UploadNextFile(PostConnection &c)
{
    UploadQueue &q = uploadQueue();
    const auto take = [&](int i, int part) {
        c.currentItem = i;
        c.part = part;
        c.hasArticle = false;
        connectionList().setProgress(c.number, 0);
        connectionList().setDescription(c.number, QString());
        if (c.socket->state() == QAbstractSocket::ConnectedState) {
            postNext(c);
        } else {
            closeSocket(c);
            reconnectNow(c);
        }
    };
    for (;;) {
        const int i = q.firstPostable();
        if (i == 0)
            break;
        if (!fileExists(q.item(i).path)) {
            setItemState(i, UploadState::FileError);
            continue;
        }
        const int part = untakenPart(i, c);
        if (part == 0) {
            // Every part was accepted before the run stopped: done once the
            // checks still to make find them.
            q.setState(i, UploadState::Posting, 0);
            finishItemIfDone(i);
            continue;
        }
        if (q.isCollectionNzb(i))
            rewriteCollectionNzb(i, true); // what the collection's posts are known by now
        q.markTaken(i);
        q.setState(i, UploadState::Posting, c.number);
        host_->showItem(i);
        take(i, part);
        return;
    }
    // Nothing queued: help with a file other connections are posting.
    const std::vector<WorkClaim> held = claims();
    if (const int i = dispatch::itemNeedingHelp(q, held, indexOf(c))) {
        take(i, dispatch::untakenPart(q, held, indexOf(c), i));
        return;
    }

    if (sendDueCheck(c))
        return;
    if (checksPending()) {
        waitForChecks(c);
        return;
    }

    // No work left for this connection: retire it.
    AddLog(c.number, msg(294), LogColour::Blue);
    c.hasArticle = false;
    c.currentItem = 0;
    c.part = 0;
    closeSocket(c);
    c.restartTimer->stop();
    ++finished_;
    connectionList().setAction(c.number, msg(133));
    connectionList().setIcon(c.number, StatusIcon::Offline);
    computePacketSize();
    checkRunEnd();
}

std::vector<WorkClaim> frmPost::claims() const
{
    std::vector<WorkClaim> out;
    out.reserve(connections_.size());
    for (const auto &c : connections_) {
        WorkClaim w;
        w.item = c->currentItem;
        w.part = c->part;
        if (c->ahead.pending()) {
            w.aheadPath = c->ahead.path;
            w.aheadPart = c->ahead.part;
        } else if (c->pipelinedPart > 0 && uploadQueue().isValidIndex(c->currentItem)) {
            w.aheadPath = uploadQueue().item(c->currentItem).path;
            w.aheadPart = c->pipelinedPart;
        }
        out.push_back(w);
    }
    return out;
}

int frmPost::indexOf(const PostConnection &c) const
{
    for (std::size_t k = 0; k < connections_.size(); ++k)
        if (connections_[k].get() == &c)
            return int(k);
    return -1;
}

int frmPost::untakenPart(int item, const PostConnection &asking) const
{
    return dispatch::untakenPart(uploadQueue(), claims(), indexOf(asking), item);
}

void frmPost::prepareNext(PostConnection &c)
{
    if (fillMode_ || c.ahead.pending() || !uploadQueue().isValidIndex(c.currentItem))
        return;
    if (appSettings().PartSize < PostTimeouts::current().composeAheadFromBytes)
        return;
    if (const int part = dispatch::partToPrepare(uploadQueue(), claims(), indexOf(c)))
        c.ahead = prepareArticle(c.currentItem, part, std::move(c.spare));
}

void frmPost::checkRunEnd()
{
    UploadQueue &q = uploadQueue();
    int done = 0;
    for (int i = 1; i <= q.count(); ++i) {
        const UploadState st = q.item(i).state;
        done += st == UploadState::Paused || st == UploadState::PostedOK || st == UploadState::FileError;
    }
    const bool queueDone = done == q.count();
    if (unloaded_ || (finished_ < int(connections_.size()) && !queueDone))
        return;

    publishCheckCounts();
    if (checked_ + missing_ > 0)
        AddLog(0, msg(295).arg(msg(249).arg(checked_).arg(missing_)), LogColour::Blue);
    host_->runEnded();
    if (appSettings().RemoveFiles == 1) {
        for (int i = q.count(); i >= 1; --i)
            if (q.item(i).state == UploadState::PostedOK)
                removeFinishedItem(i);
        SaveQueue();
    }
    const bool jobs = host_->jobsWaiting();
    const bool onComplete = !jobs && host_->onCompleteChecked();
    const int action = host_->onCompleteIndex();
    Form_Unload();
    if (jobs)
        host_->enableStartTimer();
    else if (onComplete)
        host_->runOnComplete(action);
}

void frmPost::removeFinishedItem(int index)
{
    uploadQueue().RemoveArrayItem(index);
    checks_.itemRemoved(index);
    for (auto &other : connections_) {
        for (PendingCheck &ch : other->checking) {
            if (ch.item == index)
                ch.item = 0;
            else if (ch.item > index)
                --ch.item;
        }
    }
    for (auto &other : connections_) {
        if (other->currentItem == index) {
            other->currentItem = 0;
            other->part = 0;
        } else if (other->currentItem > index) {
            --other->currentItem;
        }
    }
    if (fillItem_ > index)
        --fillItem_;
}

void frmPost::articleAccepted(PostConnection &c, const QString &replyText, bool found)
{
    UploadQueue &q = uploadQueue();
    // The POST for this part went behind the article just accepted.
    const int pipelined = std::exchange(c.pipelinedPart, 0);
    // Looking for other work: with a POST on its way, on a fresh connection.
    const auto lookForWork = [&] { pipelined > 0 ? dropPipelinedPost(c) : UploadNextFile(c); };
    {
        const int item = fillMode_ ? fillItem_ : c.currentItem;
        stats_.partAccepted(q.isValidIndex(item) ? partFileBytes(q.item(item), postingPart(c)) : 0);
    }
    madeProgress();
    c.acceptedSinceConnect = true;
    c.quickFailures = 0;
    for (auto &other : connections_)
        other->postRefused = false;
    c.hasArticle = false;
    c.sendTimer->stop();
    if (!q.isValidIndex(c.currentItem)) {
        lookForWork();
        return;
    }
    // The ID that counts is the one accepted: a fresh one after a refusal,
    // or the one the server says it stored the article under.
    {
        const int part = postingPart(c);
        if (!fillMode_)
            UploadQueue::markUnsure(q.item(c.currentItem), part, false);
        QString id = NntpSession::messageIdIn(replyText);
        if (id.isEmpty())
            id = c.slot.currentMessageId;
        QStringList &ids = q.item(c.currentItem).messageids;
        if (part >= 1 && part <= ids.size() && !id.isEmpty() && ids.at(part - 1) != id) {
            ids[part - 1] = id;
            queueChanged_ = true; // a fill run changes nothing else, but this must be kept
        }
        if (checkOn_ && !found && part >= 1 && part <= ids.size()) {
            UploadItem &it = q.item(c.currentItem);
            if (it.unchecked.size() < it.maxparts)
                it.unchecked.resize(it.maxparts);
            it.unchecked.setBit(part - 1);
            checks_.add({c.currentItem, part, ids.at(part - 1), nowMs() + checkDelayMs_});
        }
    }
    if (fillMode_) {
        ++fillIndex_;
        if (fillIndex_ >= fillParts_.size()) {
            closeSocket(c);
            q.setConnection(c.currentItem, 0);
            Form_Unload();
            return;
        }
        connectionList().setProgress(c.number, 0);
        sendCommand(c, c.session.post(), u"the reply to POST"_s);
        return;
    }

    const bool complete = q.markAccepted(c.currentItem, postingPart(c));
    saveQueueSoon(); // progress kept every few seconds, not per file
    UploadItem &item = q.item(c.currentItem);
    if (!complete) {
        int next = 0;
        if (item.state == UploadState::Posting)
            next = pipelined > 0 ? (UploadQueue::isAccepted(item, pipelined) ? 0 : pipelined)
                                 : untakenPart(c.currentItem, c);
        if (next > 0) {
            c.part = next;
            connectionList().setProgress(c.number, 0);
            if (pipelined > 0) // on its way already, behind the checks that went with it
                c.waitingFor = c.checking.isEmpty() ? u"the reply to POST"_s : u"the reply to STAT"_s;
            else
                postNext(c);
            return;
        }
        // The parts left are on other connections (or the file failed):
        // this one looks for other work.
        c.currentItem = 0;
        c.part = 0;
        connectionList().setProgress(c.number, 0);
        connectionList().setDescription(c.number, QString());
        lookForWork();
        return;
    }

    connectionList().setProgress(c.number, 0);
    connectionList().setDescription(c.number, QString());
    const int finishedIndex = c.currentItem;
    c.currentItem = 0;
    c.part = 0;
    if (item.state == UploadState::Posting) {
        // With checks to come the item waits for them, off every connection.
        q.setState(finishedIndex, UploadState::Posting, 0);
        if (!finishItemIfDone(finishedIndex))
            saveQueueSoon();
    }
    lookForWork();
}

// ---------------------------------------------------------------- stop / unload

void frmPost::Stop()
{
    for (auto &c : connections_) {
        if (c->socket->state() == QAbstractSocket::ConnectedState && !c->slot.currentMessageId.isEmpty()) {
            c->socket->write("CANCEL <" + c->slot.currentMessageId.toUtf8() + ">\r\n");
            c->socket->flush();
        }
    }
    if (!fillMode_) {
        for (auto &c : connections_) {
            if (c->socket->state() == QAbstractSocket::ConnectedState)
                AddLog(c->number, msg(294), LogColour::Blue);
            closeSocket(*c);
        }
    } else if (!connections_.empty()) {
        PostConnection &c = *connections_.front();
        closeSocket(c);
        if (uploadQueue().isValidIndex(c.currentItem))
            uploadQueue().setConnection(c.currentItem, 0);
    }
    Form_Unload();
}

void frmPost::Form_Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    tmrSpeed_.stop();
    tmrPacketSize_.stop();
    host_->stopSpeedScheduler();
    host_->setSpeedText(savedSpeedText_);
    for (auto &c : connections_) {
        if (fillMode_ && c->number != 1)
            continue;
        c->sendTimer->stop();
        c->restartTimer->stop();
        closeSocket(*c);
        c->checking.clear();
        c->currentItem = 0;
        c->part = 0;
        c->hasArticle = false;
        c->article.clear();
        c->ahead = PreparedArticle(); // dropped, finished or not
        c->spare.clear();
        connectionList().setAction(c->number, msg(133));
        connectionList().setDescription(c->number, QString());
        connectionList().setSpeed(c->number, kbPerSecond(0));
        connectionList().setIcon(c->number, StatusIcon::Offline);
        connectionList().setProgress(c->number, 0);
    }
    closePartFiles(); // the files posted from are not kept open between runs
    UploadQueue &q = uploadQueue();
    bool unfinished = false; // stopped (or given up) with work left
    for (int i = 1; i <= q.count(); ++i) {
        const UploadState st = q.item(i).state;
        if (st == UploadState::Queued || st == UploadState::Posting) {
            q.setState(i, UploadState::Queued);
            unfinished = true;
        }
    }
    unfinished = unfinished || (fillMode_ && fillIndex_ < fillParts_.size());
    if (queueChanged_) {
        queueChanged_ = false;
        SaveQueue();
    }
    // However the run ended, the collections' NZB files list the IDs known
    // now: those not posted yet, and on disk those posted before a part was
    // posted again (by Fill or after Verify), which is said in the log. Not
    // one that could not be written in the first place.
    for (int i = 1; i <= q.count(); ++i)
        if (q.isCollectionNzb(i) && (q.item(i).state != UploadState::FileError || fileExists(q.item(i).path)))
            rewriteCollectionNzb(i, false);
    setPostingInProgress(false);
    host_->setPostingControls(false);
    fillMode_ = false;
    host_->setStatusTexts(msg(137) + u' ' + kbPerSecond(0), msg(138) + u" 00:00:00"_s);
    host_->setTrayTooltip(standardTrayTooltip());
    host_->setRunProgress(stats_.bytesPosted(), stats_.runTotal());
    const QString summary = stats_.summary(Clock::instance().msecsSinceStart(), unfinished);
    AddLog(0, summary, LogColour::Black);
    host_->setRunSummary(summary);
    emit unloaded();
}

// ---------------------------------------------------------------- send loop

void frmPost::speedLimitChanged()
{
    if (unloaded_)
        return;
    tmrPacketSize_.stop();
    tmrPacketSize_.setInterval(PostTimeouts::current().packetMs);
    tmrPacketSize_.start();
}

void frmPost::computePacketSize()
{
    const int limit = leadingSpeed(host_->speedText());
    packetSize_ = tessaly::packetSize(limit, int(connections_.size()) - finished_, packetSize_);
    pacer_.setRate(limit > 0 ? limit * 1024.0 : 0);
}

void frmPost::startSendLoop(PostConnection &c)
{
    c.sendPos = 0;
    c.articleBytesSent = 0;
    c.waitingFor = u"the article to be sent"_s;
    prepareNext(c);
    if (const int wait = pacer_.waitMs(nowMs()); wait > 0) {
        c.sendTimer->start(wait);
        return;
    }
    sendTick(c);
}

void frmPost::sendTick(PostConnection &c)
{
    c.sendTimer->stop();
    if (!c.hasArticle || c.sendPos >= c.article.size())
        return;
    if (c.socket->state() != QAbstractSocket::ConnectedState)
        return;
    // Another connection may have taken the time this one was woken for.
    if (const int wait = pacer_.waitMs(nowMs()); wait > 0) {
        c.sendTimer->start(wait);
        return;
    }
    qint64 remaining = c.article.size() - c.sendPos;
    const qint64 packet = packetSize_;
    if (packet >= remaining + kPostCommand.size()) {
        // The last piece: the next POST, if it goes now, in the same write,
        // with the checks that are due (when nothing limits the size).
        if (const int next = partToPipeline(c)) {
            QStringList ids;
            if (packet >= kUnlimitedPacket && takeDueChecksInto(c, kChecksWithAPost, ids))
                c.checkWithPost = true;
            const QByteArray behind = c.session.postAfterArticle(ids);
            c.pipelinedPart = next;
            c.behindArticle = behind.size();
            c.article.append(behind); // in the room the article was made with
            remaining = c.article.size() - c.sendPos;
        }
    }
    // Written down before it goes (in the queue too, so that a save while it
    // is on its way keeps it): from its first byte the server may end up
    // holding it. A run that cannot record what it posts posts nothing more.
    if (c.sendPos == 0 && !fillMode_ && uploadQueue().isValidIndex(c.currentItem)) {
        QString why;
        UploadItem &it = uploadQueue().item(c.currentItem);
        if (!noteSentPart(it.path, postingPart(c), &why)) {
            cannotRecord(why);
            return;
        }
        UploadQueue::markUnsure(it, postingPart(c), true);
    }
    // Over TLS too the whole article goes in one write when nothing limits
    // it: pieces of it cost more in turns of the event loop than they save.
    if (packet >= remaining && c.sendPos == 0) {
        c.socket->write(c.article); // shares the article's buffer, no copy
        c.sendPos = c.article.size();
        pacer_.sent(nowMs(), remaining);
    } else {
        const qint64 n = std::min<qint64>(packet, remaining);
        c.socket->write(c.article.constData() + c.sendPos, n);
        c.sendPos += n;
        pacer_.sent(nowMs(), n);
    }
    if (c.sendPos >= c.article.size()) {
        c.session.articleWritten();
    }
    arm(c, PostTimeouts::current().replyMs);
}

qint64 frmPost::articleSize(const PostConnection &c)
{
    return c.article.size() - (c.pipelinedPart > 0 ? c.behindArticle : 0);
}

int frmPost::partToPipeline(PostConnection &c)
{
    // Only where the answer can lead to nothing but that POST: the next part
    // of the same item, no look or check to ask first, no refusal that
    // would look for the part on the server.
    UploadQueue &q = uploadQueue();
    if (!PostTimeouts::current().pipelinePosts || fillMode_ || c.pipelinedPart != 0 || c.sentBefore
        || !c.checking.isEmpty() || !c.looking.isEmpty() || !q.isValidIndex(c.currentItem)
        || q.item(c.currentItem).state != UploadState::Posting)
        return 0;
    if (checkOn_ && c.wantsGroup && !c.groupChosen && checks_.dueCount(nowMs(), 1) >= 1)
        return 0; // they go alone, after the answer
    if (checkOn_ && packetSize_ < kUnlimitedPacket && checks_.dueCount(nowMs(), kChecksWithAPost) >= kChecksWithAPost)
        return 0; // they go with the next POST, after the answer
    const int next = c.ahead.pending() ? c.ahead.part : dispatch::partToPrepare(q, claims(), indexOf(c));
    return next > 0 && !UploadQueue::isUnsure(q.item(c.currentItem), next) ? next : 0;
}

void frmPost::dropPipelinedPost(PostConnection &c)
{
    // The POST behind the article is answered with a go-ahead for an article
    // this connection no longer has: a fresh connection takes up the work.
    closeSocket(c);
    UploadNextFile(c);
}

void frmPost::onBytesWritten(PostConnection &c, qint64 n)
{
    if (unloaded_)
        return;
    arm(c, PostTimeouts::current().replyMs);
    if (!c.hasArticle)
        return;
    // A POST behind the article is not counted as posted.
    const qint64 size = articleSize(c);
    const qint64 counted = std::clamp<qint64>(size - c.articleBytesSent, 0, n);
    c.articleBytesSent += counted;
    stats_.sent(counted);
    c.speedSampleBytes += counted;
    if (size > 0)
        connectionList().setProgress(c.number, int(100 * std::min(c.articleBytesSent, size) / size));
    if (c.socket->bytesToWrite() > 0)
        return;
    if (c.sendPos >= c.article.size()) {
        c.waitingFor = u"the reply to the article"_s;
        waitingForServer(c.socket);
        return;
    }
    // The next packet: at once without a limit, else on the next tick.
    if (packetSize_ >= kUnlimitedPacket) {
        c.sendTimer->start(0);
        return;
    }
    c.sendTimer->start(pacer_.waitMs(nowMs()));
}

// ---------------------------------------------------------------- statistics

void frmPost::setItemState(int index, UploadState state)
{
    UploadQueue &q = uploadQueue();
    if (q.item(index).state != state && (state == UploadState::PostedOK || state == UploadState::FileError))
        stats_.itemEnded(state == UploadState::PostedOK);
    q.markTaken(index);
    q.setState(index, state);
}

void frmPost::saveQueueSoon()
{
    // At most one save a second: each one flushes the file to disk, which
    // costs more than many checks.
    if (lastSave_.isValid() && !lastSave_.hasExpired(kSaveQueueEveryMs)) {
        queueChanged_ = true;
        return;
    }
    queueChanged_ = false;
    lastSave_.start();
    if (QString why; !SaveQueue(&why))
        cannotRecord(why);
}

void frmPost::statisticsTick()
{
    const int minutes = appSettings().RetryMinutes;
    if (host_->unattended() && minutes > 0 && !fillMode_
        && Clock::instance().msecsSinceStart() - lastProgressMs_ >= qint64(minutes) * 60000) {
        giveUp(3, u"No progress for %1 minutes: %2"_s.arg(minutes)
                      .arg(lastError_.isEmpty() ? u"the server did not answer"_s : lastError_));
        return;
    }
    // A save put off (see saveQueueSoon) is made now.
    if (queueChanged_)
        saveQueueSoon();
    if (stats_.connectionSpeedsDue()) {
        for (auto &c : connections_) {
            connectionList().setSpeed(c->number, kbPerSecond(double(c->speedSampleBytes) / 2000.0));
            c->speedSampleBytes = 0;
        }
    }
    if (checkOn_ || checked_ + missing_ > 0)
        publishCheckCounts();
    const PostStatistics::Texts t = stats_.tick();
    host_->setStatusTexts(t.speed, t.remaining);
    host_->setRunProgress(stats_.bytesPosted(), stats_.runTotal());
    host_->addSpeedSample(stats_.lastSecondBytes());
    host_->setTrayTooltip(t.speed + u"\r\n"_s + t.remaining);
}

} // namespace tessaly
