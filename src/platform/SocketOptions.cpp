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
    const int one = 1;
    (void)::setsockopt(int(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
    Q_UNUSED(fd);
#endif
}

} // namespace tessaly
