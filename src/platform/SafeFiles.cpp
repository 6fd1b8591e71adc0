#include "platform/SafeFiles.h"
#include "platform/FileNames.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

bool openRegularFile(QFile &file, const QString &path, QString *error)
{
#ifdef Q_OS_UNIX
    // O_NONBLOCK: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(encodeFileName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = u"not a regular file"_s;
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.setFileName(path);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file.errorString();
        return false;
    }
    return true;
#else
    if (!QFileInfo(path).isFile()) {
        *error = u"not a regular file"_s;
        return false;
    }
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    return true;
#endif
}

SmallFile readSmallFile(const QString &path, qint64 limit)
{
    SmallFile result;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return result;
    QFile file;
    QString error;
    result.outcome = SmallFile::Damaged;
    if (!openRegularFile(file, path, &error)) {
        result.problem = error;
        return result;
    }
    // Read as large as the file says it is (a buffer of the limit itself
    // would cost 256 MiB for a small queue), one byte more to see it grow;
    // a file that grows while it is read stops at the limit all the same.
    if (const qint64 want = std::min(file.size(), limit) + 1; file.size() <= limit) {
        result.data = file.read(want);
        if (result.data.size() == want) // it grew since it was opened
            result.data += file.read(limit + 1 - want);
    }
    if (file.size() > limit || result.data.size() > limit) {
        result.data.clear();
        result.problem = u"larger than %1 bytes"_s.arg(limit);
        return result;
    }
    if (file.error() != QFileDevice::NoError) {
        result.data.clear();
        result.problem = file.errorString();
        return result;
    }
    result.outcome = SmallFile::Ok;
    return result;
}

} // namespace tessaly
