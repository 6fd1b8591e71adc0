#include "engine/Article.h"

#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/Crc32.h"
#include "engine/yEnc.h"
#include "platform/FileNames.h"
#include "platform/PartFiles.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/Newsgroups.h"
#include "storage/UploadQueue.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#ifdef Q_OS_LINUX
#include <pthread.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

// The raw bytes of the part being composed; reused from part to part.
std::vector<std::uint8_t> &partBuffer()
{
    // One per thread: articles are also composed ahead on worker threads.
    thread_local std::vector<std::uint8_t> buffer;
    return buffer;
}

QByteArray headerText(const QString &text)
{
    return withoutLineBreaks(text).toUtf8();
}

// What every part of a file carries the same, made again only when the
// file or its fields change: a part of 128 KB is composed in about as long
// as its headers take to make from scratch.
struct FixedHeaders
{
    ArticleFields from; // its Message-ID is not used
    QString path;
    bool made = false;
    QString problem;       // why the newsgroups are refused, or empty
    QByteArray beforePart; // "From: …" up to the part counter
    QByteArray afterPart;  // after the part counter, up to the Message-ID
    QByteArray name;       // the yEnc name
};

// Every field but the Message-ID, which is the one that differs from part to
// part (and an obfuscated article's subject, made for each article).
bool sameFixedFields(const ArticleFields &a, const ArticleFields &b)
{
    return a.email == b.email && a.nickname == b.nickname && a.newsgroups == b.newsgroups
        && a.obfuscated == b.obfuscated && (a.obfuscated || a.subject == b.subject) && a.version == b.version
        && a.fileName == b.fileName;
}

bool madeFrom(const FixedHeaders &h, const ArticleFields &f, const QString &path)
{
    return h.made && h.path == path && sameFixedFields(h.from, f);
}

const FixedHeaders &fixedHeaders(const ArticleFields &f, const QString &path)
{
    // One set for each of the last files, as connections post several at
    // once; per thread, as articles are composed on several.
    thread_local std::array<FixedHeaders, 8> kept;
    thread_local std::size_t next = 0;
    for (const FixedHeaders &h : kept)
        if (madeFrom(h, f, path))
            return h;
    FixedHeaders &h = kept[next];
    next = (next + 1) % kept.size();
    h.from = f;
    h.path = path;
    h.made = true;
    // Names a server would refuse, or a header line too long, are refused.
    h.problem = newsgroupsProblem(f.newsgroups.split(u','));
    const QByteArray email = headerText(f.email);
    h.beforePart = "From: " + email + " (" + headerText(f.nickname) + ")\r\n"
        + "Sender: " + email + "\r\n"
        + "Newsgroups: " + headerText(f.newsgroups) + "\r\n"
        + "Subject: ";
    if (f.obfuscated) {
        // The subject, made for each article, is all the Subject says.
        h.afterPart = "\r\nMessage-ID: <";
        h.name = headerText(f.fileName);
        return h;
    }
    h.beforePart += headerText(f.subject) + " (";
    h.afterPart = ")\r\nX-Newsposter: " + headerText(f.version) + " ("
        + QString::fromUtf16(kHomePageUrl).toUtf8() + ")\r\n"
        + "Message-ID: <";
    h.name = headerText(displayName(fileNameOf(path)));
    return h;
}

void append(char *&p, const QByteArray &bytes)
{
    std::memcpy(p, bytes.constData(), std::size_t(bytes.size()));
    p += bytes.size();
}

} // namespace

