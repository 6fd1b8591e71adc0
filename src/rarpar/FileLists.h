// File lists as the pickers hand them over: element 0 an empty placeholder,
// then full paths, sorted by name without regard to case.
#pragma once

#include <QString>
#include <QStringList>

namespace tessaly {

// Sorts in place, ascending, ignoring case (the user's locale rules); equal
// elements keep their order. Element 0 takes part, so an empty one stays first.
void GnomeSort(QStringList &list);

// The files picked last (element 0 empty).
QStringList &PickedFiles();

// Makes the picked-files list from the paths a picker returned; returns their
// folder (with its trailing separator, empty for no path), which the caller
// remembers as the last used folder.
QString setPickedFiles(const QStringList &paths);

} // namespace tessaly
