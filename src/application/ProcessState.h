// The values every run makes at start-up, and the reset of all process-wide
// state (tests run many start-ups in one process).
#pragma once

#include <QString>

namespace tessaly {

// Seconds from 1970-01-01 00:00:00 to the local date and time now, or a random
// 8-character upper-case tag when that text would be shorter than 6 characters.
QString makeRunTag();

// Puts every process-wide value back to its state before start-up: the
// queue, the settings, the message table, the log, the run tag, the clock and
// the cached program folder.
void resetProcessState();

} // namespace tessaly
