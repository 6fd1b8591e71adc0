// The posting run: one NNTP session per connection, the dispatcher that
// hands queued items to connections and moves them through their states, the
// paced send loop and the statistics. It hosts sockets and timers only; all
// that the user sees goes through the queue model, the connection list and
// the PostHost interface.
#pragma once

#include "engine/Article.h"
#include "engine/Dispatcher.h"
#include "engine/NntpSession.h"
#include "engine/PostCheck.h"
#include "engine/PostStats.h"
#include "storage/StatusIcon.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;

namespace tessaly {

class PostHost;
struct UploadItem;

// Timing of the sessions, in one place. Tests shorten them.
struct PostTimeouts
{
    int connectMs = 30000;  // connecting to the server
    int replyMs = 120000;   // waiting for a greeting, a reply, or for sent data to drain
    int restartMs = 10000;  // reconnecting after an error; doubled for each quick failure in a row
    int backoffMaxMs = 300000; // the longest wait between such failures
    int packetMs = 1000;    // a changed speed limit takes effect after this
    int statisticsMs = 1000;
    // Parts of at least this many bytes are composed ahead on the composing
    // threads, smaller ones on the event loop when they are wanted. Every
    // size goes ahead: the event loop is what limits a run.
    qint64 composeAheadFromBytes = 0;
    // The wait before an accepted article is checked; -1 takes the
    // PostCheckDelay setting (seconds).
    int checkDelayMs = -1;
    // The POST for a connection's next part goes right behind the article
    // before it, not after its answer: a round trip less per article.
    bool pipelinePosts = true;
    // Acknowledgements go at once while a connection waits for a reply (a
    // switch for measuring what the delayed ones cost).
    bool acknowledgeAtOnce = true;

    static PostTimeouts &current();
};

struct PostConnection
{
    int number = 0;
    QTcpSocket *socket = nullptr;
    QTimer *sendTimer = nullptr;
    QTimer *restartTimer = nullptr;
    QTimer *watchdog = nullptr;
    QTimer *checkTimer = nullptr; // wakes an idle connection when a check falls due
    int currentItem = 0;
    int part = 0; // the part of currentItem this connection posts
    bool hasArticle = false;
    ArticleSlot slot; // new-ID flag and current Message-ID
    QByteArray article;
    // The next article of this connection, composed on a worker thread while
    // this one is sent, and a buffer for it to be written into: at most two
    // articles per connection.
    PreparedArticle ahead;
    QByteArray spare;
    qint64 sendPos = 0;
    qint64 articleBytesSent = 0;
    qint64 speedSampleBytes = 0;
    QString waitingFor;
    bool closingByUs = false;
    int refusalsInARow = 0;
    bool connecting = false;
    NntpSession session; // the replies, judged by what this connection waits for
    QList<PendingCheck> checking; // the checks whose answers are awaited, in order
    bool groupAsked = false;              // GROUP was sent for that check
    bool checkWithPost = false;           // those STATs went with a POST, answered after them
    bool wantsGroup = false;              // the server said 412: checks here select a group first
    bool groupChosen = false;
    // A look: whether the server holds the part this connection is about to
    // post (or just posted and was refused) under this ID.
    QString looking;
    bool lookAfterRefusal = false;
    bool lookGroupAsked = false;
    bool freshId = false;      // the article on its way has an ID made just for it
    bool sentBefore = false;   // and it may have reached the server before under its ID
    bool lookedMissing = false;
    bool postRefused = false;  // the server answered 5xx/440 to POST here
    // The part whose POST went behind the article on its way (kept from other
    // connections), 0 for none.
    int pipelinedPart = 0;
    qsizetype behindArticle = 0; // the bytes of the commands sent behind it
    // Failures before an article was accepted since the connection was made;
    // each one doubles the wait before the next try.
    int quickFailures = 0;
    bool acceptedSinceConnect = false;
};

class frmPost : public QObject
{
    Q_OBJECT
public:
    explicit frmPost(PostHost *host, QObject *parent = nullptr);
    ~frmPost() override;

