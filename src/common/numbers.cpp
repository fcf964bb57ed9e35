#include "common/numbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace Common {

qint64 roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even by default.
    return static_cast<qint64>(std::nearbyint(value));
}

double numericValue(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    const auto isDigit = [&](qsizetype at) { return at < n && text.at(at) >= u'0' && text.at(at) <= u'9'; };
    while (i < n && (text.at(i) == u' ' || text.at(i) == u'\t'))
        ++i;
    const qsizetype start = i;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    const qsizetype digitsFrom = i;
    while (isDigit(i))
        ++i;
    if (i < n && text.at(i) == u'.') {
        ++i;
        while (isDigit(i))
            ++i;
    }
    // A sign or a point alone is no number.
    if (i == digitsFrom || (i == digitsFrom + 1 && text.at(digitsFrom) == u'.'))
        return 0;
    qsizetype end = i;
    if (i < n && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        if (j < n && (text.at(j) == u'+' || text.at(j) == u'-'))
            ++j;
        if (isDigit(j)) {
            while (isDigit(j))
                ++j;
            end = j;
        }
    }
    bool ok = false;
    const double value = text.mid(start, end - start).toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0;
}

qint32 toWholeNumber(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double low = std::numeric_limits<qint32>::min();
    constexpr double high = std::numeric_limits<qint32>::max();
    return static_cast<qint32>(std::nearbyint(std::clamp(value, low, high)));
}

} // namespace Common
