// The folder where the program keeps Settings.ini, Queue.dat, Languages, Logs
// and Stunnel: the folder of the executable, unless TESSALY_HOME names
// another one, or the per-user data folder when the chosen one is not writable.
#pragma once

#include <QString>

namespace tessaly {

// Absolute path without a trailing separator.
QString programFolder();
// programFolder() + "/" + name
QString inProgramFolder(const QString &name);
// Forget the cached folder (tests change TESSALY_HOME between cases).
void resetProgramFolder();

} // namespace tessaly
