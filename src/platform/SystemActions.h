// What the machine is asked to do when posting has finished: power off,
// reboot, hibernate (systemd-logind's Manager on the system bus) and log off
// (terminating the caller's own logind session). Each is asked for only when
// logind says the caller may ("yes" to CanPowerOff and friends), without
// asking the user for a password. Also the desktop notification that stands
// in for a tray balloon where no notification area exists.
//
// Everything is asynchronous: the answer comes to `done` on the thread of
// `context`, and not at all once `context` is gone.
#pragma once

#include <QString>

#include <functional>

class QObject;

namespace tessaly {

// The numbers are the positions in the on-complete list.
enum class SystemAction { PowerOff = 1, LogOff = 2, Hibernate = 3, Reboot = 4 };

// accepted: the system took the request (the machine is going down, or the
// session ends). Otherwise `why` says what refused it.
using SystemActionDone = std::function<void(bool accepted, const QString &why)>;
// askFirst false: the caller asked canDoSystemAction already.
void requestSystemAction(SystemAction action, QObject *context, SystemActionDone done, bool askFirst = true);

// Whether the login manager would do it now ("yes" to CanPowerOff and
// friends), asked before a countdown so that a refusal is said at once;
// `why` says what refused. Logging off is always offered.
void canDoSystemAction(SystemAction action, QObject *context, SystemActionDone done);

// A notification on the desktop (org.freedesktop.Notifications); `done` gets
// false when no notification service answered.
void showDesktopNotification(const QString &title, const QString &text, QObject *context,
                             std::function<void(bool shown)> done);

// The buses are connected at first use and then kept; this drops them so that
// the next use connects anew (for tests that change DBUS_*_BUS_ADDRESS).
void resetDesktopBuses();

} // namespace tessaly
