#include "common/filesize.h"

#include <array>
#include <cmath>

namespace Common {

QString FormatFileSize(double bytes, const QLocale& locale)
{
    static const std::array<const char*, 9> units = { "Bytes", "KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB" };
    if (!(bytes >= 1.0))
        return QString();
    int index = int(units.size()) - 1;
    while (index > 0 && bytes < std::pow(1024.0, index))
        --index;
    const double quotient = std::round(bytes / std::pow(1024.0, index) * 1000.0) / 1000.0;
    const int decimals = index == 0 ? 0 : (index == 1 ? 2 : 3);
    return locale.toString(quotient, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[size_t(index)]);
}

} // namespace Common
