// The types the freedesktop Secret Service carries over D-Bus.
#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QList>
#include <QMap>
#include <QString>

namespace tessaly {

// A secret: (session, parameters, value, content type), "(oayays)".
struct DBusSecret
{
    QDBusObjectPath session;
    QByteArray parameters;
    QByteArray value;
    QString contentType;
};

inline QDBusArgument &operator<<(QDBusArgument &a, const DBusSecret &s)
{
    a.beginStructure();
    a << s.session << s.parameters << s.value << s.contentType;
    a.endStructure();
    return a;
}

inline const QDBusArgument &operator>>(const QDBusArgument &a, DBusSecret &s)
{
    a.beginStructure();
    a >> s.session >> s.parameters >> s.value >> s.contentType;
    a.endStructure();
    return a;
}

using DBusSecretMap = QMap<QDBusObjectPath, DBusSecret>; // "a{o(oayays)}"
using DBusAttributes = QMap<QString, QString>;          // "a{ss}"

} // namespace tessaly

Q_DECLARE_METATYPE(tessaly::DBusSecret)
Q_DECLARE_METATYPE(tessaly::DBusSecretMap)

namespace tessaly {

inline void registerSecretServiceTypes()
{
    static const bool done = [] {
        qDBusRegisterMetaType<DBusSecret>();
        qDBusRegisterMetaType<DBusSecretMap>();
        qDBusRegisterMetaType<DBusAttributes>();
        qDBusRegisterMetaType<QList<QDBusObjectPath>>();
        return true;
    }();
    (void)done;
}

} // namespace tessaly
