// The posting connections' reply handling: arbitrary server data, cut into
// arbitrary pieces, fed straight to the connections (PostLink) of a whole
// posting run, on one or two connections, with and without login and in
// fill mode. The connections' transports are stand-ins that never touch a
// network; the run's timers that fire at once (reconnects, the send loop)
// run between the pieces.
//
// Input: byte 0 chooses the set-up (connections, login, fill mode, post check); the rest is split at 0xFF bytes, and the
// first byte of each piece chooses the connection it arrives on.
//
// Besides crashes it checks what a run must never do: count more parts than
// an item has, leave an item marked as being posted once the run is over, or
// call an item posted without the server having acknowledged every part.
#define TESSALY_FUZZ_CUSTOM_INIT
#include "engine/PostingRun.h"
#include "engine/RunView.h"
#include "fuzz/FuzzSupport.h"
#include "storage/ConnectionList.h"
#include "storage/UploadQueue.h"
#include "common/GeneralFunc.h"

#include <QObject>
#include <QTimer>

#include <vector>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

// Opens on the next turn of the event loop and takes whatever is written.
class StandInTransport : public LinkTransport
{
public:
    void setEvents(TransportEvents *events) override { events_ = events; }
    void open() override
    {
        open_ = false;
        const int generation = ++generation_;
        QTimer::singleShot(0, &context_, [this, generation] {
            if (generation == generation_ && !open_) {
                open_ = true;
                events_->connected();
            }
        });
    }
    qint64 send(const QByteArray &bytes) override { return open_ ? bytes.size() : 0; }
    qint64 unsent() const override { return 0; }
    void close() override
    {
        open_ = false;
        ++generation_;
    }
    bool isOpen() const override { return open_; }
    TransportEvents *events() const { return events_; }

private:
    QObject context_; // what is pending goes with the transport
    TransportEvents *events_ = nullptr;
    bool open_ = false;
    int generation_ = 0;
};

std::vector<StandInTransport *> &transports()
{
    static std::vector<StandInTransport *> made;
    return made;
}

class QuietView : public RunView
{
public:
    void setStatusTexts(const QString &, const QString &) override {}
    void setTrayTooltip(const QString &) override {}
};

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Parts the server acknowledged ("240 " lines) bound what may count as posted.
void checkQueue(int acknowledgements)
{
    const UploadQueue &q = uploadQueue();
    int postedParts = 0;
    for (int i = 1; i <= q.count(); ++i) {
        const UploadItem &it = q.item(i);
        check(it.position >= 1 && it.position <= std::max(1, it.maxparts));
        if (it.state == UploadState::PostedOK)
            postedParts += it.maxparts;
    }
    check(postedParts <= acknowledgements);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::setUp(argc, argv);
    PostingRun::setTransportFactory([](const ServerEndpoint &) {
        auto t = std::make_unique<StandInTransport>();
        transports().push_back(t.get());
        return t;
    });
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    (void)writeFileAtomically(fuzz::home() + u"/one.bin"_s, QByteArray(1, 'x'));
    (void)writeFileAtomically(fuzz::home() + u"/three.bin"_s, QByteArray(600, '\x3d'));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t setup = data[0];
    AppSettings &s = appSettings();
    s = defaultSettings();
    s.Server = u"news.invalid"_s;
    s.Connections = (setup & 1) ? 2 : 1;
    s.Login = (setup & 2) ? 1 : 0;
    s.Username = u"user"_s;
    s.Password = u"secret"_s;
    s.PartSize = 256;
    const bool fill = setup & 4;
    // The post check: asked at once (its STAT and GROUP replies reachable), or off.
    s.PostCheck = (setup & 16) ? 0 : 1;
    s.PostCheckDelay = (setup & 8) ? 0 : 5;

    UploadQueue &q = uploadQueue();
    q.clear();
    q.append(UploadQueue::newItem(u"one"_s, u"alt.test"_s, fuzz::home() + u"/one.bin"_s, 1, u"t"_s, {}));
    q.append(UploadQueue::newItem(u"three"_s, u"alt.test"_s, fuzz::home() + u"/three.bin"_s, 3, u"t"_s, {}));
    q.append(UploadQueue::newItem(u"gone"_s, u"alt.test"_s, fuzz::home() + u"/gone.bin"_s, 2, u"t"_s, {}));
    q.append(UploadQueue::newItem(u"wrong size"_s, u"alt.test"_s, fuzz::home() + u"/one.bin"_s, 4, u"t"_s, {}));

    QuietView view;
    QByteArray stream[2]; // all that arrived on each connection
    int acknowledgements = 0;
    {
        transports().clear();
        PostingRun post(view);
        RunPlan plan = RunPlan::fromSettings(s);
        if (fill)
            plan.fill = FillPlan{q.item(2).id, {1, 3}};
        post.start(plan);
        QCoreApplication::processEvents();

        const QByteArray rest(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
        for (const QByteArray &piece : rest.split('\xff')) {
            if (!post.isRunning())
                break;
            if (piece.isEmpty())
                continue;
            const int connection = 1 + (std::uint8_t(piece.front()) % 2);
            if (connection > int(transports().size()) || !transports()[std::size_t(connection - 1)]->isOpen())
                continue; // nothing arrives on a closed connection
            QByteArray &all = stream[connection - 1];
            const qsizetype from = std::max<qsizetype>(0, all.size() - 3);
            all += piece.mid(1);
            // An upper bound of the acknowledgements the engine can have seen.
            for (qsizetype at = all.indexOf("240 ", from); at >= 0; at = all.indexOf("240 ", at + 1))
                acknowledgements += at == 0 || all.at(at - 1) == '\n';
            transports()[std::size_t(connection - 1)]->events()->received(piece.mid(1));
            QCoreApplication::processEvents();
            if (!fill)
                checkQueue(acknowledgements);
        }
        if (post.isRunning())
            post.stop();
    }
    transports().clear();
    // What an event loop would have cleaned up by now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (int i = 1; i <= q.count(); ++i)
        check(q.item(i).state != UploadState::Posting);
    if (!fill)
        checkQueue(acknowledgements);
    if (qEnvironmentVariableIsSet("TESSALY_FUZZ_TRACE")) { // what a single input did
        for (const LogLine &l : logModel().lines())
            std::fprintf(stderr, "log: %s\n", qPrintable(l.formatted()));
        for (int i = 1; i <= q.count(); ++i)
            std::fprintf(stderr, "item %d: state %d, part %d of %d\n", i, int(q.item(i).state), q.item(i).position,
                         q.item(i).maxparts);
    }
    logModel().clear();
    return 0;
}
