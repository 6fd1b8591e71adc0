#include "engine/SendPacer.h"

#include <algorithm>
#include <cmath>

namespace tessaly {

void SendPacer::setLimit(int kBps, int activeConnections)
{
    limit_ = std::max(kBps, 0);
    bytesPerMs_ = limit_ > 0 ? limit_ * 1024.0 / 1000.0 : 0;
    packet_ = packetSize(limit_, activeConnections, packet_);
}

int SendPacer::waitMs(double nowMs) const
{
    if (!limited() || freeAt_ <= nowMs)
        return 0;
    return int(std::ceil(freeAt_ - nowMs));
}

void SendPacer::sent(double nowMs, qint64 bytes)
{
    if (!limited())
        return;
    freeAt_ = std::max(freeAt_, nowMs - kCatchUpMs) + double(bytes) / bytesPerMs_;
}

} // namespace tessaly
