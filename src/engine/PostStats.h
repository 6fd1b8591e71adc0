// The arithmetic of the send loop and the statistics: packet sizes, the
// estimate of a posted part, the speed ring and the texts it leads to.
#pragma once

#include "common/GeneralFunc.h"

#include <QString>

#include <array>
#include <cstdint>

namespace tessaly {

// Rounding to the nearest integer, ties to even.
qint64 roundHalfEven(double value);

// The leading number of a text, rounded (0 without one).
int leadingSpeed(const QString &text);

// Characters one connection sends per tick: L x 16 / active connections, or
// the whole article when L is 0. With no active connection the old size stays.
int packetSize(int limitKBps, int activeConnections, int previous);
inline constexpr int kUnlimitedPacket = 9000000;

// PartSize x 1.03, rounded (ties to even).
qint64 encodedPartSize(qint64 partSize);



class SpeedRing
{
public:
    // Stores one second's bytes; returns the average over the last ten
    // seconds (over those stored, while there are fewer).
    qint64 push(qint64 bytes);
    void clear();

private:
    std::array<qint64, 10> entries_{};
    int index_ = 0;
    int stored_ = 0;
};

// The run's figures and the status texts made from them: the bytes still to
// post, the bytes sent (in all, this second, and since the last accepted
// part, which counts towards the time left), and the ten-second average.
class PostStatistics
{
public:
    void start(qint64 bytesToPost, qint64 nowMs = 0);
    void addToPost(qint64 bytes)
    {
        byteTotal_ += bytes;
        runTotal_ += bytes;
    }
    void sent(qint64 bytes);
    // A part holding `bytes` of its file was accepted.
    void partAccepted(qint64 bytes);

    struct Texts
    {
        QString speed;     // "Upload Speed: 12,3 kB/s"
        QString remaining; // "Remaining Time: 00:01:05"
    };
    // Once a second: the second's bytes go into the average.
    Texts tick();
    // Every other tick the connections show their own speeds.
    bool connectionSpeedsDue();

    // An item of the run was posted, or failed.
    void itemEnded(bool posted) { ++(posted ? itemsPosted_ : itemsFailed_); }

    qint64 byteTotal() const { return byteTotal_; }
    qint64 totalBytesSent() const { return totalBytesSent_; }
    // The run's overall progress: the accepted parts' bytes of all it set out
    // to post (file bytes, as the summary counts them).
    qint64 bytesPosted() const { return runTotal_ - byteTotal_; }
    qint64 runTotal() const { return runTotal_; }
    // The bytes sent in the second the last tick closed.
    qint64 lastSecondBytes() const { return lastSecond_; }

    // "Run finished: 3 items posted, 0 failed, 120 parts, 45.2 MB in
    // 00:01:05, average 695.1 kB/s", for the log and the status bar; "Run
    // stopped: ..." for a run that ended with work left. The bytes are the
    // accepted parts' (a refused article's are not posted).
    QString summary(qint64 nowMs, bool stopped = false) const;

private:
    qint64 runTotal_ = 0;
    qint64 lastSecond_ = 0;
    qint64 startMs_ = 0;
    int parts_ = 0;
    qint64 acceptedBytes_ = 0;
    int itemsPosted_ = 0;
    int itemsFailed_ = 0;
    qint64 byteTotal_ = 0;
    qint64 sinceAccepted_ = 0;
    qint64 secondBytes_ = 0;
    qint64 totalBytesSent_ = 0;
    int displayTick_ = 0;
    SpeedRing ring_;
};

} // namespace tessaly
