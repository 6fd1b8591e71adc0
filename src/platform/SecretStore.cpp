#include "platform/SecretStore.h"

#include "platform/SecretServiceTypes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QMap>

using namespace Qt::StringLiterals;

namespace tessaly::SecretStore {

namespace {

constexpr int kTimeoutMs = 3000;
const QString kService = u"org.freedesktop.secrets"_s;
const QString kPath = u"/org/freedesktop/secrets"_s;
const QString kServiceInterface = u"org.freedesktop.Secret.Service"_s;

QMap<QString, QString> attributesFor(const QString &name)
{
    return {{u"application"_s, u"tessaly-poster"_s}, {u"name"_s, name}};
}

std::optional<QList<QVariant>> call(const QString &path, const QString &interface, const QString &method,
                                    const QList<QVariant> &arguments)
{
    QDBusMessage m = QDBusMessage::createMethodCall(kService, path, interface, method);
    m.setArguments(arguments);
    m.setInteractiveAuthorizationAllowed(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, kTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

// A plain (unencrypted) session: the secret travels only over the local bus.
std::optional<QDBusObjectPath> openSession()
{
    const auto r = call(kPath, kServiceInterface, u"OpenSession"_s,
                        {u"plain"_s, QVariant::fromValue(QDBusVariant(QString()))});
    if (!r || r->size() < 2)
        return std::nullopt;
    return qvariant_cast<QDBusObjectPath>(r->at(1));
}

} // namespace

bool available()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> registered = bus.interface()->isServiceRegistered(kService);
    return registered.isValid() && registered.value();
}

std::optional<QString> read(const QString &name)
{
    registerSecretServiceTypes();
    if (!available())
        return std::nullopt;
    const auto found = call(kPath, kServiceInterface, u"SearchItems"_s, {QVariant::fromValue(attributesFor(name))});
    if (!found || found->isEmpty())
        return std::nullopt;
    const QList<QDBusObjectPath> unlocked = qdbus_cast<QList<QDBusObjectPath>>(found->at(0));
    if (unlocked.isEmpty())
        return std::nullopt; // none, or only in a locked collection: nobody is asked here
    const std::optional<QDBusObjectPath> session = openSession();
    if (!session)
        return std::nullopt;
    const auto secrets = call(kPath, kServiceInterface, u"GetSecrets"_s,
                              {QVariant::fromValue(QList<QDBusObjectPath>{unlocked.first()}),
                               QVariant::fromValue(*session)});
    call(session->path(), u"org.freedesktop.Secret.Session"_s, u"Close"_s, {});
    if (!secrets || secrets->isEmpty())
        return std::nullopt;
    const DBusSecretMap map = qdbus_cast<DBusSecretMap>(secrets->at(0));
    if (!map.contains(unlocked.first()))
        return std::nullopt;
    return QString::fromUtf8(map.value(unlocked.first()).value);
}

bool write(const QString &name, const QString &secret)
{
    registerSecretServiceTypes();
    if (!available())
        return false;
    const auto alias = call(kPath, kServiceInterface, u"ReadAlias"_s, {u"default"_s});
    if (!alias || alias->isEmpty())
        return false;
    const QDBusObjectPath collection = qvariant_cast<QDBusObjectPath>(alias->at(0));
    if (collection.path().isEmpty() || collection.path() == u"/"_s)
        return false;
    const std::optional<QDBusObjectPath> session = openSession();
    if (!session)
        return false;
    QVariantMap properties;
    properties.insert(u"org.freedesktop.Secret.Item.Label"_s, QString(u"Tessaly Poster: "_s + name));
    properties.insert(u"org.freedesktop.Secret.Item.Attributes"_s, QVariant::fromValue(attributesFor(name)));
    const DBusSecret s{*session, QByteArray(), secret.toUtf8(), u"text/plain"_s};
    const auto made = call(collection.path(), u"org.freedesktop.Secret.Collection"_s, u"CreateItem"_s,
                           {properties, QVariant::fromValue(s), true});
    call(session->path(), u"org.freedesktop.Secret.Session"_s, u"Close"_s, {});
    if (!made || made->size() < 2)
        return false;
    // A prompt means a locked collection that would ask the user: not here.
    const QString item = qvariant_cast<QDBusObjectPath>(made->at(0)).path();
    return !item.isEmpty() && item != u"/"_s;
}

} // namespace tessaly::SecretStore
