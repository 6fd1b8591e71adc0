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
    // Obfuscated: the subject is the whole Subject header (no part counter),
    // the yEnc name is `fileName` instead of the file's own, and no header
    // names the program.
    bool obfuscated = false;
    QString fileName;
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
    // Whether it is the article of this part, with these fields.
    bool fits(const QString &path, int part, int totalParts, qint64 partSize, const ArticleFields &fields) const;
};

// Starts composing the article of part `part` on the composing threads.
PreparedArticle prepareArticle(const QString &path, int part, int totalParts, qint64 partSize,
                               const ArticleFields &fields, QByteArray recycled = {});

// The article of part `part`: the prepared one when it fits and the file
// kept its size (waited for, when not done yet), else composed now. A
// prepared one that does not fit is dropped; its buffer is reused.
ChunkResult takeArticle(PreparedArticle &prepared, const QString &path, int part, int totalParts, qint64 partSize,
                        const ArticleFields &fields, QByteArray recycled = {});

} // namespace tessaly
