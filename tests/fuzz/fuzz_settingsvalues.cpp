// Feeds arbitrary stored values to the conversions every setting goes through when it is loaded
// (toLong, toBoolean): a text and the number it spells must convert alike, and nothing may overflow.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include <QLocale>
#include <QString>
#include <QVariant>

#include <fuzzer/FuzzedDataProvider.h>

#include "fuzzsupport.h"
#include "settings/settingsstore.h"

namespace {

using Settings::toBoolean;
using Settings::toLong;

bool fitsLong(long double value)
{
    return value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max();
}

QString shortestFixed(double value) { return QString::number(value, 'f', QLocale::FloatingPointShortest); }

void checkText(const QString& text)
{
    const std::optional<qint32> number = toLong(text);
    const std::optional<bool> flag = toBoolean(text);
    if (number) {
        // A text that converts is a number; it converts to true exactly when it is not zero as written.
        FUZZ_CHECK(toLong(QString::number(*number)) == number);
        FUZZ_CHECK(flag.has_value());
        FUZZ_CHECK(*number == 0 || *flag);
    }
    const QString trimmed = text.trimmed();
    const bool word = trimmed.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || trimmed.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0;
    // Only a number that is zero in every digit is false.
    if (flag && !word)
        FUZZ_CHECK(*flag || number == std::optional<qint32>(0));
    if (word)
        FUZZ_CHECK(!number && flag == (trimmed.size() == 4));
    // Bytes are stored data, never a number written out.
    FUZZ_CHECK(!toLong(QVariant(text.toUtf8())) && !toBoolean(QVariant(text.toUtf8())));
}

void checkDouble(double value)
{
    const std::optional<qint32> number = toLong(QVariant(value));
    const std::optional<bool> flag = toBoolean(QVariant(value));
    if (std::isnan(value)) {
        FUZZ_CHECK(!number && !flag);
        return;
    }
    FUZZ_CHECK(flag == (value != 0.0));
    if (!std::isfinite(value)) {
        FUZZ_CHECK(!number);
        return;
    }
    // The number and its shortest exact text round alike: halves to even, by the text's own digits.
    const QString text = shortestFixed(value);
    FUZZ_CHECK(toLong(text) == number);
    FUZZ_CHECK(toBoolean(text) == flag);
    FUZZ_CHECK(number.has_value() == fitsLong(std::nearbyint(static_cast<long double>(value))));
    FUZZ_CHECK(toLong(QVariant(float(value))) == toLong(shortestFixed(double(float(value)))));
}

void checkWhole(qint64 value)
{
    const std::optional<qint32> expected
        = fitsLong(static_cast<long double>(value)) ? std::optional<qint32>(qint32(value)) : std::nullopt;
    FUZZ_CHECK(toLong(QVariant(value)) == expected);
    FUZZ_CHECK(toLong(QString::number(value)) == expected);
    FUZZ_CHECK(toBoolean(QVariant(value)) == (value != 0));
    const auto unsignedValue = quint64(value);
    FUZZ_CHECK(toLong(QVariant(unsignedValue))
        == (unsignedValue <= quint64(std::numeric_limits<qint32>::max()) ? std::optional<qint32>(qint32(value))
                                                                         : std::nullopt));
    FUZZ_CHECK(toBoolean(QVariant(unsignedValue)) == (unsignedValue != 0));
    FUZZ_CHECK(toLong(QVariant(int(value))) == qint32(value));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    checkDouble(input.ConsumeFloatingPoint<double>());
    checkWhole(input.ConsumeIntegral<qint64>());
    const std::string text = input.ConsumeRemainingBytesAsString();
    checkText(QString::fromUtf8(text.data(), qsizetype(text.size())));
    return 0;
}
