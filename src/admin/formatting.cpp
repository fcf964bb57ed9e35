#include "admin/formatting.h"

#include <array>
#include <cmath>

namespace Admin {

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

QString FormatText(const QString& text)
{
    // No marker text is used for the CR LF pairs: a reply that happens to contain the marker must come
    // through unchanged.
    QString result;
    result.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\n') && (i == 0 || text.at(i - 1) != QLatin1Char('\r')))
            result += QLatin1Char('\r');
        result += c;
    }
    return result;
}

} // namespace Admin
