// Socket options the posting connections need that Qt does not offer.
#pragma once

#include <QtGlobal>

namespace tessaly {

// Asks the kernel to acknowledge what arrived on the TCP socket fd at once,
// and what arrives next until this side sends again, instead of delaying the
// acknowledgement. A client that waits for a second reply needs this against
// a server that leaves Nagle's algorithm on: the server holds the second
// reply until the first one is acknowledged, and a delayed acknowledgement
// costs up to 40 ms. The kernel forgets the wish whenever this side sends,
// so it is asked again after every read and every write that leaves the
// connection waiting. Does nothing where the system has no such option.
void acknowledgeAtOnce(qintptr fd);

} // namespace tessaly
