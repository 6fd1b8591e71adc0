#include "engine/RunReporter.h"

#include "common/AppState.h"
#include "common/GeneralFunc.h"
#include "common/Log.h"
#include "common/MessageTable.h"
#include "engine/CheckSchedule.h"
#include "engine/PostLink.h"
#include "engine/SocketTransport.h"
#include "storage/ConnectionList.h"
#include "storage/UploadQueue.h"

using namespace Qt::StringLiterals;

namespace tessaly {

RunReporter::RunReporter(RunView &view, ConnectionList &list, PostStatistics &stats)
    : view_(view)
    , list_(list)
    , stats_(stats)
{
}

void RunReporter::start(int links, const ServerEndpoint &server, qint64 toPost, qint64 nowMs)
{
    host_ = server.shownHost;
    port_ = server.shownPort;
    tunnel_ = server.mode != SslMode::Plain;
    firstCheckLink_ = 0;
    sample_.assign(std::size_t(links), 0);
    stats_.start(toPost, nowMs);
    view_.setRunProgress(0, toPost);
}

void RunReporter::checksOn(int firstLink, const ServerEndpoint &server)
{
    firstCheckLink_ = firstLink;
    checkHost_ = server.shownHost;
    checkPort_ = server.shownPort;
    checkTls_ = server.mode != SslMode::Plain;
}

QString RunReporter::connectingText(int link) const
{
    const bool check = firstCheckLink_ > 0 && link >= firstCheckLink_;
    return msg(129) + u' ' + (check ? checkHost_ : host_) + u' ' + msg(130) + u' '
        + QString::number(check ? checkPort_ : port_);
}

void RunReporter::show(const PostLink &link, const UploadQueue &queue)
{
    using State = PostLink::State;
    const int n = link.number();
    const State state = link.state();
    QString action;
    const bool secure = firstCheckLink_ > 0 && n >= firstCheckLink_ ? checkTls_ : tunnel_;
    StatusIcon icon = secure ? StatusIcon::Tunnel : StatusIcon::Connected;
    switch (state) {
    case State::Idle:
    case State::Retired:
        action = msg(133);
        icon = StatusIcon::Offline;
        break;
    case State::Connecting:
    case State::Greeting:
        action = connectingText(n);
        break;
    case State::LoggingIn:
        action = msg(141);
        break;
    case State::Ready:
    case State::Busy:
        action = link.front() && link.front()->command == Command::Stat ? msg(248) : msg(142);
        break;
    case State::WaitingForChecks:
        action = msg(248);
        break;
    case State::BackingOff:
        action = msg(143);
        icon = StatusIcon::ConnectionError;
        break;
    }
    QString description;
    if (state == State::BackingOff) {
        description = link.errorText();
    } else if (firstCheckLink_ > 0 && n >= firstCheckLink_ && state != State::Retired) {
        description = msg(300) + u": "_s + checkHost_; // whose rows these are
    } else if (const Attempt *a = link.attempt(); a && link.sendingArticle()) {
        if (const int row = queue.rowOf(a->item))
            description = queue.item(row).subject + u" ("_s + QString::number(a->part) + u'/'
                + QString::number(a->totalParts) + u')';
    }
    list_.setAction(n, action);
    list_.setIcon(n, icon);
    list_.setDescription(n, description);
    if (!link.sendingArticle())
        list_.setProgress(n, 0);
}

void RunReporter::sent(const PostLink &link, qint64 bytes)
{
    stats_.sent(bytes);
    sample_[std::size_t(link.number() - 1)] += bytes;
    if (const qint64 size = link.articleBytes(); size > 0)
        list_.setProgress(link.number(), int(100 * std::min(link.articleSent(), size) / size));
}

void RunReporter::checkCounts(const CheckSchedule &checks)
{
    view_.setCheckText(checks.on() || checks.checked + checks.missing > 0
                           ? msg(249).arg(checks.checked).arg(checks.missing)
                           : QString());
}

void RunReporter::tick(const CheckSchedule &checks)
{
    if (stats_.connectionSpeedsDue()) {
        for (std::size_t k = 0; k < sample_.size(); ++k) {
            list_.setSpeed(int(k) + 1, kbPerSecond(double(sample_[k]) / 2000.0));
            sample_[k] = 0;
        }
    }
    if (checks.on() || checks.checked + checks.missing > 0)
        checkCounts(checks);
    const PostStatistics::Texts t = stats_.tick();
    view_.setStatusTexts(t.speed, t.remaining);
    view_.setRunProgress(stats_.bytesPosted(), stats_.runTotal());
    view_.addSpeedSample(stats_.lastSecondBytes());
    view_.setTrayTooltip(t.speed + u"\r\n"_s + t.remaining);
}

void RunReporter::ended(bool unfinished, qint64 nowMs, const CheckSchedule &checks)
{
    for (int n = 1; n <= int(sample_.size()); ++n) {
        list_.setAction(n, msg(133));
        list_.setDescription(n, QString());
        list_.setSpeed(n, kbPerSecond(0));
        list_.setIcon(n, StatusIcon::Offline);
        list_.setProgress(n, 0);
    }
    checkCounts(checks);
    if (checks.checked + checks.missing > 0)
        AddLog(0, msg(295).arg(msg(249).arg(checks.checked).arg(checks.missing)), LogColour::Blue);
    view_.setStatusTexts(msg(137) + u' ' + kbPerSecond(0), msg(138) + u" 00:00:00"_s);
    view_.setTrayTooltip(standardTrayTooltip());
    view_.setRunProgress(stats_.bytesPosted(), stats_.runTotal());
    const QString summary = stats_.summary(nowMs, unfinished);
    AddLog(0, summary, LogColour::Black);
    view_.setRunSummary(summary);
}

} // namespace tessaly
