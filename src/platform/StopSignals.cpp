#include "platform/StopSignals.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>

#include <sys/socket.h>
#include <unistd.h>
#endif

namespace tessaly {

#ifdef Q_OS_UNIX
namespace {

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_seen = 0;
volatile std::sig_atomic_t g_toolGroup = 0;

void onSignal(int number)
{
    if (g_seen != 0) { // asked twice: no more waiting, and no tool left behind
        if (const pid_t group = pid_t(g_toolGroup); group > 0)
            ::kill(-group, SIGKILL);
        static const char said[] = "Ended at once by a second signal: what changed since the queue was last saved "
                                   "is not saved.\n";
        [[maybe_unused]] const auto w = ::write(2, said, sizeof said - 1);
        ::_exit(128 + number);
    }
    g_seen = number;
    const unsigned char b = static_cast<unsigned char>(number);
    [[maybe_unused]] const auto n = ::write(g_pipe[1], &b, 1);
}

} // namespace

StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char b = 0;
        if (::read(g_pipe[0], &b, 1) == 1)
            emit received(int(b));
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
}

void StopSignals::setToolGroup(qint64 group)
{
    g_toolGroup = std::sig_atomic_t(group);
}

StopSignals::~StopSignals()
{
    if (!notifier_)
        return;
    for (int number : {SIGINT, SIGTERM, SIGHUP})
        std::signal(number, SIG_DFL);
}
#else
// Elsewhere the console's own handling applies (a console control handler
// would take this place on Windows).
StopSignals::StopSignals(QObject *parent)
    : QObject(parent)
{
}

StopSignals::~StopSignals() = default;

void StopSignals::setToolGroup(qint64) {}
#endif

} // namespace tessaly
