// The floor for whole posting runs: the least a poster can do on this machine.
// One epoll loop drives every connection; each part is one read() from its
// file, copied into 128-byte lines (a memcpy per line stands in for yEnc),
// wrapped in a few headers and sent after "340". No checksums, no queue
// file, no log, no window. bench_post runs it against the same sink and the
// same files as the program, so the program's cost reads as a ratio.
//
//   bench_floor PORT CONNECTIONS PART_BYTES FILE...
//       prints "floor: <articles> articles, <bytes> bytes" and exits 0 when
//       every part was accepted.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Part
{
    int file = 0;
    long long offset = 0;
    long length = 0;
    int number = 0;
};

enum class Wait { Greeting, Mode, PostReply, Sending, Result, Done };

struct Connection
{
    int fd = -1;
    Wait wait = Wait::Greeting;
    std::string in;
    std::vector<char> article;
    size_t sent = 0;
    size_t part = 0; // taken when POST is sent
};

std::vector<int> g_files;
std::vector<Part> g_parts;
size_t g_next = 0;
long g_accepted = 0;
unsigned long long g_bytes = 0;
std::vector<char> g_raw;

bool sendAll(Connection &c)
{
    while (c.sent < c.article.size()) {
        const ssize_t w = ::send(c.fd, c.article.data() + c.sent, c.article.size() - c.sent, MSG_NOSIGNAL);
        if (w < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK;
        c.sent += size_t(w);
        g_bytes += static_cast<unsigned long long>(w);
    }
    return true;
}

void buildArticle(Connection &c, const Part &p)
{
    const ssize_t got = ::pread(g_files[size_t(p.file)], g_raw.data(), size_t(p.length), p.offset);
    const size_t n = got > 0 ? size_t(got) : 0;
    char head[512];
    const int h = std::snprintf(head, sizeof head,
                                "From: floor <floor@example.org>\r\nNewsgroups: alt.binaries.test\r\n"
                                "Subject: floor %d\r\nMessage-ID: <floor.%d.%d@example.org>\r\n\r\n"
                                "=ybegin part=%d line=128 size=%lld name=f%d\r\n",
                                p.number, p.file, p.number, p.number, static_cast<long long>(n), p.file);
    c.article.resize(size_t(h) + n + n / 128 * 2 + 64);
    char *out = c.article.data();
    std::memcpy(out, head, size_t(h));
    out += h;
    for (size_t i = 0; i < n; i += 128) {
        const size_t len = n - i < 128 ? n - i : 128;
        std::memcpy(out, g_raw.data() + i, len);
        // A "." next to a line break could make the end line "\r\n.\r\n".
        if (out[0] == '.')
            out[0] = '_';
        if (out[len - 1] == '.')
            out[len - 1] = '_';
        out += len;
        *out++ = '\r';
        *out++ = '\n';
    }
    const char tail[] = "=yend\r\n.\r\n";
    std::memcpy(out, tail, sizeof tail - 1);
    out += sizeof tail - 1;
    c.article.resize(size_t(out - c.article.data()));
    c.sent = 0;
}

void request(Connection &c)
{
    if (g_next >= g_parts.size()) {
        c.wait = Wait::Done;
        ::shutdown(c.fd, SHUT_WR);
        return;
    }
    c.part = g_next++;
    c.article.assign({'P', 'O', 'S', 'T', '\r', '\n'});
    c.sent = 0;
    sendAll(c);
    c.wait = Wait::PostReply;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: bench_floor PORT CONNECTIONS PART_BYTES FILE...\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int connections = std::atoi(argv[2]);
    const long partBytes = std::atol(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int fd = ::open(argv[i], O_RDONLY);
        struct stat st{};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            std::perror(argv[i]);
            return 1;
        }
        const int index = int(g_files.size());
        g_files.push_back(fd);
        int number = 1;
        for (long long off = 0; off < st.st_size; off += partBytes)
            g_parts.push_back({index, off, long(std::min<long long>(partBytes, st.st_size - off)), number++});
    }
    g_raw.resize(size_t(partBytes));

    const int ep = epoll_create1(0);
    std::vector<Connection> conns(static_cast<size_t>(connections));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (size_t i = 0; i < conns.size(); ++i) {
        Connection &c = conns[i];
        c.fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(c.fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            std::perror("bench_floor connect");
            return 1;
        }
        const int one = 1;
        setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fcntl(c.fd, F_SETFL, fcntl(c.fd, F_GETFL) | O_NONBLOCK);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
        ev.data.u64 = i;
        epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
    }

    int open = connections;
    std::vector<char> buf(65536);
    epoll_event events[64];
    while (open > 0) {
        const int n = epoll_wait(ep, events, 64, 10000);
        if (n <= 0) {
            std::fprintf(stderr, "bench_floor: the sink stopped answering\n");
            return 1;
        }
        for (int e = 0; e < n; ++e) {
            Connection &c = conns[events[e].data.u64];
            if (c.fd < 0)
                continue;
            if ((events[e].events & EPOLLOUT) && c.wait == Wait::Sending) {
                sendAll(c);
                if (c.sent == c.article.size())
                    c.wait = Wait::Result;
            }
            if (!(events[e].events & (EPOLLIN | EPOLLHUP | EPOLLERR)))
                continue;
            for (;;) {
                const ssize_t r = ::recv(c.fd, buf.data(), buf.size(), 0);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    ::close(c.fd);
                    c.fd = -1;
                    --open;
                    break;
                }
                if (r < 0)
                    break;
                c.in.append(buf.data(), size_t(r));
                size_t nl;
                while (c.fd >= 0 && (nl = c.in.find('\n')) != std::string::npos) {
                    const std::string line = c.in.substr(0, nl);
                    c.in.erase(0, nl + 1);
                    if (c.wait == Wait::Greeting && line.rfind("20", 0) == 0) {
                        // A server that is also a feeder (INN) takes POST in reader mode only.
                        c.article.assign({'M', 'O', 'D', 'E', ' ', 'R', 'E', 'A', 'D', 'E', 'R', '\r', '\n'});
                        c.sent = 0;
                        sendAll(c);
                        c.wait = Wait::Mode;
                    } else if (c.wait == Wait::Mode && line.rfind("20", 0) == 0) {
                        request(c);
                    } else if (c.wait == Wait::PostReply && line.rfind("340", 0) == 0) {
                        buildArticle(c, g_parts[c.part]);
                        c.wait = Wait::Sending;
                        sendAll(c);
                        if (c.sent == c.article.size())
                            c.wait = Wait::Result;
                    } else if (c.wait == Wait::Result && line.rfind("240", 0) == 0) {
                        ++g_accepted;
                        request(c);
                    } else if (c.wait != Wait::Done) {
                        std::fprintf(stderr, "bench_floor: unexpected reply %s\n", line.c_str());
                        return 1;
                    }
                }
            }
        }
    }
    std::printf("floor: %ld articles, %llu bytes\n", g_accepted, g_bytes);
    return g_accepted == long(g_parts.size()) ? 0 : 1;
}
