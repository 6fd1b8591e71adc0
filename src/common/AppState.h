// Process-wide values: the program's names, its version, the run tag and
// the posting-in-progress flag.
#pragma once

#include <QString>

namespace tessaly {

inline constexpr auto kAppTitle = u"Tessaly Poster (Beta 2)";
inline constexpr auto kProgramName = u"Tessaly Poster";
inline constexpr auto kHomePageUrl = u"https://tessaly-poster.example.org/";

// "Tessaly Poster v" + major.minor.revision
QString versionString();
// major.minor.revision
QString versionNumber();

// The notification-area tooltip when nothing else is shown: "Tessaly Poster™ "
// + version, CR LF, and a line that says the program is ready.
QString standardTrayTooltip();

// The text that every new Message-ID carries after its "@".
const QString &runTag();
void setRunTag(const QString &tag);

// Set while the posting engine runs; the main window refuses to close and
// the list commands are disabled meanwhile.
bool postingInProgress();
void setPostingInProgress(bool posting);

} // namespace tessaly
