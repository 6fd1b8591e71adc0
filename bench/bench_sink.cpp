// A news server that takes everything and keeps nothing: greets, answers POST
// with 340, reads the article to its end line, answers 240, and discards it;
// answers STAT with 223.
// It runs as its own process so the poster's CPU time is measured alone.
//
//   bench_sink PORT [KIND] [RATE]
//       prints "ready" once it listens on 127.0.0.1:PORT; ends on SIGTERM and
//       prints the bytes it received. Every reply is one write of its own.
//       KIND is the socket the replies go out on: "nagle" (the default, as a
//       server that leaves the socket as it comes: a second small reply waits
//       for the first one's acknowledgement) or "nodelay" (TCP_NODELAY).
//       RATE, when given, is the most a connection takes, in bytes a second
//       (a server with little bandwidth per connection).
#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace {

volatile std::sig_atomic_t g_stop = 0;

struct Client
{
    bool inArticle = false;
    bool paused = false;     // over its rate: not read until resumeAt
    double resumeAt = 0;
    double budgetFrom = 0;   // the time the bytes taken so far have used up
    std::string line;   // command line being read
    char tail[4] = {};  // last bytes of article data, to find "\r\n.\r\n" across reads
    int tailLen = 0;
};

void reply(int fd, const char *text);

void reply(int fd, const std::string &text)
{
    reply(fd, text.c_str());
}

void reply(int fd, const char *text)
{
    const size_t n = std::strlen(text);
    size_t off = 0;
    while (off < n) {
        const ssize_t w = ::send(fd, text + off, n - off, MSG_NOSIGNAL);
        if (w <= 0)
            return;
        off += size_t(w);
    }
}

// Consumes article data; returns the offset just after the end line, or -1.
long articleEnd(Client &c, const char *data, long n)
{
    static const char end[] = "\r\n.\r\n";
    // Joined view of the tail and the start of this chunk.
    char joined[12];
    const int head = int(std::min<long>(n, 4));
    std::memcpy(joined, c.tail, size_t(c.tailLen));
    std::memcpy(joined + c.tailLen, data, size_t(head));
    const int jn = c.tailLen + head;
    for (int i = 0; i + 5 <= jn; ++i)
        if (std::memcmp(joined + i, end, 5) == 0)
            return i + 5 - c.tailLen;
    // Wholly inside the chunk: from line feed to line feed (memchr is fast
    // where a general substring search, meeting "\r\n" on every line of
    // yEnc, would make this server the slowest part of the measurement).
    for (const char *p = data; (p = static_cast<const char *>(std::memchr(p, '\n', size_t(data + n - p))));) {
        const long i = p - data;
        if (i + 3 >= n)
            break;
        if (i >= 1 && data[i - 1] == '\r' && data[i + 1] == '.' && data[i + 2] == '\r' && data[i + 3] == '\n')
            return i + 4;
        ++p;
    }
    const int keep = int(std::min<long>(n, 4));
    if (keep == 4) {
        std::memcpy(c.tail, data + n - 4, 4);
        c.tailLen = 4;
    } else {
        // Short read: shift the tail.
        char t[8];
        std::memcpy(t, c.tail, size_t(c.tailLen));
        std::memcpy(t + c.tailLen, data, size_t(keep));
        const int total = c.tailLen + keep;
        const int k = std::min(total, 4);
        std::memcpy(c.tail, t + total - k, size_t(k));
        c.tailLen = k;
    }
    return -1;
}

double nowSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_sink PORT [nagle|nodelay] [bytes-per-second-per-connection]\n");
        return 2;
    }
    const std::string kind = argc > 2 ? argv[2] : "nagle";
    if (kind != "nagle" && kind != "nodelay") {
        std::fprintf(stderr, "bench_sink: the kind is nagle or nodelay\n");
        return 2;
    }
    const bool noDelay = kind == "nodelay";
    const double rate = argc > 3 ? std::atof(argv[3]) : 0; // bytes a second per connection, 0: any
    std::signal(SIGTERM, [](int) { g_stop = 1; });
    std::signal(SIGINT, [](int) { g_stop = 1; });
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(std::atoi(argv[1])));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(listener, 64) != 0) {
        std::perror("bench_sink");
        return 1;
    }
    const int ep = epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
    std::printf("ready\n");
    std::fflush(stdout);

    std::unordered_map<int, Client> clients;
    std::vector<char> buf(1 << 20);
    unsigned long long received = 0, articles = 0, stats = 0;
    epoll_event events[64];
    while (!g_stop) {
        // Connections over their rate are read again when their time comes.
        int timeoutMs = 200;
        const double now = nowSeconds();
        for (auto &[cfd, cl] : clients) {
            if (!cl.paused)
                continue;
            if (cl.resumeAt <= now) {
                cl.paused = false;
                epoll_event rev{};
                rev.events = EPOLLIN;
                rev.data.fd = cfd;
                epoll_ctl(ep, EPOLL_CTL_MOD, cfd, &rev);
            } else {
                timeoutMs = std::min(timeoutMs, int((cl.resumeAt - now) * 1000) + 1);
            }
        }
        const int n = epoll_wait(ep, events, 64, timeoutMs);
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == listener) {
                for (;;) {
                    const int c = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
                    if (c < 0)
                        break;
                    if (noDelay)
                        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    if (rate > 0) {
                        // A small window, so that the poster feels the rate.
                        const int window = std::max(16384, int(rate / 20));
                        setsockopt(c, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
                    }
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.fd = c;
                    epoll_ctl(ep, EPOLL_CTL_ADD, c, &cev);
                    clients[c] = Client{};
                    clients[c].budgetFrom = nowSeconds();
                    reply(c, "200 sink ready\r\n");
                }
                continue;
            }
            Client &cl = clients[fd];
            for (;;) {
                size_t want = buf.size();
                if (rate > 0) {
                    // At most what the rate has earned since the last read
                    // (a twentieth of a second of it at once).
                    const double t = nowSeconds();
                    cl.budgetFrom = std::max(cl.budgetFrom, t - 0.05);
                    const double earned = (t - cl.budgetFrom) * rate;
                    // Reads of at least 4 KB: a loop of tiny reads would keep
                    // this connection's turn for ever, and the others waiting.
                    if (earned < 4096) {
                        cl.paused = true;
                        cl.resumeAt = cl.budgetFrom + 1.0 / rate * 4096;
                        epoll_event pev{};
                        pev.events = 0;
                        pev.data.fd = fd;
                        epoll_ctl(ep, EPOLL_CTL_MOD, fd, &pev);
                        break;
                    }
                    want = std::min(want, size_t(earned));
                }
                const ssize_t r = ::recv(fd, buf.data(), want, 0);
                if (r == 0 || (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    epoll_ctl(ep, EPOLL_CTL_DEL, fd, nullptr);
                    ::close(fd);
                    clients.erase(fd);
                    break;
                }
                if (r < 0)
                    break;
                received += static_cast<unsigned long long>(r);
                if (rate > 0)
                    cl.budgetFrom += double(r) / rate;
                long off = 0;
                while (off < r) {
                    if (cl.inArticle) {
                        const long end = articleEnd(cl, buf.data() + off, r - off);
                        if (end < 0) {
                            off = r;
                            break;
                        }
                        off += end;
                        cl.inArticle = false;
                        cl.tailLen = 0;
                        ++articles;
                        reply(fd, "240 article received\r\n");
                        continue;
                    }
                    const char *nl = static_cast<const char *>(std::memchr(buf.data() + off, '\n', size_t(r - off)));
                    if (!nl) {
                        cl.line.append(buf.data() + off, size_t(r - off));
                        off = r;
                        break;
                    }
                    cl.line.append(buf.data() + off, size_t(nl - (buf.data() + off)));
                    off = nl - buf.data() + 1;
                    if (cl.line.rfind("POST", 0) == 0) {
                        cl.inArticle = true;
                        cl.tailLen = 2; // the article starts a line
                        cl.tail[0] = '\r';
                        cl.tail[1] = '\n';
                        reply(fd, "340 send it\r\n");
                    } else if (cl.line.rfind("STAT ", 0) == 0) {
                        // Everything is "held": the post check finds it.
                        std::string id = cl.line.substr(5);
                        if (!id.empty() && id.back() == '\r')
                            id.pop_back();
                        ++stats;
                        reply(fd, "223 0 " + id + "\r\n");
                    } else if (cl.line.rfind("MODE READER", 0) == 0) {
                        reply(fd, "200 reader mode, posting allowed\r\n");
                    } else if (!cl.line.empty() && cl.line != "\r") {
                        reply(fd, "500 what\r\n");
                    }
                    cl.line.clear();
                }
            }
        }
    }
    std::printf("received %llu bytes in %llu articles, %llu STAT\n", received, articles, stats);
    return 0;
}
