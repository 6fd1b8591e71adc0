// The program's own small icons, drawn at run time so that no icon theme is needed.
#pragma once

#include "storage/StatusIcon.h"

#include <QIcon>

namespace tessaly::Icons {

// The icon of a file's state or of a connection list row; none for an unknown code.
QIcon stateIcon(StatusIcon which);
QIcon appIcon();

} // namespace tessaly::Icons

namespace tessaly::Icons {

enum class Tool { Start, Stop, AddFiles, Settings, Log, Scheduler, RarPar, About, Tray,
                  Up, Down, Top, Bottom, Clear, TogglePane };
QIcon toolIcon(Tool tool);

} // namespace tessaly::Icons
