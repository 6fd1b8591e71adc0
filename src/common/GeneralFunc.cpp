#include "common/GeneralFunc.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <QLocale>

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTimer>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>

#include <cmath>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace tessaly {

bool fileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (hasRawBytes(path))
        return regularFileSize(path) >= 0;
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

static qsizetype lastSeparator(const QString &path)
{
    return std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
}

QString fileNameOf(const QString &path)
{
    return path.mid(lastSeparator(path) + 1);
}

QString folderOf(const QString &path)
{
    const qsizetype sep = lastSeparator(path);
    return sep < 0 ? QString() : path.left(sep + 1);
}

bool isWholeNumber(const QString &text)
{
    const QString t = text.trimmed();
    qsizetype i = 0;
    if (t.startsWith(u'+'))
        ++i;
    if (i >= t.size())
        return false;
    for (; i < t.size(); ++i)
        if (t[i] < u'0' || t[i] > u'9')
            return false;
    return true;
}

bool isAllDigits(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

qint64 roundUp(double value)
{
    return static_cast<qint64>(std::ceil(value));
}

QString secondsToHms(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds / 60) % 60;
    const qint64 s = seconds % 60;
    return u"%1:%2:%3"_s.arg(h, 2, 10, QChar(u'0')).arg(m, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
}

void WaitWithEvents(int milliseconds)
{
    // Sleeps in the event loop: a timer wakes it at the deadline, events
    // that come meanwhile are handled. (processEvents with a maximum time
    // never sleeps: it would spin on a core for the whole wait.)
    QDeadlineTimer deadline(milliseconds);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        wake.start(int(std::max<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

QString oldestFileIn(const QString &folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System,
                                                           QDir::Name);
    QString oldest;
    QDateTime oldestTime;
    for (const QFileInfo &f : files) {
        const QDateTime t = f.lastModified();
        if (oldest.isEmpty() || t < oldestTime) {
            oldest = f.absoluteFilePath();
            oldestTime = t;
        }
    }
    return oldest;
}

QString withoutLineBreaks(const QString &text)
{
    QString out = text;
    for (QChar &c : out)
        if (c == u'\r' || c == u'\n' || c == QChar(0))
            c = u' ';
    return out;
}

namespace {
bool g_syncWrites = true;

#ifdef Q_OS_UNIX
// Read once, before other threads make files: umask() can only be read by
// setting it.
mode_t processUmask()
{
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}
#endif
} // namespace

void setSyncWrites(bool sync)
{
    g_syncWrites = sync;
}

QString writeFileAtomically(const QString &path, const QByteArray &data, bool privateFile)
{
    const QFileInfo target(path);
    QTemporaryFile tmp(target.absolutePath() + u'/' + target.fileName() + u".XXXXXX.tmp"_s);
    tmp.setAutoRemove(true);
    if (!tmp.open())
        return u"cannot create a temporary file beside %1: %2"_s.arg(path, tmp.errorString());
#ifdef Q_OS_UNIX
    // As any new file would be: what the user's umask leaves of rw-rw-rw-
    // (the temporary file starts as rw-------, which private files keep).
    if (!privateFile)
        ::fchmod(tmp.handle(), 0666 & ~processUmask());
#else
    if (!privateFile)
        tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                           | QFileDevice::ReadOther);
#endif
    if (tmp.write(data) != data.size() || !tmp.flush())
        return u"cannot write %1: %2"_s.arg(path, tmp.errorString());
#ifdef Q_OS_UNIX
    if (g_syncWrites)
        ::fsync(tmp.handle());
#endif
    const QString tmpName = tmp.fileName();
    tmp.close();
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(tmpName.toStdU16String()),
                            std::filesystem::path(path.toStdU16String()), ec);
    if (ec)
        return u"cannot replace %1: %2"_s.arg(path, QString::fromStdString(ec.message()));
    tmp.setAutoRemove(false);
    return {};
}

void removeStaleTemporaries(const QString &path)
{
    const QFileInfo target(path);
    QDir dir = target.absoluteDir();
    const QStringList stale = dir.entryList({target.fileName() + u".??????.tmp"_s}, QDir::Files | QDir::Hidden);
    for (const QString &name : stale)
        dir.remove(name);
}

QString oneDecimal(double value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 1);
}

QString kbPerSecond(double kilobytes)
{
    return oneDecimal(kilobytes) + u" kB/s"_s;
}

QString bytesText(qint64 bytes)
{
    if (bytes < 1000)
        return QString::number(std::max<qint64>(bytes, 0)) + u" B"_s;
    if (bytes < 1000000)
        return oneDecimal(double(bytes) / 1e3) + u" kB"_s;
    if (bytes < 1000000000)
        return oneDecimal(double(bytes) / 1e6) + u" MB"_s;
    return oneDecimal(double(bytes) / 1e9) + u" GB"_s;
}

} // namespace tessaly
