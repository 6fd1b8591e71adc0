// A posting run's plan: everything it needs from the settings, taken once as
// it starts (a run never reads the settings while it goes), and how it ended.
#pragma once

#include "engine/ArticleSource.h"
#include "engine/PostLink.h"
#include "engine/PostScheduler.h"
#include "engine/SocketTransport.h"

#include <QString>

#include <optional>

namespace tessaly {

struct AppSettings;

// Timing and switches of the engine, in one place. Tests and benchmarks
// change them through current(); a plan copies them as it is made.
struct PostTimeouts
{
    int connectMs = 30000;     // connecting to the server
    int replyMs = 120000;      // waiting for a greeting, a reply, or for sent data to drain
    int restartMs = 10000;     // reconnecting after an error; doubled for each quick failure in a row
    int backoffMaxMs = 300000; // the longest wait between such failures
    int packetMs = 1000;       // a changed speed limit takes effect after this
    int statisticsMs = 1000;
    // Parts of at least this many bytes are composed ahead on the composing
    // threads (while the event loop is busy, or always), smaller ones on the
    // event loop when they are wanted.
    qint64 composeAheadFromBytes = 0;
    ComposeAhead composeAhead = ComposeAhead::WhenBusy;
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

struct CheckPlan
{
    bool on = false;
    double delayMs = 5000;
    int tries = 2;
    // A second server that makes the checks (none: the posting connections
    // ask the posting server), over connections of its own.
    std::optional<ServerEndpoint> server;
    LinkSettings link;
    int connections = 1;
    // Failures in a row, before any check was answered, that make it
    // unreachable: the checks are given up, not the posts.
    int failuresToGiveUp = 3;
};

struct RunTuning
{
    int packetMs = 1000;
    int statisticsMs = 1000;
    qint64 composeAheadFromBytes = 0;
    ComposeAhead composeAhead = ComposeAhead::WhenBusy;
};

struct RunPlan
{
    ServerEndpoint server;
    LinkSettings link;
    int connections = 1;
    qint64 partSize = 384000;
    int limitKBps = 0;
    CheckPlan check;
    int retryMinutes = 10;    // an unattended run without progress gives up after this (0 never)
    bool unattended = false;  // nobody can answer: give up instead of retrying for ever
    bool removeFromDisk = false;
    ArticleIdentity identity;
    std::optional<FillPlan> fill;
    RunTuning tuning;

    // The settings as they are now, with the timing of PostTimeouts::current().
    static RunPlan fromSettings(const AppSettings &settings);
};

struct RunOutcome
{
    enum class End : quint8 {
        Finished, // it ran out of work (or posted every chosen part)
        Stopped,  // stopped: by the user, or by a fault it reported
        GaveUp,   // unattended, it gave up: exitStatus and why
        Refused,  // a reason the user must read (a refused certificate)
    };
    End end = End::Finished;
    int exitStatus = 0;
    QString why;
    bool unfinished = false; // work was left

    static RunOutcome of(End end, int exitStatus = 0, const QString &why = {})
    {
        RunOutcome o;
        o.end = end;
        o.exitStatus = exitStatus;
        o.why = why;
        return o;
    }
};

} // namespace tessaly
