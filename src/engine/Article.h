// Composition of one news article: the headers, the yEnc part header, the
// encoded part of the file and the trailer, as the bytes sent to the server.
#pragma once

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace tessaly {

struct ArticleFields
{
    QString email;
    QString nickname;
    QString newsgroups;
    QString subject;   // without the part counter
    QString messageId; // without angle brackets
    QString version;   // "Tessaly Poster v…"
};

struct ChunkResult
{
    enum Status { Ok, BeyondEnd, FileError };
    Status status = FileError;
    QByteArray article;
    QString error;      // for FileError
    qint64 partBytes = 0;
    std::uint32_t crc = 0;
    qint64 fileSize = -1; // the size of the file when the part was read
};

// The article of part k (1-based) of a file cut into parts of partSize bytes.
// A part beyond the end of the file gives BeyondEnd; a file that cannot be
// opened or read in full, or whose size no longer gives totalParts parts,
// gives FileError and no article. A recycled buffer (a previous article
// nobody else holds any more) is written over instead of allocating anew.
ChunkResult composeArticle(const QString &path, int part, int totalParts, qint64 partSize,
                           const ArticleFields &fields, QByteArray recycled = {});

// What a connection keeps for the article it sends.
struct ArticleSlot
{
    QString currentMessageId;
    bool newIdFlag = false; // set after a refusal: the next article gets a fresh ID
};

// The article a worker thread composes, handed over to the thread that
// sends it. Handing it over costs no system call unless somebody already
// waits for it (a std::promise wakes waiters that are not there). An
// article asked for before any worker started on it is composed by the
// thread that asks: it would otherwise wait for a worker to wake up and
// then for the whole article, with its own core idle.
class ComposedArticle
{
public:
    explicit ComposedArticle(std::function<ChunkResult()> work);
    void run(); // by a worker; nothing when it was taken or done already
    void wait();
    ChunkResult take(); // waits for it, if it is not done yet

private:
    void set(ChunkResult result);

    std::mutex mutex_;
    std::condition_variable done_;
    std::function<ChunkResult()> work_;
    ChunkResult result_;
    bool started_ = false;
    bool ready_ = false;
    int waiting_ = 0;
};

// An article being composed ahead on a worker thread, and what it is made
// from: it is used only when the article asked for is the same one and the
// file kept its size; otherwise it is dropped.
struct PreparedArticle
{
    QString path;
    int part = 0;
    int totalParts = 0;
    qint64 partSize = 0;
    ArticleFields fields;
    std::shared_ptr<ComposedArticle> result;

    bool pending() const { return result != nullptr; }
};

// The article a connection will ask for next, for part k of queue item
// itemIndex with the item's stored Message-ID, started on a worker thread.
// Returns an empty one when there is nothing to prepare (no stored ID).
PreparedArticle prepareArticle(int itemIndex, int part, QByteArray recycled = {});

// The article of part k of queue item itemIndex for one connection: picks the
// Message-ID (the stored one, or a fresh one after a refusal and in fill
// mode) and takes the headers from the item and the settings; a prepared
// article that fits is used (and waited for), any other is dropped. Failures
// are logged in red.
ChunkResult ReadNextChunk(const QString &path, int part, int itemIndex, ArticleSlot &slot, bool fillMode,
                          QByteArray recycled = {}, PreparedArticle *prepared = nullptr);

} // namespace tessaly
