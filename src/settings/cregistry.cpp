#include "settings/cregistry.h"

#include <optional>

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaType>
#include <QtEndian>

#include "settings/hive.h"

namespace Settings {

namespace {

    QString errorSource()
    {
        QString program;
        if (QCoreApplication::instance())
            program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        if (program.isEmpty())
            program = QStringLiteral("pictavo-studio");
        return program + QStringLiteral(".cRegistry");
    }

    // Booleans become the words the settings are stored with ("True", "False"); a value with no text
    // form (a list, a map) gives nullopt.
    std::optional<QString> textOf(const QVariant& value)
    {
        if (!value.isValid())
            return QString();
        switch (value.typeId()) {
        case QMetaType::Bool:
            return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
        case QMetaType::QByteArray:
            return QString::fromUtf8(value.toByteArray());
        default:
            if (!value.canConvert<QString>())
                return std::nullopt;
            return value.toString();
        }
    }

    bool looksExpandable(const QString& text)
    {
        const qsizetype first = text.indexOf(QLatin1Char('%'));
        return first >= 0 && text.lastIndexOf(QLatin1Char('%')) - first >= 2;
    }

    // Stored texts end with one NUL; a text written by another tool without it keeps its last character.
    QByteArray withoutTerminator(const QByteArray& data) { return data.endsWith('\0') ? data.chopped(1) : data; }

    // %NAME% is replaced by the variable's value when NAME is set; anything else stays as written, and the
    // closing "%" of an unknown name may open the next reference ("50% of %HOME%").
    QString expandEnvironment(const QString& text)
    {
        QString result;
        qsizetype pos = 0;
        while (pos < text.size()) {
            const qsizetype open = text.indexOf(QLatin1Char('%'), pos);
            if (open < 0)
                break;
            const qsizetype close = text.indexOf(QLatin1Char('%'), open + 1);
            if (close < 0)
                break;
            const QString name = text.mid(open + 1, close - open - 1);
            const QByteArray key = name.toLocal8Bit();
            const bool usable = !name.isEmpty() && !name.contains(QLatin1Char('=')) && !key.contains('\0');
            if (usable && qEnvironmentVariableIsSet(key.constData())) {
                result += text.mid(pos, open - pos) + qEnvironmentVariable(key.constData());
                pos = close + 1;
            } else {
                result += text.mid(pos, close - pos);
                pos = close;
            }
        }
        result += text.mid(pos);
        return result;
    }

    bool isShortOrLong(const QVariant& value)
    {
        switch (value.typeId()) {
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Int:
        case QMetaType::UInt:
            return true;
        default:
            return false;
        }
    }

    QByteArray littleEndian32(quint32 number)
    {
        QByteArray bytes(4, '\0');
        qToLittleEndian(number, bytes.data());
        return bytes;
    }

} // namespace

cRegistry::cRegistry(Hive& hive)
    : m_hive(hive)
{
}

qint32 cRegistry::ClassKey() const { return m_classKey; }
void cRegistry::setClassKey(qint32 classKey) { m_classKey = classKey; }
QString cRegistry::SectionKey() const { return m_sectionKey; }
void cRegistry::setSectionKey(const QString& sectionKey) { m_sectionKey = sectionKey; }
QString cRegistry::ValueKey() const { return m_valueKey; }
void cRegistry::setValueKey(const QString& valueKey) { m_valueKey = valueKey; }
qint32 cRegistry::ValueType() const { return m_valueType; }
void cRegistry::setValueType(qint32 valueType) { m_valueType = valueType; }
QVariant cRegistry::Default() const { return m_default; }
void cRegistry::setDefault(const QVariant& defaultValue) { m_default = defaultValue; }
bool cRegistry::DetectExpandable() const { return m_detectExpandable; }
void cRegistry::setDetectExpandable(bool detect) { m_detectExpandable = detect; }

QVariant cRegistry::Value()
{
    const std::optional<HiveValue> stored = m_hive.readValue(m_classKey, m_sectionKey, m_valueKey);
    if (!stored)
        return m_default;

    QVariant result;
    switch (stored->type) {
    case REG_SZ:
    case REG_MULTI_SZ:
        result = QString::fromUtf8(withoutTerminator(stored->data));
        break;
    case REG_EXPAND_SZ:
        result = expandEnvironment(QString::fromUtf8(withoutTerminator(stored->data)));
        break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        // A number of any other size cannot be read as one.
        if (stored->data.size() != 4)
            return m_default;
        result = stored->type == REG_DWORD ? qFromLittleEndian<qint32>(stored->data.constData())
                                           : qFromBigEndian<qint32>(stored->data.constData());
        break;
    default:
        result = stored->data;
        break;
    }
    m_valueType = stored->type;
    return result;
}

Common::Status cRegistry::setValue(const QVariant& value)
{
    std::optional<HiveValue> toStore;
    std::optional<int> refusal;

    switch (m_valueType) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        if (const std::optional<QString> text = textOf(value)) {
            qint32 type = m_valueType;
            if (m_detectExpandable)
                type = looksExpandable(*text) ? REG_EXPAND_SZ : REG_SZ;
            toStore = HiveValue { type, text->toUtf8() + '\0' };
        } else {
            refusal = RegistryWriteError;
        }
        break;
    case REG_BINARY:
        if (value.typeId() == QMetaType::QByteArray)
            toStore = HiveValue { REG_BINARY, value.toByteArray() };
        else
            refusal = RegistryKeyError;
        break;
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        // Any other kind of value is passed over without complaint; callers of the number types rely on it.
        if (isShortOrLong(value))
            toStore = HiveValue { REG_DWORD, littleEndian32(quint32(value.toLongLong())) };
        break;
    default:
        refusal = RegistryWriteError;
        break;
    }

    // The key is opened (and its path created) before the value is looked at, so a hive that cannot be
    // written reports the key failure whatever the value.
    const Hive::WriteResult written = m_hive.writeValue(m_classKey, m_sectionKey, m_valueKey, toStore);
    if (written == Hive::WriteResult::KeyFailed)
        return failure(RegistryKeyError, value);
    if (refusal)
        return failure(*refusal, value);
    if (written == Hive::WriteResult::ValueFailed)
        return failure(RegistryWriteError, value);
    return Common::success();
}

Common::Error cRegistry::failure(int number, const QVariant& value) const
{
    return Common::Error { number, errorSource(),
        QStringLiteral("Failed to set registry value Key: '") + QString::number(m_classKey)
            + QStringLiteral("',Section: '") + m_sectionKey + QStringLiteral("',Key: '") + m_valueKey
            + QStringLiteral("' to value: '") + textOf(value).value_or(QString()) + QStringLiteral("'") };
}

} // namespace Settings
