#include "engine/ArticleSource.h"

#include "common/Clock.h"
#include "platform/ThreadTime.h"
#include "storage/MessageIds.h"

namespace tessaly {

PostingLoad::PostingLoad(std::function<double()> wallSeconds, std::function<double()> cpuSeconds)
    : wall_(std::move(wallSeconds))
    , cpu_(std::move(cpuSeconds))
{
}

PostingLoad::PostingLoad()
    : PostingLoad([] { return double(Clock::instance().msecsSinceStart()) / 1000.0; }, threadCpuSeconds)
{
}

bool PostingLoad::busy()
{
    const double now = wall_();
    if (wallFrom_ < 0) {
        wallFrom_ = now;
        cpuFrom_ = cpu_();
        return busy_;
    }
    if (now - wallFrom_ < kWindowSeconds)
        return busy_;
    const double cpu = cpu_();
    const double share = (cpu - cpuFrom_) / (now - wallFrom_);
    if (share >= kBusyFrom)
        busy_ = true;
    else if (share < kIdleBelow)
        busy_ = false;
    wallFrom_ = now;
    cpuFrom_ = cpu;
    return busy_;
}

ArticleSource::ArticleSource(const ArticleIdentity &identity, qint64 partSize, qint64 aheadFromBytes, int links,
                             ComposeAhead when, PostingLoad load)
    : identity_(identity)
    , partSize_(partSize)
    , aheadFrom_(aheadFromBytes)
    , when_(when)
    , load_(std::move(load))
    , slots_(std::size_t(std::max(links, 1)))
{
}

ArticleFields ArticleSource::fieldsFor(const UploadItem &item, const QString &messageId) const
{
    ArticleFields f;
    f.newsgroups = item.newsgroups;
    f.messageId = messageId;
    if (item.disguise.on()) {
        // Nothing of the file, the collection or the poster: a subject of
        // its own for each article, the item's random name and poster.
        f.obfuscated = true;
        f.email = item.disguise.from;
        f.nickname = item.disguise.nick;
        f.subject = randomText(24);
        f.fileName = item.disguise.name;
        return f;
    }
    f.email = identity_.email;
    f.nickname = identity_.nickname;
    f.subject = item.subject;
    f.version = identity_.version;
    return f;
}

ChunkResult ArticleSource::take(int link, const UploadItem &item, int part, const QString &messageId,
                                QByteArray recycled)
{
    Slot &s = slot(link);
    // The buffer of the article just sent goes to the one composed ahead next.
    if (s.ahead.pending() && s.spare.isEmpty()) {
        s.spare = std::move(recycled);
        recycled = QByteArray();
    }
    ChunkResult r = takeArticle(s.ahead, item.path, part, item.maxparts, partSize_, fieldsFor(item, messageId),
                                std::move(recycled));
    s.item = 0;
    return r;
}

void ArticleSource::prepare(int link, const UploadItem &item, int part)
{
    Slot &s = slot(link);
    if (s.ahead.pending() || part < 1 || part > item.maxparts || part > item.messageids.size()
        || partSize_ < aheadFrom_ || (when_ == ComposeAhead::WhenBusy && !load_.busy()))
        return;
    s.item = item.id;
    s.ahead = prepareArticle(item.path, part, item.maxparts, partSize_, fieldsFor(item, item.messageids.at(part - 1)),
                             std::move(s.spare));
    s.spare = QByteArray();
}

void ArticleSource::drop(int link)
{
    Slot &s = slot(link);
    s.ahead = PreparedArticle(); // dropped, finished or not
    s.item = 0;
}

void ArticleSource::dropAll()
{
    for (Slot &s : slots_) {
        s.ahead = PreparedArticle();
        s.item = 0;
        s.spare.clear();
    }
}

} // namespace tessaly
