#pragma once

#include <QSize>

#include "common/result.h"

namespace Settings {
class Hive;
}

namespace Shell {

// The main window's outer position and size, in twips, as kept in "MainLeft", "MainTop", "MainWidth"
// and "MainHeight".
struct WindowPlacement final {
    double left = 1;
    double top = 1;
    double width = 0;
    double height = 0;
};

// The stored placement; values that are missing or not numbers take the defaults: 1 for left and top,
// the screen's size for width and height.
WindowPlacement readMainWindowPlacement(Settings::Hive& hive, QSize screenTwips);

// Stores all four values; the first failure is returned and the remaining values are still written.
Common::Status saveMainWindowPlacement(Settings::Hive& hive, const WindowPlacement& placement);

} // namespace Shell
