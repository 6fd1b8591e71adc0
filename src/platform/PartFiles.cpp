#include "platform/PartFiles.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#if Q_PROCESSOR_WORDSIZE == 8
// Parts are read from mappings of the files, without the copy a read
// makes. Where address space is short they are read.
#define TESSALY_MAPPED_PARTS 1
#endif
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

struct PartFile::Handle
{
    QString path;
#ifdef Q_OS_UNIX
    int fd = -1;
    dev_t device = 0;
    ino_t inode = 0;
    // Changed by chmod, chown, a new ACL or a write: the file is then opened
    // anew, so that taking the permission to read it away is seen at once.
    struct timespec changed {};
    bool same(const struct stat &st) const
    {
        return device == st.st_dev && inode == st.st_ino && changed.tv_sec == st.st_ctim.tv_sec
            && changed.tv_nsec == st.st_ctim.tv_nsec;
    }
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
#endif
};

namespace {

#ifdef Q_OS_UNIX
struct Kept
{
    QString path;
    std::shared_ptr<PartFile::Handle> handle;
};

// Enough for every connection to post a file of its own.
constexpr std::size_t kMostKept = 32;

QMutex &keptLock()
{
    static QMutex m;
    return m;
}

// Least recently used first.
std::vector<Kept> &kept()
{
    static std::vector<Kept> k;
    return k;
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}
#endif

#ifdef TESSALY_MAPPED_PARTS
// A stretch of a file mapped into memory, shared by the threads composing
// its parts. Windows start every kWindowBytes into the file and reach
// kWindowOverlap past the next start, so that every part of up to that
// size lies whole in the window its first byte is in.
struct Window
{
    std::shared_ptr<PartFile::Handle> of; // the file stays open while mapped
    qint64 index = 0;
    qint64 start = 0; // where in the file map[0] is
    unsigned char *map = nullptr;
    std::size_t length = 0;
    ~Window()
    {
        if (map)
            ::munmap(map, length);
    }
};

constexpr qint64 kWindowBytes = qint64(4) << 20;
constexpr qint64 kWindowOverlap = qint64(1280) << 10; // the longest part: 10,000 lines of 128
// The pages read stay in the program's memory while their window is
// mapped: a few windows at most, 63 MB.
constexpr std::size_t kMostWindows = 12;

// Least recently used first; under keptLock().
std::vector<std::shared_ptr<Window>> &windows()
{
    static std::vector<std::shared_ptr<Window>> w;
    return w;
}

// Reading a mapped page that the file no longer has (it was cut short
// after it was mapped) raises SIGBUS. Inside useMapped() that ends the use
// at once; anywhere else the signal is handled as if this were not here.
struct BusGuard
{
    sigjmp_buf jump;
    const unsigned char *from = nullptr;
    const unsigned char *to = nullptr;
};

thread_local BusGuard *activeGuard = nullptr;
struct sigaction previousBusAction;

void onBusError(int signal, siginfo_t *info, void *)
{
    BusGuard *guard = activeGuard;
    const auto *at = static_cast<const unsigned char *>(info->si_addr);
    if (guard && info->si_code > 0 && at >= guard->from && at < guard->to)
        siglongjmp(guard->jump, 1);
    // Not ours: the faulting access runs again, handled as before.
    ::sigaction(SIGBUS, &previousBusAction, nullptr);
    if (info->si_code <= 0)
        ::raise(signal); // sent, not raised by an access
}

void guardAgainstBusErrors()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        // Not blocked while handled: the jump out of the handler then leaves
        // the signal mask as it was, with no system call to restore it.
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previousBusAction);
    });
}

// Runs use() over [from, from + n) with a SIGBUS there ending it; false
// when one did.
bool runGuarded(const unsigned char *from, qint64 n, void (*use)(void *, const unsigned char *), void *context)
{
    BusGuard guard;
    guard.from = from;
    guard.to = from + n;
    activeGuard = &guard;
    if (sigsetjmp(guard.jump, 0) != 0) {
        activeGuard = nullptr;
        return false;
    }
    use(context, from);
    activeGuard = nullptr;
    return true;
}
#endif

} // namespace

PartFile PartFile::open(const QString &path, QString *error)
{
    PartFile f;
#ifdef Q_OS_UNIX
    const QByteArray name = encodeFileName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        *error = lastError();
        return f;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = u"not a regular file"_s;
        return f;
    }
    {
        QMutexLocker lock(&keptLock());
        std::vector<Kept> &k = kept();
        for (auto it = k.begin(); it != k.end(); ++it) {
            if (it->path != path)
                continue;
            if (it->handle->same(st)) {
                f.handle_ = it->handle;
                f.size_ = st.st_size;
                std::rotate(it, it + 1, k.end()); // now the most recently used
                return f;
            }
            k.erase(it); // another file now, or one changed
            break;
        }
    }
    // O_NONBLOCK: opening a FIFO put there meanwhile would wait for a writer.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = lastError();
        return f;
    }
    auto handle = std::make_shared<Handle>();
    handle->fd = fd;
    handle->path = path;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = u"not a regular file"_s;
        return f;
    }
    handle->device = st.st_dev;
    handle->inode = st.st_ino;
    handle->changed = st.st_ctim;
    {
        QMutexLocker lock(&keptLock());
        std::vector<Kept> &k = kept();
        k.push_back({path, handle});
        if (k.size() > kMostKept)
            k.erase(k.begin());
    }
    f.handle_ = std::move(handle);
    f.size_ = st.st_size;
