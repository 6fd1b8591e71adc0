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

// Where the read-only files that come with the program (language files, the
// tunnel launcher) are looked for, in this order: beside the executable (a
// build tree), the installation's share/tessaly-poster (found from the
// executable, so a moved or unpacked installation works, and the prefix it
// was built for), and the program folder, which keeps what the user adds.
QStringList resourceFolders();
// The first of resourceFolders() holding `relative`; empty when none does.
QString findResource(const QString &relative);

} // namespace tessaly
