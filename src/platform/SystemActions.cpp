#include "platform/SystemActions.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

constexpr auto kLogind = u"org.freedesktop.login1";
constexpr auto kManagerPath = u"/org/freedesktop/login1";
constexpr auto kManager = u"org.freedesktop.login1.Manager";
constexpr auto kSession = u"org.freedesktop.login1.Session";
constexpr int kTimeoutMs = 10000;

QString connectionName(QDBusConnection::BusType type)
{
    return type == QDBusConnection::SystemBus ? u"tessaly-system"_s : u"tessaly-session"_s;
}

QDBusConnection bus(QDBusConnection::BusType type)
{
    const QString name = connectionName(type);
    QDBusConnection existing(name);
    if (existing.isConnected())
        return existing;
    QDBusConnection::disconnectFromBus(name);
    // The standard variables, read at each connection (the D-Bus library
    // would keep the first address it saw for the whole process).
    const QByteArray address = qgetenv(type == QDBusConnection::SystemBus ? "DBUS_SYSTEM_BUS_ADDRESS"
                                                                         : "DBUS_SESSION_BUS_ADDRESS");
    if (!address.isEmpty())
        return QDBusConnection::connectToBus(QString::fromUtf8(address), name);
    return QDBusConnection::connectToBus(type, name);
}

// Sends the call and hands its reply to `then`, unless `context` went first.
void callThen(QDBusConnection::BusType type, const QDBusMessage &call, QObject *context,
              std::function<void(const QDBusMessage &)> then)
{
    QDBusConnection c = bus(type);
    if (!c.isConnected()) {
        const QString what = type == QDBusConnection::SystemBus ? u"system"_s : u"session"_s;
        QDBusMessage error = call.createErrorReply(u"org.freedesktop.DBus.Error.NoServer"_s,
                                                   u"the D-Bus "_s + what + u" bus cannot be reached"_s);
        QPointer<QObject> guard(context);
        QMetaObject::invokeMethod(context, [guard, then, error] {
            if (guard)
                then(error);
        }, Qt::QueuedConnection);
        return;
    }
    auto *watcher = new QDBusPendingCallWatcher(c.asyncCall(call, kTimeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, then] {
        watcher->deleteLater();
        then(watcher->reply());
    });
}

QDBusMessage managerCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QString::fromUtf16(kLogind), QString::fromUtf16(kManagerPath),
                                          QString::fromUtf16(kManager), method);
}

bool failed(const QDBusMessage &reply)
{
    return reply.type() != QDBusMessage::ReplyMessage;
}

QString reason(const QDBusMessage &reply)
{
    if (reply.errorName() == u"org.freedesktop.DBus.Error.ServiceUnknown")
        return u"no login manager (systemd-logind) runs on this system"_s;
    const QString message = reply.errorMessage();
    return message.isEmpty() ? reply.errorName() : message;
}

void terminateSession(const QString &path, QObject *context, const SystemActionDone &done)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromUtf16(kLogind), path, QString::fromUtf16(kSession), u"Terminate"_s);
    callThen(QDBusConnection::SystemBus, call, context, [done](const QDBusMessage &reply) {
        done(!failed(reply), failed(reply) ? reason(reply) : QString());
    });
}

void logOff(QObject *context, const SystemActionDone &done)
{
    // The session this process belongs to; a process started outside one (a
    // service, a cron job) falls back to the session logind picks for the caller.
    QDBusMessage byPid = managerCall(u"GetSessionByPID"_s);
    byPid << uint(QCoreApplication::applicationPid());
    callThen(QDBusConnection::SystemBus, byPid, context, [context, done](const QDBusMessage &reply) {
        if (!failed(reply) && !reply.arguments().isEmpty()) {
            terminateSession(qvariant_cast<QDBusObjectPath>(reply.arguments().constFirst()).path(), context, done);
            return;
        }
        if (reply.errorName() == u"org.freedesktop.DBus.Error.ServiceUnknown" ||
            reply.errorName() == u"org.freedesktop.DBus.Error.NoServer") {
            done(false, reason(reply));
            return;
        }
        QDBusMessage automatic = managerCall(u"GetSession"_s);
        automatic << u"auto"_s;
        callThen(QDBusConnection::SystemBus, automatic, context, [context, done](const QDBusMessage &r) {
            if (failed(r) || r.arguments().isEmpty())
                done(false, u"this program runs in no login session: "_s + reason(r));
            else
                terminateSession(qvariant_cast<QDBusObjectPath>(r.arguments().constFirst()).path(), context, done);
        });
    });
}

} // namespace

namespace {

QString methodOf(SystemAction action)
{
    return action == SystemAction::PowerOff ? u"PowerOff"_s
           : action == SystemAction::Reboot ? u"Reboot"_s
                                            : u"Hibernate"_s;
}

} // namespace

void canDoSystemAction(SystemAction action, QObject *context, SystemActionDone done)
{
    if (action == SystemAction::LogOff) {
        done(true, QString());
        return;
    }
    const QString method = methodOf(action);
    callThen(QDBusConnection::SystemBus, managerCall(u"Can"_s + method), context, [done, method](const QDBusMessage &reply) {
        if (failed(reply)) {
            done(false, reason(reply));
            return;
        }
        const QString answer = reply.arguments().value(0).toString();
        if (answer != u"yes")
            done(false, u"the login manager answers \"%1\" to Can%2"_s.arg(answer, method));
        else
            done(true, QString());
    });
}

void requestSystemAction(SystemAction action, QObject *context, SystemActionDone done, bool askFirst)
{
    if (action == SystemAction::LogOff) {
        logOff(context, done);
        return;
    }
    const QString method = methodOf(action);
    const auto act = [context, done, method] {
        QDBusMessage call = managerCall(method);
        call << false; // not interactive: nobody may be there to type a password
        callThen(QDBusConnection::SystemBus, call, context, [done](const QDBusMessage &r) {
            done(!failed(r), failed(r) ? reason(r) : QString());
        });
    };
    if (!askFirst) {
        act();
        return;
    }
    // Asked first, so that a refusal is said plainly instead of as a polkit error.
    canDoSystemAction(action, context, [done, act](bool may, const QString &why) {
        if (may)
            act();
        else
            done(false, why);
    });
}

void showDesktopNotification(const QString &title, const QString &text, QObject *context,
                             std::function<void(bool shown)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
                                                       u"/org/freedesktop/Notifications"_s,
                                                       u"org.freedesktop.Notifications"_s, u"Notify"_s);
    call << title << uint(0) << u"dialog-information"_s << title << text << QStringList() << QVariantMap()
         << int(-1);
    callThen(QDBusConnection::SessionBus, call, context,
             [done](const QDBusMessage &reply) { done(!failed(reply)); });
}

void resetDesktopBuses()
{
    for (const auto type : {QDBusConnection::SystemBus, QDBusConnection::SessionBus})
        QDBusConnection::disconnectFromBus(connectionName(type));
}

} // namespace tessaly
