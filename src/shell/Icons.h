// The program's own small icons, drawn at run time so that no icon theme is needed.
#pragma once

#include <QIcon>

namespace tessaly::Icons {

// Icon of an upload state code (1..5), "No Upload" (6) and the job runner states (7..11).
QIcon stateIcon(int code);
QIcon appIcon();

} // namespace tessaly::Icons

namespace tessaly::Icons {

enum class Tool { Start, Stop, AddFiles, Settings, Log, Scheduler, RarPar, About, Tray,
                  Up, Down, Top, Bottom, Clear, TogglePane };
QIcon toolIcon(Tool tool);

} // namespace tessaly::Icons
