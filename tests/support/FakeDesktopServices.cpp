// A login manager and a notification service for tests, on whatever session
// bus DBUS_SESSION_BUS_ADDRESS names (the program under test is pointed at it
// as its system bus too). It carries nothing out: every call is appended to
// the file named by the first argument ("PowerOff false", "Terminate <path>",
// "Notify <summary>|<body>"), and the answer to CanPowerOff and friends is the
// text of "<file>.answer" when that exists, else "yes". With
// "--no-notifications" only the login manager is there.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr auto kSessionPath = u"/org/freedesktop/login1/session/_31";

class FakeDesktop : public QDBusVirtualObject
{
public:
    explicit FakeDesktop(QString record)
        : record_(std::move(record)) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        const QString method = m.member();
        const QList<QVariant> in = m.arguments();
        QList<QVariant> out;
        if (method.startsWith(u"Can")) {
            note(method);
            QFile answer(record_ + u".answer"_s);
            out << (answer.open(QIODevice::ReadOnly) ? QString::fromUtf8(answer.readAll()).trimmed() : u"yes"_s);
        } else if (method == u"PowerOff" || method == u"Reboot" || method == u"Hibernate") {
            note(method + u' ' + (in.value(0).toBool() ? u"true"_s : u"false"_s));
        } else if (method == u"GetSessionByPID" || method == u"GetSession") {
            note(method);
            out << QVariant::fromValue(QDBusObjectPath(QString::fromUtf16(kSessionPath)));
        } else if (method == u"Terminate") {
            note(method + u' ' + m.path());
        } else if (method == u"Notify") {
            note(method + u' ' + in.value(3).toString() + u'|' + in.value(4).toString());
            out << uint(1);
        } else {
            bus.send(m.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s, method));
            return true;
        }
        bus.send(m.createReply(out));
        return true;
    }

private:
    void note(const QString &line) const
    {
        QFile f(record_);
        if (f.open(QIODevice::Append))
            f.write(line.toUtf8() + '\n');
    }

    QString record_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    FakeDesktop desktop(args.value(1));
    QDBusConnection bus = QDBusConnection::sessionBus();
    bool ok = bus.registerVirtualObject(u"/org/freedesktop/login1"_s, &desktop, QDBusConnection::SubPath)
              && bus.registerService(u"org.freedesktop.login1"_s);
    if (!args.contains(u"--no-notifications"_s))
        ok = ok && bus.registerVirtualObject(u"/org/freedesktop/Notifications"_s, &desktop)
             && bus.registerService(u"org.freedesktop.Notifications"_s);
    if (!ok) {
        std::fprintf(stderr, "fake desktop: cannot register: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
