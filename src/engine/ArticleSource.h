// Where a run's articles come from: each connection's next article is
// composed ahead on the composing threads while the one before it is sent,
// into the buffer of an article sent before (at most two articles per
// connection), and taken when the connection gets its go-ahead.
#pragma once

#include "engine/Article.h"
#include "storage/UploadQueue.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace tessaly {

// What every article of a run carries the same.
struct ArticleIdentity
{
    QString email;
    QString nickname;
    QString version;
};

enum class ComposeAhead
{
    Always,
    WhenBusy, // while the thread that posts is busy (see PostingLoad)
};

// Whether the thread that posts is busy enough for composing ahead to pay:
// its processor time over the time that passed, in windows of a twentieth of
// a second. Ahead, another core encodes the next article while this thread
// sends and reads. When the thread mostly waits (for a server slower than
// this machine, or under a speed limit), composing on it costs no speed, and
// saves the hand-over between threads and cores (about a sixth more
// processor time per byte).
class PostingLoad
{
public:
    static constexpr double kWindowSeconds = 0.05;
    static constexpr double kBusyFrom = 0.5; // ahead from here ...
    static constexpr double kIdleBelow = 0.3; // ... until it falls below this

    // Wall-clock and processor seconds (the calling thread's), as they go on.
    PostingLoad(std::function<double()> wallSeconds, std::function<double()> cpuSeconds);
    PostingLoad(); // the program's clock and this thread's processor time
    bool busy();

private:
    std::function<double()> wall_, cpu_;
    double wallFrom_ = -1, cpuFrom_ = 0;
    bool busy_ = false;
};

class ArticleSource
{
public:
    // Parts of fewer than aheadFromBytes bytes are composed when wanted.
    ArticleSource(const ArticleIdentity &identity, qint64 partSize, qint64 aheadFromBytes, int links,
                  ComposeAhead when = ComposeAhead::WhenBusy, PostingLoad load = {});

    ArticleFields fieldsFor(const UploadItem &item, const QString &messageId) const;
    // The article of the part under messageId for connection `link`.
    ChunkResult take(int link, const UploadItem &item, int part, const QString &messageId, QByteArray recycled);
    // Composes the part ahead for the connection, under its stored ID.
    void prepare(int link, const UploadItem &item, int part);
    void drop(int link);
    void dropAll();
    // What the connection has composed ahead (0 for nothing).
    ItemId aheadItem(int link) const { return slot(link).item; }
    int aheadPart(int link) const { return slot(link).ahead.pending() ? slot(link).ahead.part : 0; }

private:
    struct Slot
    {
        PreparedArticle ahead;
        ItemId item = 0;
        QByteArray spare;
    };
    Slot &slot(int link) { return slots_.at(std::size_t(link - 1)); }
    const Slot &slot(int link) const { return slots_.at(std::size_t(link - 1)); }

    ArticleIdentity identity_;
    qint64 partSize_;
    qint64 aheadFrom_;
    ComposeAhead when_;
    PostingLoad load_;
    std::vector<Slot> slots_;
};

} // namespace tessaly