    // Fill mode: posts the chosen parts (1-based) of one item over connection 1.
    void setFillMode(int itemIndex, const QList<int> &parts);
    bool fillMode() const { return fillMode_; }

    // Prepares the run and starts it.
    void Form_Load();
    // The user's Stop: CANCEL on busy connections, close them, unload.
    void Stop();
    // Stops everything, puts unfinished items back to Queued.
    void Form_Unload();
    bool isUnloaded() const { return unloaded_; }

    // Items of the given part count joined the queue while the run goes on.
    void addQueuedParts(int parts) { stats_.addToPost(encodedPartSize_ * parts); }

    // The speed box changed: the new limit applies a moment later.
    void speedLimitChanged();

    int connectionCount() const { return int(connections_.size()); }
    const PostConnection &connection(int number) const { return *connections_.at(std::size_t(number - 1)); }
    int packetSize() const { return packetSize_; }
    qint64 byteTotal() const { return stats_.byteTotal(); }
    qint64 encodedPart() const { return encodedPartSize_; }
    int finishedConnections() const { return finished_; }
    // Article bytes handed to the network since the run started.
    qint64 totalBytesSent() const { return stats_.totalBytesSent(); }
    // The post check: articles found on the server, articles found missing.
    int checkedCount() const { return checked_; }
    int missingCount() const { return missing_; }
    bool checkOn() const { return checkOn_; }

    // Handles data as if connection `number` had just received it.
    void receive(int number, const QByteArray &data);

    // Makes the sockets of the sessions (empty: plain QTcpSocket). Lets a
    // harness drive the sessions without a network.
    using SocketFactory = std::function<QTcpSocket *(QObject *parent)>;
    static void setSocketFactory(SocketFactory factory);

signals:
    // The run is over (ended, stopped, or a fill run finished).
    void unloaded();

private:
    void StartUpload();
    void Connect();
    void connectStep(PostConnection &c, bool rewriteAction, bool clearDescription);
    void reconnectNow(PostConnection &c);
    void UploadNextFile(PostConnection &c);
    // What every connection holds, for the dispatcher's decisions, and
    // which of them is c.
    std::vector<WorkClaim> claims() const;
    int indexOf(const PostConnection &c) const;
    int untakenPart(int item, const PostConnection &asking) const;
    // While an article is sent, the connection's next one is composed ahead.
    void prepareNext(PostConnection &c);
    // The connection lets go of its item; the item goes back to the queue
    // when no other connection works on it.
    void releaseItem(PostConnection &c);
    // found: the part was found on the server by a look, not posted now.
    void articleAccepted(PostConnection &c, const QString &replyText, bool found = false);
    // The part the connection posts.
    int postingPart(const PostConnection &c) const;
    // The bytes of the file a part holds.
    static qint64 partFileBytes(const UploadItem &item, int part);
    // Asks the server for the part before posting it; false when it cannot.
    bool lookFirst(PostConnection &c, const QString &id, bool afterRefusal);
    void lookAnswered(PostConnection &c, NntpSession::Event event, const QString &text);
    void onRefused(PostConnection &c, const NntpSession::Reply &reply);
    void onFailed(PostConnection &c, const NntpSession::Reply &reply);
    // Tries the connection again after a wait that grows with quick failures.
    void retryLater(PostConnection &c);
    // At once after a connection that got articles through, else later.
    void reconnectSoon(PostConnection &c);
    // Whether a reason was not shown within the last minute (and now is).
    bool sayNow(const QString &text);
    void madeProgress();
    // The run ends without posting everything (status for the host).
    void giveUp(int exitStatus, const QString &why);
    // The server's certificate was refused: the run stops with the reason.
    void refuseCertificate(const QString &why);
    // Queue.dat or the list of sent parts cannot be written: the run stops.
    void cannotRecord(const QString &why);
    void startArticle(PostConnection &c);
    void errorPath(PostConnection &c, const QString &text);
    void serverClosed(PostConnection &c);
    void receive(PostConnection &c, const QByteArray &data);
    void onReply(PostConnection &c, const NntpSession::Reply &reply);
    void onArticleReady(PostConnection &c);
    // Writes a command the session made and notes what is awaited (for the log).
    void sendCommand(PostConnection &c, const QByteArray &command, const QString &waitingFor);
    void closeSocket(PostConnection &c);
    // The POST for the connection's next article, after any check that is due.
    void postNext(PostConnection &c);
    int partToPipeline(PostConnection &c);
    // The article's own bytes, without a POST sent behind it.
    static qint64 articleSize(const PostConnection &c);
    void dropPipelinedPost(PostConnection &c);
    // Sends STAT for the checks due; false when none is due.
    bool sendDueCheck(PostConnection &c);
    // Sends the due checks when at least `atLeast` are due (with a POST
    // after them when atLeast > 0).
    bool takeDueChecks(PostConnection &c, int atLeast);
    bool takeDueChecksInto(PostConnection &c, int atLeast, QStringList &ids);
    // The first due check that still applies; void ones are dropped.
    std::optional<PendingCheck> takeValidDueCheck();
    void checkAnswered(PostConnection &c, NntpSession::Event event, const QString &text);
    void partMissing(PostConnection &c, const PendingCheck &done, const QString &text);
    void serverCannotCheck(PostConnection &c, const QString &text);
    // Whether checks are still to be made (listed or awaiting an answer).
    bool checksPending() const;
    // An item whose parts are all accepted and found: PostedOK, and the
    // file removed when asked. Returns false when the item is not there yet.
    bool finishItemIfDone(int index);
    void waitForChecks(PostConnection &c);
    void wakeWaitingConnections(bool workBack);
    double nowMs() const { return double(clock_.nsecsElapsed()) / 1e6; }
    void publishCheckCounts();
    // Saves Queue.dat now, or within a second when it was saved just now.
    void saveQueueSoon();
    // Sets an item's state; a posted or failed item counts in the summary.
    void setItemState(int index, UploadState state);
    void arm(PostConnection &c, int ms);

