// A Secret Service for tests, on whatever session bus DBUS_SESSION_BUS_ADDRESS
// names: one collection ("login", the default), secrets kept in memory and
// written to the file named by the first argument after every change
// ("name=secret" lines), so that a test can see what was stored. With
// "--locked" every item reads as locked; "--seed name=secret" starts with one.
#include "platform/SecretServiceTypes.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace tessaly;

namespace {

struct Item
{
    DBusAttributes attributes;
    QByteArray secret;
};

class FakeService : public QDBusVirtualObject
{
public:
    FakeService(QString record, bool locked)
        : record_(std::move(record)), locked_(locked) {}

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &m, const QDBusConnection &bus) override
    {
        const QList<QVariant> in = m.arguments();
        QList<QVariant> out;
        const QString method = m.member();
        if (method == u"OpenSession") {
            out << QVariant::fromValue(QDBusVariant(QString())) << QVariant::fromValue(QDBusObjectPath(u"/org/freedesktop/secrets/session/s1"_s));
        } else if (method == u"SearchItems") {
            const auto wanted = qdbus_cast<DBusAttributes>(in.value(0));
            QList<QDBusObjectPath> found;
            for (auto it = items_.cbegin(); it != items_.cend(); ++it) {
                bool all = true;
                for (auto w = wanted.cbegin(); w != wanted.cend(); ++w)
                    all = all && it->attributes.value(w.key()) == w.value();
                if (all)
                    found << QDBusObjectPath(it.key());
            }
            out << QVariant::fromValue(locked_ ? QList<QDBusObjectPath>() : found)
                << QVariant::fromValue(locked_ ? found : QList<QDBusObjectPath>());
        } else if (method == u"GetSecrets") {
            DBusSecretMap map;
            for (const QDBusObjectPath &p : qdbus_cast<QList<QDBusObjectPath>>(in.value(0)))
                if (items_.contains(p.path()) && !locked_)
                    map.insert(p, {qdbus_cast<QDBusObjectPath>(in.value(1)), {}, items_.value(p.path()).secret,
                                   u"text/plain"_s});
            out << QVariant::fromValue(map);
        } else if (method == u"ReadAlias") {
            out << QVariant::fromValue(QDBusObjectPath(u"/org/freedesktop/secrets/collection/login"_s));
        } else if (method == u"CreateItem") {
            const QVariantMap properties = qdbus_cast<QVariantMap>(in.value(0));
            const auto secret = qdbus_cast<DBusSecret>(in.value(1));
            Item item{qdbus_cast<DBusAttributes>(properties.value(u"org.freedesktop.Secret.Item.Attributes"_s)),
                      secret.value};
            QString path;
            for (auto it = items_.cbegin(); it != items_.cend() && path.isEmpty(); ++it)
                if (it->attributes == item.attributes)
                    path = it.key();
            if (path.isEmpty())
                path = u"/org/freedesktop/secrets/collection/login/%1"_s.arg(items_.size() + 1);
            items_.insert(path, item);
            writeRecord();
            out << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(QDBusObjectPath(u"/"_s));
        } else if (method != u"Close") {
            bus.send(m.createErrorReply(u"org.freedesktop.DBus.Error.UnknownMethod"_s, method));
            return true;
        }
        bus.send(m.createReply(out));
        return true;
    }

    void seed(const QString &name, const QByteArray &secret)
    {
        items_.insert(u"/org/freedesktop/secrets/collection/login/seed"_s,
                      {{{u"application"_s, u"tessaly-poster"_s}, {u"name"_s, name}}, secret});
    }

private:
    void writeRecord() const
    {
        QFile f(record_);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        for (const Item &item : items_)
            f.write(item.attributes.value(u"name"_s).toUtf8() + '=' + item.secret + '\n');
    }

    QString record_;
    bool locked_;
    QMap<QString, Item> items_;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    registerSecretServiceTypes();
    FakeService service(args.value(1), args.contains(u"--locked"_s));
    if (const qsizetype seed = args.indexOf(u"--seed"_s); seed > 0)
        service.seed(args.value(seed + 1).section(u'=', 0, 0), args.value(seed + 1).section(u'=', 1).toUtf8());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(u"/org/freedesktop/secrets"_s, &service, QDBusConnection::SubPath)
        || !bus.registerService(u"org.freedesktop.secrets"_s)) {
        std::fprintf(stderr, "fake secret service: cannot register: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
