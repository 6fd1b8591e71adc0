#include "platform/PartFiles.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <algorithm>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

struct PartFile::Handle
{
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
#else
    QString path;
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
    lock.unlock();
#else
    Q_UNUSED(path);
#endif
}

} // namespace tessaly
