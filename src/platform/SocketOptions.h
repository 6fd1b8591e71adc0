// Socket options the posting connections need that Qt does not offer.
#pragma once

#include <QtGlobal>

namespace tessaly {

// Asks the kernel to acknowledge what arrived on the TCP socket fd at once,
// instead of delaying the acknowledgement. A client that waits for a second
// reply needs this against a server that leaves Nagle's algorithm on: the
// server holds the second reply until the first one is acknowledged, and a
// delayed acknowledgement costs up to 40 ms. It is asked after every read
// that leaves the connection waiting with nothing to send. Does nothing
// where the system has no such option.
void acknowledgeAtOnce(qintptr fd);

} // namespace tessaly
