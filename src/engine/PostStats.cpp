#include "engine/PostStats.h"

#include "common/GeneralFunc.h"
#include "common/MessageTable.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace tessaly {

qint64 roundHalfEven(double value)
{
    return qint64(std::nearbyint(value)); // the default rounding mode rounds ties to even
}

int leadingSpeed(const QString &text)
{
    static const QRegularExpression number(u"^\\s*([+-]?\\d+(?:\\.\\d+)?)"_s);
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return 0;
    const double v = m.captured(1).toDouble();
    if (!(v > -2e9 && v < 2e9))
        return 0;
    return int(roundHalfEven(v));
}

int packetSize(int limitKBps, int activeConnections, int previous)
{
    if (limitKBps <= 0)
        return kUnlimitedPacket;
    if (activeConnections <= 0)
        return previous;
    return int(std::max<qint64>(1, roundHalfEven(double(limitKBps) * 16.0 / activeConnections)));
}

qint64 encodedPartSize(qint64 partSize)
{
    return roundHalfEven(double(partSize) / 100.0 * 3.0 + double(partSize));
}

qint64 SpeedRing::push(qint64 bytes)
{
    index_ = index_ % 10 + 1;
    entries_[std::size_t(index_ - 1)] = bytes;
    stored_ = std::min(stored_ + 1, 10);
    qint64 sum = 0;
    for (qint64 e : entries_)
        sum += e;
    // Over the seconds there are: in a run's first seconds the status bar
    // shows what the graph and the connections show, not a tenth of it.
    return roundHalfEven(double(sum) / stored_);
}

void SpeedRing::clear()
{
    entries_.fill(0);
    index_ = 0;
    stored_ = 0;
}

void PostStatistics::start(qint64 bytesToPost, qint64 nowMs)
{
    byteTotal_ = runTotal_ = bytesToPost;
    ring_.clear();
    sinceAccepted_ = 0;
    secondBytes_ = 0;
    lastSecond_ = 0;
    startMs_ = nowMs;
    parts_ = itemsPosted_ = itemsFailed_ = 0;
    acceptedBytes_ = 0;
}

void PostStatistics::sent(qint64 bytes)
{
    totalBytesSent_ += bytes;
    secondBytes_ += bytes;
    sinceAccepted_ += bytes;
}

void PostStatistics::partAccepted(qint64 bytes)
{
    byteTotal_ -= bytes;
    acceptedBytes_ += bytes;
    sinceAccepted_ = 0;
    ++parts_;
}

PostStatistics::Texts PostStatistics::tick()
{
    const qint64 speed = ring_.push(secondBytes_);
    lastSecond_ = secondBytes_;
    secondBytes_ = 0;
    Texts t;
    t.speed = msg(137) + u' ' + kbPerSecond(double(speed) / 1000.0);
    const qint64 seconds = speed > 0 ? roundHalfEven(double(byteTotal_ - sinceAccepted_) / double(speed)) : 0;
    t.remaining = msg(138) + u' ' + secondsToHms(seconds);
    return t;
}

QString PostStatistics::summary(qint64 nowMs, bool stopped) const
{
    const qint64 bytes = acceptedBytes_;
    const qint64 ms = std::max<qint64>(nowMs - startMs_, 0);
    const double average = ms > 0 ? double(bytes) / double(ms) : 0.0; // bytes per ms = kB/s
    QString text = msg(itemsPosted_ == 1 ? 292 : 270);
    if (stopped && text.startsWith(u"Run finished:"_s))
        text.replace(0, 13, u"Run stopped:"_s);
    return text
        .arg(itemsPosted_)
        .arg(itemsFailed_)
        .arg(parts_)
        .arg(bytesText(bytes), secondsToHms(roundHalfEven(double(ms) / 1000.0)),
             kbPerSecond(average));
}

bool PostStatistics::connectionSpeedsDue()
{
    if (++displayTick_ < 2)
        return false;
    displayTick_ = 0;
    return true;
}

} // namespace tessaly
