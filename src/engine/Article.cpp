#include "engine/Article.h"

#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "engine/Crc32.h"
#include "engine/yEnc.h"
#include "platform/FileNames.h"
#include "platform/PartFiles.h"
#include "storage/AppSettings.h"
#include "storage/MessageIds.h"
#include "storage/Newsgroups.h"
#include "storage/UploadQueue.h"

#include <QThread>

#include <algorithm>
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
    // Names a server would refuse, or a header line too long, are refused here.
    if (const QString problem = newsgroupsProblem(fields.newsgroups.split(u',')); !problem.isEmpty()) {
        r.error = u"cannot post to these newsgroups: "_s + problem;
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

    std::vector<std::uint8_t> &buf = partBuffer();
    if (buf.size() < std::size_t(n))
        buf.resize(std::size_t(n));
    QString readError;
    const qint64 got = file.readAt(first, reinterpret_cast<char *>(buf.data()), n, &readError);
    if (got != n) {
        r.error = u"cannot read part %1 of %2 (%3 of %4 bytes read): %5"_s.arg(part)
                      .arg(path)
                      .arg(std::max<qint64>(got, 0))
                      .arg(n)
                      .arg(got < 0 ? readError : u"the file is shorter than when it was queued"_s);
        return r;
    }
    r.crc = crc::of(buf.data(), std::size_t(n));
    r.partBytes = n;
    r.fileSize = size;

    const QByteArray email = headerText(fields.email);
    const QByteArray head = "From: " + email + " (" + headerText(fields.nickname) + ")\r\n"
        + "Sender: " + email + "\r\n"
        + "Newsgroups: " + headerText(fields.newsgroups) + "\r\n"
        + "Subject: " + headerText(fields.subject) + " (" + QByteArray::number(part) + '/'
        + QByteArray::number(totalParts) + ")\r\n"
        + "X-Newsposter: " + headerText(fields.version) + " (" + QString::fromUtf16(kHomePageUrl).toUtf8() + ")\r\n"
        + "Message-ID: <" + headerText(fields.messageId) + ">\r\n"
        + "\r\n"
        + "=ybegin part=" + QByteArray::number(part) + " line=128 size=" + QByteArray::number(size)
        + " name=" + headerText(displayName(fileNameOf(path))) + "\r\n"
        + "=ypart begin=" + QByteArray::number(first + 1) + " end=" + QByteArray::number(first + n) + "\r\n";
    const QByteArray tail = "\r\n=yend size=" + QByteArray::number(n) + " part=" + QByteArray::number(part)
        + " pcrc32=" + crcHex(r.crc) + "\r\n.\r\n";

    // One allocation: headers, then the body encoded in place, then the trailer.
    const qsizetype capacity = head.size() + qsizetype(yenc::maxEncodedSize(std::size_t(n))) + tail.size();
    if (recycled.isDetached() && recycled.capacity() >= capacity) {
        r.article = std::move(recycled);
        r.article.resize(capacity);
    } else {
        r.article = QByteArray(capacity, Qt::Uninitialized);
    }
    char *p = r.article.data();
    append(p, head);
    p += yenc::encode(buf.data(), std::size_t(n), reinterpret_cast<std::uint8_t *>(p));
    append(p, tail);
    r.article.resize(p - r.article.constData());
    r.status = ChunkResult::Ok;
    return r;
}

namespace {

ArticleFields fieldsFor(const UploadItem &item, const QString &messageId)
{
    const AppSettings &s = appSettings();
    ArticleFields f;
    f.email = s.Email;
    f.nickname = s.Nickname;
    f.newsgroups = item.newsgroups;
    f.subject = item.subject;
    f.messageId = messageId;
    f.version = versionString();
    return f;
}

bool sameFields(const ArticleFields &a, const ArticleFields &b)
{
    return a.email == b.email && a.nickname == b.nickname && a.newsgroups == b.newsgroups && a.subject == b.subject
        && a.messageId == b.messageId && a.version == b.version;
}

} // namespace

namespace {

// One core is the event loop's, which writes what the others compose: more
// threads than the other cores only take turns on them, each turn a
// context switch (on two cores one composer posts faster, at less CPU per
// byte, than two). A queue of its own, not a QThreadPool: a job handed to a
// thread that is busy costs no system call.
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
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
            wake = idle_ > 0;
        }
        // A busy thread takes the job when it is done: no wake-up for it.
        if (wake)
            ready_.notify_one();
    }

private:
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

PreparedArticle prepareArticle(int itemIndex, int part, QByteArray recycled)
{
    PreparedArticle p;
    const UploadQueue &queue = uploadQueue();
    if (!queue.isValidIndex(itemIndex))
        return p;
    const UploadItem &item = queue.item(itemIndex);
    if (part < 1 || part > item.maxparts || part > item.messageids.size())
        return p;
    p.path = item.path;
    p.part = part;
    p.totalParts = item.maxparts;
    p.partSize = appSettings().PartSize;
    p.fields = fieldsFor(item, item.messageids.at(part - 1));
    // On threads of their own, which stay: a thread per article would
    // cost more than small articles take to compose. The task holds copies
    // of everything it uses, so an article dropped unfinished harms nothing.
    auto promise = std::make_shared<std::promise<ChunkResult>>();
    p.result = promise->get_future();
    composers().start([promise, path = p.path, part, total = p.totalParts, size = p.partSize,
                                          fields = p.fields, buffer = std::move(recycled)]() mutable {
        promise->set_value(composeArticle(path, part, total, size, fields, std::move(buffer)));
    });
    return p;
}

ChunkResult ReadNextChunk(const QString &path, int part, int itemIndex, ArticleSlot &slot, bool fillMode,
                          QByteArray recycled, PreparedArticle *prepared)
{
    const UploadQueue &queue = uploadQueue();
    if (!queue.isValidIndex(itemIndex)) {
        ChunkResult r;
        r.error = u"no queue item %1"_s.arg(itemIndex);
        LogError(ErrorCode::BadData, r.error);
        return r;
    }
    const UploadItem &item = queue.item(itemIndex);
    const AppSettings &s = appSettings();

    QString id;
    if (!slot.newIdFlag && !fillMode && part >= 1 && part <= item.messageids.size()) {
        id = item.messageids.at(part - 1);
    } else {
        id = makeMessageId(part, item.maxparts);
        slot.newIdFlag = false;
    }
    slot.currentMessageId = id;

    const ArticleFields f = fieldsFor(item, id);
    ChunkResult r;
    bool made = false;
    if (prepared && prepared->pending()) {
        ChunkResult ahead = prepared->result.get(); // waits for it, if it is not done yet
        if (prepared->path == path && prepared->part == part && prepared->totalParts == item.maxparts
            && prepared->partSize == s.PartSize && sameFields(prepared->fields, f)
            && ahead.fileSize >= 0 && regularFileSize(path) == ahead.fileSize) {
            r = std::move(ahead);
            made = true;
        } else if (recycled.isEmpty()) {
            recycled = std::move(ahead.article);
        }
        *prepared = PreparedArticle();
    }
    if (!made)
        r = composeArticle(path, part, item.maxparts, s.PartSize, f, std::move(recycled));
    if (r.status == ChunkResult::FileError)
        LogError(ErrorCode::FileIo, r.error);
    return r;
}

} // namespace tessaly
