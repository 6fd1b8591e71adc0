#include "platform/SocketOptions.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace tessaly {

void acknowledgeAtOnce(qintptr fd)
{
#if defined(Q_OS_LINUX) && defined(TCP_QUICKACK)
    if (fd < 0)
        return;
    // 2, not 1: what arrived is acknowledged now, and the socket goes back
    // to delaying acknowledgements, so that the next reply's goes with the
    // data sent in answer to it instead of in a segment of its own. (Older
    // kernels take any value but 0 as 1: acknowledged at once, as before.)
    const int now = 2;
    (void)::setsockopt(int(fd), IPPROTO_TCP, TCP_QUICKACK, &now, sizeof now);
#else
    Q_UNUSED(fd);
#endif
}

} // namespace tessaly
