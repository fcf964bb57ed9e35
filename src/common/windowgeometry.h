#pragma once

#include <algorithm>
#include <limits>
#include <optional>

#include <QPoint>
#include <QSize>

namespace Common {

// Window positions and sizes are kept in twips in the settings: 15 twips to a pixel.
inline constexpr int TwipsPerPixel = 15;
// Saturates rather than overflows for a window placed far off the screen.
constexpr int toTwips(int pixels)
{
    return static_cast<int>(std::clamp<qint64>(
        qint64(pixels) * TwipsPerPixel, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
int toPixels(double twips);

// Where a window goes to sit in the middle of an owner's inner area (owner position is its outer
// top-left), or in the middle of the screen without an owner. Halves are dropped. Nothing when the
// result would put the window's corner off the top or left edge, in which case it is not moved.
std::optional<QPoint> centerPosition(QSize window, QPoint ownerPosition, QSize ownerInner);
std::optional<QPoint> centerPosition(QSize window, QSize screen);

} // namespace Common
