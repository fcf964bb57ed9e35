#pragma once

#include <QString>

namespace Shell {

// What the main window's links list says while it has no rows: with an empty database, the two ways
// links get there (an import from the directory's admin script, or the links file written by hand, whose
// place and line format it gives); with links, that a run lists them there.
QString emptyListText(const QString& linksFile, qint32 linksCount);

} // namespace Shell
