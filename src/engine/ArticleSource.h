// Where a run's articles come from: each connection's next article is
// composed ahead on the composing threads while the one before it is sent,
// into the buffer of an article sent before (at most two articles per
// connection), and taken when the connection gets its go-ahead.
#pragma once

#include "engine/Article.h"
#include "storage/UploadQueue.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace tessaly {

// What every article of a run carries the same.
struct ArticleIdentity
{
    QString email;
    QString nickname;
    QString version;
};

class ArticleSource
{
public:
    // Parts of fewer than aheadFromBytes bytes are composed when wanted.
    ArticleSource(const ArticleIdentity &identity, qint64 partSize, qint64 aheadFromBytes, int links);

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
    std::vector<Slot> slots_;
};

} // namespace tessaly
