#include "common/windowgeometry.h"

#include "common/numbers.h"

namespace Common {

int toPixels(double twips) { return static_cast<int>(roundHalfEven(twips / TwipsPerPixel)); }

std::optional<QPoint> centerPosition(QSize window, QPoint ownerPosition, QSize ownerInner)
{
    const int left = ownerPosition.x() + (ownerInner.width() - window.width()) / 2;
    const int top = ownerPosition.y() + (ownerInner.height() - window.height()) / 2;
    if (left < 0 || top < 0)
        return std::nullopt;
    return QPoint(left, top);
}

std::optional<QPoint> centerPosition(QSize window, QSize screen)
{
    return centerPosition(window, QPoint(0, 0), screen);
}

} // namespace Common
