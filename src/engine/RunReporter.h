// What a run shows of itself: each connection's row in the connection list
// (read off the connection's state and what it has in flight), the speeds,
// the time left, the overall progress, the post check's counts and, at the
// end, the summary line.
#pragma once

#include "engine/PostStats.h"
#include "engine/RunView.h"

#include <QString>

#include <vector>

namespace tessaly {

class CheckSchedule;
class ConnectionList;
class PostLink;
class UploadQueue;
struct ServerEndpoint;

class RunReporter
{
public:
    RunReporter(RunView &view, ConnectionList &list, PostStatistics &stats);

    void start(int links, const ServerEndpoint &server, qint64 toPost, qint64 nowMs);
    // Links from `firstLink` on reach the server that makes the checks.
    void checksOn(int firstLink, const ServerEndpoint &server);
    // The connection's row as it stands now.
    void show(const PostLink &link, const UploadQueue &queue);
    void sent(const PostLink &link, qint64 bytes);
    void showItem(int row) { view_.showItem(row); }
    void checkCounts(const CheckSchedule &checks);
    // Once a second.
    void tick(const CheckSchedule &checks);
    // The run is over: rows offline, panels back, the summary said.
    void ended(bool unfinished, qint64 nowMs, const CheckSchedule &checks);

private:
    QString connectingText(int link) const;

    RunView &view_;
    ConnectionList &list_;
    PostStatistics &stats_;
    QString host_;
    quint16 port_ = 0;
    bool tunnel_ = false;
    int firstCheckLink_ = 0; // 0: none
    QString checkHost_;
    quint16 checkPort_ = 0;
    bool checkTls_ = false;
    std::vector<qint64> sample_; // bytes per connection since its speed was shown
};

} // namespace tessaly
