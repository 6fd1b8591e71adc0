// One posting run: its connections (PostLink each, on a socket transport and
// Qt timers), and the pieces that decide what they do and keep what they did
// (the scheduler, the check schedule, the ledger, the article source, the
// speed pacer and the reporter). The links ask and report; the run decides,
// tells the ledger and the reporter, and ends itself when no work is left.
#pragma once

#include "engine/ArticleSource.h"
#include "engine/CheckSchedule.h"
#include "engine/PostLink.h"
#include "engine/PostScheduler.h"
#include "engine/PostStats.h"
#include "engine/PostingLedger.h"
#include "engine/RunPlan.h"
#include "engine/RunReporter.h"
#include "engine/SendPacer.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace tessaly {

class RunView;

class PostingRun : public QObject, private LinkOwner
{
    Q_OBJECT
public:
    explicit PostingRun(RunView &view, QObject *parent = nullptr);
    ~PostingRun() override;

    void start(const RunPlan &plan);
    // The user's Stop: an article on its way is cancelled, the connections
    // closed, unfinished items queued again.
    void stop();
    // The new limit (kB/s, 0 none) applies a moment later.
    void setSpeedLimit(int kBps);
    void setRemoveFromDisk(bool remove) { plan_.removeFromDisk = remove; }
    // Items of this many file bytes joined the queue while the run goes on.
    void addToPost(qint64 bytes) { stats_.addToPost(bytes); }

    bool isRunning() const { return started_ && !ended_; }
    bool fillMode() const { return scheduler_.fill(); }
    int linkCount() const { return int(links_.size()); }
    const PostLink &link(int number) const { return *links_.at(std::size_t(number - 1)).link; }
    int packetSize() const { return pacer_.packetBytes(); }
    qint64 byteTotal() const { return stats_.byteTotal(); }
    qint64 encodedPart() const { return encodedPartSize_; }
    int retiredLinks() const;
    qint64 totalBytesSent() const { return stats_.totalBytesSent(); }
    int checkedCount() const { return checks_.checked; }
    int missingCount() const { return checks_.missing; }
    bool checkOn() const { return checks_.on(); }

    // Makes the transports (empty, or none made: sockets). Lets a harness
    // drive the links without a network.
    using TransportFactory = std::function<std::unique_ptr<LinkTransport>(const ServerEndpoint &)>;
    static void setTransportFactory(TransportFactory factory);

signals:
    void finished(const tessaly::RunOutcome &outcome);

private:
    struct Link
    {
        std::unique_ptr<LinkTransport> transport;
        std::unique_ptr<QtLinkTimers> timers;
        std::unique_ptr<PostLink> link;
    };

    // LinkOwner
    LinkWork nextWork(int link, ItemId lastItem) override;
    std::optional<Attempt> partBehind(int link, const Attempt &current, bool checksAlone) override;
    QList<CheckTicket> dueChecks(int link, int atLeast) override;
    bool stillWanted(const Attempt &attempt) override;
    QString groupFor(ItemId item) override;
    bool mayLook() override;
    bool workLeft(int link) override;
    QByteArray article(int link, Attempt &attempt, QByteArray recycled) override;
    bool goingOut(int link, const Attempt &attempt) override;
    void sent(int link, qint64 bytes) override;
    void accepted(int link, const Attempt &attempt, const QString &serverId) override;
    void found(int link, const Attempt &attempt) override;
    void refused(int link, const Attempt &attempt, bool articleRefused, const QString &reply) override;
    bool refusedTooOften(int link, const Attempt &attempt, const QString &why) override;
    void looksUnavailable(int link, const QString &reply) override;
    void checked(int link, const CheckTicket &check, NntpPipeline::Event event, const QString &reply) override;
    void released(int link, const Attempt *attempt, const Attempt *behind, const QList<CheckTicket> &checks) override;
    void failed(int link, const LinkFailure &failure) override;
    bool closedEarly(int link) override;
    void changed(int link) override;
    void retired(int link) override;

    void makeLinks(int posting, int checking);
    bool isCheckLink(int link) const { return link > postingLinks_; }
    int postingLinksAtWork() const;
    LinkWork checkWork(int link);
    bool checkWorkLeft() const;
    void checkLinkFailed(int link, const LinkFailure &failure);
    void giveUpChecks(const QString &why);
    void wakeCheckLinks();
    qint64 bytesToPost() const;
    qint64 partFileBytes(ItemId item, int part) const;
    std::vector<WorkClaim> claims() const;
    bool heldByALink(ItemId item) const;
    double nowMs() const { return double(clock_.nsecsElapsed()) / 1e6; }
    void partAccepted(int link, const Attempt &attempt, const QString &id, bool found);
    void partMissing(int link, const CheckTicket &check, const QString &reply);
    void serverCannotCheck(int link, const QString &reply);
    void finishIfDone(ItemId item);
    void finishItemsAwaitingChecks(); // once no check will come
    void wakeWaitingLinks(bool workBack);
    void save();
    bool sayNow(const QString &text);
    void statisticsTick();
    void applyLimit();
    void checkRunEnd();
    void giveUp(int exitStatus, const QString &why);
    void refuse(const QString &why);
    void cannotRecord(const QString &why);
    void finish(RunOutcome outcome);

    RunView &view_;
    RunPlan plan_;
    PostStatistics stats_;
    CheckSchedule checks_;
    PostingLedger ledger_;
    PostScheduler scheduler_;
    RunReporter reporter_;
    SendPacer pacer_;
    std::unique_ptr<ArticleSource> source_;
    std::vector<Link> links_;
    QElapsedTimer clock_;
    QTimer statisticsTimer_;
    QTimer limitTimer_;
    int pendingLimit_ = 0;
    qint64 encodedPartSize_ = 0;
    std::vector<bool> postRefused_; // per link: the server said 440/5xx to POST
    int postingLinks_ = 0;          // links 1..postingLinks_ post; the rest check
    std::vector<int> checkFailures_; // per link: failures since a check was answered
    std::vector<bool> lostChecks_;   // per link: checks were in flight when it dropped
    QString checksGivenUp_;          // why the check server could not check
    qint64 lastProgressMs_ = 0;
    QString lastError_;
    QHash<QString, qint64> saidAt_; // reason -> when it was last logged
    bool started_ = false;
    bool ended_ = false;
};

} // namespace tessaly