ChunkResult composeArticle(const QString &path, int part, int totalParts, qint64 partSize,
                           const ArticleFields &fields, QByteArray recycled)
{
    ChunkResult r;
    const FixedHeaders &h = fixedHeaders(fields, path);
    if (!h.problem.isEmpty()) {
        r.error = u"cannot post to these newsgroups: "_s + h.problem;
        return r;
    }
    QString openError;
    const PartFile file = PartFile::open(path, &openError);
    if (!file.isValid()) {
        r.error = u"cannot open %1: %2"_s.arg(path, openError);
        return r;
    }
    const qint64 size = file.size();
    const qint64 first = qint64(part - 1) * partSize; // 0-based offset
    if (totalParts > 0 && partSize > 0 && partCount(size, partSize) != totalParts) {
        r.error = u"the size of %1 changed since it was queued (%2 bytes now, which is not %3 parts)"_s.arg(path)
                      .arg(size)
                      .arg(totalParts);
        return r;
    }
    if (part < 1 || partSize <= 0 || first >= size) {
        r.status = ChunkResult::BeyondEnd;
        return r;
    }
    const qint64 n = std::min(partSize, size - first);
    const auto cutShort = [&](qint64 got, const QString &why) {
        r.article.clear();
        r.error = u"cannot read part %1 of %2 (%3 of %4 bytes read): %5"_s.arg(part)
                      .arg(path)
                      .arg(std::clamp<qint64>(got, 0, n))
                      .arg(n)
                      .arg(why);
    };
    r.partBytes = n;
    r.fileSize = size;

    const QByteArray subject = fields.obfuscated
        ? headerText(fields.subject)
        : QByteArray::number(part) + '/' + QByteArray::number(totalParts);
    const QByteArray head = h.beforePart + subject + h.afterPart + headerText(fields.messageId) + ">\r\n"
        + "\r\n"
        + "=ybegin part=" + QByteArray::number(part) + " line=128 size=" + QByteArray::number(size) + " name="
        + h.name + "\r\n"
        + "=ypart begin=" + QByteArray::number(first + 1) + " end=" + QByteArray::number(first + n) + "\r\n";
    const auto tail = [&](std::uint32_t crc) -> QByteArray {
        return "\r\n=yend size=" + QByteArray::number(n) + " part=" + QByteArray::number(part) + " pcrc32="
            + crcHex(crc) + "\r\n.\r\n";
    };

    // One allocation: headers, then the body encoded in place, then the
    // trailer (its CRC is always 8 digits).
    const qsizetype capacity = head.size() + qsizetype(yenc::maxEncodedSize(std::size_t(n))) + tail(0).size();
    if (recycled.isDetached() && recycled.capacity() >= capacity) {
        r.article = std::move(recycled);
        r.article.resize(capacity);
    } else {
        r.article = QByteArray(capacity, Qt::Uninitialized);
    }
    char *p = r.article.data();
    append(p, head);

    // A part's bytes are encoded where they lie in the file's pages (which
    // takes a quarter less time than from a copy); a small file's, or where
    // the file cannot be mapped, from a copy read into a buffer: a mapping
    // for each small file would cost more than the copy it saves.
    constexpr qint64 kMappedFromBytes = 64 * 1024;
    struct Encoding
    {
        std::size_t n;
        std::uint8_t *out;
        std::uint32_t crc = 0;
        std::size_t written = 0;
    } encoding{std::size_t(n), reinterpret_cast<std::uint8_t *>(p)};
    const auto encodePart = [](void *context, const unsigned char *bytes) {
        auto *e = static_cast<Encoding *>(context);
        e->crc = crc::of(bytes, e->n);
        e->written = yenc::encode(bytes, e->n, e->out);
    };
    // Chosen now, not on first use inside the mapped read (which a file cut
    // short would end midway).
    (void)crc::activeKernel();
    (void)yenc::activeKernel();
    switch (n < kMappedFromBytes ? PartFile::Mapped::NotMapped : file.useMapped(first, n, encodePart, &encoding)) {
    case PartFile::Mapped::Used:
        break;
    case PartFile::Mapped::CutShort:
        cutShort(currentFileSize(path) - first, u"the file is shorter than when it was queued"_s);
        return r;
    case PartFile::Mapped::NotMapped: {
        std::vector<std::uint8_t> &buf = partBuffer();
        if (buf.size() < std::size_t(n))
            buf.resize(std::size_t(n));
        QString readError;
        const qint64 got = file.readAt(first, reinterpret_cast<char *>(buf.data()), n, &readError);
        if (got != n) {
            cutShort(got, got < 0 ? readError : u"the file is shorter than when it was queued"_s);
            return r;
        }
        encodePart(&encoding, buf.data());
        break;
    }
    }
    r.crc = encoding.crc;
    p += encoding.written;
    append(p, tail(r.crc));
    r.article.resize(p - r.article.constData());
    r.status = ChunkResult::Ok;
    return r;
}

bool PreparedArticle::fits(const QString &p, int k, int total, qint64 size, const ArticleFields &f) const
{
    return pending() && path == p && part == k && totalParts == total && partSize == size && sameFixedFields(fields, f)
        && fields.messageId == f.messageId;
}

namespace {

// One core is the event loop's, which writes what the others compose: more
// threads than the other cores only take turns on them, each turn a
// context switch (on two cores one composer posts faster, at less CPU per
// byte, than two). A queue of its own, not a QThreadPool: a job handed to a
// thread that is busy costs no system call. Jobs handed out by an event
// loop wake an idle thread when the loop is about to wait, or when a few
// are waiting: the articles asked for by the replies of one round of the
// loop cost one wake-up, not one each.
class Composers
{
public:
    explicit Composers(int threads)
    {
        for (int k = 0; k < threads; ++k)
            std::thread([this] { run(); }).detach(); // they live as long as the program
    }

