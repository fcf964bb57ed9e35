#include "shell/windowplacement.h"

#include <cmath>
#include <limits>

#include "settings/settingsstore.h"

namespace Shell {

namespace {

    double readTwips(Settings::Hive& hive, const QString& key, double fallback)
    {
        const QVariant stored
            = Settings::ReadSetting(hive, Settings::appKeyPath(), Settings::settingsSection(), key, fallback);
        bool ok = false;
        const double value = stored.toString().trimmed().toDouble(&ok);
        // The window is placed in whole pixels: a value no int can hold is as good as none.
        const bool fits = ok && std::isfinite(value) && value >= std::numeric_limits<int>::min()
            && value <= std::numeric_limits<int>::max();
        return fits ? value : fallback;
    }

} // namespace

WindowPlacement readMainWindowPlacement(Settings::Hive& hive, QSize screenTwips)
{
    WindowPlacement placement;
    placement.left = readTwips(hive, QStringLiteral("MainLeft"), 1);
    placement.top = readTwips(hive, QStringLiteral("MainTop"), 1);
    placement.width = readTwips(hive, QStringLiteral("MainWidth"), screenTwips.width());
    placement.height = readTwips(hive, QStringLiteral("MainHeight"), screenTwips.height());
    return placement;
}

Common::Status saveMainWindowPlacement(Settings::Hive& hive, const WindowPlacement& placement)
{
    const std::pair<const char*, double> values[] = {
        { "MainLeft", placement.left },
        { "MainTop", placement.top },
        { "MainWidth", placement.width },
        { "MainHeight", placement.height },
    };
    Common::Status result = Common::success();
    for (const auto& [key, value] : values) {
        Common::Status written = Settings::WriteSetting(hive, Settings::appKeyPath(), Settings::settingsSection(),
            QString::fromLatin1(key), QString::number(value, 'g', 10));
        if (!written && result)
            result = written;
    }
    return result;
}

} // namespace Shell
