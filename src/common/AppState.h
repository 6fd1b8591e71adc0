// Process-wide values made at start-up, and the reset of all process-wide
// state between test cases.
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

// The text that every new Message-ID carries after its "@".
const QString &runTag();
void setRunTag(const QString &tag);
// Seconds from 1970-01-01 00:00:00 to the local date and time now, or a random
// 8-character upper-case tag when that text would be shorter than 6 characters.
QString makeRunTag();

// Set while the posting engine runs; the main window refuses to close and
// the list commands are disabled meanwhile.
bool postingInProgress();
void setPostingInProgress(bool posting);

// Puts every process-wide value back to its state before start-up: the
// queue, the settings, the message table, the log, the run tag, the clock and
// the cached program folder.
void resetProcessState();

} // namespace tessaly
