#include "engine/RunPlan.h"

#include "common/AppState.h"
#include "engine/PostStats.h"
#include "storage/AppSettings.h"
#include "storage/ConnectionList.h"

#include <algorithm>

namespace tessaly {

PostTimeouts &PostTimeouts::current()
{
    static PostTimeouts t;
    return t;
}

RunPlan RunPlan::fromSettings(const AppSettings &s)
{
    const PostTimeouts &t = PostTimeouts::current();
    RunPlan p;
    p.server = ServerEndpoint::fromSettings(s);
    p.server.acknowledgeAtOnce = t.acknowledgeAtOnce;
    p.link.login = s.Login == 1;
    p.link.user = s.Username;
    p.link.password = s.Password;
    p.link.connectMs = t.connectMs;
    p.link.replyMs = t.replyMs;
    p.link.restartMs = t.restartMs;
    p.link.backoffMaxMs = t.backoffMaxMs;
    p.link.pipelinePosts = t.pipelinePosts;
    p.connections = std::clamp(s.Connections, 1, int(ConnectionList::MaxConnections));
    p.partSize = s.PartSize;
    p.limitKBps = s.MaxSpeed;
    p.check.on = s.PostCheck == 1;
    p.check.delayMs = t.checkDelayMs >= 0 ? t.checkDelayMs : 1000.0 * s.PostCheckDelay;
    p.check.tries = s.PostCheckTries;
    if (hasCheckServer(s)) {
        p.check.server = ServerEndpoint::checkServer(s);
        p.check.server->acknowledgeAtOnce = t.acknowledgeAtOnce;
        p.check.link = p.link;
        p.check.link.login = !s.CheckUsername.trimmed().isEmpty();
        p.check.link.user = s.CheckUsername.trimmed();
        p.check.link.password = s.CheckPassword;
        p.check.link.pipelinePosts = false;
        p.check.connections = std::clamp(s.CheckConnections, 1, int(ConnectionList::MaxConnections));
    }
    p.retryMinutes = s.RetryMinutes;
    p.removeFromDisk = s.RemoveFromDisk == 1;
    p.identity = {s.Email, s.Nickname, versionString()};
    p.tuning.packetMs = t.packetMs;
    p.tuning.statisticsMs = t.statisticsMs;
    p.tuning.composeAheadFromBytes = t.composeAheadFromBytes;
    p.tuning.composeAhead = t.composeAhead;
    return p;
}

} // namespace tessaly
