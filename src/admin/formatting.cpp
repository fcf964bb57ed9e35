#include "admin/formatting.h"

namespace Admin {

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