    void computePacketSize();
    void startSendLoop(PostConnection &c);
    void sendTick(PostConnection &c);
    void onBytesWritten(PostConnection &c, qint64 n);
    void statisticsTick();
    void removeFinishedItem(int index);
    void checkRunEnd();
    static SocketFactory &socketFactory();

    PostHost *host_;
    std::vector<std::unique_ptr<PostConnection>> connections_;
    QTimer tmrSpeed_;
    QTimer tmrPacketSize_;
    QElapsedTimer clock_;
    bool unloaded_ = false;
    bool loaded_ = false;

    bool fillMode_ = false;
    int fillItem_ = 0;
    QList<int> fillParts_;
    int fillIndex_ = 0; // chosen parts accepted so far

    int finished_ = 0;
    int packetSize_ = kUnlimitedPacket;
    SendPacer pacer_; // the speed limit, for all connections together
    QString savedSpeedText_;

    qint64 encodedPartSize_ = 0;
    bool certificateRefused_ = false;
    PostStatistics stats_;

    bool checkOn_ = false;
    double checkDelayMs_ = 0;
    int checkTries_ = 0;
    CheckList checks_;
    QHash<QString, int> timesMissing_; // path + '|' + part -> times found missing
    int checked_ = 0;
    int missing_ = 0;
    bool queueChanged_ = false; // not saved yet
    QElapsedTimer lastSave_;
    bool looksOn_ = true;           // the server answers STAT
    qint64 lastProgressMs_ = 0;     // on the program clock
    QString lastError_;
    QHash<QString, qint64> saidAt_; // reason -> when it was last logged
    bool gaveUp_ = false;
};

} // namespace tessaly