    void start(std::function<void()> job)
    {
        const bool later = wakesBeforeWaiting();
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
            wake = idle_ > 0 && (!later || jobs_.size() >= kWakeAt);
        }
        // A busy thread takes the job when it is done: no wake-up for it.
        if (wake)
            ready_.notify_one();
    }

    // Before anybody waits, for events or for an article not yet composed.
    void wake()
    {
        std::size_t jobs = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (idle_ > 0)
                jobs = jobs_.size();
        }
        if (jobs > 1)
            ready_.notify_all();
        else if (jobs == 1)
            ready_.notify_one();
    }

private:
    static constexpr std::size_t kWakeAt = 4;

    // True when this thread runs an event loop that wakes the composers
    // before it waits for events.
    bool wakesBeforeWaiting()
    {
        thread_local QPointer<QAbstractEventDispatcher> watched;
        QAbstractEventDispatcher *loop = QAbstractEventDispatcher::instance();
        if (!loop)
            return false;
        if (watched != loop) {
            QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, loop, [this] { wake(); });
            watched = loop;
        }
        return true;
    }

    void run()
    {
#ifdef Q_OS_LINUX
        pthread_setname_np(pthread_self(), "composer");
#endif
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            while (jobs_.empty()) {
                ++idle_;
                ready_.wait(lock);
                --idle_;
            }
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            job = nullptr; // what it held goes before the lock is taken again
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    int idle_ = 0;
};

Composers &composers()
{
    static Composers *pool = new Composers(std::max(1, QThread::idealThreadCount() - 1));
    return *pool;
}

} // namespace

ComposedArticle::ComposedArticle(std::function<ChunkResult()> work)
    : work_(std::move(work))
{
}

void ComposedArticle::run()
{
    std::function<ChunkResult()> work;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_)
            return;
        started_ = true;
        work = std::move(work_);
    }
    set(work());
}

void ComposedArticle::set(ChunkResult result)
{
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        result_ = std::move(result);
        ready_ = true;
        wake = waiting_ > 0;
    }
    if (wake)
        done_.notify_all();
}

void ComposedArticle::wait()
{
    std::function<ChunkResult()> work;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ready_)
            return;
        if (!started_) { // still in the queue: made here, now
            started_ = true;
            work = std::move(work_);
        }
    }
    if (work) {
        set(work());
        return;
    }
    composers().wake(); // a worker has it; the others may have work waiting
    std::unique_lock<std::mutex> lock(mutex_);
    ++waiting_;
    done_.wait(lock, [this] { return ready_; });
    --waiting_;
}

ChunkResult ComposedArticle::take()
{
    wait();
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(result_); // taken once: a second take gets an empty result
}

PreparedArticle prepareArticle(const QString &path, int part, int totalParts, qint64 partSize,
                               const ArticleFields &fields, QByteArray recycled)
{
    PreparedArticle p;
    p.path = path;
    p.part = part;
    p.totalParts = totalParts;
    p.partSize = partSize;
    p.fields = fields;
    // On threads of their own, which stay: a thread per article would
    // cost more than small articles take to compose. The task holds copies
    // of everything it uses, so an article dropped unfinished harms nothing.
    p.result = std::make_shared<ComposedArticle>([path, part, totalParts, partSize, fields,
                                                   buffer = std::move(recycled)]() mutable {
        return composeArticle(path, part, totalParts, partSize, fields, std::move(buffer));
    });
    composers().start([result = p.result] {
        // Dropped before its turn came (a stopped run, another part asked
        // for): nobody reads it, so the file is not read nor kept open.
        if (result.use_count() > 1)
            result->run();
    });
    return p;
}

ChunkResult takeArticle(PreparedArticle &prepared, const QString &path, int part, int totalParts, qint64 partSize,
                        const ArticleFields &fields, QByteArray recycled)
{
    if (prepared.pending()) {
        const bool fits = prepared.fits(path, part, totalParts, partSize, fields);
        ChunkResult ahead = prepared.result->take();
        prepared = PreparedArticle();
        if (fits && ahead.status == ChunkResult::Ok && ahead.fileSize >= 0 && currentFileSize(path) == ahead.fileSize)
            return ahead;
        if (recycled.isEmpty())
            recycled = std::move(ahead.article);
    }
    return composeArticle(path, part, totalParts, partSize, fields, std::move(recycled));
}

} // namespace tessaly
