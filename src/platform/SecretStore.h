// The desktop's secret store: the freedesktop Secret Service on the session
// bus (GNOME Keyring, KWallet and others offer it). The program keeps the
// news server's password there when one runs, instead of in Settings.ini.
// Nothing here waits long or asks the user anything: a store that is not
// running, is locked or does not answer within a few seconds counts as absent.
#pragma once

#include <QString>

#include <optional>

namespace tessaly::SecretStore {

// Whether a secret store runs on the session bus (it is not started for this).
bool available();
// The secret kept under this name; nullopt when there is none or it cannot be read.
std::optional<QString> read(const QString &name);
// Keeps a secret under this name (replacing one kept before); false when it
// could not.
bool write(const QString &name, const QString &secret);

} // namespace tessaly::SecretStore
