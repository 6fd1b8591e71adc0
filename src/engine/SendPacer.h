// The speed limit of a whole run: the bytes of every connection together go
// out at the limit's rate, whichever connections send them. A connection that
// waits for a reply, composes its next article or has no work leaves its
// share to the others, so the limit holds however many connections send at
// a time. Time that passed with nothing to send is made up for a little
// (kCatchUpMs of it), so a late timer or a short wait for a reply does not
// lower the rate, and a long pause does not bring a burst after it.
#pragma once

#include "engine/PostStats.h"

#include <QtGlobal>

namespace tessaly {

class SendPacer
{
public:
    static constexpr double kCatchUpMs = 31.25; // two ticks of the send timer

    // The limit in kB/s (0 for none) and the connections that send: the
    // rate, and the most one connection hands over at a time.
    void setLimit(int kBps, int activeConnections);
    bool limited() const { return bytesPerMs_ > 0; }
    int limitKBps() const { return limit_; }
    int packetBytes() const { return packet_; }
    // Milliseconds until the next packet may go; 0 for at once.
    int waitMs(double nowMs) const;
    // A packet of `bytes` went at nowMs.
    void sent(double nowMs, qint64 bytes);
    double freeAtMs() const { return freeAt_; }

private:
    double bytesPerMs_ = 0;
    double freeAt_ = 0; // when the bytes sent so far have had their time
    int limit_ = 0;
    int packet_ = kUnlimitedPacket;
};

} // namespace tessaly
