#include "settings/settingsstore.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QMetaType>

#include "settings/cregistry.h"
#include "settings/hive.h"

namespace Settings {

namespace {

    constexpr qint64 kLongMin = std::numeric_limits<qint32>::min();
    constexpr qint64 kLongMax = std::numeric_limits<qint32>::max();

    // A decimal number as written: sign, digits before and after the point. Kept as digits so that
    // rounding sees the exact text ("2.5000000000000001" is above one half, which a double would lose).
    struct DecimalText final {
        bool negative = false;
        QString integerDigits;
        QString fractionDigits;
    };

    bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

    std::optional<DecimalText> parseDecimal(const QString& text)
    {
        const QString trimmed = text.trimmed();
        DecimalText number;
        qsizetype pos = 0;
        if (pos < trimmed.size() && (trimmed[pos] == QLatin1Char('+') || trimmed[pos] == QLatin1Char('-'))) {
            number.negative = trimmed[pos] == QLatin1Char('-');
            ++pos;
        }
        while (pos < trimmed.size() && isAsciiDigit(trimmed[pos]))
            number.integerDigits += trimmed[pos++];
        if (pos < trimmed.size() && trimmed[pos] == QLatin1Char('.')) {
            ++pos;
            while (pos < trimmed.size() && isAsciiDigit(trimmed[pos]))
                number.fractionDigits += trimmed[pos++];
        }
        if (pos != trimmed.size() || (number.integerDigits.isEmpty() && number.fractionDigits.isEmpty()))
            return std::nullopt;
        return number;
    }

    std::optional<qint32> inLongRange(qint64 value)
    {
        if (value < kLongMin || value > kLongMax)
            return std::nullopt;
        return qint32(value);
    }

    std::optional<qint32> roundHalfToEven(const DecimalText& number)
    {
        QString digits = number.integerDigits;
        while (digits.size() > 1 && digits.startsWith(QLatin1Char('0')))
            digits.remove(0, 1);
        // Eleven digits or more cannot be a 32-bit number, even after rounding.
        if (digits.size() > 10)
            return std::nullopt;
        qint64 magnitude = digits.isEmpty() ? 0 : digits.toLongLong();

        if (!number.fractionDigits.isEmpty()) {
            const QChar first = number.fractionDigits.front();
            bool beyondHalf = false;
            for (qsizetype i = 1; i < number.fractionDigits.size(); ++i)
                beyondHalf = beyondHalf || number.fractionDigits[i] != QLatin1Char('0');
            if (first > QLatin1Char('5') || (first == QLatin1Char('5') && (beyondHalf || magnitude % 2 != 0)))
                ++magnitude;
        }
        return inLongRange(number.negative ? -magnitude : magnitude);
    }

    bool isWholeNumberType(int typeId)
    {
        switch (typeId) {
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
            return true;
        default:
            return false;
        }
    }

    bool isFractionType(int typeId) { return typeId == QMetaType::Double || typeId == QMetaType::Float; }

    // Texts only: a byte array is binary data, not a number written out.
    std::optional<QString> textForm(const QVariant& v)
    {
        if (v.typeId() == QMetaType::QString)
            return v.toString();
        if (v.typeId() == QMetaType::QChar)
            return QString(v.toChar());
        return std::nullopt;
    }

} // namespace

QString appKeyPath() { return QStringLiteral("Corvane\\Pictavo"); }

QString settingsSection() { return QStringLiteral("Settings"); }

QString settingsKeyPath(const QString& appPath, const QString& section)
{
    return QStringLiteral("Software\\") + appPath + QLatin1Char('\\') + section;
}

QVariant ReadSetting(
    Hive& hive, const QString& appPath, const QString& section, const QString& key, const QVariant& defaultValue)
{
    cRegistry registry(hive);
    registry.setClassKey(HKEY_LOCAL_MACHINE);
    registry.setSectionKey(settingsKeyPath(appPath, section));
    registry.setValueKey(key);
    registry.setDefault(defaultValue);
    registry.setValueType(REG_SZ);
    return registry.Value();
}

Common::Status WriteSetting(
    Hive& hive, const QString& appPath, const QString& section, const QString& key, const QVariant& value)
{
    cRegistry registry(hive);
    registry.setClassKey(HKEY_LOCAL_MACHINE);
    registry.setSectionKey(settingsKeyPath(appPath, section));
    registry.setValueKey(key);
    registry.setValueType(REG_SZ);
    // Settings are plain texts: a password or a watermark text such as "x%HOME%y" must not come back
    // with a variable expanded into it.
    registry.setDetectExpandable(false);
    return registry.setValue(value);
}

Common::Status RemoveSetting(Hive& hive, const QString& appPath, const QString& section, const QString& key)
{
    if (hive.removeValue(HKEY_LOCAL_MACHINE, settingsKeyPath(appPath, section), key))
        return Common::success();
    return Common::Error { RegistryWriteError, QStringLiteral("RemoveSetting"),
        QStringLiteral("The settings store %1 could not be written").arg(hive.filePath()) };
}

std::optional<qint32> toLong(const QVariant& v)
{
    const int typeId = v.typeId();
    if (typeId == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (typeId == QMetaType::ULongLong) {
        const qulonglong value = v.toULongLong();
        return value > qulonglong(kLongMax) ? std::nullopt : std::optional<qint32>(qint32(value));
    }
    if (isWholeNumberType(typeId))
        return inLongRange(v.toLongLong());
    if (isFractionType(typeId)) {
        const double value = v.toDouble();
        if (!std::isfinite(value))
            return std::nullopt;
        // The default rounding mode rounds halves to even.
        const double rounded = std::nearbyint(value);
        if (rounded < double(kLongMin) || rounded > double(kLongMax))
            return std::nullopt;
        return qint32(rounded);
    }
    const std::optional<QString> text = textForm(v);
    if (!text)
        return std::nullopt;
    const std::optional<DecimalText> number = parseDecimal(*text);
    return number ? roundHalfToEven(*number) : std::nullopt;
}

std::optional<bool> toBoolean(const QVariant& v)
{
    const int typeId = v.typeId();
    if (typeId == QMetaType::Bool)
        return v.toBool();
    if (isWholeNumberType(typeId) || typeId == QMetaType::ULongLong)
        return v.toLongLong() != 0 || v.toULongLong() != 0;
    if (isFractionType(typeId)) {
        const double value = v.toDouble();
        return std::isnan(value) ? std::nullopt : std::optional<bool>(value != 0.0);
    }
    const std::optional<QString> text = textForm(v);
    if (!text)
        return std::nullopt;
    const QString trimmed = text->trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (trimmed.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    const std::optional<DecimalText> number = parseDecimal(trimmed);
    if (!number)
        return std::nullopt;
    const auto nonZero = [](const QString& digits) {
        return std::any_of(digits.cbegin(), digits.cend(), [](QChar c) { return c != QLatin1Char('0'); });
    };
    return nonZero(number->integerDigits) || nonZero(number->fractionDigits);
}

} // namespace Settings
