// The arithmetic of the send loop and the statistics: packet sizes, the
// estimate of a posted part, the speed ring and the texts it leads to.
#pragma once

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

// "12.3" in the user's number format.
QString oneDecimal(double value);

class SpeedRing
{
public:
    // Stores one second's bytes; returns the average over the last ten seconds.
    qint64 push(qint64 bytes);
    void clear();

private:
    std::array<qint64, 10> entries_{};
    int index_ = 0;
};

} // namespace tessaly