#else
    const QFileInfo info(path);
    if (!info.isFile()) {
        *error = info.exists() ? u"not a regular file"_s : u"No such file or directory"_s;
        return f;
    }
    f.handle_ = std::make_shared<Handle>();
    f.handle_->path = path;
    f.size_ = info.size();
#endif
    return f;
}

qint64 PartFile::readAt(qint64 offset, char *to, qint64 n, QString *error) const
{
    if (!handle_) {
        *error = u"the file is not open"_s;
        return -1;
    }
    qint64 got = 0;
#ifdef Q_OS_UNIX
    while (got < n) {
        const ssize_t step = ::pread(handle_->fd, to + got, std::size_t(n - got), off_t(offset + got));
        if (step < 0 && errno == EINTR)
            continue;
        if (step < 0) {
            *error = lastError();
            return -1;
        }
        if (step == 0)
            break;
        got += step;
    }
#else
    QFile file(handle_->path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
        *error = file.errorString();
        return -1;
    }
    while (got < n) {
        const qint64 step = file.read(to + got, n - got);
        if (step < 0) {
            *error = file.errorString();
            return -1;
        }
        if (step == 0)
            break;
        got += step;
    }
#endif
    return got;
}

PartFile::Mapped PartFile::useMapped(qint64 offset, qint64 n, void (*use)(void *, const unsigned char *),
                                     void *context) const
{
#ifdef TESSALY_MAPPED_PARTS
    if (!handle_ || offset < 0 || n <= 0 || offset + n > size_)
        return Mapped::NotMapped;
    const qint64 index = offset / kWindowBytes;
    std::shared_ptr<Window> window;
    {
        QMutexLocker lock(&keptLock());
        std::vector<std::shared_ptr<Window>> &w = windows();
        for (auto it = w.begin(); it != w.end(); ++it)
            if ((*it)->of == handle_ && (*it)->index == index) {
                window = *it;
                std::rotate(it, it + 1, w.end());
                break;
            }
    }
    if (!window) {
        guardAgainstBusErrors();
        window = std::make_shared<Window>();
        window->of = handle_;
        window->index = index;
        window->start = index * kWindowBytes;
        window->length = std::size_t(std::min(size_, window->start + kWindowBytes + kWindowOverlap) - window->start);
        void *map = ::mmap(nullptr, window->length, PROT_READ, MAP_SHARED, handle_->fd, off_t(window->start));
        if (map == MAP_FAILED)
            return Mapped::NotMapped;
        window->map = static_cast<unsigned char *>(map);
        std::shared_ptr<Window> dropped; // unmapped outside the lock
        QMutexLocker lock(&keptLock());
        std::vector<std::shared_ptr<Window>> &w = windows();
        w.push_back(window);
        if (w.size() > kMostWindows) {
            dropped = std::move(w.front());
            w.erase(w.begin());
        }
        lock.unlock();
    }
    if (offset + n > window->start + qint64(window->length))
        return Mapped::NotMapped; // a part longer than the overlap, near a window's end
    if (!runGuarded(window->map + (offset - window->start), n, use, context))
        return Mapped::CutShort;
    // Bytes of the last page that the file no longer has read as zeros,
    // with no signal: cut short before they were read is seen here.
    struct stat st {};
    if (::fstat(handle_->fd, &st) != 0 || st.st_size < offset + n)
        return Mapped::CutShort;
    return Mapped::Used;
#else
    Q_UNUSED(offset);
    Q_UNUSED(n);
    Q_UNUSED(use);
    Q_UNUSED(context);
    return Mapped::NotMapped;
#endif
}

qint64 currentFileSize(const QString &path)
{
#ifdef Q_OS_UNIX
    std::shared_ptr<PartFile::Handle> handle;
    {
        QMutexLocker lock(&keptLock());
        for (const Kept &k : kept())
            if (k.path == path) {
                handle = k.handle;
                break;
            }
    }
    struct stat st {};
    if (handle)
        return ::fstat(handle->fd, &st) == 0 && S_ISREG(st.st_mode) ? qint64(st.st_size) : -1;
#endif
    return regularFileSize(path);
}

void closePartFiles(const QString &path)
{
#ifdef Q_OS_UNIX
    std::vector<Kept> dropped; // closed outside the lock
    QMutexLocker lock(&keptLock());
    std::vector<Kept> &k = kept();
    for (auto it = k.begin(); it != k.end();) {
        if (path.isEmpty() || it->path == path) {
            dropped.push_back(std::move(*it));
            it = k.erase(it);
        } else {
            ++it;
        }
    }
#ifdef TESSALY_MAPPED_PARTS
    std::vector<std::shared_ptr<Window>> unmapped;
    std::vector<std::shared_ptr<Window>> &w = windows();
    for (auto it = w.begin(); it != w.end();) {
        if (path.isEmpty() || (*it)->of->path == path) {
            unmapped.push_back(std::move(*it));
            it = w.erase(it);
        } else {
            ++it;
        }
    }
#endif
    lock.unlock();
#else
    Q_UNUSED(path);
#endif
}

} // namespace tessaly
