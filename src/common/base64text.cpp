#include "common/base64text.h"

#include <algorithm>
#include <array>

namespace Common {

QByteArray fromBase64Text(const QString& text)
{
    static const auto values = [] {
        std::array<qint8, 128> table {};
        table.fill(-1);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (qint8 i = 0; i < 64; ++i)
            table[size_t(alphabet[i])] = i;
        return table;
    }();
    const qsizetype length = text.size();
    if (length % 4 != 0)
        return QByteArray::fromBase64(text.toLatin1());
    const QChar* in = text.constData();
    qsizetype padding = 0;
    while (padding < 2 && padding < length && in[length - 1 - padding] == u'=')
        ++padding;
    QByteArray out(length / 4 * 3 - padding, Qt::Uninitialized);
    char* write = out.data();
    const qsizetype whole = length - (padding > 0 ? 4 : 0);
    for (qsizetype i = 0; i < length; i += 4) {
        std::array<int, 4> v {};
        for (size_t k = 0; k < 4; ++k) {
            const char16_t c = in[i + qsizetype(k)].unicode();
            v[k] = c < 128 ? values[c] : -1;
            if (v[k] < 0 && !(i >= whole && c == u'=' && k >= 4 - size_t(padding)))
                return QByteArray::fromBase64(text.toLatin1());
        }
        const quint32 bits = quint32(std::max(v[0], 0)) << 18 | quint32(std::max(v[1], 0)) << 12
            | quint32(std::max(v[2], 0)) << 6 | quint32(std::max(v[3], 0));
        const std::array<char, 3> bytes { char(bits >> 16), char(bits >> 8 & 0xFF), char(bits & 0xFF) };
        const qsizetype count = i < whole ? 3 : 3 - padding;
        for (qsizetype k = 0; k < count; ++k)
            *write++ = bytes[size_t(k)];
    }
    return out;
}

} // namespace Common
