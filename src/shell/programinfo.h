#pragma once

#include <QString>

namespace Shell {

// The program's name and version, and the addresses its about window offers.
QString programName();
// "1.0.0": major, minor and revision, each in decimal; "1.0.0+gd308cea" when built from a git checkout,
// the commit's short hash after "+g". The Debian package carries the same.
QString programVersion();
// The name of the installed desktop entry and icon ("com.corvane.PictavoStudio").
QString desktopId();
QString websiteAddress();
QString supportAddress();
QString salesAddress();

// The help page: "Help.html" beside the program, or where an installed program keeps its shared files
// (<prefix>/share/pictavo-studio/ beside <prefix>/bin/). "" when there is none.
QString helpPagePath(const QString& appPath);

} // namespace Shell
