#include "common/numbers.h"

#include <cmath>

namespace Common {

qint64 roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even by default.
    return static_cast<qint64>(std::nearbyint(value));
}

} // namespace Common
